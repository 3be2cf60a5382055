#include "FakeBundle.h"

#include "LoginItems.h"
#include "AutostartLoginItemsList.h"
#include "DesktopEntry.h"

#include <QLoggingCategory>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using loginitems::AutostartLoginItemsList;
using settings::Bundle;
using loginitems::DesktopEntry;

namespace {

const QString OwnId = QStringLiteral("org.quillvane.Quillvane");

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

// What desktop-file-validate says against a file; empty when it accepts it.
QString validatorComplaints(const QString &path)
{
    QProcess validator;
    validator.setProcessChannelMode(QProcess::MergedChannels);
    validator.start(QStringLiteral("desktop-file-validate"), {path});
    if (!validator.waitForFinished(20000)) {
        validator.kill();
        validator.waitForFinished();
        return QStringLiteral("desktop-file-validate did not run: ") + validator.errorString();
    }
    const QString output = QString::fromUtf8(validator.readAll()).trimmed();
    if (validator.exitStatus() != QProcess::NormalExit || validator.exitCode() != 0)
        return QStringLiteral("exit code %1: %2").arg(validator.exitCode()).arg(output);
    return output;
}

QByteArray entryRunning(const QString &program)
{
    return "[Desktop Entry]\nType=Application\nName=X\nExec="
        + DesktopEntry::escapeString(*DesktopEntry::quoteExecArgument(program)).toUtf8() + "\n";
}

} // namespace

class tst_Autostart : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void execSplitting_data();
    void execSplitting();
    void resolution_data();
    void resolution();
    void appendedEntryRoundTrip_data();
    void appendedEntryRoundTrip();
    void hiddenMark_data();
    void hiddenMark();
    void freeNameWhenTaken_data();
    void freeNameWhenTaken();
    void foreignEntriesUntouched();
    void turnedOffEntryIsOurs_data();
    void turnedOffEntryIsOurs();
    void newlineInPathRefused();
    void vanishedEntryIsGone();
    void folderFollowsEnvironment();

private:
    QString autostart() const { return m_config->path() + "/autostart"; }
    QStringList entryNames() const
    {
        return QDir(autostart()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                           | QDir::NoDotAndDotDot, QDir::Name);
    }

    QTemporaryDir m_bundles;
    std::unique_ptr<QTemporaryDir> m_config;
    QByteArray m_savedConfigHome;
    QByteArray m_savedHome;
    Bundle m_own;
    Bundle m_copy;
};

void tst_Autostart::initTestCase()
{
    QVERIFY(m_bundles.isValid());
    QVERIFY(makeFakeBundle(m_bundles.path() + "/Apps/Quillvane.app", OwnId));
    QVERIFY(makeFakeBundle(m_bundles.path() + "/Old/Quillvane.app", OwnId));
    // Its Linux folder holds a program that its Info.plist does not name.
    QVERIFY(makeFakeBundle(m_bundles.path() + "/Apps/Renamed.app", "org.example.Renamed", "Real"));
    QVERIFY(writeFile(m_bundles.path() + "/Apps/Renamed.app/Contents/Linux/Stray", ""));
    m_own = Bundle::withPath(m_bundles.path() + "/Apps/Quillvane.app");
    m_copy = Bundle::withPath(m_bundles.path() + "/Old/Quillvane.app");
    QCOMPARE(m_own.bundleIdentifier(), OwnId);
    m_savedConfigHome = qgetenv("XDG_CONFIG_HOME");
    m_savedHome = qgetenv("HOME");
}

void tst_Autostart::init()
{
    m_config = std::make_unique<QTemporaryDir>();
    QVERIFY(m_config->isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
}

void tst_Autostart::cleanup()
{
    qputenv("XDG_CONFIG_HOME", m_savedConfigHome);
    qputenv("HOME", m_savedHome);
    QLoggingCategory::setFilterRules(QString());
    m_config.reset();
}

void tst_Autostart::execSplitting_data()
{
    // Exec as written in the file, and the arguments joined with '|', or
    // "error" for a value that must be refused.
    QTest::addColumn<QByteArray>("exec");
    QTest::addColumn<QString>("arguments");

    QTest::newRow("field codes are dropped") << QByteArray("/bin/foo %U --file=%f") << "/bin/foo|--file=";
    QTest::newRow("quotes keep blanks") << QByteArray("\"/a b/c\"  -v") << "/a b/c|-v";
    QTest::newRow("%% is a percent sign") << QByteArray("/bin/foo 100%%") << "/bin/foo|100%";
    QTest::newRow("escapes inside quotes") << QByteArray(R"("/a\\$b\\"c\\`d")") << "/a$b\"c`d";
    QTest::newRow("four backslashes are one") << QByteArray(R"("/a\\\\b")") << "/a\\b";
    QTest::newRow("string escapes apply first") << QByteArray(R"("/a\sb")") << "/a b";
    QTest::newRow("an empty quoted argument stays") << QByteArray("/bin/foo \"\"") << "/bin/foo|";
    QTest::newRow("unterminated quote") << QByteArray("\"/bin/foo") << "error";
    QTest::newRow("unknown field code") << QByteArray("/bin/foo %z") << "error";
    QTest::newRow("reserved character outside quotes") << QByteArray("/bin/foo $HOME") << "error";
    QTest::newRow("unknown escape inside quotes") << QByteArray(R"("/a\\qb")") << "error";
    QTest::newRow("unknown string escape") << QByteArray(R"(/bin/foo\q)") << "error";
    QTest::newRow("a quoted part inside an argument")
        << QByteArray("prog --name=\"Foo Bar\" \"a\"b\"c\"") << "prog|--name=Foo Bar|abc";
    QTest::newRow("a field code alone names no program") << QByteArray("%f") << "error";
}

void tst_Autostart::execSplitting()
{
    QFETCH(QByteArray, exec);
    QFETCH(QString, arguments);

    const auto entry = DesktopEntry::parse("[Desktop Entry]\nExec=" + exec + "\n");
    QVERIFY(entry);
    const std::optional<QString> value = entry->stringValue("Exec");
    const std::optional<QStringList> split = value ? DesktopEntry::splitExec(*value) : std::nullopt;
    QCOMPARE(split ? split->join('|') : QString("error"), arguments);
}

void tst_Autostart::resolution_data()
{
    // The lines after [Desktop Entry], and the path of what the entry
    // resolves to (empty: it does not resolve; "off:" before it: turned off).
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("target");

    const QString own = m_own.bundlePath();
    const QByteArray ownExec = "Exec=\"" + m_own.executablePath().toUtf8() + "\"\n";
    const QString stray = m_bundles.path() + "/Apps/Renamed.app/Contents/Linux/Stray";
    const QString sh = QStandardPaths::findExecutable("sh");

    QTest::newRow("a bundle's executable opens the bundle") << "Type=Application\n" + ownExec << own;
    QTest::newRow("arguments after the executable")
        << "Type=Application\nExec=\"" + m_own.executablePath().toUtf8() + "\" --x %U\n" << own;
    QTest::newRow("an executable Info.plist does not name is a plain program")
        << "Type=Application\nExec=" + stray.toUtf8() + "\n" << stray;
    QTest::newRow("a bare name is looked up in PATH") << QByteArray("Type=Application\nExec=sh\n") << sh;
    QTest::newRow("localised keys are ignored")
        << "Type=Application\nExec[de]=/bin/sh\n" + ownExec + "Name[de]=Zeiger\n" << own;
    QTest::newRow("Hidden=false resolves") << "Type=Application\nHidden=false\n" + ownExec << own;
    QTest::newRow("Hidden=true is turned off") << "Type=Application\nHidden=true\n" + ownExec << "off:" + own;
    QTest::newRow("X-GNOME-Autostart-enabled=false is turned off")
        << "Type=Application\nX-GNOME-Autostart-enabled=false\n" + ownExec << "off:" + own;
    QTest::newRow("X-GNOME-Autostart-enabled=true resolves")
        << "Type=Application\nX-GNOME-Autostart-enabled=true\n" + ownExec << own;
    QTest::newRow("a Hidden that is no boolean is malformed")
        << "Type=Application\nHidden=yes\n" + ownExec << "";
    QTest::newRow("a quoted part inside an argument")
        << "Type=Application\nExec=\"" + m_own.executablePath().toUtf8() + "\" --name=\"Foo Bar\"\n" << own;
    QTest::newRow("a relative path does not resolve")
        << QByteArray("Type=Application\nExec=bin/sh\n") << "";
    QTest::newRow("a missing program does not resolve")
        << QByteArray("Type=Application\nExec=/nonexistent/program\n") << "";
    QTest::newRow("a link entry does not resolve") << "Type=Link\nURL=file:///\n" + ownExec << "";
    QTest::newRow("a key given twice is malformed") << "Type=Application\n" + ownExec + ownExec << "";
}

void tst_Autostart::resolution()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, target);

    QVERIFY(QDir().mkpath(autostart()));
    QVERIFY(writeFile(autostart() + "/entry.desktop", "[Desktop Entry]\n" + body));
    const auto list = AutostartLoginItemsList::create();
    QVERIFY(list);
    const auto resolution = list->resolve({"entry.desktop"});
    const bool off = target.startsWith("off:");
    QCOMPARE(resolution.url, target.isEmpty() ? QUrl() : QUrl::fromLocalFile(target.mid(off ? 4 : 0)));
    using Status = loginitems::LoginItemsList::ResolveStatus;
    QCOMPARE(resolution.status == Status::Resolved, !target.isEmpty() && !off);
    QCOMPARE(resolution.status == Status::TurnedOff, off);
}

void tst_Autostart::vanishedEntryIsGone()
{
    // Removed between listing and reading: gone, not unreadable, and no word
    // about it in the log.
    QVERIFY(QDir().mkpath(autostart()));
    QVERIFY(writeFile(autostart() + "/entry.desktop", "[Desktop Entry]\nType=Application\nExec=/bin/true\n"));
    const auto list = AutostartLoginItemsList::create();
    QCOMPARE(list->snapshot()->size(), 1);
    QVERIFY(QFile::remove(autostart() + "/entry.desktop"));
    QTest::failOnWarning(QRegularExpression("."));
    QCOMPARE(list->resolve({"entry.desktop"}).status, loginitems::LoginItemsList::ResolveStatus::Gone);
}

void tst_Autostart::appendedEntryRoundTrip_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("blanks") << " two  blanks ";
    QTest::newRow("double quotes") << "say \"hi\"";
    QTest::newRow("dollar") << "$HOME and ${x}";
    QTest::newRow("percent signs") << "100% %f %%U";
    QTest::newRow("backslashes") << "a\\b\\\\c\\";
    QTest::newRow("backticks and single quotes") << "`id` 'q'";
    QTest::newRow("shell characters") << ";&|<>*?#()~=";
    QTest::newRow("non-ASCII") << "Zeigerbündel ✓";
}

void tst_Autostart::appendedEntryRoundTrip()
{
    QFETCH(QString, folder);
    QTemporaryDir root;
    const QString path = root.path() + '/' + folder + "/Quillvane.app";
    QVERIFY(makeFakeBundle(path, OwnId));
    const Bundle bundle = Bundle::withPath(path);

    PTAddBundleToLoginItems(bundle, false);
    QCOMPARE(entryNames(), QStringList{OwnId + ".desktop"});
    const QString entryPath = autostart() + '/' + OwnId + ".desktop";
    const QString complaints = validatorComplaints(entryPath);
    QVERIFY2(complaints.isEmpty(), qPrintable(complaints));
    QCOMPARE(AutostartLoginItemsList::create()->resolve({OwnId + ".desktop"}).url, bundle.bundleUrl());
    QVERIFY(PTIsBundleInLoginItems(bundle));
    QVERIFY(!PTIsBundleInLoginItems(m_own));

    const QByteArray written = readFile(entryPath);
    PTAddBundleToLoginItems(bundle, true);
    QCOMPARE(readFile(entryPath), written);
    PTRemoveBundleFromLoginItems(bundle);
    QCOMPARE(entryNames(), QStringList());
}

void tst_Autostart::hiddenMark_data()
{
    QTest::addColumn<bool>("hidden");
    QTest::newRow("hidden") << true;
    QTest::newRow("shown") << false;
}

void tst_Autostart::hiddenMark()
{
    QFETCH(bool, hidden);
    PTAddBundleToLoginItems(m_own, hidden);
    const QString entryPath = autostart() + '/' + OwnId + ".desktop";
    const QByteArray written = readFile(entryPath);
    QCOMPARE(written.contains("\nX-Quillvane-Hidden=true\n"), hidden);
    QCOMPARE(written.contains("X-Quillvane"), hidden);
    QVERIFY(!written.contains("\nHidden="));
    const QString complaints = validatorComplaints(entryPath);
    QVERIFY2(complaints.isEmpty(), qPrintable(complaints));
    QCOMPARE(AutostartLoginItemsList::create()->isHidden({OwnId + ".desktop"}), hidden);
    QVERIFY(PTIsBundleInLoginItems(m_own));

    // An item that is already listed keeps its mark either way.
    PTAddBundleToLoginItems(m_own, !hidden);
    QCOMPARE(readFile(entryPath), written);
}

void tst_Autostart::freeNameWhenTaken_data()
{
    QTest::addColumn<QStringList>("taken");
    QTest::addColumn<QString>("expected");
    QTest::newRow("identifier taken") << QStringList{OwnId + ".desktop"} << OwnId + "-2.desktop";
    QTest::newRow("identifier and -2 taken")
        << QStringList{OwnId + ".desktop", OwnId + "-2.desktop"} << OwnId + "-3.desktop";
}

void tst_Autostart::freeNameWhenTaken()
{
    QFETCH(QStringList, taken);
    QFETCH(QString, expected);

    QVERIFY(QDir().mkpath(autostart()));
    const QByteArray unrelated = entryRunning(QStandardPaths::findExecutable("sh"));
    for (const QString &name : taken)
        QVERIFY(writeFile(autostart() + '/' + name, unrelated));

    PTAddBundleToLoginItems(m_own, false);
    QStringList expectedNames = QStringList(taken) << expected;
    expectedNames.sort();
    QCOMPARE(entryNames(), expectedNames);
    for (const QString &name : taken)
        QCOMPARE(readFile(autostart() + '/' + name), unrelated);
    QCOMPARE(AutostartLoginItemsList::create()->resolve({expected}).url, m_own.bundleUrl());
}

void tst_Autostart::foreignEntriesUntouched()
{
    QVERIFY(QDir().mkpath(autostart()));
    const QByteArray copy = entryRunning(m_copy.executablePath());
    const QByteArray copyExec = "Exec=" + m_copy.executablePath().toUtf8() + "\n";
    // Entries that do not resolve, most of them naming a copy of our bundle:
    // none may be changed or deleted.
    const QList<std::pair<QString, QByteArray>> unresolvable = {
        {"b-no-group.desktop", copyExec},
        {"c-hidden-malformed.desktop", copy + "Hidden=yes\n"},
        {"d-oversized.desktop", copy + "# " + QByteArray(70 * 1024, 'x') + "\n"},
        {"e-not-utf8.desktop", copy + "Comment=\xff\xfe\n"},
        {"f-twice.desktop", copy + copyExec},
        {"g-bad-exec.desktop", "[Desktop Entry]\nType=Application\nExec=\"" + copyExec.mid(5)},
        {"h-missing.desktop", entryRunning("/nonexistent/Quillvane.app/Contents/Linux/Quillvane")},
        {"i-link-type.desktop", "[Desktop Entry]\nType=Link\nURL=file:///\n" + copyExec},
        {"j-nul.desktop", copy + QByteArray("Comment=a\0b\n", 12)},
    };
    QMap<QString, QByteArray> untouched = {
        {"a-other.desktop", entryRunning(QStandardPaths::findExecutable("sh"))},
        {"notes.txt", copy},
    };
    for (const auto &[name, data] : unresolvable)
        untouched.insert(name, data);
    for (auto it = untouched.cbegin(); it != untouched.cend(); ++it)
        QVERIFY(writeFile(autostart() + '/' + it.key(), it.value()));
    QVERIFY(writeFile(autostart() + "/m-copy.desktop", copy));
    // Every call warns about each of them; that much is expected here.
    QLoggingCategory::setFilterRules("quillvane.loginitems.autostart.warning=false");
    QCOMPARE(::mkfifo(QFile::encodeName(autostart() + "/k-fifo.desktop").constData(), 0600), 0);
    QVERIFY(QDir().mkdir(autostart() + "/l-folder.desktop"));
    QVERIFY(QFile::link(autostart() + "/nowhere", autostart() + "/n-dangling.desktop"));

    const auto checkUntouched = [&] {
        for (auto it = untouched.cbegin(); it != untouched.cend(); ++it)
            QVERIFY2(readFile(autostart() + '/' + it.key()) == it.value(), qPrintable(it.key()));
        struct stat status {};
        QVERIFY(::lstat(QFile::encodeName(autostart() + "/k-fifo.desktop").constData(), &status) == 0
                && S_ISFIFO(status.st_mode));
        QVERIFY(QFileInfo(autostart() + "/l-folder.desktop").isDir());
        QVERIFY(QFileInfo(autostart() + "/n-dangling.desktop").isSymLink());
    };

    PTAddBundleToLoginItems(m_own, true);
    checkUntouched();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!QFileInfo::exists(autostart() + "/m-copy.desktop"));
    QVERIFY(PTIsBundleInLoginItems(m_own));

    // Through the list itself as well: what does not resolve is not removed
    // or rewritten.
    const auto list = AutostartLoginItemsList::create();
    for (const auto &[name, data] : unresolvable) {
        QVERIFY2(!list->setHidden({name}, true), qPrintable(name));
        QVERIFY2(!list->remove({name}), qPrintable(name));
    }
    for (const char *name : {"k-fifo.desktop", "l-folder.desktop", "n-dangling.desktop"})
        QVERIFY2(!list->remove({name}), name);

    PTRemoveBundleFromLoginItems(m_own);
    checkUntouched();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!PTIsBundleInLoginItems(m_own));
    QCOMPARE(entryNames().size(), untouched.size() + 3);
}

void tst_Autostart::turnedOffEntryIsOurs_data()
{
    QTest::addColumn<QByteArray>("entry");
    const QByteArray own = entryRunning(m_own.executablePath());
    QTest::newRow("Hidden=true") << own + "Hidden=true\n";
    QTest::newRow("X-GNOME-Autostart-enabled=false") << own + "X-GNOME-Autostart-enabled=false\n";
    QTest::newRow("a copy elsewhere, Hidden=true") << entryRunning(m_copy.executablePath()) + "Hidden=true\n";
}

// The user turned our item off in a desktop's settings, which edits our entry
// in place: opening the page again changes nothing in it and adds no second
// one; an enabled duplicate that an earlier version wrote goes.
void tst_Autostart::turnedOffEntryIsOurs()
{
    QFETCH(QByteArray, entry);
    QVERIFY(QDir().mkpath(autostart()));
    const QString path = autostart() + '/' + OwnId + ".desktop";
    QVERIFY(writeFile(path, entry));
    QVERIFY(writeFile(autostart() + '/' + OwnId + "-2.desktop", entryRunning(m_own.executablePath())));

    PTAddBundleToLoginItems(m_own, false);
    QCOMPARE(entryNames(), QStringList{OwnId + ".desktop"});
    QCOMPARE(readFile(path), entry);
    QVERIFY(!PTIsBundleInLoginItems(m_own));
    PTRemoveBundleFromLoginItems(m_own);
    QCOMPARE(readFile(path), entry);
}

void tst_Autostart::newlineInPathRefused()
{
    QTemporaryDir root;
    const QString path = root.path() + "/two\nlines/Quillvane.app";
    QVERIFY(makeFakeBundle(path, OwnId));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("control character"));
    PTAddBundleToLoginItems(Bundle::withPath(path), false);
    QCOMPARE(entryNames(), QStringList());
}

void tst_Autostart::folderFollowsEnvironment()
{
    // A relative XDG_CONFIG_HOME is ignored in favour of $HOME/.config, read
    // afresh at each call; missing folders are made private to the user.
    const QString home = m_config->path() + "/home";
    QVERIFY(QDir().mkpath(home));
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", "relative/config");

    PTAddBundleToLoginItems(m_own, false);
    QVERIFY(QFileInfo::exists(home + "/.config/autostart/" + OwnId + ".desktop"));
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
    const QFile::Permissions everyone = owner | QFile::ReadGroup | QFile::WriteGroup
        | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    for (const QString &folder : {home + "/.config", home + "/.config/autostart"})
        QCOMPARE(QFileInfo(folder).permissions() & everyone, owner);

    qunsetenv("XDG_CONFIG_HOME");
    QVERIFY(PTIsBundleInLoginItems(m_own));
    qunsetenv("HOME");
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("neither XDG_CONFIG_HOME nor HOME"));
    QVERIFY(!PTIsBundleInLoginItems(m_own));
}

QTEST_GUILESS_MAIN(tst_Autostart)
#include "tst_autostart.moc"
