// Launching application bundles.

#include "Workspace.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool writeFile(const QString &path, const QByteArray &contents, QFile::Permissions permissions)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly)
        && file.write(contents) == contents.size() && file.setPermissions(permissions);
}

QByteArray infoPlist(const QByteArray &executable)
{
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key>
	<string>org.example.Launched</string>
	<key>CFBundleExecutable</key>
	<string>)" + executable + R"(</string>
</dict>
</plist>
)";
}

constexpr QFile::Permissions executableMode = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
constexpr QFile::Permissions plainMode = QFile::ReadOwner | QFile::WriteOwner;

} // namespace

class TestWorkspace : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void refusesWhatCannotStart_data();
    void refusesWhatCannotStart();
    void startsDetachedHoldingNoneOfOurStreams();

private:
    QTemporaryDir m_dir;
};

void TestWorkspace::refusesWhatCannotStart_data()
{
    QTest::addColumn<QString>("bundle");
    QTest::addColumn<QString>("warning");

    const QString root = m_dir.path();
    QVERIFY(writeFile(root + QStringLiteral("/Missing.app/Contents/Info.plist"), infoPlist("Missing"), plainMode));
    QVERIFY(writeFile(root + QStringLiteral("/Plain.app/Contents/Info.plist"), infoPlist("Plain"), plainMode));
    QVERIFY(writeFile(root + QStringLiteral("/Plain.app/Contents/Linux/Plain"), "#!/bin/sh\n", plainMode));

    QTest::newRow("no folder at the path") << root + QStringLiteral("/None.app") << QStringLiteral("no application bundle");
    QTest::newRow("named executable is missing") << root + QStringLiteral("/Missing.app") << QStringLiteral("names no executable");
    QTest::newRow("executable may not be run") << root + QStringLiteral("/Plain.app") << QStringLiteral("Cannot launch");
}

void TestWorkspace::refusesWhatCannotStart()
{
    QFETCH(QString, bundle);
    QFETCH(QString, warning);

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warning)));
    QVERIFY(!loginitems::Workspace::launchApplication(bundle));
}

void TestWorkspace::startsDetachedHoldingNoneOfOurStreams()
{
    const QString record = m_dir.filePath(QStringLiteral("record"));
    const QByteArray quoted = '\'' + QFile::encodeName(record) + '\'';
    const QByteArray script = "#!/bin/sh\n"
                              "in=$(readlink /proc/$$/fd/0)\n"
                              "out=$(readlink /proc/$$/fd/1)\n"
                              "err=$(readlink /proc/$$/fd/2)\n"
                              "printf '%s\\n' \"$in\" \"$out\" \"$err\" \"$(pwd)\" > "
        + quoted + ".part\nmv " + quoted + ".part " + quoted + "\n";
    const QString bundle = m_dir.filePath(QStringLiteral("Recorder.app"));
    QVERIFY(writeFile(bundle + QStringLiteral("/Contents/Info.plist"), infoPlist("Recorder"), plainMode));
    QVERIFY(writeFile(bundle + QStringLiteral("/Contents/Linux/Recorder"), script, executableMode));

    QVERIFY(loginitems::Workspace::launchApplication(bundle));

    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(record), 5000);
    QFile file(record);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines, (QStringList{QStringLiteral("/dev/null"), QStringLiteral("/dev/null"),
                                 QStringLiteral("/dev/null"), QStringLiteral("/")}));
}

QTEST_GUILESS_MAIN(TestWorkspace)
#include "tst_workspace.moc"
