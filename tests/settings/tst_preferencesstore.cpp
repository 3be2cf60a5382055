#include "PreferencesStore.h"
#include "PropertyList.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QPoint>
#include <QProcess>
#include <QScopeGuard>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <memory>

using settings::PreferencesStore;
using settings::PropertyList;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString Domain = u"org.quillvane.Test"_s;

QVariantMap fileContents(const QString &path)
{
    QString error;
    const QVariant value = PropertyList::readDictionaryFile(path, &error);
    if (!value.isValid())
        qWarning().noquote() << error;
    return value.toMap();
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

mode_t modeOf(const QString &path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : mode_t(-1);
}

// Whether permissions stop us; they do not stop root.
bool canCreateIn(const QString &directory)
{
    QFile probe(directory + u"/probe"_s);
    const bool created = probe.open(QIODevice::WriteOnly);
    probe.remove();
    return created;
}

} // namespace

class tst_FilePreferencesStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void defaultDirectory_data();
    void defaultDirectory();
    void valuesSurviveReopening_data();
    void valuesSurviveReopening();
    void twoStoresKeepEachOthersKeys();
    void twoProcessesKeepEachOthersKeys();
    void noValueRemovesTheKey();
    void unwritableValueIsRefused_data();
    void unwritableValueIsRefused();
    void corruptFileIsSetAside_data();
    void corruptFileIsSetAside();
    void settingAsideNeverOverwrites();
    void failedSynchronisationKeepsChanges_data();
    void failedSynchronisationKeepsChanges();
    void fileAndFolderArePrivate();
    void staleLockDoesNotBlock_data();
    void staleLockDoesNotBlock();
    void domainMustBeAFileName();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name = Domain + u".plist"_s) const { return m_dir->filePath(name); }
};

void tst_FilePreferencesStore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_FilePreferencesStore::defaultDirectory_data()
{
    QTest::addColumn<QByteArray>("configHome");
    QTest::addColumn<QString>("expected");

    QTest::newRow("XDG_CONFIG_HOME set") << QByteArray("/tmp/cfg/") << u"/tmp/cfg"_s;
    QTest::newRow("XDG_CONFIG_HOME empty") << QByteArray() << u"/home/someone/.config"_s;
    QTest::newRow("XDG_CONFIG_HOME relative is ignored") << QByteArray("cfg") << u"/home/someone/.config"_s;
}

void tst_FilePreferencesStore::defaultDirectory()
{
    QFETCH(QByteArray, configHome);
    QFETCH(QString, expected);

    const QByteArray oldHome = qgetenv("HOME");
    const QByteArray oldConfigHome = qgetenv("XDG_CONFIG_HOME");
    const bool hadConfigHome = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    auto restore = qScopeGuard([&] {
        qputenv("HOME", oldHome);
        if (hadConfigHome)
            qputenv("XDG_CONFIG_HOME", oldConfigHome);
        else
            qunsetenv("XDG_CONFIG_HOME");
    });
    qputenv("HOME", "/home/someone");
    qputenv("XDG_CONFIG_HOME", configHome);

    QCOMPARE(PreferencesStore::defaultDirectory(), expected);
    const PreferencesStore store;
    // The environment counts when the store is made, not later.
    qputenv("XDG_CONFIG_HOME", "/elsewhere");
    QCOMPARE(store.filePath(u"org.quillvane.Quillvane"_s), expected + u"/org.quillvane.Quillvane.plist"_s);
}

void tst_FilePreferencesStore::valuesSurviveReopening_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("bool") << QVariant(true) << QVariant(true);
    QTest::newRow("int reads as qint64") << QVariant(6144) << QVariant(qint64(6144));
    QTest::newRow("float reads as double") << QVariant(35.0f) << QVariant(35.0);
    QTest::newRow("key combination dictionary")
        << QVariant(QVariantMap{{u"keyCode"_s, 40}, {u"modifiers"_s, 6144}})
        << QVariant(QVariantMap{{u"keyCode"_s, qint64(40)}, {u"modifiers"_s, qint64(6144)}});
    QTest::newRow("date loses milliseconds")
        << QVariant(QDateTime(QDate(2026, 12, 6), QTime(8, 0, 0, 500), Qt::UTC))
        << QVariant(QDateTime(QDate(2026, 12, 6), QTime(8, 0), Qt::UTC));
}

// A value reads the same before synchronisation, after it and in another
// store, and nothing reaches the disk before synchronisation.
void tst_FilePreferencesStore::valuesSurviveReopening()
{
    QFETCH(QVariant, value);
    QFETCH(QVariant, expected);

    PreferencesStore writer(m_dir->path());
    QCOMPARE(writer.copyAppValue(u"k"_s, Domain), QVariant());
    writer.setAppValue(u"k"_s, value, Domain);
    QCOMPARE(writer.copyAppValue(u"k"_s, Domain), expected);
    QCOMPARE(writer.copyAppValue(u"k"_s, Domain).typeId(), expected.typeId());
    QVERIFY(!QFileInfo::exists(path()));

    QVERIFY(writer.appSynchronize(Domain));
    QCOMPARE(writer.copyAppValue(u"k"_s, Domain), expected);

    PreferencesStore reader(m_dir->path());
    const QVariant read = reader.copyAppValue(u"k"_s, Domain);
    QCOMPARE(read, expected);
    QCOMPARE(read.typeId(), expected.typeId());
}

// Reads come from memory until a synchronisation, which merges: keys that
// another store wrote in the meantime survive.
void tst_FilePreferencesStore::twoStoresKeepEachOthersKeys()
{
    PreferencesStore mine(m_dir->path());
    PreferencesStore theirs(m_dir->path());
    QCOMPARE(mine.copyAppValue(u"a"_s, Domain), QVariant());
    QCOMPARE(theirs.copyAppValue(u"b"_s, Domain), QVariant());

    mine.setAppValue(u"a"_s, 1, Domain);
    theirs.setAppValue(u"b"_s, 2, Domain);
    QVERIFY(theirs.appSynchronize(Domain));
    QCOMPARE(mine.copyAppValue(u"b"_s, Domain), QVariant());
    QVERIFY(mine.appSynchronize(Domain));
    QCOMPARE(fileContents(path()), (QVariantMap{{u"a"_s, 1LL}, {u"b"_s, 2LL}}));
    QCOMPARE(mine.copyAppValue(u"b"_s, Domain), QVariant(2LL));

    // A synchronisation without changes of our own picks theirs up too.
    theirs.setAppValue(u"b"_s, 3, Domain);
    QVERIFY(theirs.appSynchronize(Domain));
    QVERIFY(mine.appSynchronize(Domain));
    QCOMPARE(mine.copyAppValue(u"b"_s, Domain), QVariant(3LL));
}

void tst_FilePreferencesStore::twoProcessesKeepEachOthersKeys()
{
    constexpr int Count = 30;
    const QStringList prefixes{u"first-"_s, u"second-"_s};
    std::vector<std::unique_ptr<QProcess>> writers;
    auto end = qScopeGuard([&writers] {
        for (const auto &writer : writers) {
            if (writer->state() != QProcess::NotRunning) {
                writer->kill();
                writer->waitForFinished();
            }
        }
    });
    for (const QString &prefix : prefixes) {
        auto &writer = writers.emplace_back(std::make_unique<QProcess>());
        writer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer->start(QStringLiteral(PREFERENCES_WRITER), {m_dir->path(), Domain, prefix, QString::number(Count)});
        QVERIFY2(writer->waitForStarted(), qPrintable(writer->errorString()));
    }
    // Both started: let them go at once. QProcess buffers what it writes
    // until its own wait, so flush each before waiting for either.
    for (const auto &writer : writers) {
        writer->write("go\n");
        QVERIFY(writer->waitForBytesWritten());
    }
    for (const auto &writer : writers) {
        QVERIFY(writer->waitForFinished(60000));
        QCOMPARE(writer->exitStatus(), QProcess::NormalExit);
        QCOMPARE(writer->exitCode(), 0);
    }

    const QVariantMap contents = fileContents(path());
    QCOMPARE(contents.size(), prefixes.size() * Count);
    for (const QString &prefix : prefixes) {
        for (int i = 0; i < Count; ++i)
            QCOMPARE(contents.value(prefix + QString::number(i)), QVariant(qint64(i)));
    }
    QVERIFY(!QFileInfo::exists(path() + u".lock"_s));
}

void tst_FilePreferencesStore::noValueRemovesTheKey()
{
    PreferencesStore store(m_dir->path());
    store.setAppValue(u"a"_s, 1, Domain);
    store.setAppValue(u"b"_s, 2, Domain);
    QVERIFY(store.appSynchronize(Domain));

    PreferencesStore other(m_dir->path());
    other.setAppValue(u"c"_s, 3, Domain);
    QVERIFY(other.appSynchronize(Domain));

    store.setAppValue(u"a"_s, QVariant(), Domain);
    QCOMPARE(store.copyAppValue(u"a"_s, Domain), QVariant());
    QVERIFY(store.appSynchronize(Domain));

    const QVariantMap expected{{u"b"_s, 2LL}, {u"c"_s, 3LL}};
    QCOMPARE(fileContents(path()), expected);
}

void tst_FilePreferencesStore::unwritableValueIsRefused_data()
{
    QTest::addColumn<QVariant>("value");

    QTest::newRow("point") << QVariant(QPoint(1, 2));

    // Fits alone but not one level down inside the domain's dictionary.
    QVariant deep = QVariantList();
    for (int level = 1; level < PropertyList::MaximumDepth; ++level)
        deep = QVariantList{deep};
    QTest::newRow("nested too deep for the domain") << deep;
}

// Refused when set, so that one bad value cannot block the domain.
void tst_FilePreferencesStore::unwritableValueIsRefused()
{
    QFETCH(QVariant, value);

    PreferencesStore store(m_dir->path());
    store.setAppValue(u"bad"_s, u"old"_s, Domain);
    QVERIFY(store.appSynchronize(Domain));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"Refusing to set \"bad\""_s));
    store.setAppValue(u"bad"_s, value, Domain);
    store.setAppValue(u"good"_s, 1, Domain);
    QCOMPARE(store.copyAppValue(u"bad"_s, Domain), QVariant(u"old"_s));
    QVERIFY(store.appSynchronize(Domain));

    const QVariantMap expected{{u"bad"_s, u"old"_s}, {u"good"_s, 1LL}};
    QCOMPARE(fileContents(path()), expected);
}

void tst_FilePreferencesStore::corruptFileIsSetAside_data()
{
    QTest::addColumn<QByteArray>("contents");

    const QByteArray valid = PropertyList::toXml(QVariantMap{{u"a"_s, 1}, {u"b"_s, u"x"_s}});
    QTest::newRow("not a property list") << QByteArray("this is not XML\n");
    QTest::newRow("top level is an array") << PropertyList::toXml(QVariantList{1, 2});
    QTest::newRow("larger than the bound")
        << QByteArray(valid).append(QByteArray(PropertyList::MaximumInputSize, '\n'));
}

// The unusable file is kept byte for byte under a new name, the domain
// reads as empty, and the next synchronisation writes a fresh file.
void tst_FilePreferencesStore::corruptFileIsSetAside()
{
    QFETCH(QByteArray, contents);
    QVERIFY(writeBytes(path(), contents));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"Moved the unusable preferences file to .*\\.plist\\.corrupt-\\d{8}T\\d{6}Z "_s));
    PreferencesStore store(m_dir->path());
    QCOMPARE(store.copyAppValue(u"a"_s, Domain), QVariant());

    const QStringList setAside = QDir(m_dir->path()).entryList({Domain + u".plist.corrupt-*"_s}, QDir::Files);
    QCOMPARE(setAside.size(), 1);
    QVERIFY(readBytes(path(setAside.first())) == contents);
    QVERIFY(!QFileInfo::exists(path()));

    store.setAppValue(u"c"_s, 3, Domain);
    QVERIFY(store.appSynchronize(Domain));
    QCOMPARE(fileContents(path()), (QVariantMap{{u"c"_s, 3LL}}));
    QVERIFY(readBytes(path(setAside.first())) == contents);
}

void tst_FilePreferencesStore::settingAsideNeverOverwrites()
{
    // Earlier set-aside files under every name the clock could give now.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QStringList earlier;
    for (int second = -1; second <= 3; ++second) {
        const QString name = path() + u".corrupt-"_s + now.addSecs(second).toString(u"yyyyMMdd'T'HHmmss'Z'"_s);
        QVERIFY(writeBytes(name, name.toUtf8()));
        earlier.append(name);
    }
    QVERIFY(writeBytes(path(), "junk"));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"Moved the unusable preferences file to .*corrupt-\\d{8}T\\d{6}Z-1 "_s));
    PreferencesStore store(m_dir->path());
    QCOMPARE(store.copyAppValue(u"a"_s, Domain), QVariant());

    for (const QString &name : std::as_const(earlier))
        QCOMPARE(readBytes(name), name.toUtf8());
    const QStringList setAside = QDir(m_dir->path()).entryList({Domain + u".plist.corrupt-*-1"_s}, QDir::Files);
    QCOMPARE(setAside.size(), 1);
    QCOMPARE(readBytes(path(setAside.first())), QByteArray("junk"));
}

enum class Breakage { FolderPathThroughAFile, DomainFileIsAFolder, LockHeldElsewhere, ReadOnlyFolder };
Q_DECLARE_METATYPE(Breakage)

void tst_FilePreferencesStore::failedSynchronisationKeepsChanges_data()
{
    QTest::addColumn<Breakage>("breakage");

    QTest::newRow("folder path runs through a file") << Breakage::FolderPathThroughAFile;
    QTest::newRow("domain file is a folder") << Breakage::DomainFileIsAFolder;
    QTest::newRow("lock held by another writer") << Breakage::LockHeldElsewhere;
    QTest::newRow("read-only folder") << Breakage::ReadOnlyFolder;
}

// A failed synchronisation reports false, keeps the changes in memory and
// pending, leaves the file as it was, and the next one after the cause is
// gone writes them.
void tst_FilePreferencesStore::failedSynchronisationKeepsChanges()
{
    QFETCH(Breakage, breakage);

    QString directory = m_dir->path();
    std::unique_ptr<QLockFile> lock;
    std::function<void()> repair;
    switch (breakage) {
    case Breakage::FolderPathThroughAFile:
        // Fails for root too: no one can make a folder inside a file.
        QVERIFY(writeBytes(path(u"blocker"_s), "file"));
        directory = path(u"blocker/preferences"_s);
        repair = [this] { QFile::remove(path(u"blocker"_s)); };
        break;
    case Breakage::DomainFileIsAFolder:
        QVERIFY(QDir().mkdir(path()));
        repair = [this] { QDir().rmdir(path()); };
        break;
    case Breakage::LockHeldElsewhere:
        lock = std::make_unique<QLockFile>(path() + u".lock"_s);
        QVERIFY(lock->tryLock(0));
        repair = [&lock] { lock->unlock(); };
        break;
    case Breakage::ReadOnlyFolder:
        QVERIFY(QFile::setPermissions(directory, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        repair = [directory] { QFile::setPermissions(directory, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                    | QFileDevice::ExeOwner); };
        if (canCreateIn(directory)) {
            repair();
            QSKIP("permissions do not stop this user (root) from writing; the other rows cover the failure");
        }
        break;
    }
    auto repairAtEnd = qScopeGuard([&repair] { repair(); });

    const bool hadFile = QFileInfo(path()).isFile();
    const QByteArray before = readBytes(path());
    PreferencesStore store(directory);
    store.setLockTimeout(50ms);
    if (breakage == Breakage::DomainFileIsAFolder)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"Cannot read preferences domain"_s));
    store.setAppValue(u"k"_s, u"v"_s, Domain);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"Cannot save preferences domain .*kept"_s));
    QVERIFY(!store.appSynchronize(Domain));
    QCOMPARE(store.copyAppValue(u"k"_s, Domain), QVariant(u"v"_s));
    QCOMPARE(QFileInfo(path()).isFile(), hadFile);
    QCOMPARE(readBytes(path()), before);

    repair();
    QVERIFY(store.appSynchronize(Domain));
    QCOMPARE(fileContents(store.filePath(Domain)), (QVariantMap{{u"k"_s, u"v"_s}}));
}

void tst_FilePreferencesStore::fileAndFolderArePrivate()
{
    const mode_t oldMask = ::umask(0);
    auto restore = qScopeGuard([oldMask] { ::umask(oldMask); });

    const QString directory = path(u"config/nested"_s);
    PreferencesStore store(directory);
    store.setAppValue(u"k"_s, 1, Domain);
    QVERIFY(store.appSynchronize(Domain));
    QCOMPARE(modeOf(path(u"config"_s)), mode_t(0700));
    QCOMPARE(modeOf(directory), mode_t(0700));
    QCOMPARE(modeOf(store.filePath(Domain)), mode_t(0600));

    // A file that someone made readable to all becomes private again.
    QVERIFY(::chmod(QFile::encodeName(store.filePath(Domain)).constData(), 0644) == 0);
    store.setAppValue(u"k"_s, 2, Domain);
    QVERIFY(store.appSynchronize(Domain));
    QCOMPARE(modeOf(store.filePath(Domain)), mode_t(0600));
}

void tst_FilePreferencesStore::staleLockDoesNotBlock_data()
{
    QTest::addColumn<QByteArray>("lockContents");
    QTest::addColumn<int>("ageInSeconds");

    // A process that has certainly ended: started and reaped here.
    QProcess ended;
    ended.start(u"/bin/true"_s, QStringList());
    QVERIFY(ended.waitForStarted());
    const qint64 pid = ended.processId();
    QVERIFY(ended.waitForFinished());

    QTest::newRow("left by an ended process on this machine")
        << QByteArray::number(pid) + "\ntrue\n" + QSysInfo::machineHostName().toUtf8() + "\n" << 0;
    QTest::newRow("left an hour ago on another machine") << QByteArray("4242\nwriter\nelsewhere.invalid\n") << 3600;
}

void tst_FilePreferencesStore::staleLockDoesNotBlock()
{
    QFETCH(QByteArray, lockContents);
    QFETCH(int, ageInSeconds);

    const QString lockPath = path() + u".lock"_s;
    QVERIFY(writeBytes(lockPath, lockContents));
    if (ageInSeconds > 0) {
        QFile lockFile(lockPath);
        QVERIFY(lockFile.open(QIODevice::ReadWrite));
        QVERIFY(lockFile.setFileTime(QDateTime::currentDateTime().addSecs(-ageInSeconds),
                                     QFileDevice::FileModificationTime));
    }

    PreferencesStore store(m_dir->path());
    // Shorter than the store's stale-lock age: a fresh lock gets through
    // only when its holder is recognised as gone.
    store.setLockTimeout(2s);
    store.setAppValue(u"k"_s, 1, Domain);
    QVERIFY(store.appSynchronize(Domain));
    QCOMPARE(fileContents(path()), (QVariantMap{{u"k"_s, 1LL}}));
    QVERIFY(!QFileInfo::exists(lockPath));
}

void tst_FilePreferencesStore::domainMustBeAFileName()
{
    const QString directory = path(u"inner"_s);
    PreferencesStore store(directory);
    for (const QString &domain : {QString(), u"../escape"_s, u"a/b"_s}) {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"invalid preferences domain"_s));
        store.setAppValue(u"k"_s, 1, domain);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"invalid preferences domain"_s));
        QVERIFY(!store.appSynchronize(domain));
    }
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

QTEST_GUILESS_MAIN(tst_FilePreferencesStore)
#include "tst_preferencesstore.moc"
