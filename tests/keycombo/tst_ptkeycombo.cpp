#include "PTKeyCombo.h"
#include "PropertyList.h"

#include <QTest>

#include <limits>

class tst_PTKeyCombo : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void reading_data();
    void reading();
    void roundTripThroughFile_data();
    void roundTripThroughFile();
    void kinds_data();
    void kinds();
    void equality();
    void carriedInVariant();
};

static QVariantMap dict(const QVariant &keyCode, const QVariant &modifiers)
{
    QVariantMap map;
    if (keyCode.isValid())
        map.insert(QStringLiteral("keyCode"), keyCode);
    if (modifiers.isValid())
        map.insert(QStringLiteral("modifiers"), modifiers);
    return map;
}

void tst_PTKeyCombo::reading_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("keyCode");
    QTest::addColumn<int>("modifiers");

    const QVariant none;
    QTest::newRow("no value reads as clear") << none << -1 << -1;
    QTest::newRow("empty dictionary reads as clear") << QVariant(QVariantMap()) << -1 << -1;
    QTest::newRow("default hot key") << QVariant(dict(qint64(40), qint64(6144))) << 40 << 0x1800;
    QTest::newRow("key code 0 (A) survives") << QVariant(dict(qint64(0), qint64(6144))) << 0 << 6144;
    QTest::newRow("stored zero modifiers read as none") << QVariant(dict(qint64(12), qint64(0))) << 12 << -1;
    QTest::newRow("negative values read as clear") << QVariant(dict(qint64(-5), qint64(-5))) << -1 << -1;
    QTest::newRow("-1 and 0 read as clear") << QVariant(dict(qint64(-1), qint64(0))) << -1 << -1;
    QTest::newRow("missing key code") << QVariant(dict(none, qint64(256))) << -1 << 256;
    QTest::newRow("missing modifiers") << QVariant(dict(qint64(7), none)) << 7 << -1;
    QTest::newRow("string entry reads as missing")
        << QVariant(dict(QStringLiteral("40"), qint64(6144))) << -1 << 6144;
    QTest::newRow("boolean entry reads as missing") << QVariant(dict(true, true)) << -1 << -1;
    QTest::newRow("key code above 32 bits is not wrapped")
        << QVariant(dict(qint64(0x100000028LL), qint64(6144))) << -1 << 6144;
    QTest::newRow("modifiers above 32 bits are not wrapped")
        << QVariant(dict(qint64(40), qint64(0x100001800LL))) << 40 << -1;
    QTest::newRow("unsigned 64-bit entry out of range")
        << QVariant(dict(QVariant::fromValue(std::numeric_limits<quint64>::max()), qint64(6144))) << -1 << 6144;
    QTest::newRow("largest 32-bit values kept")
        << QVariant(dict(qint64(std::numeric_limits<qint32>::max()), qint64(std::numeric_limits<qint32>::max())))
        << std::numeric_limits<qint32>::max() << std::numeric_limits<qint32>::max();
    QTest::newRow("real entries take their integer part") << QVariant(dict(40.0, 6144.7)) << 40 << 6144;
    QTest::newRow("non-finite real reads as missing")
        << QVariant(dict(std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()))
        << -1 << -1;
    QTest::newRow("string instead of dictionary") << QVariant(QStringLiteral("keyCode=40")) << -1 << -1;
    QTest::newRow("array instead of dictionary") << QVariant(QVariantList{40, 6144}) << -1 << -1;
    QTest::newRow("extra entries ignored")
        << QVariant(QVariantMap{{QStringLiteral("keyCode"), 1}, {QStringLiteral("modifiers"), 512},
                                {QStringLiteral("version"), 2}})
        << 1 << 512;
}

void tst_PTKeyCombo::reading()
{
    QFETCH(QVariant, stored);
    QFETCH(int, keyCode);
    QFETCH(int, modifiers);

    const PTKeyCombo combo(stored);
    QCOMPARE(combo.keyCode(), keyCode);
    QCOMPARE(combo.modifiers(), modifiers);
}

void tst_PTKeyCombo::roundTripThroughFile_data()
{
    QTest::addColumn<int>("keyCode");
    QTest::addColumn<int>("modifiers");

    QTest::newRow("control-option-K") << 40 << 0x1800;
    QTest::newRow("control-option-A, key code 0") << 0 << 0x1800;
    QTest::newRow("function key bit alone") << 122 << 0x8000;
    QTest::newRow("all modifiers") << 126 << 0x1B00;
    QTest::newRow("clear") << -1 << -1;
}

// Build, write to a property-list document as the settings file holds it,
// read back, compare: what the pane stores is what it loads next time.
void tst_PTKeyCombo::roundTripThroughFile()
{
    QFETCH(int, keyCode);
    QFETCH(int, modifiers);

    const PTKeyCombo original(keyCode, modifiers);
    const QVariantMap form = original.plistRepresentation();
    QCOMPARE(form.size(), 2);

    QString error;
    const QByteArray document = settings::PropertyList::toXml(form, &error);
    QVERIFY2(!document.isEmpty(), qPrintable(error));
    const QVariant readBack = settings::PropertyList::fromXml(document, &error);
    QVERIFY2(readBack.isValid(), qPrintable(error));

    const PTKeyCombo loaded(readBack);
    QCOMPARE(loaded, original);
    QCOMPARE(loaded.isValidHotKeyCombo(), original.isValidHotKeyCombo());
    QCOMPARE(loaded.isClearCombo(), original.isClearCombo());
}

void tst_PTKeyCombo::kinds_data()
{
    QTest::addColumn<int>("keyCode");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<bool>("clear");

    QTest::newRow("clear") << -1 << -1 << false << true;
    QTest::newRow("key code 0 with command") << 0 << 0x100 << true << false;
    QTest::newRow("function key bit alone") << 5 << 0x8000 << true << false;
    QTest::newRow("no modifiers") << 5 << 0 << false << false;
    QTest::newRow("modifiers without key") << -1 << 0x1800 << false << false;
    QTest::newRow("bit 31 makes modifiers negative") << 5 << int(0x80000100u) << false << false;
    QTest::newRow("key without modifiers recorded") << 12 << -1 << false << false;
}

void tst_PTKeyCombo::kinds()
{
    QFETCH(int, keyCode);
    QFETCH(int, modifiers);
    QFETCH(bool, valid);
    QFETCH(bool, clear);

    const PTKeyCombo combo = PTKeyCombo::keyComboWithKeyCode(keyCode, modifiers);
    QCOMPARE(combo.isValidHotKeyCombo(), valid);
    QCOMPARE(combo.isClearCombo(), clear);
}

void tst_PTKeyCombo::equality()
{
    QVERIFY(PTKeyCombo() == PTKeyCombo::clearKeyCombo());
    QVERIFY(PTKeyCombo(40, 0x1800) == PTKeyCombo(40, 0x1800));
    QVERIFY(PTKeyCombo(40, 0x1800) != PTKeyCombo(41, 0x1800));
    QVERIFY(PTKeyCombo(40, 0x1800) != PTKeyCombo(40, 0x1000));
    QCOMPARE(qHash(PTKeyCombo(40, 0x1800)), qHash(PTKeyCombo(40, 0x1800)));
}

void tst_PTKeyCombo::carriedInVariant()
{
    const QVariant carried = QVariant::fromValue(PTKeyCombo(38, 0x1200));
    QVERIFY(carried.canConvert<PTKeyCombo>());
    QCOMPARE(carried.value<PTKeyCombo>(), PTKeyCombo(38, 0x1200));
    QCOMPARE(carried, QVariant::fromValue(PTKeyCombo(38, 0x1200)));
}

QTEST_APPLESS_MAIN(tst_PTKeyCombo)
#include "tst_ptkeycombo.moc"
