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
        QCOMPARE(KeyCodeTable::xKeyCode(virtualKeyCode).value_or(0), xKeyCodes.value(0)); // no X key code is 0
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
};

QTEST_GUILESS_MAIN(TestKeyCodeTable)
#include "tst_keycodetable.moc"
