#include "AutostartLoginItemsList.h"
#include "DesktopEntry.h"
#include "LoginItems.h"
#include "Workspace.h"

#include "Doubles.h"
#include "Files.h"
#include "Processes.h"

#include <QLoggingCategory>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <sys/stat.h>

using loginitems::AutostartLoginItemsList;
using loginitems::DesktopEntry;
using settings::Bundle;
using testsupport::readFile;
using testsupport::writeFile;
using Status = loginitems::LoginItemsList::ResolveStatus;
using namespace Qt::StringLiterals;

namespace {

const QString OwnId = u"org.quillvane.Quillvane"_s;
const QString Quiet = u"quillvane.loginitems.autostart.warning=false"_s; // entries that do not resolve are logged

// PROGRAM as the Exec value of an entry.
QByteArray exec(const QString &program)
{
    return DesktopEntry::escapeString(*DesktopEntry::quoteExecArgument(program)).toUtf8();
}

QByteArray entryRunning(const QString &program)
{
    return "[Desktop Entry]\nType=Application\nName=X\nExec=" + exec(program) + "\n";
}

} // namespace

class tst_LoginItems : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void functions_data();
    void functions();
    void resolution_data();
    void resolution();
    void hostileEntriesAreLeftAlone_data();
    void hostileEntriesAreLeftAlone();
    void launchedProgramHoldsNoneOfOurStreams();

private:
    // own, copy, other, noid and caseid are bundles, ownslash own with a trailing slash, file a plain file,
    // nourl nothing; ?label does not resolve, ~label is turned off.
    loginitems::LoginItemsList::Resolution target(QString label) const
    {
        const Status status = label.startsWith(u'?') ? Status::Malformed
            : label.startsWith(u'~')                 ? Status::TurnedOff
                                                     : Status::Resolved;
        label.remove(u'?').remove(u'~');
        const QString path = label == u"ownslash"_s ? u"own.app/"_s : label == u"file"_s ? label : label + u".app"_s;
        return {status, label == u"nourl"_s ? QUrl() : QUrl::fromLocalFile(m_root + u'/' + path)};
    }
    QString autostart() const { return m_config->path() + u"/autostart"_s; }
    QStringList names() const
    {
        return QDir(autostart()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    // Each folder entry with all that a change could touch, read without following a link or reading a pipe.
    QString fingerprints() const
    {
        QStringList arguments{u"--format=%N %f %i %s %.9Y"_s};
        for (const QString &name : names())
            arguments.append(autostart() + u'/' + name);
        return testsupport::Children::run(u"stat"_s, arguments).output;
    }

    QTemporaryDir m_bundles;
    // Every character that desktop entries or shells treat specially.
    QString m_root = m_bundles.path() + u"/ two  blanks \"hi\" $HOME 100% %f %%U a\\b\\\\c\\ `id` 'q' ;&|<>*?#~= ✓"_s;
    std::unique_ptr<QTemporaryDir> m_config;
    Bundle m_own, m_copy;
};

void tst_LoginItems::initTestCase()
{
    for (const auto &[label, identifier] : {std::pair(u"own"_s, OwnId), {u"copy"_s, OwnId}, {u"noid"_s, QString()},
                                            {u"other"_s, u"org.example.Other"_s}, {u"caseid"_s, OwnId.toUpper()}})
        QVERIFY(testsupport::makeBundle(m_root + u'/' + label + u".app"_s, identifier));
    // Its Linux folder holds a program that its Info.plist does not name.
    QVERIFY(testsupport::makeBundle(m_root + u"/Renamed.app"_s, u"org.example.Renamed"_s, u"Real"_s));
    QVERIFY(writeFile(m_root + u"/Renamed.app/Contents/Linux/Stray"_s, "") && writeFile(m_root + u"/file"_s, ""));
    QVERIFY(testsupport::makeBundle(m_root + u"/two\nlines.app"_s, u"org.example.Lines"_s)); // no entry can hold it
    m_own = Bundle::withPath(m_root + u"/own.app"_s);
    m_copy = Bundle::withPath(m_root + u"/copy.app"_s);
}

void tst_LoginItems::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
}

// The four functions over a list in memory: "list before | call bundle | list after, or the answer". A list is
// labels (see target()); '*' marks a hidden item, "new" one the call appended; "!create" etc. make the list fail.
void tst_LoginItems::functions_data()
{
    QTest::addColumn<QString>("change");
    const auto row = [](const char *name, const char *change) { QTest::newRow(name) << QString::fromLatin1(change); };
    row("adding when listed at its own place changes nothing, mark included", "own* file | add own | own* file");
    row("adding keeps the first of several items at its own place", "other own own* ownslash | add own | other own");
    row("a trailing slash names the same place", "ownslash | add-hidden own | ownslash");
    row("a copy goes, wherever it is listed", "copy own copy | add own | own");
    row("other bundles and files stay", "other file noid caseid | add own | other file noid caseid new");
    row("unresolvable items stay and do not count", "?own ?copy nourl | add own | ?own ?copy nourl new");
    row("another application turned off does not count", "~other | add own | ~other new");
    row("removing takes every copy, its own place included", "own other copy own* file | remove own | other file");
    row("a bundle without identifier is never added", " | add noid | ");
    row("a failed insertion leaves the rest done", "copy other | add-hidden own !insert | other");
    row("no list, no change", "own copy | add own !create | own copy");
    row("no snapshot, no change", "own copy | remove own !snapshot | own copy");
    row("listed with a trailing slash", "ownslash | listed own | yes");
    row("a copy, unresolvable items and one turned off are not listed", "copy ?own nourl ~own | listed own | no");
    row("a bundle without identifier is found", "noid | listed noid | yes");
    row("no list, not listed", "own | listed own !create | no");
    row("no snapshot, not listed", "own | listed own !snapshot | no");
    row("the first item at its own place tells whether it starts hidden", "copy* own own* | hidden own | no");
}

void tst_LoginItems::functions()
{
    QFETCH(QString, change);
    const QStringList parts = change.split(u'|');
    const QString before = parts[0].trimmed(), call = parts[1].trimmed(), after = parts[2].trimmed();

    testsupport::LoginItemsDouble items;
    QHash<QString, QString> labels; // of keys
    for (QString label : before.split(u' ', Qt::SkipEmptyParts)) {
        items.append(target(QString(label).remove(u'*')), label.endsWith(u'*'));
        labels.insert(items.entries.last().key, label.remove(u'*'));
    }
    items.failCreate = call.contains(u"!create"_s);
    items.failSnapshot = call.contains(u"!snapshot"_s);
    items.failInsert = call.contains(u"!insert"_s);
    const QString verb = call.section(u' ', 0, 0);
    const Bundle bundle = Bundle::withUrl(target(call.section(u' ', 1, 1)).url);
    QString answer;
    if (verb.startsWith(u"add"_s))
        PTAddBundleToLoginItems(bundle, verb == u"add-hidden"_s, items.factory());
    else if (verb == u"remove"_s)
        PTRemoveBundleFromLoginItems(bundle, items.factory());
    else if (verb == u"listed"_s)
        answer = PTIsBundleInLoginItems(bundle, items.factory()) ? u"yes"_s : u"no"_s;
    else
        answer = loginitems::isBundleHiddenInLoginItems(bundle, items.factory()) ? u"yes"_s : u"no"_s;
    QStringList list;
    for (const auto &entry : std::as_const(items.entries))
        list.append(labels.value(entry.key, u"new"_s) + (entry.hidden ? u"*"_s : QString()));
    QCOMPARE(list.join(u' '), answer.isEmpty() ? after : before); // a question changes nothing
    QCOMPARE(answer.isEmpty() ? after : answer, after);
    QVERIFY2(items.snapshots <= 1, "a call reads the list once");
}

// What an entry opens: a path (empty: it does not resolve; "gone": removed before it was read, which is not
// logged). Only the program in Exec of the entry's own group counts.
void tst_LoginItems::resolution_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("target");
    const QString own = m_own.bundlePath(), stray = m_root + u"/Renamed.app/Contents/Linux/Stray"_s;
    const QByteArray ownExec = "Exec=" + exec(m_own.executablePath());
    QTest::newRow("a bundle's executable opens the bundle, whatever follows")
        << ownExec + " %U --file=%f 100%% \"\" --name=\"Foo Bar\" \"a\"b\"c\"" << own;
    QTest::newRow("a program its Info.plist does not name is itself") << "Exec=" + exec(stray) << stray;
    QTest::newRow("a bare name is found in PATH") << QByteArray("Exec=sh") << QStandardPaths::findExecutable(u"sh"_s);
    QTest::newRow("string escapes apply before splitting") << QByteArray(R"(Exec=/bin/sh\s--x)") << u"/bin/sh"_s;
    QTest::newRow("localised keys are ignored") << "Exec[de]=/bin/sh\n" + ownExec + "\nName[de]=Zeiger" << own;
    QTest::newRow("enabled explicitly") << "Hidden=false\nX-GNOME-Autostart-enabled=true\n" + ownExec << own;
    QTest::newRow("another group's Exec") << ownExec + "\n[Desktop Action new]\nName=New\nExec=/bin/true" << own;
    QTest::newRow("an entry removed after listing is gone") << QByteArray() << u"gone"_s;
    for (const auto &[name, body] : {std::pair("an unknown field code", "Exec=sh %z"), {"a lone field code", "Exec=%f"},
                                     {"unquoted $", "Exec=sh $HOME"}, {"an unknown escape", R"(Exec="/bin/\\qsh")"}})
        QTest::newRow(name) << QByteArray(body) << QString();
}

void tst_LoginItems::resolution()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, target);

    const QString path = autostart() + u"/entry.desktop"_s;
    QVERIFY(body.isNull() || writeFile(path, "[Desktop Entry]\nType=Application\n" + body + "\n"));
    QLoggingCategory::setFilterRules(target.isEmpty() ? Quiet : QString());
    if (!target.isEmpty())
        QTest::failOnWarning(QRegularExpression(u"."_s));
    const auto resolution = AutostartLoginItemsList::create()->resolve({u"entry.desktop"_s});
    QCOMPARE(resolution.status == Status::Gone ? u"gone"_s : resolution.url.toLocalFile(), target);
    QCOMPARE(resolution.status == Status::Resolved, !target.isEmpty() && target != u"gone"_s);
}

// What stands at a-hostile.desktop: the bytes of a file, or @ and what else.
void tst_LoginItems::hostileEntriesAreLeftAlone_data()
{
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<bool>("ownTurnedOff");
    const QByteArray copy = entryRunning(m_copy.executablePath()), own = entryRunning(m_own.executablePath());
    const QByteArray copyExec = "Exec=" + exec(m_copy.executablePath()) + "\n";
    for (const auto &[name, entry] : std::initializer_list<std::pair<const char *, QByteArray>>{
             {"not UTF-8", copy + "Comment=\xff\xfe\x80\n"}, {"a NUL", copy + QByteArray("#\0\n", 3)},
             {"no header", copyExec}, {"a byte order mark", "\xef\xbb\xbf" + copy}, {"a key twice", copy + copyExec},
             {"Hidden=yes", copy + "Hidden=yes\n"}, {"a 4 GiB sparse file", "@sparse"}, {"a named pipe", "@fifo"},
             {"a link entry", "[Desktop Entry]\nType=Link\nURL=file:///\n" + copyExec}, {"a link loop", "@loop"},
             {"an unbalanced quote in Exec", "[Desktop Entry]\nType=Application\nExec=\"" + copyExec.mid(5)},
             {"a missing program", entryRunning(u"/nonexistent/Quillvane.app/Contents/Linux/Quillvane"_s)},
             {"a link to /dev/zero", "@/dev/zero"}, {"a dangling link", "@nowhere"}})
        QTest::newRow(name) << entry << false;
    QTest::newRow("our entry, Hidden=true") << own + "Hidden=true\n" << true;
    QTest::newRow("our entry, X-GNOME-Autostart-enabled=false") << own + "X-GNOME-Autostart-enabled=false\n" << true;
    QTest::newRow("a copy elsewhere, Hidden=true") << copy + "Hidden=true\n" << true;
}

// Beside an entry that does not resolve, entries that take our file name and a file that is no entry, our
// bundle is added hidden in a valid entry that replaces the enabled one of a copy; added again, it stays;
// removed, it goes; every other entry stays exactly as it was. An entry of ours turned off is our item.
void tst_LoginItems::hostileEntriesAreLeftAlone()
{
    QFETCH(QByteArray, entry);
    QFETCH(bool, ownTurnedOff);

    const QString hostile = autostart() + u"/a-hostile.desktop"_s, loop = autostart() + u"/b-loop.desktop"_s;
    const QString ours = OwnId + u"-3.desktop"_s;
    const QByteArray copy = entryRunning(m_copy.executablePath()), sh = entryRunning(u"/bin/sh"_s);
    for (const QString &taken : {OwnId + u".desktop"_s, OwnId + u"-2.desktop"_s})
        QVERIFY(writeFile(autostart() + u'/' + taken, sh));
    QVERIFY(writeFile(autostart() + u"/notes.txt"_s, copy));
    if (entry == "@sparse")
        QVERIFY(writeFile(hostile, copy) && QFile::resize(hostile, qint64(4) << 30));
    else if (entry == "@fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(hostile).constData(), 0600), 0);
    else if (entry == "@loop")
        QVERIFY(QFile::link(loop, hostile) && QFile::link(hostile, loop));
    else if (entry.startsWith('@'))
        QVERIFY(QFile::link(QString::fromUtf8(entry.mid(1)), hostile));
    else
        QVERIFY(writeFile(hostile, entry));
    const QStringList before = names();
    const QString prints = fingerprints();
    QVERIFY(writeFile(autostart() + u"/m-copy.desktop"_s, copy));

    QLoggingCategory::setFilterRules(Quiet);
    PTAddBundleToLoginItems(Bundle::withPath(m_root + u"/two\nlines.app"_s), false);
    PTAddBundleToLoginItems(m_own, true);
    const QStringList added = names();
    QStringList others = added;
    QCOMPARE(others.removeAll(ours), ownTurnedOff ? 0 : 1);
    QCOMPARE(others, before);
    QCOMPARE(PTIsBundleInLoginItems(m_own), !ownTurnedOff);
    QCOMPARE(loginitems::isBundleHiddenInLoginItems(m_own), !ownTurnedOff);
    if (!ownTurnedOff) {
        const auto validator = testsupport::Children::run(u"desktop-file-validate"_s, {autostart() + u'/' + ours});
        QVERIFY2(validator.exitCode == 0 && validator.output.trimmed().isEmpty(), qPrintable(validator.output));
    }
    const QByteArray written = readFile(autostart() + u'/' + ours);
    PTAddBundleToLoginItems(m_own, false);
    QCOMPARE(names(), added);
    QCOMPARE(readFile(autostart() + u'/' + ours), written);
    // Nor does the list itself change or remove an entry that does not resolve.
    const auto list = AutostartLoginItemsList::create();
    QVERIFY(!list->setHidden({u"a-hostile.desktop"_s}, true) && !list->remove({u"a-hostile.desktop"_s}));
    PTRemoveBundleFromLoginItems(m_own);
    QVERIFY(!PTIsBundleInLoginItems(m_own));
    QCOMPARE(fingerprints(), prints);
}

// A launched program holds none of our streams (a child holding our output keeps a terminal or a test runner
// waiting) and runs in the root folder.
void tst_LoginItems::launchedProgramHoldsNoneOfOurStreams()
{
    const QString bundle = m_config->filePath(u"Recorder.app"_s), record = m_config->filePath(u"record"_s);
    QVERIFY(testsupport::makeBundle(bundle, u"org.example.Recorder"_s, u"Recorder"_s));
    QVERIFY(writeFile(bundle + u"/Contents/Linux/Recorder"_s, "#!/bin/sh\n(readlink /proc/$$/fd/0 /proc/$$/fd/1 "
                      "/proc/$$/fd/2; pwd) > '" + QFile::encodeName(record) + "'\n"));
    QVERIFY(loginitems::Workspace::launchApplication(bundle));
    QTRY_COMPARE(readFile(record), QByteArray("/dev/null\n/dev/null\n/dev/null\n/\n"));
}

QTEST_GUILESS_MAIN(tst_LoginItems)
#include "tst_loginitems.moc"
