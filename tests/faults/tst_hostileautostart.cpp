#include "LoginItems.h"
#include "AutostartLoginItemsList.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QMap>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <fcntl.h>

using settings::Bundle;
using namespace Qt::StringLiterals;

namespace {

const QString OwnId = u"org.quillvane.Quillvane"_s;

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

bool makeBundle(const QString &path, const QString &identifier)
{
    const QByteArray info = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
                            "<key>CFBundleExecutable</key><string>Quillvane</string>\n"
                            "<key>CFBundleIdentifier</key><string>" + identifier.toUtf8() + "</string>\n"
                            "</dict>\n</plist>\n";
    return QDir().mkpath(path + u"/Contents/Linux"_s) && writeFile(path + u"/Contents/Info.plist"_s, info)
        && writeFile(path + u"/Contents/Linux/Quillvane"_s, "#!/bin/sh\n")
        && QFile::setPermissions(path + u"/Contents/Linux/Quillvane"_s,
                                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Everything about a directory entry that adding, removing or looking up
// could change, without following it and without reading a device or pipe.
QString fingerprint(const QString &path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return u"missing"_s;
    QString print = u"mode %1 ino %2 size %3 mtime %4.%5"_s.arg(uint(info.st_mode), 0, 8)
                        .arg(info.st_ino)
                        .arg(info.st_size)
                        .arg(info.st_mtim.tv_sec)
                        .arg(info.st_mtim.tv_nsec);
    if (S_ISLNK(info.st_mode))
        print += u" -> "_s + QFile::symLinkTarget(path);
    if (S_ISREG(info.st_mode) && info.st_size <= 64 * 1024) {
        const QByteArray name = QFile::encodeName(path);
        ::chmod(name.constData(), (info.st_mode & 07777) | S_IRUSR);
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            print += u" hash "_s + QString::number(qHash(file.readAll()));
        ::chmod(name.constData(), info.st_mode & 07777);
    }
    if (S_ISDIR(info.st_mode))
        print += u" holds "_s + QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).join(u',');
    return print;
}

// Root reads every file whatever its mode. For the unreadable-file case this
// thread gives up that power (the effective set only), and takes it back.
class WithoutFileAccessOverride
{
public:
    WithoutFileAccessOverride()
    {
        if (::geteuid() != 0)
            return;
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        if (::syscall(SYS_capget, &header, m_saved) != 0)
            return;
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_dropped = ::syscall(SYS_capset, &header, reduced) == 0;
    }
    ~WithoutFileAccessOverride()
    {
        if (!m_dropped)
            return;
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        ::syscall(SYS_capset, &header, m_saved);
    }
    Q_DISABLE_COPY_MOVE(WithoutFileAccessOverride)

private:
    __user_cap_data_struct m_saved[2] = {};
    bool m_dropped = false;
};

} // namespace

class tst_HostileAutostart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void hostileEntryIsLeftAlone_data();
    void hostileEntryIsLeftAlone();

private:
    QTemporaryDir m_root;
};

void tst_HostileAutostart::initTestCase()
{
    QVERIFY(m_root.isValid());
    // The skipped entries are logged on every call; only failures matter here.
    QLoggingCategory::setFilterRules(u"quillvane.loginitems.autostart.warning=false"_s);
}

void tst_HostileAutostart::hostileEntryIsLeftAlone_data()
{
    QTest::addColumn<QString>("kind");
    for (const char *kind : {"binary junk", "no group header", "unbalanced quote in Exec",
                             "a folder named like an entry", "an unreadable entry", "a link to /dev/zero",
                             "a named pipe", "a very large sparse file", "a dangling link", "a link loop",
                             "our entry turned off", "a byte order mark before the header",
                             "an entry over the size bound"})
        QTest::newRow(kind) << QString::fromLatin1(kind);
}

// One hostile entry beside a copy of our own bundle: adding (twice), looking
// up and removing work on our entry, leave the hostile one exactly as it was
// -- several of them name our own program -- and finish quickly. Our entry
// turned off by the user is our item: nothing is added beside it.
void tst_HostileAutostart::hostileEntryIsLeftAlone()
{
    QFETCH(QString, kind);

    QTemporaryDir home(m_root.filePath(u"home-XXXXXX"_s));
    QVERIFY(home.isValid());
    const QString configHome = home.filePath(u"config"_s);
    const QString autostart = configHome + u"/autostart"_s;
    QVERIFY(QDir().mkpath(autostart));
    const QByteArray oldConfigHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome));
    auto restore = qScopeGuard([&] { qputenv("XDG_CONFIG_HOME", oldConfigHome); });

    const QString bundlePath = home.filePath(u"Quillvane.app"_s);
    QVERIFY(makeBundle(bundlePath, OwnId));
    const Bundle bundle = Bundle::withPath(bundlePath);
    const QByteArray ours = QFile::encodeName(bundlePath + u"/Contents/Linux/Quillvane"_s);

    const QString hostile = autostart + u"/a-hostile.desktop"_s;
    const QByteArray hostilePath = QFile::encodeName(hostile);
    std::unique_ptr<WithoutFileAccessOverride> noOverride;
    if (kind == u"binary junk") {
        QByteArray junk;
        for (int i = 0; i < 4096; ++i)
            junk.append(char((i * 7919) % 256));
        QVERIFY(writeFile(hostile, "[Desktop Entry]\nExec=" + ours + "\n" + junk));
    } else if (kind == u"no group header") {
        QVERIFY(writeFile(hostile, "Type=Application\nName=Q\nExec=" + ours + "\n"));
    } else if (kind == u"unbalanced quote in Exec") {
        QVERIFY(writeFile(hostile, "[Desktop Entry]\nType=Application\nName=Q\nExec=\"" + ours + "\n"));
    } else if (kind == u"a folder named like an entry") {
        QVERIFY(QDir().mkdir(hostile));
        QVERIFY(writeFile(hostile + u"/inside.desktop"_s, "[Desktop Entry]\nType=Application\nName=Q\nExec=" + ours + "\n"));
    } else if (kind == u"an unreadable entry") {
        QVERIFY(writeFile(hostile, "[Desktop Entry]\nType=Application\nName=Q\nExec=" + ours + "\n"));
        QVERIFY(QFile::setPermissions(hostile, {}));
        noOverride = std::make_unique<WithoutFileAccessOverride>();
        const int fd = ::open(hostilePath.constData(), O_RDONLY);
        if (fd >= 0) {
            ::close(fd);
            QSKIP("this user reads files whatever their mode, so no entry is unreadable");
        }
    } else if (kind == u"a link to /dev/zero") {
        QVERIFY(QFile::link(u"/dev/zero"_s, hostile));
    } else if (kind == u"a named pipe") {
        QCOMPARE(::mkfifo(hostilePath.constData(), 0600), 0);
    } else if (kind == u"a very large sparse file") {
        QVERIFY(writeFile(hostile, "[Desktop Entry]\nType=Application\nName=Q\nExec=" + ours + "\n"));
        QVERIFY(QFile::resize(hostile, qint64(4) << 30));
    } else if (kind == u"a dangling link") {
        QVERIFY(QFile::link(home.filePath(u"nowhere.desktop"_s), hostile));
    } else if (kind == u"a link loop") {
        QVERIFY(QFile::link(autostart + u"/b-loop.desktop"_s, hostile));
        QVERIFY(QFile::link(hostile, autostart + u"/b-loop.desktop"_s));
    } else if (kind == u"our entry turned off") {
        QVERIFY(writeFile(hostile, "[Desktop Entry]\nType=Application\nName=Q\nExec=" + ours + "\nHidden=true\n"));
    } else if (kind == u"a byte order mark before the header") {
        QVERIFY(writeFile(hostile, "\xef\xbb\xbf[Desktop Entry]\nType=Application\nName=Q\nExec=" + ours + "\n"));
    } else if (kind == u"an entry over the size bound") {
        QVERIFY(writeFile(hostile, "[Desktop Entry]\nType=Application\nName=Q\nExec=" + ours + "\n# "
                                       + QByteArray(loginitems::AutostartLoginItemsList::MaximumEntrySize, 'x') + "\n"));
    } else {
        QFAIL("unknown row");
    }

    const QStringList hostileNames = QDir(autostart).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    QMap<QString, QString> before;
    for (const QString &name : hostileNames)
        before.insert(name, fingerprint(autostart + u'/' + name));

    QElapsedTimer clock;
    clock.start();
    PTAddBundleToLoginItems(bundle, false);
    const QStringList afterAdd = QDir(autostart).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    const bool listedAfterAdd = PTIsBundleInLoginItems(bundle);
    PTAddBundleToLoginItems(bundle, true);
    const QStringList afterSecondAdd = QDir(autostart).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    PTRemoveBundleFromLoginItems(bundle);
    const bool stillThere = PTIsBundleInLoginItems(bundle);
    const qint64 elapsed = clock.elapsed();
    noOverride.reset();

    const bool turnedOff = kind == u"our entry turned off";
    QCOMPARE(afterAdd.size(), hostileNames.size() + (turnedOff ? 0 : 1));
    QCOMPARE(afterSecondAdd, afterAdd);
    QCOMPARE(listedAfterAdd, !turnedOff);
    QVERIFY(!stillThere);
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QCOMPARE(fingerprint(autostart + u'/' + it.key()), it.value());
    QCOMPARE(QDir(autostart).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot), hostileNames);
    QVERIFY2(elapsed < 3000, qPrintable(u"five calls took %1 ms"_s.arg(elapsed)));
}

QTEST_GUILESS_MAIN(tst_HostileAutostart)
#include "tst_hostileautostart.moc"
