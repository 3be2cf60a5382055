#include "HotKeyTarget.h"

#include "PTHotKey.h"

#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

// A subclass shows its own class name.
class LoggingHotKey : public PTHotKey
{
};

class TestPTHotKey : public QObject
{
    Q_OBJECT

private slots:
    void newHotKeyHoldsNothing()
    {
        const PTHotKey hotKey;
        QVERIFY(hotKey.keyCombo().isClearCombo());
        QVERIFY(!hotKey.keyCombo().isValidHotKeyCombo());
        QVERIFY(hotKey.name().isNull());
        QVERIFY(!hotKey.target());
        QVERIFY(hotKey.action().isEmpty());
        QCOMPARE(hotKey.carbonHotKey(), systemhotkeys::HotKeyRef::Null);
    }

    void description_data()
    {
        QTest::addColumn<bool>("subclass");
        QTest::addColumn<PTKeyCombo>("combo");
        QTest::addColumn<QString>("className");

        QTest::newRow("new hot key shows the none string") << false << PTKeyCombo() << u"PTHotKey"_s;
        QTest::newRow("combination shows its display string") << false << PTKeyCombo(40, 0x1800) << u"PTHotKey"_s;
        QTest::newRow("subclass shows its own class name") << true << PTKeyCombo(5, 0x8100) << u"LoggingHotKey"_s;
    }

    void description()
    {
        QFETCH(bool, subclass);
        QFETCH(PTKeyCombo, combo);
        QFETCH(QString, className);

        const std::unique_ptr<PTHotKey> hotKey = subclass ? std::make_unique<LoggingHotKey>()
                                                          : std::make_unique<PTHotKey>();
        hotKey->setKeyCombo(combo);
        QCOMPARE(hotKey->description(), u"<%1: %2>"_s.arg(className, combo.description()));
    }

    void invokePassesTheHotKeyItself()
    {
        HotKeyTarget target;
        PTHotKey hotKey;
        hotKey.setName(u"toggle the cursor"_s);
        hotKey.setKeyCombo(PTKeyCombo(40, 0x1800));
        hotKey.setTarget(&target);
        hotKey.setAction("hotKeyPressed");
        target.onPress = [](PTHotKey *pressed) { QCOMPARE(pressed->keyCombo(), PTKeyCombo(40, 0x1800)); };

        hotKey.invoke();
        QCOMPARE(target.pressed, QList<const PTHotKey *>{&hotKey});
        QCOMPARE(target.names, QStringList{u"toggle the cursor"_s});
    }

    void invokeWithoutCallableDoesNothing_data()
    {
        QTest::addColumn<QByteArray>("action");
        QTest::addColumn<bool>("destroyTarget");
        QTest::addColumn<bool>("warns");

        QTest::newRow("no action") << QByteArray() << false << false;
        QTest::newRow("destroyed target") << QByteArray("hotKeyPressed") << true << false;
        QTest::newRow("target without that method") << QByteArray("noSuchMethod") << false << true;
    }

    void invokeWithoutCallableDoesNothing()
    {
        QFETCH(QByteArray, action);
        QFETCH(bool, destroyTarget);
        QFETCH(bool, warns);

        auto target = std::make_unique<HotKeyTarget>();
        const HotKeyTarget *observed = target.get();
        PTHotKey hotKey;
        hotKey.setTarget(target.get());
        hotKey.setAction(action);
        if (destroyTarget)
            target.reset();
        QCOMPARE(hotKey.target(), target.get());
        if (warns) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^QMetaObject::invokeMethod: No such method"_s));
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"cannot call \"noSuchMethod\""_s));
        }

        hotKey.invoke();
        if (target)
            QVERIFY(observed->pressed.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestPTHotKey)
#include "tst_pthotkey.moc"
