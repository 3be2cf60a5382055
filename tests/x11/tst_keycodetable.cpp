#include "KeyCodeTable.h"

#include <QTest>

using x11::KeyCodeTable;

class TestKeyCodeTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keyCodes_data()
    {
        QTest::addColumn<int>("virtualKeyCode");
        QTest::addColumn<QList<quint8>>("xKeyCodes");
        QTest::newRow("K") << 40 << QList<quint8>{45};
        QTest::newRow("A, the first code") << 0 << QList<quint8>{38};
        QTest::newRow("Up Arrow, the last code") << 126 << QList<quint8>{111};
        QTest::newRow("ISO section key") << 10 << QList<quint8>{94};
        QTest::newRow("F13, then Print Screen") << 105 << QList<quint8>{191, 107};
        QTest::newRow("Help, then Insert") << 114 << QList<quint8>{146, 118};
        QTest::newRow("Function key has no key") << 63 << QList<quint8>{};
        QTest::newRow("gap in the numbering") << 52 << QList<quint8>{};
        QTest::newRow("past the last code") << 127 << QList<quint8>{};
        QTest::newRow("no key recorded") << -1 << QList<quint8>{};
    }

    void keyCodes()
    {
        QFETCH(int, virtualKeyCode);
        QFETCH(QList<quint8>, xKeyCodes);
        QCOMPARE(KeyCodeTable::xKeyCodes(virtualKeyCode), xKeyCodes);
        QCOMPARE(KeyCodeTable::xKeyCode(virtualKeyCode), xKeyCodes.isEmpty() ? std::nullopt : std::optional(xKeyCodes[0]));
    }

    // Every X key code belongs to one position, and back.
    void everyCodeRoundTrips()
    {
        QList<quint8> all;
        for (int code = -1; code <= 128; ++code) {
            for (const quint8 x : KeyCodeTable::xKeyCodes(code)) {
                QCOMPARE(KeyCodeTable::virtualKeyCode(x), std::optional<qint32>(code));
                all << x;
            }
        }
        for (int x = 0; x <= 255; ++x)
            QCOMPARE(KeyCodeTable::virtualKeyCode(quint8(x)).has_value(), all.contains(quint8(x)));
    }

    void modifiers_data()
    {
        QTest::addColumn<quint32>("carbon");
        QTest::addColumn<quint16>("x");
        QTest::addColumn<quint32>("carbonBack");
        QTest::newRow("Command is Super") << 0x100u << KeyCodeTable::XMod4 << 0x100u;
        QTest::newRow("Option is Alt") << 0x800u << KeyCodeTable::XMod1 << 0x800u;
        QTest::newRow("Control") << 0x1000u << KeyCodeTable::XControl << 0x1000u;
        QTest::newRow("Shift") << 0x200u << KeyCodeTable::XShift << 0x200u;
        QTest::newRow("function key and unknown bits have no X modifier") << 0x8401u << quint16(0) << 0u;
    }

    void modifiers()
    {
        QFETCH(quint32, carbon);
        QFETCH(quint16, x);
        QFETCH(quint32, carbonBack);
        QCOMPARE(KeyCodeTable::xModifiers(carbon), x);
        // Lock, Mod2, Mod3, Mod5 and buttons are no part of a combination.
        QCOMPARE(KeyCodeTable::carbonModifiers(x | 0x1b2), carbonBack);
    }
};

QTEST_GUILESS_MAIN(TestKeyCodeTable)
#include "tst_keycodetable.moc"
