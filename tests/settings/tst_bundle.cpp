#include "Bundle.h"
#include "PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using settings::Bundle;
using settings::PropertyList;
using namespace Qt::StringLiterals;

namespace {

// Code of this test program, which lives in tst_bundle.bundle/Contents/Linux.
int functionInTheTest()
{
    return 42;
}

bool writeFile(const QString &path, const QByteArray &contents)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size();
}

} // namespace

class tst_Bundle : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void noBundle_data();
    void noBundle();
    void folderWithoutInfoPlist();
    void unusableInfoPlistIsIgnored_data();
    void unusableInfoPlistIsIgnored();
    void infoDictionary();
    void executablePath_data();
    void executablePath();
    void pathForResource_data();
    void pathForResource();
    void forAddressFindsTheTestsBundle();

private:
    // A bundle folder with Contents/Info.plist holding info.
    QString makeBundle(const QString &name, const QVariantMap &info);

    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_Bundle::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QString tst_Bundle::makeBundle(const QString &name, const QVariantMap &info)
{
    const QString path = m_dir->filePath(name);
    if (!writeFile(path + u"/Contents/Info.plist"_s, PropertyList::toXml(info)))
        return {};
    QDir().mkpath(path + u"/Contents/Resources"_s);
    return path;
}

void tst_Bundle::noBundle_data()
{
    QTest::addColumn<QString>("relativePath");

    QTest::newRow("empty path") << QString();
    QTest::newRow("missing folder") << u"missing.app"_s;
    QTest::newRow("a file, not a folder") << u"file.app"_s;
}

void tst_Bundle::noBundle()
{
    QFETCH(QString, relativePath);

    QVERIFY(writeFile(m_dir->filePath(u"file.app"_s), "x"));
    const Bundle bundle = Bundle::withPath(relativePath.isEmpty() ? QString() : m_dir->filePath(relativePath));
    QVERIFY(!bundle.isValid());
    QVERIFY(!bundle);
    QCOMPARE(bundle.bundleIdentifier(), QString());
    QCOMPARE(bundle.resourcePath(), QString());
    QCOMPARE(bundle.executablePath(), QString());
    QCOMPARE(bundle, Bundle());
}

void tst_Bundle::folderWithoutInfoPlist()
{
    const QString path = m_dir->filePath(u"Plain"_s);
    QVERIFY(QDir().mkpath(path));

    const Bundle bundle = Bundle::withPath(path + u"/"_s);
    QVERIFY(bundle.isValid());
    QCOMPARE(bundle.bundlePath(), path);
    QCOMPARE(bundle.bundleIdentifier(), QString());
    QCOMPARE(bundle.infoDictionary(), QVariantMap());
    // Without Contents the folder itself holds the resources.
    QCOMPARE(bundle.resourcePath(), path);
    QCOMPARE(bundle.bundleUrl(), QUrl::fromLocalFile(path));
    QCOMPARE(Bundle::withUrl(QUrl::fromLocalFile(path)), bundle);
}

void tst_Bundle::unusableInfoPlistIsIgnored_data()
{
    QTest::addColumn<QByteArray>("contents");

    QTest::newRow("not a property list") << QByteArray("<plist><dict><key>CFBundleIdentifier</key>");
    QTest::newRow("top level is an array") << PropertyList::toXml(QVariantList{u"org.example.App"_s});
}

void tst_Bundle::unusableInfoPlistIsIgnored()
{
    QFETCH(QByteArray, contents);

    const QString path = m_dir->filePath(u"Broken.app"_s);
    QVERIFY(writeFile(path + u"/Contents/Info.plist"_s, contents));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"Ignoring unreadable .*Info\\.plist"_s));
    const Bundle bundle = Bundle::withPath(path);
    QVERIFY(bundle.isValid());
    QCOMPARE(bundle.bundleIdentifier(), QString());
    QCOMPARE(bundle.resourcePath(), path + u"/Contents/Resources"_s);
}

void tst_Bundle::infoDictionary()
{
    const QVariantMap info{{u"CFBundleIdentifier"_s, u"org.quillvane.Quillvane"_s},
                           {u"CFBundleExecutable"_s, u"Quillvane"_s}};
    const QString path = makeBundle(u"Quillvane.app"_s, info);
    QVERIFY(!path.isEmpty());

    const Bundle bundle = Bundle::withPath(path);
    QCOMPARE(bundle.bundleIdentifier(), u"org.quillvane.Quillvane"_s);
    QCOMPARE(bundle.infoDictionary(), info);
    QCOMPARE(bundle.resourcePath(), path + u"/Contents/Resources"_s);

    // A relative path names the same bundle.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(m_dir->path()));
    const Bundle relative = Bundle::withPath(u"./Quillvane.app"_s);
    QDir::setCurrent(previous);
    QCOMPARE(relative, bundle);

    const Bundle numberIdentifier = Bundle::withPath(makeBundle(u"Number.app"_s, {{u"CFBundleIdentifier"_s, 7}}));
    QVERIFY(numberIdentifier.isValid());
    QCOMPARE(numberIdentifier.bundleIdentifier(), QString());
}

void tst_Bundle::executablePath_data()
{
    QTest::addColumn<QVariant>("named");
    QTest::addColumn<QString>("present");
    QTest::addColumn<bool>("found");

    QTest::newRow("named and present") << QVariant(u"Tool"_s) << u"Tool"_s << true;
    QTest::newRow("named but missing") << QVariant(u"Tool"_s) << QString() << false;
    QTest::newRow("not named") << QVariant() << u"Tool"_s << false;
    QTest::newRow("name is not a string") << QVariant(12) << u"12"_s << false;
    QTest::newRow("name leaves the folder") << QVariant(u"../Linux/Tool"_s) << u"Tool"_s << false;
}

void tst_Bundle::executablePath()
{
    QFETCH(QVariant, named);
    QFETCH(QString, present);
    QFETCH(bool, found);

    QVariantMap info{{u"CFBundleIdentifier"_s, u"org.example.Tool"_s}};
    if (named.isValid())
        info.insert(u"CFBundleExecutable"_s, named);
    const QString path = makeBundle(u"Tool.app"_s, info);
    if (!present.isEmpty())
        QVERIFY(writeFile(path + u"/Contents/Linux/"_s + present, "#!/bin/sh\n"));

    const Bundle bundle = Bundle::withPath(path);
    QCOMPARE(bundle.executablePath(), found ? path + u"/Contents/Linux/"_s + present : QString());
}

void tst_Bundle::pathForResource_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("expected");

    QTest::newRow("name and type") << u"PTKeyCodes"_s << u"plist"_s << u"PTKeyCodes.plist"_s;
    QTest::newRow("name with empty type") << u"README"_s << QString() << u"README"_s;
    QTest::newRow("missing resource") << u"Missing"_s << u"plist"_s << QString();
    QTest::newRow("folder, not a file") << u"Quillvane"_s << u"app"_s << QString();
}

void tst_Bundle::pathForResource()
{
    QFETCH(QString, name);
    QFETCH(QString, type);
    QFETCH(QString, expected);

    const QString path = makeBundle(u"Pane.prefPane"_s, {{u"CFBundleIdentifier"_s, u"org.example.Pane"_s}});
    const QString resources = path + u"/Contents/Resources/"_s;
    QVERIFY(writeFile(resources + u"PTKeyCodes.plist"_s, PropertyList::toXml(QVariantMap())));
    QVERIFY(writeFile(resources + u"README"_s, "text"));
    QVERIFY(QDir().mkpath(resources + u"Quillvane.app/Contents"_s));

    const Bundle bundle = Bundle::withPath(path);
    QCOMPARE(bundle.pathForResource(name, type), expected.isEmpty() ? QString() : resources + expected);
}

void tst_Bundle::forAddressFindsTheTestsBundle()
{
    QCOMPARE(functionInTheTest(), 42);
    const QString expected = QDir::cleanPath(QCoreApplication::applicationDirPath() + u"/../.."_s);
    QVERIFY2(expected.endsWith(u"/tst_bundle.bundle"_s), qPrintable(expected));

    const Bundle bundle = Bundle::forAddress(reinterpret_cast<const void *>(&functionInTheTest));
    QVERIFY(bundle.isValid());
    QCOMPARE(bundle.bundlePath(), QFileInfo(expected).canonicalFilePath());
    QCOMPARE(bundle.resourcePath(), bundle.bundlePath() + u"/Contents/Resources"_s);

    QVERIFY(!Bundle::forAddress(nullptr).isValid());
}

QTEST_GUILESS_MAIN(tst_Bundle)
#include "tst_bundle.moc"
