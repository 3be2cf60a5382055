#include "PreferencesStore.h"
#include "PropertyList.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <sched.h>
#include <signal.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

using settings::PreferencesStore;
using settings::PropertyList;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString Domain = u"org.quillvane.Faults"_s;
constexpr int PayloadBytes = 64 * 1024; // so that a write takes long enough to be cut

QString payloadFor(qint64 generation, int bytes)
{
    const QString unit = u"%1:"_s.arg(generation);
    QString text;
    while (text.size() < bytes)
        text += unit;
    return text;
}

QByteArray readBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Ends a process at the end of a scope, whatever happened.
struct ProcessReaper
{
    std::vector<std::unique_ptr<QProcess>> processes;
    QProcess *add()
    {
        auto &process = processes.emplace_back(std::make_unique<QProcess>());
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        return process.get();
    }
    ~ProcessReaper()
    {
        for (const auto &process : processes) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished();
            }
        }
    }
};

} // namespace

class tst_PreferenceFaults : public QObject
{
    Q_OBJECT

private slots:
    void killedWriterLeavesOldOrNewValues();
    void racingWritersLoseNothing();
    void fullFileSystem_data();
    void fullFileSystem();
};

// A writer killed at a random point of its synchronisation cycle: the file
// parses, and its keys belong to one generation, the last one reported or the
// one being written. The next writer is never held up by the lock that the
// killed one left.
void tst_PreferenceFaults::killedWriterLeavesOldOrNewValues()
{
    constexpr int Kills = 20;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(Domain + u".plist"_s);
    auto *random = QRandomGenerator::global();
    int cutMidWrite = 0;

    for (int round = 0; round < Kills; ++round) {
        ProcessReaper reaper;
        QProcess *writer = reaper.add();
        writer->start(QStringLiteral(PREFS_WORKER), {u"cycle"_s, dir.path(), Domain, QString::number(PayloadBytes)});
        QVERIFY2(writer->waitForStarted(), qPrintable(writer->errorString()));

        // Let it finish one to three generations, timing them.
        const int wanted = 1 + int(random->bounded(3));
        QList<qint64> reported;
        QElapsedTimer clock;
        clock.start();
        const auto readReports = [&] {
            while (writer->canReadLine())
                reported.append(writer->readLine().trimmed().toLongLong());
        };
        QTRY_VERIFY_WITH_TIMEOUT((readReports(), reported.size() >= wanted || writer->state() != QProcess::Running),
                                 20000);
        QVERIFY2(writer->state() == QProcess::Running, "the writer stopped by itself");
        const qint64 cycleMicroseconds = std::max<qint64>(clock.nsecsElapsed() / 1000 / reported.size(), 100);

        // The kill lands anywhere in the next cycle or two: a busy wait of a
        // random length, measured in the writer's own cycle time.
        const qint64 delay = qint64(random->bounded(quint64(2 * cycleMicroseconds)));
        QElapsedTimer spin;
        spin.start();
        while (spin.nsecsElapsed() / 1000 < delay) {
        }
        ::kill(pid_t(writer->processId()), SIGKILL);
        QVERIFY(writer->waitForFinished(10000));
        readReports();
        const qint64 last = reported.last();

        QString error;
        const QVariant contents = PropertyList::readDictionaryFile(path, &error);
        QVERIFY2(contents.isValid(), qPrintable(u"round %1: %2"_s.arg(round).arg(error)));
        const QVariantMap values = contents.toMap();
        const qint64 generation = values.value(u"generation"_s).toLongLong();
        QVERIFY2(generation == last || generation == last + 1,
                 qPrintable(u"round %1: the file holds generation %2, the writer reported %3"_s.arg(round)
                                .arg(generation)
                                .arg(last)));
        QCOMPARE(values.value(u"mirror"_s).toLongLong(), generation);
        QVERIFY2(values.value(u"payload"_s).toString() == payloadFor(generation, PayloadBytes),
                 "the payload belongs to another generation");
        QCOMPARE(values.size(), 3);
        if (generation == last + 1)
            ++cutMidWrite;

        const QStringList aside = QDir(dir.path()).entryList({u"*.corrupt-*"_s}, QDir::Files);
        QVERIFY2(aside.isEmpty(), qPrintable(aside.join(u' ')));
    }
    qInfo("%d of %d kills came after a write reached the disk but before it was reported", cutMidWrite, Kills);
}

// Two processes synchronising different keys of one domain, many times, at
// the same time: every key of both is there with its last value.
void tst_PreferenceFaults::racingWritersLoseNothing()
{
    constexpr int Keys = 7;
    constexpr int Rounds = 150;
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QStringList prefixes{u"left-"_s, u"right-"_s};

    ProcessReaper reaper;
    for (const QString &prefix : prefixes) {
        QProcess *writer = reaper.add();
        writer->start(QStringLiteral(PREFS_WORKER), {u"keys"_s, dir.path(), Domain, prefix, QString::number(Keys),
                                                    QString::number(Rounds)});
        QVERIFY2(writer->waitForStarted(), qPrintable(writer->errorString()));
    }
    // Both are up: let them go together.
    for (const auto &writer : reaper.processes) {
        writer->write("go\n");
        QVERIFY(writer->waitForBytesWritten());
    }
    for (const auto &writer : reaper.processes) {
        QVERIFY(writer->waitForFinished(120000));
        QCOMPARE(writer->exitStatus(), QProcess::NormalExit);
        QCOMPARE(writer->exitCode(), 0);
    }

    QString error;
    const QVariantMap values = PropertyList::readDictionaryFile(dir.filePath(Domain + u".plist"_s), &error).toMap();
    QVERIFY2(!values.isEmpty(), qPrintable(error));
    QCOMPARE(values.size(), prefixes.size() * Keys);
    for (const QString &prefix : prefixes) {
        for (int key = 0; key < Keys; ++key) {
            // The last round R <= Rounds with R mod Keys == key.
            const int last = Rounds - ((Rounds - key) % Keys + Keys) % Keys;
            QCOMPARE(values.value(prefix + QString::number(key)).toLongLong(), qint64(last));
        }
    }
}

enum class Space { None, ForTheLockOnly };
Q_DECLARE_METATYPE(Space)

void tst_PreferenceFaults::fullFileSystem_data()
{
    QTest::addColumn<Space>("space");
    QTest::newRow("no space at all") << Space::None;
    QTest::newRow("room for the lock but not the file") << Space::ForTheLockOnly;
}

// On a full file system a synchronisation reports failure, leaves the old file
// as it was and nothing else behind, keeps the changes pending, and writes
// them once there is room again.
void tst_PreferenceFaults::fullFileSystem()
{
    QFETCH(Space, space);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString mountPoint = dir.filePath(u"small"_s);
    QVERIFY(QDir().mkdir(mountPoint));
    // The mount goes into a namespace of this thread's own, so that nothing
    // outside the test ever sees it, and it goes away with the process.
    static bool privateNamespace = false;
    if (!privateNamespace) {
        if (::unshare(CLONE_NEWNS) != 0)
            QSKIP(qPrintable(u"cannot make a private mount namespace (%1); the full file system is not tested"_s
                                 .arg(QString::fromLocal8Bit(std::strerror(errno)))));
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            QSKIP(qPrintable(u"cannot make the mounts private (%1); the full file system is not tested"_s
                                 .arg(QString::fromLocal8Bit(std::strerror(errno)))));
        privateNamespace = true;
    }
    if (::mount("tmpfs", QFile::encodeName(mountPoint).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0700")
        != 0)
        QSKIP(qPrintable(u"cannot mount a small tmpfs (%1); the full file system is not tested"_s.arg(
            QString::fromLocal8Bit(std::strerror(errno)))));
    auto unmount = qScopeGuard([&] { ::umount2(QFile::encodeName(mountPoint).constData(), MNT_DETACH); });

    const QString directory = mountPoint + u"/config"_s;
    PreferencesStore store(directory);
    store.setLockTimeout(100ms);
    store.setAppValue(u"old"_s, u"kept"_s, Domain);
    QVERIFY(store.appSynchronize(Domain));
    const QString path = store.filePath(Domain);
    const QByteArray before = readBytes(path);
    QVERIFY(!before.isEmpty());

    // A page held back for the lock, then everything else filled.
    const QString reserve = mountPoint + u"/reserve"_s;
    {
        QFile file(reserve);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(QByteArray(4096, 'r')), qint64(4096));
    }
    {
        QFile filler(mountPoint + u"/filler"_s);
        QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(1024, 'f');
        while (filler.write(block) == block.size()) {
        }
    }
    if (space == Space::ForTheLockOnly)
        QVERIFY(QFile::remove(reserve));

    const QString large(16 * 1024, u'n');
    store.setAppValue(u"new"_s, large, Domain);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"Cannot save preferences domain .*kept"_s));
    QVERIFY(!store.appSynchronize(Domain));
    QCOMPARE(readBytes(path), before);
    QCOMPARE(store.copyAppValue(u"new"_s, Domain), QVariant(large));
    QCOMPARE(QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{Domain + u".plist"_s});

    QVERIFY(QFile::remove(mountPoint + u"/filler"_s));
    QVERIFY(store.appSynchronize(Domain));
    QString error;
    const QVariantMap values = PropertyList::readDictionaryFile(path, &error).toMap();
    QCOMPARE(values, (QVariantMap{{u"old"_s, u"kept"_s}, {u"new"_s, large}}));
}

QTEST_GUILESS_MAIN(tst_PreferenceFaults)
#include "tst_preferencefaults.moc"
