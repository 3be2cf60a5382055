#include "LoginItems.h"

#include "AutostartLoginItemsList.h"
#include "LoginItemsListFactory.h"

#include <QDir>
#include <QFileInfo>

#include <functional>

#include <utility>

using settings::Bundle;
using loginitems::LoginItemsList;

namespace {

std::unique_ptr<LoginItemsList> createAutostartList()
{
    return loginitems::AutostartLoginItemsList::create();
}

// Two URLs name the same place when their local paths are equal once made
// absolute and cleaned: "/a/B.app/" and "/a/./B.app" are one bundle. Symbolic
// links are not followed, so a link to a bundle is a place of its own.
bool isSameLocation(const QUrl &a, const QUrl &b)
{
    if (a.isLocalFile() && b.isLocalFile()) {
        const auto clean = [](const QUrl &url) {
            return QDir::cleanPath(QFileInfo(url.toLocalFile()).absoluteFilePath());
        };
        return clean(a) == clean(b);
    }
    return a == b;
}

std::optional<QUrl> resolvedUrl(const LoginItemsList &list, const LoginItemsList::Item &item)
{
    const LoginItemsList::Resolution resolution = list.resolve(item);
    if (resolution.status != LoginItemsList::ResolveStatus::Resolved || resolution.url.isEmpty())
        return std::nullopt;
    return resolution.url;
}

} // namespace

// The worker behind adding and removing. All decisions are taken over one
// snapshot of the list, in its order, while items leave the live list.
static void PTRemoveBundleFromLoginItemsAndAdd(const Bundle &bundle, bool add, bool hidden,
                                               const LoginItemsListFactory &createList)
{
    const QString identifier = bundle.bundleIdentifier();
    if (identifier.isEmpty())
        return;
    const QUrl bundleUrl = bundle.bundleUrl();
    if (bundleUrl.isEmpty())
        return;
    const std::unique_ptr<LoginItemsList> list = createList ? createList() : nullptr;
    if (!list)
        return;
    const std::optional<QList<LoginItemsList::Item>> snapshot = list->snapshot();
    if (!snapshot)
        return;

    // An item of the application that the user turned off is its item: the
    // user's choice, never changed. It is not added again, and enabled
    // items of the same application go as duplicates.
    QList<std::pair<LoginItemsList::Item, LoginItemsList::Resolution>> resolved;
    resolved.reserve(snapshot->size());
    bool turnedOff = false;
    for (const LoginItemsList::Item &item : *snapshot) {
        resolved.append({item, list->resolve(item)});
        const LoginItemsList::Resolution &resolution = resolved.last().second;
        if (add && resolution.status == LoginItemsList::ResolveStatus::TurnedOff && !resolution.url.isEmpty())
            turnedOff = turnedOff || isSameLocation(resolution.url, bundleUrl)
                || Bundle::withUrl(resolution.url).bundleIdentifier() == identifier;
    }

    bool pendingAdd = add && !turnedOff;
    for (const auto &[item, resolution] : std::as_const(resolved)) {
        if (resolution.status != LoginItemsList::ResolveStatus::Resolved || resolution.url.isEmpty())
            continue;
        const QUrl &url = resolution.url;
        // The first item at the bundle's own place is the one that stays.
        if (pendingAdd && isSameLocation(url, bundleUrl)) {
            pendingAdd = false;
            continue;
        }
        const Bundle target = Bundle::withUrl(url);
        const QString targetIdentifier = target.bundleIdentifier();
        if (!targetIdentifier.isEmpty() && targetIdentifier == identifier)
            list->remove(item);
    }

    if (pendingAdd) {
        const std::optional<LoginItemsList::Item> added = list->insertAtEnd(bundleUrl);
        if (added && hidden)
            list->setHidden(*added, true);
    }
}

void PTAddBundleToLoginItems(const Bundle &bundle, bool hidden, const LoginItemsListFactory &createList)
{
    PTRemoveBundleFromLoginItemsAndAdd(bundle, true, hidden, createList);
}

void PTRemoveBundleFromLoginItems(const Bundle &bundle, const LoginItemsListFactory &createList)
{
    PTRemoveBundleFromLoginItemsAndAdd(bundle, false, false, createList);
}

// Whether an item opens BUNDLE's own folder; for the first one in list order,
// ANSWER tells what the caller asks of it. False when none does or the list
// cannot be read.
static bool askFirstItemAt(const Bundle &bundle, const LoginItemsListFactory &createList,
                           const std::function<bool(const LoginItemsList &, const LoginItemsList::Item &)> &answer)
{
    const QUrl bundleUrl = bundle.bundleUrl();
    if (bundleUrl.isEmpty())
        return false;
    const std::unique_ptr<LoginItemsList> list = createList ? createList() : nullptr;
    if (!list)
        return false;
    const std::optional<QList<LoginItemsList::Item>> snapshot = list->snapshot();
    if (!snapshot)
        return false;
    for (const LoginItemsList::Item &item : *snapshot) {
        const std::optional<QUrl> url = resolvedUrl(*list, item);
        if (url && isSameLocation(*url, bundleUrl))
            return answer(*list, item);
    }
    return false;
}

bool PTIsBundleInLoginItems(const Bundle &bundle, const LoginItemsListFactory &createList)
{
    return askFirstItemAt(bundle, createList, [](const LoginItemsList &, const LoginItemsList::Item &) { return true; });
}

void PTAddBundleToLoginItems(const Bundle &bundle, bool hidden)
{
    PTAddBundleToLoginItems(bundle, hidden, createAutostartList);
}

void PTRemoveBundleFromLoginItems(const Bundle &bundle)
{
    PTRemoveBundleFromLoginItems(bundle, createAutostartList);
}

bool PTIsBundleInLoginItems(const Bundle &bundle)
{
    return PTIsBundleInLoginItems(bundle, createAutostartList);
}

bool loginitems::isBundleHiddenInLoginItems(const Bundle &bundle, const LoginItemsListFactory &createList)
{
    return askFirstItemAt(bundle, createList, [](const LoginItemsList &list, const LoginItemsList::Item &item) {
        return list.isHidden(item);
    });
}

bool loginitems::isBundleHiddenInLoginItems(const Bundle &bundle)
{
    return isBundleHiddenInLoginItems(bundle, createAutostartList);
}
