#include "PTKeyCombo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTranslator>

// Translates "(None)" the way a host application's installed translation does.
class NoneTranslator : public QTranslator
{
public:
    QString translate(const char *context, const char *sourceText, const char *, int) const override
    {
        if (qstrcmp(context, "PTKeyCombo") == 0 && qstrcmp(sourceText, "(None)") == 0)
            return QStringLiteral("(Keine)");
        return {};
    }
    bool isEmpty() const override { return false; }
};

class tst_KeyComboDisplay : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    // Runs first: the resource is not in place yet.
    void namesMissingThenAppearing();
    void displayString_data();
    void displayString();
    void modifierGlyphs_data();
    void modifierGlyphs();
    void noneIsTranslatedByTheHost();
    void everyKeyOfTheKeyboardHasAName();
    void cleanupTestCase();

private:
    QString resourcePath() const;
    void installResource();
};

QString tst_KeyComboDisplay::resourcePath() const
{
    // The test executable lies in <bundle>/Contents/Linux/.
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../Resources/PTKeyCodes.plist");
}

void tst_KeyComboDisplay::installResource()
{
    QDir().mkpath(QFileInfo(resourcePath()).absolutePath());
    QFile::remove(resourcePath());
    QVERIFY(QFile::copy(QStringLiteral(QUILLVANE_SOURCE_DIR "/resources/PTKeyCodes.plist"), resourcePath()));
}

void tst_KeyComboDisplay::initTestCase()
{
    QFile::remove(resourcePath());
}

void tst_KeyComboDisplay::namesMissingThenAppearing()
{
    QVERIFY(!PTKeyCombo::_keyCodesDictionary());
    QCOMPARE(PTKeyCombo(40, 0x1800).description(), QStringLiteral("⌥^28"));
    QCOMPARE(PTKeyCombo::_stringForKeyCode(10), QStringLiteral("A"));
    QCOMPARE(PTKeyCombo::_stringForKeyCode(122), QStringLiteral("7A"));
    QCOMPARE(PTKeyCombo::_stringForKeyCode(-1), QStringLiteral("FFFFFFFF"));

    // A resource that is not a dictionary is no resource.
    QDir().mkpath(QFileInfo(resourcePath()).absolutePath());
    {
        QFile junk(resourcePath());
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>");
    }
    QVERIFY(!PTKeyCombo::_keyCodesDictionary());
    QCOMPARE(PTKeyCombo(40, 0x1800).description(), QStringLiteral("⌥^28"));

    // Each display looks again, so names appear once the resource does.
    installResource();
    QCOMPARE(PTKeyCombo(40, 0x1800).description(), QStringLiteral("⌥^K"));
    QVERIFY(PTKeyCombo::_keyCodesDictionary());

    // Once loaded it is kept for the life of the process.
    QVERIFY(QFile::remove(resourcePath()));
    QCOMPARE(PTKeyCombo(40, 0x1800).description(), QStringLiteral("⌥^K"));
    installResource();
}

void tst_KeyComboDisplay::displayString_data()
{
    QTest::addColumn<int>("keyCode");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("words"); // with the names PC keyboards print

    const QString none = QStringLiteral("(None)");
    QTest::newRow("clear") << -1 << -1 << none << none;
    QTest::newRow("command without key") << -1 << 0x100 << none << none;
    QTest::newRow("key without modifiers") << 3 << 0 << none << none;
    QTest::newRow("default hot key") << 40 << 0x1800 << QStringLiteral("⌥^K") << QStringLiteral("Control+Alt+K");
    QTest::newRow("control before shift") << 38 << 0x1200 << QStringLiteral("^⇧J")
                                          << QStringLiteral("Control+Shift+J");
    QTest::newRow("all four, Super first") << 40 << 0x1B00 << QStringLiteral("⌘⌥^⇧K")
                                           << QStringLiteral("Super+Control+Alt+Shift+K");
    QTest::newRow("key code 0 is A") << 0 << 0x1800 << QStringLiteral("⌥^A") << QStringLiteral("Control+Alt+A");
    QTest::newRow("function bit shows nothing") << 5 << 0x8000 << QStringLiteral("G") << QStringLiteral("G");
    QTest::newRow("function bit with command") << 5 << 0x8100 << QStringLiteral("⌘G") << QStringLiteral("Super+G");
    QTest::newRow("F-key") << 122 << 0x100 << QStringLiteral("⌘F1") << QStringLiteral("Super+F1");
    QTest::newRow("glyph key in words") << 36 << 0x100 << QStringLiteral("⌘↩") << QStringLiteral("Super+Enter");
    QTest::newRow("keypad key by its sign") << 87 << 0x800 << QStringLiteral("⌥Keypad 5")
                                            << QStringLiteral("Alt+Keypad 5");
    QTest::newRow("keypad Enter") << 76 << 0x800 << QStringLiteral("⌥⌤") << QStringLiteral("Alt+Keypad Enter");
    QTest::newRow("key code without a name is hexadecimal") << 0x7F << 0x100 << QStringLiteral("⌘7F")
                                                            << QStringLiteral("Super+7F");
    QTest::newRow("large key code shows its low 16 bits") << 0x10028 << 0x100 << QStringLiteral("⌘K")
                                                          << QStringLiteral("Super+K");
}

void tst_KeyComboDisplay::displayString()
{
    QFETCH(int, keyCode);
    QFETCH(int, modifiers);
    QFETCH(QString, expected);
    QFETCH(QString, words);

    QCOMPARE(PTKeyCombo(keyCode, modifiers).description(), expected);
    QCOMPARE(PTKeyCombo(keyCode, modifiers).descriptionInWords(), words);
}

void tst_KeyComboDisplay::modifierGlyphs_data()
{
    QTest::addColumn<qint64>("modifiers");
    QTest::addColumn<QString>("expected");

    QTest::newRow("none") << qint64(0) << QString();
    QTest::newRow("all four in fixed order") << qint64(0x1B00) << QStringLiteral("⌘⌥^⇧");
    QTest::newRow("shift and command") << qint64(0x300) << QStringLiteral("⌘⇧");
    QTest::newRow("bits without glyphs") << qint64(0x8000 | 0x80 | 0x4000) << QString();
    QTest::newRow("all bits set") << qint64(-1) << QStringLiteral("⌘⌥^⇧");
}

void tst_KeyComboDisplay::modifierGlyphs()
{
    QFETCH(qint64, modifiers);
    QFETCH(QString, expected);

    QCOMPARE(PTKeyCombo::_stringForModifiers(modifiers), expected);
}

void tst_KeyComboDisplay::noneIsTranslatedByTheHost()
{
    NoneTranslator translator;
    QVERIFY(QCoreApplication::installTranslator(&translator));
    QCOMPARE(PTKeyCombo().description(), QStringLiteral("(Keine)"));
    QCOMPARE(PTKeyCombo().descriptionInWords(), QStringLiteral("(Keine)"));
    QCOMPARE(PTKeyCombo(40, 0x1800).description(), QStringLiteral("⌥^K"));
    QCoreApplication::removeTranslator(&translator);
    QCOMPARE(PTKeyCombo().description(), QStringLiteral("(None)"));
}

// Every key that a full-size ANSI or ISO keyboard can record has a name, so
// that no hot key shows as a bare number, nor reads as a glyph in words.
void tst_KeyComboDisplay::everyKeyOfTheKeyboardHasAName()
{
    const std::optional<QVariantMap> names = PTKeyCombo::_keyCodesDictionary();
    QVERIFY(names);
    QList<int> codes;
    for (int code = 0; code <= 126; ++code)
        codes << code;
    // Positions that no key of these keyboards occupies.
    for (int unused : {52, 66, 68, 70, 77, 108, 112})
        codes.removeAll(unused);
    for (int code : std::as_const(codes)) {
        const QVariant name = names->value(QString::number(code));
        QVERIFY2(name.typeId() == QMetaType::QString && !name.toString().isEmpty(),
                 qPrintable(QStringLiteral("key code %1 has no name").arg(code)));
        // In words, the keys that show a glyph have a name a screen reader can say.
        const QString words = PTKeyCombo(code, 0x100).descriptionInWords();
        QVERIFY2(!words.contains(QRegularExpression(QStringLiteral("[\\x{2190}-\\x{23FF}]"))), qPrintable(words));
    }
    for (auto it = names->cbegin(); it != names->cend(); ++it) {
        bool ok = false;
        const int code = it.key().toInt(&ok);
        QVERIFY2(ok && QString::number(code) == it.key(), qPrintable(it.key() + QStringLiteral(" is not signed decimal")));
    }
}

void tst_KeyComboDisplay::cleanupTestCase()
{
    QFile::remove(resourcePath());
}

QTEST_GUILESS_MAIN(tst_KeyComboDisplay)
#include "tst_keycombodisplay.moc"
