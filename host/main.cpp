// settings-host: the settings window. Opens settings page bundles and shows
// them; with --screenshot it saves the window as an image and quits.

#include "PaneLoader.h"
#include "SettingsWindow.h"
#include "Translations.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QPixmap>
#include <QTimer>

using namespace Qt::StringLiterals;

Q_LOGGING_CATEGORY(lcHost, "quillvane.host", QtInfoMsg)

namespace {

// Marked with QT_TRANSLATE_NOOP where used, so that lupdate finds them.
QString text(const char *source)
{
    return QCoreApplication::translate("SettingsHost", source);
}

} // namespace

int main(int argc, char *argv[])
{
    // Help and version need no display: answer them on a terminal without one.
    for (int i = 1; i < argc; ++i) {
        const QByteArrayView arg(argv[i]);
        if ((arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" || arg == "--version")
            && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"settings-host"_s);
    QApplication::setApplicationVersion(QString::fromLatin1(QUILLVANE_VERSION));

    // The host's texts, and the texts that the pages leave to the host such
    // as "(None)", come from the translations beside the program or beside
    // the installed pages.
    const QString programFolder = QApplication::applicationDirPath();
    for (const QString &folder : host::PaneLoader::paneFolders(programFolder)) {
        if (host::installTranslator(folder + u"/translations"_s, u"settings-host"_s))
            break;
    }
    host::installTranslator(QLibraryInfo::path(QLibraryInfo::TranslationsPath), u"qtbase"_s);
    QApplication::setApplicationDisplayName(text(QT_TRANSLATE_NOOP("SettingsHost", "Settings")));

    QCommandLineParser parser;
    parser.setApplicationDescription(text(QT_TRANSLATE_NOOP("SettingsHost", "Shows settings pages in a window.")));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption screenshotOption(
        u"screenshot"_s,
        text(QT_TRANSLATE_NOOP("SettingsHost",
                               "Save the window as an image in FILE once the pages have loaded, then quit.")),
        text(QT_TRANSLATE_NOOP("SettingsHost", "FILE")));
    parser.addOption(screenshotOption);
    parser.addPositionalArgument(
        u"pages"_s,
        text(QT_TRANSLATE_NOOP("SettingsHost", "The settings page bundles to open. Without any, "
                                               "the pages installed beside the program.")),
        text(QT_TRANSLATE_NOOP("SettingsHost", "[PAGE.prefPane...]")));
    parser.process(app);

    QStringList paths = parser.positionalArguments();
    if (paths.isEmpty()) {
        paths = host::PaneLoader::installedPanes(programFolder);
        if (paths.isEmpty()) {
            qCCritical(lcHost).noquote()
                << text(QT_TRANSLATE_NOOP("SettingsHost",
                                          "No settings page given, and none installed in %1, the folder above it or ../lib/quillvane."))
                       .arg(QDir::toNativeSeparators(programFolder));
            return 1;
        }
    }

    host::SettingsWindow window;
    for (const QString &path : std::as_const(paths)) {
        QString error;
        const std::optional<host::LoadedPane> loaded = host::PaneLoader::load(path, &window, &error);
        if (!loaded) {
            qCCritical(lcHost).noquote() << error;
            continue;
        }
        window.addPane(loaded->label, loaded->mainView);
    }
    if (window.paneCount() == 0) {
        qCCritical(lcHost).noquote() << text(QT_TRANSLATE_NOOP("SettingsHost", "No settings page could be opened."));
        return 1;
    }
    window.show();
    window.activateWindow();

    if (parser.isSet(screenshotOption)) {
        const QString file = parser.value(screenshotOption);
        QTimer::singleShot(0, &window, [&window, file] {
            if (window.grab().save(file)) {
                QCoreApplication::quit();
            } else {
                qCCritical(lcHost).noquote()
                    << text(QT_TRANSLATE_NOOP("SettingsHost", "Cannot save the screenshot %1.")).arg(file);
                QCoreApplication::exit(1);
            }
        });
    }
    return app.exec();
}
