#pragma once

#include "LoginItemsListFactory.h"
#include "LoginItemsList.h"

// The login items of a test: plain entries in memory, with switches that make
// the list fail the way a real one can.
struct InMemoryLoginItems
{
    struct Entry
    {
        QString key;
        loginitems::LoginItemsList::Resolution resolution;
        bool hidden = false;
    };

    QList<Entry> entries;
    int nextKey = 1;
    int snapshots = 0;
    bool failCreate = false;
    bool failSnapshot = false;
    bool failInsert = false;

    void append(const loginitems::LoginItemsList::Resolution &resolution, bool hidden = false)
    {
        entries.append(Entry{QString::number(nextKey++), resolution, hidden});
    }

    Entry *find(const loginitems::LoginItemsList::Item &item)
    {
        for (Entry &entry : entries) {
            if (entry.key == item.key)
                return &entry;
        }
        return nullptr;
    }

    LoginItemsListFactory factory();
};

class InMemoryLoginItemsList final : public loginitems::LoginItemsList
{
public:
    explicit InMemoryLoginItemsList(InMemoryLoginItems &items) : m_items(items) {}

    std::optional<QList<Item>> snapshot() const override
    {
        ++m_items.snapshots;
        if (m_items.failSnapshot)
            return std::nullopt;
        QList<Item> items;
        for (const auto &entry : std::as_const(m_items.entries))
            items.append(Item{entry.key});
        return items;
    }

    Resolution resolve(const Item &item) const override
    {
        const auto *entry = m_items.find(item);
        return entry ? entry->resolution : Resolution{};
    }

    bool remove(const Item &item) override
    {
        return m_items.entries.removeIf([&](const auto &entry) { return entry.key == item.key; }) > 0;
    }

    std::optional<Item> insertAtEnd(const QUrl &url) override
    {
        if (m_items.failInsert)
            return std::nullopt;
        m_items.append(Resolution{ResolveStatus::Resolved, url});
        return Item{m_items.entries.last().key};
    }

    bool setHidden(const Item &item, bool hidden) override
    {
        auto *entry = m_items.find(item);
        if (entry)
            entry->hidden = hidden;
        return entry != nullptr;
    }

    bool isHidden(const Item &item) const override
    {
        const auto *entry = m_items.find(item);
        return entry && entry->resolution.status == ResolveStatus::Resolved && entry->hidden;
    }

private:
    InMemoryLoginItems &m_items;
};

inline LoginItemsListFactory InMemoryLoginItems::factory()
{
    return [this]() -> std::unique_ptr<loginitems::LoginItemsList> {
        if (failCreate)
            return nullptr;
        return std::make_unique<InMemoryLoginItemsList>(*this);
    };
}
