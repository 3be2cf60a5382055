// The settings host and the bundles it cannot open: every kind of broken
// bundle gets a message that names the file and the reason, and the host
// fails when nothing opened.

#include "HostProcess.h"
#include "PaneLoader.h"
#include "Translations.h"
#include "PTKeyCombo.h"
#include "PropertyList.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

// Changes a copy of the real pane bundle; false when it could not.
using Mutation = std::function<bool(const QString &bundle)>;

bool writeFile(const QString &path, const QByteArray &contents)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(contents) == contents.size();
}

bool removeFile(const QString &bundle, const QString &name)
{
    return QFile::remove(bundle + u'/' + name);
}

// Sets (or, with an invalid VALUE, removes) one entry of Contents/Info.plist.
Mutation infoEntry(const QString &key, const QVariant &value)
{
    return [key, value](const QString &bundle) {
        const QString path = bundle + QStringLiteral("/Contents/Info.plist");
        QVariantMap info = settings::PropertyList::readDictionaryFile(path).toMap();
        if (info.isEmpty())
            return false;
        if (value.isValid())
            info.insert(key, value);
        else if (info.remove(key) != 1)
            return false;
        return writeFile(path, settings::PropertyList::toXml(info));
    };
}

// Replaces one piece of the interface file.
Mutation uiEdit(const QString &from, const QString &to)
{
    return [from, to](const QString &bundle) {
        const QString path = bundle + QStringLiteral("/Contents/Resources/QuillvanePref.ui");
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        QString ui = QString::fromUtf8(file.readAll());
        file.close();
        if (!ui.contains(from))
            return false;
        ui.replace(from, to);
        return writeFile(path, ui.toUtf8());
    };
}

Mutation removing(const QString &name)
{
    return [name](const QString &bundle) { return removeFile(bundle, name); };
}

Mutation replacing(const QString &name, const QByteArray &contents)
{
    return [name, contents](const QString &bundle) { return writeFile(bundle + u'/' + name, contents); };
}

const QString executable = QStringLiteral("Contents/Linux/QuillvanePref.so");
const QString interfaceFile = QStringLiteral("Contents/Resources/QuillvanePref.ui");

} // namespace

Q_DECLARE_METATYPE(Mutation)

class TestSettingsHost : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void refusesBrokenBundle_data();
    void refusesBrokenBundle();
    void opensWhatItCanAndNamesTheRest();
    void findsPanesInstalledBesideIt();
    void withoutPanesSaysWhereItLooked();
    void installsTranslationsForTheUserLanguage();

private:
    // A copy of the built pane bundle without the cursor application, so that
    // a page that does load starts no program.
    QString copyPane(const QString &name) const;
    QString domainFile() const { return m_dir->filePath(QStringLiteral("config/org.quillvane.Quillvane.plist")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcessEnvironment m_environment;
};

void TestSettingsHost::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir(m_dir->path()).mkpath(QStringLiteral("config")));
    m_environment = hostEnvironment(m_dir->filePath(QStringLiteral("config")));
    // The broken bundles need no screen.
    m_environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
}

void TestSettingsHost::cleanup()
{
    m_dir.reset();
}

QString TestSettingsHost::copyPane(const QString &name) const
{
    const QDir source(QStringLiteral(PANE_BUNDLE));
    const QString target = m_dir->filePath(name);
    QDirIterator it(source.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString relative = source.relativeFilePath(file);
        if (relative.startsWith(QLatin1String("Contents/Resources/Quillvane.app/")))
            continue;
        const QString copy = target + u'/' + relative;
        if (!QDir().mkpath(QFileInfo(copy).path()) || !QFile::copy(file, copy))
            return QString();
    }
    return QFileInfo::exists(target + u'/' + executable) ? target : QString();
}

void TestSettingsHost::refusesBrokenBundle_data()
{
    QTest::addColumn<Mutation>("mutation");
    QTest::addColumn<QString>("reason");

    QTest::newRow("no such bundle") << Mutation([](const QString &bundle) { return QDir(bundle).removeRecursively(); })
                                    << QStringLiteral("there is no such file or folder");
    QTest::newRow("a file, not a folder") << Mutation([](const QString &bundle) {
        return QDir(bundle).removeRecursively() && writeFile(bundle, "not a bundle");
    }) << QStringLiteral("it is not a bundle folder");
    QTest::newRow("no Info.plist") << removing(QStringLiteral("Contents/Info.plist"))
                                   << QStringLiteral("Contents/Info.plist is missing");
    QTest::newRow("Info.plist that is not a property list")
        << replacing(QStringLiteral("Contents/Info.plist"), "<html>not a plist</html>")
        << QStringLiteral("Contents/Info.plist cannot be read: ");
    QTest::newRow("no principal class") << infoEntry(QStringLiteral("NSPrincipalClass"), QVariant())
                                        << QStringLiteral("Contents/Info.plist names no principal class");
    QTest::newRow("no executable named") << infoEntry(QStringLiteral("CFBundleExecutable"), QVariant())
                                         << QStringLiteral("Contents/Info.plist names no executable");
    QTest::newRow("no interface file named") << infoEntry(QStringLiteral("NSMainNibFile"), QVariant())
                                             << QStringLiteral("Contents/Info.plist names no interface file");
    QTest::newRow("executable missing") << removing(executable)
                                        << QStringLiteral("the executable %1 is missing").arg(executable);
    QTest::newRow("interface file missing")
        << removing(interfaceFile) << QStringLiteral("the interface file %1 is missing").arg(interfaceFile);
    QTest::newRow("executable that is no plug-in")
        << replacing(executable, "#!/bin/sh\nexit 0\n")
        << QStringLiteral("the plug-in %1 does not load: ").arg(executable);
    QTest::newRow("plug-in of another kind")
        << Mutation([](const QString &bundle) {
               return removeFile(bundle, executable) && QFile::copy(QStringLiteral(OTHER_PLUGIN), bundle + u'/' + executable);
           })
        << QStringLiteral("the plug-in %1 is not a settings page plug-in: it offers 'org.example.NotASettingsPage/1.0'")
               .arg(executable);
    QTest::newRow("principal class the plug-in lacks")
        << infoEntry(QStringLiteral("NSPrincipalClass"), QStringLiteral("NoSuchPref"))
        << QStringLiteral("the plug-in %1 has no class NoSuchPref").arg(executable);
    QTest::newRow("principal class that is a widget")
        << infoEntry(QStringLiteral("NSPrincipalClass"), QStringLiteral("FloatSlider"))
        << QStringLiteral("FloatSlider (NSPrincipalClass) is not a settings page");
    QTest::newRow("interface file that is not one")
        << replacing(interfaceFile, "<ui version=\"4.0\"><widget class=\"QWidget\">")
        << QStringLiteral("the interface file %1 cannot be read").arg(interfaceFile);
    QTest::newRow("interface file without an outlet")
        << uiEdit(QStringLiteral("name=\"hotkeyField\""), QStringLiteral("name=\"shortcutField\""))
        << QStringLiteral("the interface file %1 has no widget named 'hotkeyField' for the outlet hotkeyField "
                          "of QuillvanePref")
               .arg(interfaceFile);
    QTest::newRow("outlet of another class")
        << uiEdit(QStringLiteral("class=\"QLineEdit\" name=\"hotkeyField\""),
                  QStringLiteral("class=\"QLabel\" name=\"hotkeyField\""))
        << QStringLiteral("the interface file %1 gives the outlet hotkeyField of QuillvanePref a QLabel, but it "
                          "needs a QLineEdit")
               .arg(interfaceFile);
    QTest::newRow("integer slider for the float outlet")
        << uiEdit(QStringLiteral("class=\"FloatSlider\""), QStringLiteral("class=\"QSlider\""))
        << QStringLiteral("gives the outlet idleSlider of QuillvanePref a QSlider, but it needs a FloatSlider");
    QTest::newRow("action the page does not have")
        << uiEdit(QStringLiteral(">autoShowClick<"), QStringLiteral(">autoShowToggle<"))
        << QStringLiteral("has QCheckBox 'autoShowButton' send the action 'autoShowToggle', but QuillvanePref has "
                          "no invokable autoShowToggle(QObject*)");
    QTest::newRow("action signal the widget does not have")
        << uiEdit(QStringLiteral(">valueCommitted<"), QStringLiteral(">valueChanged<"))
        << QStringLiteral("has FloatSlider 'idleSlider' send its action on the signal 'valueChanged', which it does "
                          "not have");
    QTest::newRow("page class used as a widget")
        << uiEdit(QStringLiteral("class=\"FloatSlider\""), QStringLiteral("class=\"QuillvanePref\""))
        << QStringLiteral("uses QuillvanePref as a widget, which it is not");
}

void TestSettingsHost::refusesBrokenBundle()
{
    QFETCH(Mutation, mutation);
    QFETCH(QString, reason);

    const QString bundle = copyPane(QStringLiteral("Broken.prefPane"));
    QVERIFY(!bundle.isEmpty());
    QVERIFY2(mutation(bundle), "could not break the bundle");
    const QString screenshot = m_dir->filePath(QStringLiteral("shot.png"));

    const HostRun run = runHost({QStringLiteral("--screenshot"), screenshot, bundle}, m_environment);

    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    const QString message = QStringLiteral("Cannot open the settings page %1: ").arg(bundle);
    QVERIFY2(run.output.contains(message), qPrintable(run.output));
    QVERIFY2(run.output.contains(reason), qPrintable(run.output));
    QVERIFY2(run.output.contains(QLatin1String("No settings page could be opened.")), qPrintable(run.output));
    // Nothing of the page ran: no window, and no settings seeded.
    QVERIFY(!QFileInfo::exists(screenshot));
    QVERIFY(!QFileInfo::exists(domainFile()));
}

void TestSettingsHost::opensWhatItCanAndNamesTheRest()
{
    const QString good = copyPane(QStringLiteral("Good.prefPane"));
    const QString broken = copyPane(QStringLiteral("Broken.prefPane"));
    QVERIFY(!good.isEmpty() && !broken.isEmpty());
    QVERIFY(removeFile(broken, interfaceFile));
    const QString screenshot = m_dir->filePath(QStringLiteral("shot.png"));

    const HostRun run = runHost({QStringLiteral("--screenshot"), screenshot, broken, good}, m_environment);

    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 0);
    QVERIFY2(run.output.contains(QStringLiteral("Cannot open the settings page %1: the interface file").arg(broken)),
             qPrintable(run.output));
    QVERIFY2(!run.output.contains(QStringLiteral("Cannot open the settings page %1").arg(good)), qPrintable(run.output));
    const QImage image(screenshot);
    QVERIFY(!image.isNull());
    QVERIFY(image.width() >= 400 && image.height() >= 200);
    // The good page loaded and seeded its settings.
    QCOMPARE(settings::PropertyList::readFile(domainFile()).toMap().value(QStringLiteral("idleHide")), QVariant(35.0));
}

void TestSettingsHost::findsPanesInstalledBesideIt()
{
    const QDir root(m_dir->path());
    for (const QString &folder : {QStringLiteral("bin/B.prefPane"), QStringLiteral("A.prefPane"),
                                  QStringLiteral("C.prefPane"), QStringLiteral("bin/other")}) {
        QVERIFY(root.mkpath(folder));
    }
    QVERIFY(writeFile(root.filePath(QStringLiteral("D.prefPane")), "a file, not a bundle"));

    const QStringList found = host::PaneLoader::installedPanes(root.filePath(QStringLiteral("bin")));

    QCOMPARE(found, QStringList({root.filePath(QStringLiteral("bin/B.prefPane")),
                                 root.filePath(QStringLiteral("A.prefPane")),
                                 root.filePath(QStringLiteral("C.prefPane"))}));
}

void TestSettingsHost::withoutPanesSaysWhereItLooked()
{
    // A copy of the program in a folder of its own, with nothing beside it.
    const QString bin = m_dir->filePath(QStringLiteral("prefix/bin"));
    QVERIFY(QDir().mkpath(bin));
    const QString program = bin + QStringLiteral("/settings-host");
    QVERIFY(QFile::copy(QStringLiteral(SETTINGS_HOST), program));

    HostRun run = runHost({}, m_environment, program);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains(QStringLiteral("No settings page given, and none installed in %1").arg(bin)),
             qPrintable(run.output));

    // A broken page installed beside it is opened, and named.
    const QString installed = copyPane(QStringLiteral("prefix/Installed.prefPane"));
    QVERIFY(!installed.isEmpty());
    QVERIFY(removeFile(installed, QStringLiteral("Contents/Info.plist")));
    run = runHost({}, m_environment, program);
    QVERIFY(run.finished);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.output.contains(QStringLiteral("Cannot open the settings page %1: Contents/Info.plist is missing")
                                     .arg(installed)),
             qPrintable(run.output));
}

void TestSettingsHost::installsTranslationsForTheUserLanguage()
{
    const QString hostFolder = QFileInfo(QStringLiteral(SETTINGS_HOST)).path() + QStringLiteral("/translations");
    const QString paneFolder = QStringLiteral(PANE_BUNDLE "/Contents/Resources/translations");

    // No translation for French: the texts stay as written.
    QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
    QVERIFY(!host::installTranslator(hostFolder, QStringLiteral("settings-host")));
    QCOMPARE(PTKeyCombo().description(), QStringLiteral("(None)"));

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QVERIFY(host::installTranslator(hostFolder, QStringLiteral("settings-host")));
    QVERIFY(host::installTranslator(paneFolder, QStringLiteral("QuillvanePref")));
    QLocale::setDefault(QLocale::c());

    // The hot key display's text comes from the host's translation, the
    // interface file's from the page's.
    QCOMPARE(PTKeyCombo().description(), QStringLiteral("(Keiner)"));
    QCOMPARE(QCoreApplication::translate("QuillvanePref", "&Hide after:"), QStringLiteral("&Ausblenden nach:"));
    QCOMPARE(QCoreApplication::translate("QuillvanePref", "%1 s", "seconds"), QStringLiteral("%1 s"));
    QCOMPARE(QCoreApplication::translate("host::SettingsWindow", "%1 Settings"), QStringLiteral("%1-Einstellungen"));
}

QTEST_GUILESS_MAIN(TestSettingsHost)
#include "tst_settingshost.moc"
