#include "FakeBundle.h"
#include "InMemoryLoginItemsList.h"

#include "LoginItemsListFactory.h"

#include <QTemporaryDir>
#include <QTest>

using settings::Bundle;
using loginitems::LoginItemsList;
using Status = LoginItemsList::ResolveStatus;

// Lists are written as labels separated by blanks, in list order; a trailing
// '*' marks a hidden item, and "new" is an item that the call appended.
class tst_LoginItems : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void addAndRemove_data();
    void addAndRemove();
    void lookup_data();
    void lookup();
    void listFailures_data();
    void listFailures();
    void failedInsertionIsQuiet();

private:
    void fill(InMemoryLoginItems &items, const QString &list);
    QString describe(const InMemoryLoginItems &items) const;
    Bundle bundleNamed(const QString &name) const;

    QTemporaryDir m_dir;
    QHash<QString, LoginItemsList::Resolution> m_targets;
    QHash<QString, QString> m_labelOfKey;
};

void tst_LoginItems::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString root = m_dir.path();
    QVERIFY(makeFakeBundle(root + "/Apps/Quillvane.app", "org.quillvane.Quillvane"));
    QVERIFY(makeFakeBundle(root + "/Old/Quillvane.app", "org.quillvane.Quillvane"));
    QVERIFY(makeFakeBundle(root + "/Apps/Other.app", "org.example.Other"));
    QVERIFY(makeFakeBundle(root + "/Apps/NoId.app", QString()));
    QVERIFY(makeFakeBundle(root + "/Apps/Case.app", "ORG.QUILLVANE.QUILLVANE"));
    QVERIFY(QDir().mkpath(root + "/bin"));
    QFile tool(root + "/bin/tool");
    QVERIFY(tool.open(QIODevice::WriteOnly));

    const auto at = [&](const QString &path) { return QUrl::fromLocalFile(root + path); };
    m_targets = {
        {"own", {Status::Resolved, at("/Apps/Quillvane.app")}},
        {"ownslash", {Status::Resolved, at("/Apps/Quillvane.app/")}},
        {"copy", {Status::Resolved, at("/Old/Quillvane.app")}},
        {"other", {Status::Resolved, at("/Apps/Other.app")}},
        {"noid", {Status::Resolved, at("/Apps/NoId.app")}},
        {"caseid", {Status::Resolved, at("/Apps/Case.app")}},
        {"file", {Status::Resolved, at("/bin/tool")}},
        // Failed resolutions, even with a URL, must never count.
        {"?own", {Status::Unreadable, at("/Apps/Quillvane.app")}},
        {"?copy", {Status::Malformed, at("/Old/Quillvane.app")}},
        {"nourl", {Status::Resolved, QUrl()}},
        // Turned off by the user: known targets, never changed.
        {"off", {Status::TurnedOff, at("/Apps/Quillvane.app")}},
        {"offcopy", {Status::TurnedOff, at("/Old/Quillvane.app")}},
        {"offother", {Status::TurnedOff, at("/Apps/Other.app")}},
    };
}

void tst_LoginItems::fill(InMemoryLoginItems &items, const QString &list)
{
    m_labelOfKey.clear();
    for (QString label : list.split(' ', Qt::SkipEmptyParts)) {
        const bool hidden = label.endsWith('*');
        if (hidden)
            label.chop(1);
        QVERIFY2(m_targets.contains(label), qPrintable(label));
        items.append(m_targets.value(label), hidden);
        m_labelOfKey.insert(items.entries.last().key, label);
    }
}

QString tst_LoginItems::describe(const InMemoryLoginItems &items) const
{
    QStringList labels;
    for (const auto &entry : items.entries)
        labels.append(m_labelOfKey.value(entry.key, "new") + (entry.hidden ? "*" : ""));
    return labels.join(' ');
}

Bundle tst_LoginItems::bundleNamed(const QString &name) const
{
    if (name == "own")
        return Bundle::withPath(m_dir.path() + "/Apps/Quillvane.app");
    if (name == "noid")
        return Bundle::withPath(m_dir.path() + "/Apps/NoId.app");
    return Bundle();
}

void tst_LoginItems::addAndRemove_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("bundle");
    QTest::addColumn<QString>("after");

    QTest::newRow("adding to an empty list appends one item") << "" << "add" << "own" << "new";
    QTest::newRow("adding hidden marks the new item") << "" << "add hidden" << "own" << "new*";
    QTest::newRow("adding when listed at its own place changes nothing")
        << "other own file" << "add hidden" << "own" << "other own file";
    QTest::newRow("adding leaves the hidden mark of the kept item alone")
        << "own*" << "add" << "own" << "own*";
    QTest::newRow("adding keeps the first of several items at its own place")
        << "other own* own ownslash file" << "add" << "own" << "other own* file";
    QTest::newRow("a trailing slash names the same place")
        << "ownslash" << "add" << "own" << "ownslash";
    QTest::newRow("adding replaces a copy elsewhere")
        << "copy other" << "add hidden" << "own" << "other new*";
    QTest::newRow("a copy listed before its own item goes, the own item stays")
        << "copy own copy" << "add" << "own" << "own";
    QTest::newRow("other applications, files and other identifiers stay")
        << "other file noid caseid" << "add" << "own" << "other file noid caseid new";
    QTest::newRow("unresolvable items stay and do not count as listed")
        << "?own ?copy nourl" << "add" << "own" << "?own ?copy nourl new";
    QTest::newRow("an item turned off is the bundle's item and stays as it is")
        << "off*" << "add" << "own" << "off*";
    QTest::newRow("a copy turned off counts too; enabled items of the application go")
        << "own offcopy copy other" << "add hidden" << "own" << "offcopy other";
    QTest::newRow("another application turned off does not count")
        << "offother" << "add" << "own" << "offother new";
    QTest::newRow("removing leaves items turned off")
        << "off own offcopy" << "remove" << "own" << "off offcopy";
    QTest::newRow("removing takes every copy, its own place included")
        << "own other copy own* file" << "remove" << "own" << "other file";
    QTest::newRow("removing an unlisted bundle changes nothing")
        << "other file" << "remove" << "own" << "other file";
    QTest::newRow("removing leaves unresolvable copies")
        << "?copy ?own" << "remove" << "own" << "?copy ?own";
    QTest::newRow("a bundle without identifier is never added")
        << "" << "add" << "noid" << "";
    QTest::newRow("a bundle without identifier is never removed")
        << "noid" << "remove" << "noid" << "noid";
    QTest::newRow("no bundle changes nothing") << "own copy" << "remove" << "none" << "own copy";
}

void tst_LoginItems::addAndRemove()
{
    QFETCH(QString, before);
    QFETCH(QString, operation);
    QFETCH(QString, bundle);
    QFETCH(QString, after);

    InMemoryLoginItems items;
    fill(items, before);
    if (operation == "remove")
        PTRemoveBundleFromLoginItems(bundleNamed(bundle), items.factory());
    else
        PTAddBundleToLoginItems(bundleNamed(bundle), operation == "add hidden", items.factory());

    QCOMPARE(describe(items), after);
    QVERIFY2(items.snapshots <= 1, "a call reads the list once");
}

void tst_LoginItems::lookup_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("bundle");
    QTest::addColumn<bool>("listed");

    QTest::newRow("empty list") << "" << "own" << false;
    QTest::newRow("listed among others") << "other file own*" << "own" << true;
    QTest::newRow("listed with a trailing slash") << "ownslash" << "own" << true;
    QTest::newRow("only a copy elsewhere") << "copy" << "own" << false;
    QTest::newRow("only unresolvable items") << "?own nourl" << "own" << false;
    QTest::newRow("only an item turned off") << "off" << "own" << false;
    QTest::newRow("a bundle without identifier is found") << "noid" << "noid" << true;
    QTest::newRow("no bundle") << "own" << "none" << false;
}

void tst_LoginItems::lookup()
{
    QFETCH(QString, list);
    QFETCH(QString, bundle);
    QFETCH(bool, listed);

    InMemoryLoginItems items;
    fill(items, list);
    QCOMPARE(PTIsBundleInLoginItems(bundleNamed(bundle), items.factory()), listed);
    QCOMPARE(describe(items), list);
}

void tst_LoginItems::listFailures_data()
{
    QTest::addColumn<bool>("failCreate");
    QTest::newRow("the list cannot be created") << true;
    QTest::newRow("the snapshot cannot be taken") << false;
}

void tst_LoginItems::listFailures()
{
    QFETCH(bool, failCreate);
    InMemoryLoginItems items;
    fill(items, "own copy");
    items.failCreate = failCreate;
    items.failSnapshot = !failCreate;
    const Bundle own = bundleNamed("own");

    PTAddBundleToLoginItems(own, true, items.factory());
    PTRemoveBundleFromLoginItems(own, items.factory());
    QVERIFY(!PTIsBundleInLoginItems(own, items.factory()));
    QCOMPARE(describe(items), "own copy");
}

void tst_LoginItems::failedInsertionIsQuiet()
{
    InMemoryLoginItems items;
    fill(items, "copy other");
    items.failInsert = true;
    PTAddBundleToLoginItems(bundleNamed("own"), true, items.factory());
    QCOMPARE(describe(items), "other");
}

QTEST_GUILESS_MAIN(tst_LoginItems)
#include "tst_loginitems.moc"
