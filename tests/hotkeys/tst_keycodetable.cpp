#include "KeyCodeTable.h"

#include <QTest>

using x11::KeyCodeTable;

class TestKeyCodeTable : public QObject
{
    Q_OBJECT

private slots:
    void keyCodes_data()
    {
        QTest::addColumn<int>("virtualKeyCode");
        QTest::addColumn<QList<quint8>>("xKeyCodes");

        QTest::newRow("K") << 40 << QList<quint8>{45};
        QTest::newRow("A, the first code") << 0 << QList<quint8>{38};
        QTest::newRow("Up Arrow, the last code") << 126 << QList<quint8>{111};
        QTest::newRow("F1") << 122 << QList<quint8>{67};
        QTest::newRow("ISO section key") << 10 << QList<quint8>{94};
        QTest::newRow("F13 and Print Screen") << 105 << QList<quint8>{191, 107};
        QTest::newRow("Help and Insert") << 114 << QList<quint8>{146, 118};
        QTest::newRow("keypad Clear is Num Lock") << 71 << QList<quint8>{77};
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
        QCOMPARE(KeyCodeTable::xKeyCode(virtualKeyCode).has_value(), !xKeyCodes.isEmpty());
        for (const quint8 xKeyCode : std::as_const(xKeyCodes))
            QCOMPARE(KeyCodeTable::virtualKeyCode(xKeyCode), std::optional<qint32>(virtualKeyCode));
    }

    void keysWithoutVirtualKeyCode()
    {
        QCOMPARE(KeyCodeTable::virtualKeyCode(8), std::nullopt);   // below the first X key code
        QCOMPARE(KeyCodeTable::virtualKeyCode(255), std::nullopt); // no key of the table
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
        QTest::newRow("function key bit has no X modifier") << 0x8000u << quint16(0) << 0u;
        QTest::newRow("all together") << 0x9B00u << quint16(0x4D) << 0x1B00u;
        QTest::newRow("unknown bits are dropped") << 0x0401u << quint16(0) << 0u;
    }

    void modifiers()
    {
        QFETCH(quint32, carbon);
        QFETCH(quint16, x);
        QFETCH(quint32, carbonBack);

        QCOMPARE(KeyCodeTable::xModifiers(carbon), x);
        // Lock, Num Lock (Mod2), Mod3, Mod5 and buttons are not part of a combination.
        QCOMPARE(KeyCodeTable::carbonModifiers(x | 0x02 | 0x10 | 0x20 | 0x80 | 0x100), carbonBack);
    }
};

QTEST_GUILESS_MAIN(TestKeyCodeTable)
#include "tst_keycodetable.moc"
