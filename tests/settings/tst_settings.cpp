#include "Bundle.h"
#include "DesktopEntry.h"
#include "PreferencesStore.h"
#include "QuillvaneSettings.h"

#include "Files.h"
#include "Processes.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QLocale>
#include <QLoggingCategory>
#include <QPoint>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <clocale>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

using loginitems::DesktopEntry;
using settings::Bundle;
using settings::PreferencesStore;
using settings::PropertyList;
using testsupport::readFile;
using testsupport::writeFile;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString Domain = u"org.quillvane.Test"_s;
constexpr qint64 int64Min = std::numeric_limits<qint64>::min(), int64Max = std::numeric_limits<qint64>::max();
constexpr quint64 uint64Max = std::numeric_limits<quint64>::max();

QByteArray plist(const QByteArray &body)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">" + body + "</plist>\n";
}

// Dictionaries and arrays in turn, DEPTH levels in all.
QVariant nested(int depth)
{
    QVariant value = QVariantList();
    for (int level = 1; level < depth; ++level)
        value = level % 2 ? QVariant(QVariantMap{{u"k"_s, value}}) : QVariant(QVariantList{value});
    return value;
}

mode_t modeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : 0;
}

QVariantMap hotKey(const QVariant &keyCode, const QVariant &modifiers)
{
    return {{u"keyCode"_s, keyCode}, {u"modifiers"_s, modifiers}};
}

} // namespace

// The writer spells every value out (NaN, the sign of zero, unsigned): two are one when their documents are.
#define QCOMPARE_WRITTEN(actual, expected) QCOMPARE(PropertyList::toXml(actual), PropertyList::toXml(expected))

class tst_Settings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void documents_data();
    void documents();
    void pythonReadsAndWritesTheSame();
    void storesShareADomain();
    void killedAndRacingWriters();
    void fullFileSystem();
    void readingRules_data();
    void readingRules();
    void firstUseAndStoredSettings();
    void bundles_data();
    void bundles();

private:
    QString file() const { return testsupport::settingsFile(m_dir->path(), Domain); }
    QVariantMap onDisk() const { return PropertyList::readDictionaryFile(file()).toMap(); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

// Every test runs under a German locale, where the C library reads "0.5" as 0.
void tst_Settings::initTestCase()
{
    QVERIFY2(std::setlocale(LC_ALL, "de_DE.UTF-8"), "the locale de_DE.UTF-8 is missing (scripts/bootstrap)");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

// A document reads as the expected value (none: refused), a fuzz seed as itself; either writes and reads back
// as itself. As a settings file, one that is no dictionary is kept byte for byte under a name that never
// replaces an earlier one, and the next synchronisation writes a fresh file.
void tst_Settings::documents_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("integers: leading zeros are decimal; signs, blanks, hexadecimal")
        << plist("<array><integer>010</integer><integer>+5</integer><integer>\n 42 \n</integer><integer>0x1F</integer>"
                 "<integer>0xFFFFFFFFFFFFFFFF</integer><integer>9223372036854775808</integer></array>")
        << QVariant(QVariantList{10, 5, 42, 31, uint64Max, quint64(1) << 63});
    QTest::newRow("reals: no integer part, blanks, words, beyond the double range")
        << plist("<array><real>.5</real><real> 0.5\n</real><real>nan</real><real>+infinity</real><real>-Infinity</real>"
                 "<real>1E+400</real><real>-1e-400</real></array>")
        << QVariant(QVariantList{0.5, 0.5, qQNaN(), qInf(), -qInf(), qInf(), -0.0});
    QTest::newRow("text in every XML form")
        << plist("<array><string>a<![CDATA[<b>]]>&lt;&#x1F600;&amp;<!-- note -->z</string><string>a&#13;b</string>"
                 "<string>a\r\nb</string><data>\n\tAAEC\n\tAw==\n\t</data></array>")
        << QVariant(QVariantList{u"a<b><😀&z"_s, u"a\rb"_s, u"a\nb"_s, QByteArray("\x00\x01\x02\x03", 4)});
    QTest::newRow("self-closing containers, an empty key, a repeated key: the later wins")
        << plist("<array><dict/><array/><dict><key/><true/><key>a</key><true/><key>a</key><false/></dict></array>")
        << QVariant(QVariantList{QVariantMap(), QVariantList(), QVariantMap{{u""_s, true}, {u"a"_s, false}}});
    QTest::newRow("a byte order mark, comments and processing instructions")
        << QByteArray("\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- a --><plist><!-- b --><?pi x?><true/></plist><!-- c -->")
        << QVariant(true);

    const int past = PropertyList::MaximumDepth + 1;
    for (const auto &[name, document] : std::initializer_list<std::pair<const char *, QByteArray>>{
             {"not UTF-8", plist("<string>\xff\xfe\xc3(</string>")}, {"another root", "<html><true/></html>"},
             {"signed hexadecimal", plist("<integer>-0x10</integer>")}, {"two values", plist("<true/><false/>")},
             {"an unknown element", plist("<foo/>")}, {"plist without value", plist("")},
             {"a second root element", "<plist><true/></plist><plist/>"}, {"text in true", plist("<true>yes</true>")},
             {"text where an element belongs", plist("<dict>junk<key>a</key><true/></dict>")},
             {"a key alone", plist("<dict><key>a</key></dict>")}, {"no key", plist("<dict><string>x</string></dict>")},
             {"2^64", plist("<integer>18446744073709551616</integer>")}, {"no day", plist("<date>2004-10Z</date>")},
             {"-2^63 - 1", plist("<integer>-9223372036854775809</integer>")}, {"base64", plist("<data>!!!!</data>")},
             {"short minutes", plist("<date>2004-10-26T10:3Z</date>")}, {"an empty exponent", plist("<real>1e</real>")},
             {"a date with an offset", plist("<date>2026-12-06T08:00:00+01:00</date>")},
             {"month 13", plist("<date>2026-13-06T08:00:00Z</date>")}, {"a decimal comma", plist("<real>0,5</real>")},
             {"a date with fractional seconds", plist("<date>2004-10-26T10:33:00.5Z</date>")},
             {"an internal subset", "<!DOCTYPE plist [ <!ELEMENT plist ANY> ]><plist><true/></plist>"},
             {"another document type", "<!DOCTYPE html><plist><true/></plist>"},
             {"a control character reference", plist("<string>a&#1;b</string>")},
             {"over the size bound", plist("<string>" + QByteArray(PropertyList::MaximumInputSize, 'a') + "</string>")},
             {"nested too deep", plist(QByteArray("<array>").repeated(past) + QByteArray("</array>").repeated(past))}})
        QTest::newRow(name) << document << QVariant();
    const QDir corpora(QStringLiteral(QUILLVANE_SOURCE_DIR "/tests/fuzz/corpus"));
    for (QDirIterator it(corpora.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
        const QByteArray seed = readFile(it.next());
        QTest::newRow(qPrintable(corpora.relativeFilePath(it.filePath()))) << seed << PropertyList::fromXml(seed);
    }
}

// plistlib reads what we write as the values given in Python, and what it writes of them reads as ours.
void tst_Settings::pythonReadsAndWritesTheSame()
{
    const QVariantMap ours{
        {u"a"_s, QVariantList{false, true, int64Min, int64Max, uint64Max, 0, -7}},
        {u"b"_s, QVariantList{0.1, 0.1 + 0.2, 1.0 / 3, 1e300, 5e-324, -0.0, 123456.789, qQNaN(), qInf(), -qInf()}},
        {u"c"_s, QVariantList{u"Grüße – 日本語 😀 e\u0301"_s, u"a&b<c>]]>"_s, u"tab\tnewline\n"_s, u""_s}},
        {u"d"_s, QVariantList{QByteArray("\0\x80\xff", 3).repeated(50), QByteArray(),
                              QDateTime(QDate(2026, 12, 6), QTime(8, 0), Qt::UTC)}},
        {u"e"_s, nested(PropertyList::MaximumDepth - 1)}}; // the whole document at the depth bound
    const QString python = u"{'a': [False, True, -2**63, 2**63 - 1, 2**64 - 1, 0, -7], 'b': [0.1, 0.1 + 0.2, 1 / 3, "
                           "1e300, 5e-324, -0.0, 123456.789, float('nan'), float('inf'), float('-inf')], "
                           "'c': ['Grüße – 日本語 😀 e\u0301', 'a&b<c>]]>', 'tab\\tnewline\\n', ''], "
                           "'d': [b'\\0\\x80\\xff' * 50, b'', datetime.datetime(2026, 12, 6, 8, 0)], "
                           "'e': functools.reduce(lambda v, i: {'k': v} if i % 2 else [v], range(1, 255), [])}"_s;
    const QString script = u"import datetime, functools, plistlib, sys\n"
                           "read, expected = plistlib.load(open(sys.argv[1], 'rb')), eval(sys.argv[3])\n"
                           "if repr(read) != repr(expected): sys.exit('plistlib read %r' % read)\n"
                           "plistlib.dump(expected, open(sys.argv[2], 'wb'))\n"_s;
    const QString mine = m_dir->filePath(u"ours.plist"_s), theirs = m_dir->filePath(u"theirs.plist"_s);
    const QByteArray xml = PropertyList::toXml(ours);
    QVERIFY(xml.contains("<dict>\n\t<key>a</key>\n\t<array>\n\t\t<false/>\n")); // the common layout
    QVERIFY(writeFile(mine, xml));
    const testsupport::Run run = testsupport::Children::run(u"python3"_s, {u"-c"_s, script, mine, theirs, python});
    QVERIFY2(run.exitCode == 0, qPrintable(run.output));
    QCOMPARE_WRITTEN(PropertyList::readFile(theirs), ours);
}

void tst_Settings::documents()
{
    QFETCH(QByteArray, input);
    QFETCH(QVariant, expected);
    QLoggingCategory::setFilterRules(u"quillvane.*.warning=false"_s); // refusals are logged; here they are expected
    auto restore = qScopeGuard([] { QLoggingCategory::setFilterRules(QString()); });

    const QVariant value = PropertyList::fromXml(input);
    const QByteArray written = PropertyList::toXml(value);
    QCOMPARE(written.isEmpty(), !value.isValid());
    QCOMPARE_WRITTEN(value, expected);
    QCOMPARE(PropertyList::toXml(PropertyList::fromXml(written)), written);

    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (int second = -1; second <= 3; ++second) // set aside earlier, under every name the clock could give now
        QVERIFY(writeFile(file() + now.addSecs(second).toString(u"'.corrupt-'yyyyMMdd'T'HHmmss'Z'"_s), "earlier"));
    QVERIFY(writeFile(file(), input));
    PreferencesStore store(m_dir->path());
    QCOMPARE(store.copyAppValue(u"added"_s, Domain), QVariant());
    QVariantMap stored = value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap();
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        QCOMPARE_WRITTEN(store.copyAppValue(it.key(), Domain), it.value());
    const QStringList aside = QDir(m_dir->path()).entryList({u"*.corrupt-*"_s});
    QCOMPARE(aside.size(), value.typeId() == QMetaType::QVariantMap ? 5 : 6);
    for (const QString &name : aside)
        QCOMPARE(readFile(m_dir->filePath(name)), name.endsWith(u"-1"_s) ? input : QByteArray("earlier"));
    store.setAppValue(u"added"_s, 42, Domain);
    QVERIFY(store.appSynchronize(Domain));
    stored.insert(u"added"_s, 42);
    QCOMPARE_WRITTEN(QVariant(onDisk()), stored);

    if (DesktopEntry::parse(input)) // an entry marked hidden is still one, marked
        QCOMPARE(DesktopEntry::parse(DesktopEntry::withKey(input, u"X-Quillvane-Hidden"_s, u"true"_s))
                     .value_or(DesktopEntry()).rawValue(u"X-Quillvane-Hidden"_s), u"true"_s);
}

// A value reads the same before synchronisation, after it and in another store; one that a property list cannot
// hold is refused. A synchronisation merges keys and removals of another store. Folders and file are the user's
// alone, in $HOME/.config unless XDG_CONFIG_HOME names an absolute folder.
void tst_Settings::storesShareADomain()
{
    qputenv("XDG_CONFIG_HOME", "relative");
    QCOMPARE(PreferencesStore().directory(), QDir::homePath() + u"/.config"_s);
    auto restore = qScopeGuard([oldMask = ::umask(0)] { ::umask(oldMask); });
    const QString directory = m_dir->filePath(u"config/nested"_s), path = testsupport::settingsFile(directory, Domain);
    PreferencesStore mine(directory), theirs(directory);
    mine.setAppValue(u"int"_s, 6144, Domain);
    mine.setAppValue(u"gone"_s, true, Domain);
    // nested() fits alone, but not one level down inside the domain
    for (const QVariant &bad : {QVariant(QPoint(1, 2)), nested(PropertyList::MaximumDepth), QVariant(u"a\x01"_s),
                                QVariant(QVariantMap{{u"k"_s, QVariant()}}), QVariant(QVariantList{1, QPoint()}),
                                QVariant(QVariantMap{{u"\x1b"_s, 1}}), QVariant(QString(QChar(0xD800))),
                                QVariant(QDateTime()), QVariant(QDateTime(QDate(10000, 1, 1), QTime(0, 0), Qt::UTC))}) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"Refusing to set \"int\""_s));
        mine.setAppValue(u"int"_s, bad, Domain);
    }
    QVariantMap expected{{u"int"_s, 6144LL}, {u"gone"_s, true}};
    const auto read = [](PreferencesStore &store) {
        QVariantMap values;
        for (const QString &key : {u"int"_s, u"gone"_s, u"b"_s})
            if (const QVariant value = store.copyAppValue(key, Domain); value.isValid())
                values.insert(key, value);
        return QVariant(values);
    };
    QCOMPARE_VALUE(read(mine), QVariant(expected));
    QVERIFY(!QFileInfo::exists(directory));
    QVERIFY(mine.appSynchronize(Domain));
    QCOMPARE_VALUE(read(theirs), QVariant(expected));
    QCOMPARE((QList<mode_t>{modeOf(m_dir->filePath(u"config"_s)), modeOf(directory), modeOf(path)}),
             (QList<mode_t>{0700, 0700, 0600}));

    theirs.setAppValue(u"b"_s, 2, Domain);
    mine.setAppValue(u"gone"_s, QVariant(), Domain);
    QVERIFY(theirs.appSynchronize(Domain));
    QCOMPARE(mine.copyAppValue(u"b"_s, Domain), QVariant());
    QVERIFY(mine.appSynchronize(Domain));
    QVERIFY(theirs.appSynchronize(Domain)); // without changes of its own, it picks the others' up too
    expected = {{u"int"_s, 6144LL}, {u"b"_s, 2LL}};
    for (const QVariant &values : {read(mine), read(theirs), QVariant(PropertyList::readDictionaryFile(path))})
        QCOMPARE_VALUE(values, QVariant(expected));
}

// Writers killed anywhere in their cycle while two processes race to synchronise keys of their own: the file
// always holds one whole generation (the last reported or the next); no lock outlives a killed writer; and
// every key of both racers ends with its last value.
void tst_Settings::killedAndRacingWriters()
{
    constexpr int Keys = 7, Rounds = 150;
    testsupport::Children children;
    const auto worker = [&children](const QStringList &arguments) {
        return children.start(QStringLiteral(TESTSUPPORT_WORKER), arguments, testsupport::environmentWith({}), true);
    };
    const QStringList prefixes{u"left-"_s, u"right-"_s};
    QList<QProcess *> racers;
    for (const QString &prefix : prefixes)
        racers.append(worker({u"keys"_s, m_dir->path(), Domain, prefix, u"%1"_s.arg(Keys), u"%1"_s.arg(Rounds)}));
    for (QProcess *racer : std::as_const(racers)) // both are up: let them go together
        QVERIFY(racer && racer->write("go\n") == 3 && racer->waitForBytesWritten());
    for (int round = 0; round < 20; ++round) {
        // 64 KiB of payload, so that a write takes long enough to be cut
        QProcess *writer = worker({u"cycle"_s, m_dir->path(), Domain, QString::number(64 * 1024)});
        QVERIFY(writer);
        QList<qint64> reported;
        const auto readReports = [&] {
            while (writer->canReadLine())
                reported.append(writer->readLine().trimmed().toLongLong());
            return reported.size();
        };
        // One to three generations, then the kill lands anywhere in the next cycle or two.
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(readReports() > round % 3 || writer->state() != QProcess::Running, 20000);
        QVERIFY2(writer->state() == QProcess::Running, "the writer stopped by itself");
        const qint64 delay = QRandomGenerator::global()->bounded(2 * clock.nsecsElapsed() / reported.size() + 1);
        for (clock.start(); clock.nsecsElapsed() < delay;) {
        }
        ::kill(pid_t(writer->processId()), SIGKILL);
        QVERIFY(writer->waitForFinished(10000));
        readReports();

        const QVariantMap values = onDisk();
        const qint64 generation = values.value(u"generation"_s).toLongLong();
        QVERIFY(generation == reported.last() || generation == reported.last() + 1);
        QCOMPARE(values.value(u"mirror"_s), QVariant(generation));
        QVERIFY(values.value(u"payload"_s).toString().startsWith(u"%1:%1:"_s.arg(generation)));
    }
    for (QProcess *racer : std::as_const(racers)) {
        QVERIFY(racer->state() == QProcess::NotRunning || racer->waitForFinished(120000));
        QVERIFY(racer->exitStatus() == QProcess::NormalExit && racer->exitCode() == 0);
    }
    const QVariantMap values = onDisk();
    QCOMPARE(values.size(), 3 + 2 * Keys);
    for (int key = 0; key < 2 * Keys; ++key) { // the last round R <= Rounds with R mod Keys == key
        const int last = Rounds - (Rounds - key % Keys) % Keys;
        QCOMPARE(values.value(prefixes[key / Keys] + QString::number(key % Keys)), QVariant(qint64(last)));
    }
}

// On a full file system (room for the lock only) a synchronisation fails, keeps the change pending, leaves the
// old file and nothing else, and writes the change once there is room.
void tst_Settings::fullFileSystem()
{
    const QString small = m_dir->filePath(u"small"_s), path = testsupport::settingsFile(small, Domain);
    QVERIFY(QDir().mkpath(small));
    // In a mount namespace of this process's own: nothing outside sees it, and it goes with the process.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || ::mount("tmpfs", QFile::encodeName(small).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k") != 0)
        QSKIP("no small tmpfs in a private mount namespace here (it needs root)");
    auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(small).constData(), MNT_DETACH); });
    PreferencesStore store(small);
    store.setLockTimeout(100ms);
    store.setAppValue(u"old"_s, u"kept"_s, Domain);
    QVERIFY(store.appSynchronize(Domain));
    const QByteArray before = readFile(path);
    QVERIFY(writeFile(small + u"/room"_s, QByteArray(4096, 'r'))); // held back, everything else filled, given back
    QFile filler(small + u"/filler"_s);
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    while (filler.write(QByteArray(1024, 'f')) == 1024) {
    }
    QVERIFY(QFile::remove(small + u"/room"_s));

    const QString large(16 * 1024, u'n');
    store.setAppValue(u"new"_s, large, Domain);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"Cannot save preferences domain"_s));
    QVERIFY(!store.appSynchronize(Domain));
    QCOMPARE(store.copyAppValue(u"new"_s, Domain), QVariant(large));
    QCOMPARE(readFile(path), before);
    QCOMPARE(QDir(small).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             (QStringList{u"filler"_s, Domain + u".plist"_s}));
    QVERIFY(filler.remove());
    QVERIFY(store.appSynchronize(Domain));
    QCOMPARE(PropertyList::readDictionaryFile(path).toMap(), (QVariantMap{{u"old"_s, u"kept"_s}, {u"new"_s, large}}));
}

// How the settings page and the cursor program both read a stored setting; a value of another type is logged.
void tst_Settings::readingRules_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("reading");
    const QVariant none = hotKey(-1LL, -1LL);
    const qint32 int32Max = std::numeric_limits<qint32>::max();
    for (const auto &[key, stored, reading] : std::initializer_list<std::tuple<const char *, QVariant, QVariant>>{
             {"autoShow", 0LL, false}, {"autoShow", 0.5, true}, {"autoShow", uint64Max, true},
             {"autoShow", u"NO"_s, true}, {"idleHide", QVariant(), 0.0f}, {"idleHide", 20LL, 20.0f},
             {"idleHide", double(35.3f), 35.3f}, {"idleHide", true, 1.0f}, {"idleHide", -1e300, -float(qInf())},
             {"idleHide", u"35"_s, 0.0f}, {"hideWhileTyping", 0.5, true}, {"hideWhileTyping", u"yes"_s, false},
             {"toggleCursorHotKey", hotKey(40.9, 6144.0), hotKey(40LL, 6144LL)},
             {"toggleCursorHotKey", hotKey(0LL, int32Max), hotKey(0LL, qint64(int32Max))},
             {"toggleCursorHotKey", hotKey(-5LL, 0LL), none}, {"toggleCursorHotKey", hotKey(1LL << 32, 1e10), none},
             {"toggleCursorHotKey", hotKey(uint64Max, u"6144"_s), none}, {"toggleCursorHotKey", QVariantList(), none}})
        QTest::addRow("%s %s", key, qPrintable(QDebug::toString(stored))) << QString::fromLatin1(key) << stored
                                                                       << reading;
}

void tst_Settings::readingRules()
{
    QFETCH(QString, key);
    QFETCH(QVariant, stored);
    QFETCH(QVariant, reading);

    if (stored.typeId() == QMetaType::QString)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"The setting %1 holds a QString"_s.arg(key)));
    const QVariant read = key == u"autoShow"_s ? QVariant(QuillvaneSettings::autoShowReading(stored))
        : key == u"idleHide"_s ? QVariant(QuillvaneSettings::idleHideReading(stored))
        : key == u"hideWhileTyping"_s ? QVariant(QuillvaneSettings::hideWhileTypingReading(stored))
        : QVariant(settings::StoredKeyCombo::fromDictionary(stored).dictionary());
    QCOMPARE_VALUE(read, reading);
}

// First use stores the first-use values alone; a missing idle time, hot key or typing switch reads as 0, none, off.
void tst_Settings::firstUseAndStoredSettings()
{
    const QString domain(QuillvaneSettings::Domain);
    PreferencesStore store(m_dir->path());
    store.setAppValue(u"idleHide"_s, 3.0, domain);
    QVERIFY(!QuillvaneSettings::readStored(store));
    QuillvaneSettings::setFirstUseValues(store);
    QVERIFY(store.appSynchronize(domain));
    QCOMPARE_VALUE(PropertyList::readDictionaryFile(store.filePath(domain)),
                   QVariant(QVariantMap{{u"autoShow"_s, true}, {u"idleHide"_s, 35.0},
                                        {u"toggleCursorHotKey"_s, hotKey(40LL, 6144LL)}}));
    QVERIFY(QuillvaneSettings::readStored(store) == QuillvaneSettings());
    for (const auto &[key, value] : {std::pair(u"autoShow"_s, QVariant(false)), {u"idleHide"_s, QVariant()},
                                     {u"toggleCursorHotKey"_s, QVariant()}, {u"hideWhileTyping"_s, true}})
        store.setAppValue(key, value, domain);
    QVERIFY(QuillvaneSettings::readStored(store) == (QuillvaneSettings{false, 0.0f, {-1, -1}, true}));
}

// App.app: a folder holding Contents/Info.plist and the programs Tool and 12 in Contents/Linux.
void tst_Settings::bundles_data()
{
    QTest::addColumn<QByteArray>("info");
    QTest::addColumn<QString>("identifier");
    QTest::addColumn<QString>("executable");
    const QString id = u"org.quillvane.Quillvane"_s;
    const auto info = [&id](const QVariant &executable, const QVariant &identifier = {}) {
        return PropertyList::toXml(QVariantMap{{u"CFBundleIdentifier"_s, identifier.isValid() ? identifier : id},
                                               {u"CFBundleExecutable"_s, executable}});
    };
    QTest::newRow("an identifier and an executable") << info(u"Tool"_s) << id << u"Tool"_s;
    QTest::newRow("a named executable that is missing") << info(u"Missing"_s) << id << QString();
    QTest::newRow("names that are no strings") << info(12, 7) << QString() << QString();
    QTest::newRow("an executable name that leaves the folder") << info(u"../Linux/Tool"_s) << id << QString();
    QTest::newRow("not a property list") << QByteArray("<plist><dict><key>CFBundleIdentifier</key>") << u""_s << u""_s;
}

void tst_Settings::bundles()
{
    QFETCH(QByteArray, info);
    QFETCH(QString, identifier);
    QFETCH(QString, executable);

    const QString path = m_dir->filePath(u"App.app"_s), programs = path + u"/Contents/Linux/"_s;
    QVERIFY(writeFile(programs + u"Tool"_s, "") && writeFile(programs + u"12"_s, ""));
    QVERIFY(QDir().mkpath(path + u"/Contents/Resources"_s));
    QVERIFY(info.isNull() || writeFile(path + u"/Contents/Info.plist"_s, info));
    const Bundle bundle = Bundle::withPath(path + u"/./"_s);
    QCOMPARE(bundle.bundlePath(), path);
    QCOMPARE(bundle.bundleIdentifier(), identifier);
    QCOMPARE(bundle.executablePath(), executable.isEmpty() ? QString() : programs + executable);
    QCOMPARE(bundle.resourcePath(), path + u"/Contents/Resources"_s);
    QCOMPARE(bundle.pathForResource(u"../Info"_s, u"plist"_s), QString()); // a resource lies in Contents/Resources
    QCOMPARE(Bundle::withUrl(QUrl::fromLocalFile(path)), bundle);
    QVERIFY(!Bundle::withPath(programs + u"Tool"_s)); // a file is no bundle
    QVERIFY(!Bundle::withUrl(QUrl(u"https://example.org/App.app"_s)));
}

QTEST_GUILESS_MAIN(tst_Settings)
#include "tst_settings.moc"
