// settings-host's own rules: the page bundles it refuses and why (loaded here as the host loads them), where it
// finds installed pages, failing when none opens.

#include "PaneLoader.h"
#include "PropertyList.h"

#include "Files.h"
#include "Processes.h"

#include <QLibraryInfo>
#include <QTemporaryDir>

using namespace Qt::StringLiterals;
using namespace testsupport;

namespace {

const QString Info = u"Contents/Info.plist"_s, Plugin = u"Contents/Linux/QuillvanePref.so"_s,
              Ui = u"Contents/Resources/QuillvanePref.ui"_s;

// Breaks the page bundle at the given path; false when it could not.
using Damage = std::function<bool(const QString &bundle)>;

Damage edit(const QString &from, const QString &to) // in the interface file
{
    return [=](const QString &bundle) {
        QString ui = QString::fromUtf8(readFile(bundle + u'/' + Ui));
        return ui.contains(from) && writeFile(bundle + u'/' + Ui, ui.replace(from, to).toUtf8());
    };
}

Damage principalClass(const QString &name)
{
    return [=](const QString &bundle) {
        QVariantMap info = settings::PropertyList::readFile(bundle + u'/' + Info).toMap();
        info.insert(u"NSPrincipalClass"_s, name);
        return writeFile(bundle + u'/' + Info, settings::PropertyList::toXml(info));
    };
}

} // namespace

Q_DECLARE_METATYPE(Damage)

class TestSettingsHost : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // A page bundle NAME with the built page's files, its plug-in linked (loaded once).
    QString page(const QString &name) const
    {
        const QString path = m_dir.filePath(name), built = QStringLiteral(PANE_BUNDLE "/");
        bool made = QDir().mkpath(path + u"/Contents/Linux"_s) && QDir().mkpath(path + u"/Contents/Resources"_s);
        for (const QString &file : {Info, Ui})
            made = made && QFile::copy(built + file, path + u'/' + file);
        return made && QFile::link(built + Plugin, path + u'/' + Plugin) ? path : QString();
    }

private Q_SLOTS:
    void refuses_data()
    {
        QTest::addColumn<Damage>("damage");
        QTest::addColumn<QString>("reason");

        QTest::newRow("a blank principal class") << principalClass(u" "_s) << u"names no principal class"_s;
        QTest::newRow("a plug-in of another kind") << Damage([](const QString &bundle) {
            return QFile::remove(bundle + u'/' + Plugin)
                && QFile::link(QLibraryInfo::path(QLibraryInfo::PluginsPath) + u"/imageformats/libqgif.so"_s,
                               bundle + u'/' + Plugin);
        }) << u"is not a settings page plug-in"_s;
        QTest::newRow("a class the plug-in lacks") << principalClass(u"NoSuchPref"_s) << u"no class NoSuchPref"_s;
        QTest::newRow("a class that is no page") << principalClass(u"FloatSlider"_s) << u"is not a settings page"_s;
        QTest::newRow("no widget for an outlet") << edit(u"\"hotkeyField\""_s, u"\"other\""_s) << u"no widget named"_s;
        QTest::newRow("an outlet of another class") << edit(u"\"FloatSlider\""_s, u"\"QSlider\""_s) << u"needs a"_s;
        QTest::newRow("an action the page lacks") << edit(u">autoShowClick<"_s, u">toggle<"_s) << u"no invokable"_s;
        QTest::newRow("a signal the widget lacks") << edit(u">valueCommitted<"_s, u">valueChanged<"_s) << u"signal"_s;
        QTest::newRow("the page as a widget") << edit(u"\"FloatSlider\""_s, u"\"QuillvanePref\""_s) << u"as a widget"_s;
    }
    void refuses()
    {
        QFETCH(Damage, damage);
        QFETCH(QString, reason);
        const QString bundle = page(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY2(!bundle.isEmpty() && damage(bundle), "could not break the bundle");
        QObject owner;
        QString error;
        QVERIFY(!host::PaneLoader::load(bundle, &owner, &error));
        QVERIFY2(error.section(bundle, 1).contains(reason), qPrintable(error)); // the reason after the bundle
    }

    void findsInstalledPages()
    {
        const QDir root(m_dir.filePath(u"prefix"_s));
        for (const auto &folder : {u"bin/B.prefPane"_s, u"A.prefPane"_s, u"lib/quillvane/C.prefPane"_s, u"bin/other"_s})
            QVERIFY(root.mkpath(folder));
        QVERIFY(writeFile(root.filePath(u"D.prefPane"_s), "a file, not a bundle"));
        QCOMPARE(host::PaneLoader::installedPanes(root.filePath(u"bin"_s)),
                 QStringList({root.filePath(u"bin/B.prefPane"_s), root.filePath(u"A.prefPane"_s),
                              root.filePath(u"lib/quillvane/C.prefPane"_s)}));
    }

    void failsWhenNothingOpens()
    {
        const QString missing = m_dir.filePath(u"Missing.prefPane"_s);
        const Run run = Children::run(QStringLiteral(SETTINGS_HOST), {missing});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.output.contains(u"Cannot open the settings page "_s + missing), qPrintable(run.output));
    }
};

QTEST_MAIN(TestSettingsHost)
#include "tst_settingshost.moc"
