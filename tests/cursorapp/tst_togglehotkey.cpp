// The toggle hot key's registration, over a hot key service that refuses
// combinations as another program holding them would make the X server do;
// and how the idle time becomes a timer interval.

#include "PointerVisibility.h"
#include "ToggleHotKey.h"
#include "PTHotKeyCenter.h"
#include "KeyCodeTable.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace std::chrono_literals;

namespace {

constexpr qint32 kK = 40;
constexpr qint32 kJ = 38;
constexpr qint32 kControlOption = 0x1800;

// Hot keys as the X server grants them, with combinations that "another
// program" holds refused.
class HotKeyService : public systemhotkeys::HotKeyEventSource
{
public:
    QList<quint32> heldElsewhere; // key codes
    QHash<quint64, quint32> granted; // key codes by registration
    int attempts = 0;

    Registration registerHotKey(quint32 keyCode, quint32, systemhotkeys::HotKeyID) override
    {
        ++attempts;
        if (x11::KeyCodeTable::xKeyCodes(qint32(keyCode)).isEmpty())
            return {systemhotkeys::eventHotKeyInvalidErr, systemhotkeys::HotKeyRef::Null};
        if (heldElsewhere.contains(keyCode))
            return {systemhotkeys::eventHotKeyExistsErr, systemhotkeys::HotKeyRef::Null};
        granted.insert(++m_last, keyCode);
        return {systemhotkeys::noErr, systemhotkeys::HotKeyRef(m_last)};
    }
    qint32 unregisterHotKey(systemhotkeys::HotKeyRef ref) override
    {
        return granted.remove(quint64(ref)) ? systemhotkeys::noErr : systemhotkeys::eventHotKeyInvalidErr;
    }
    qint32 installHandler(Handler) override { return systemhotkeys::noErr; }

    QList<quint32> grantedKeys() const { return granted.values(); }

private:
    quint64 m_last = 0;
};

// The warnings of the hot key's log category.
QStringList *s_warnings = nullptr;
QtMessageHandler s_previousHandler = nullptr;

void collectWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (s_warnings && type == QtWarningMsg && qstrcmp(context.category, "quillvane.cursorapp.hotkey") == 0)
        s_warnings->append(message);
    s_previousHandler(type, context, message);
}

} // namespace

class TestToggleHotKey : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void refusedKeyIsRetriedAndLoggedOnce();
    void settingsReadAgainRetryAtOnce();
    void registeredKeyIsLeftAlone();
    void newCombinationReplacesTheOld();
    void combinationsThatNeedNoRetry_data();
    void combinationsThatNeedNoRetry();
    void idleInterval_data();
    void idleInterval();

private:
    std::shared_ptr<HotKeyService> m_service;
    std::unique_ptr<PTHotKeyCenter> m_center;
    QStringList m_warnings;
};

void TestToggleHotKey::init()
{
    m_service = std::make_shared<HotKeyService>();
    m_center = std::make_unique<PTHotKeyCenter>(m_service);
    m_warnings.clear();
    s_warnings = &m_warnings;
    s_previousHandler = qInstallMessageHandler(collectWarnings);
}

void TestToggleHotKey::cleanup()
{
    qInstallMessageHandler(s_previousHandler);
    s_warnings = nullptr;
    m_center.reset();
    m_service.reset();
}

void TestToggleHotKey::refusedKeyIsRetriedAndLoggedOnce()
{
    m_service->heldElsewhere = {kK};
    ToggleHotKey hotKey(*m_center, 10ms);
    hotKey.setKeyCombo({kK, kControlOption});
    QVERIFY(!hotKey.isRegistered());
    QVERIFY(hotKey.isRetrying());

    QTRY_VERIFY(m_service->attempts >= 4);
    QCOMPARE(m_warnings.size(), 1);
    QVERIFY2(m_warnings.constFirst().contains(QLatin1String("held by another program")),
             qPrintable(m_warnings.constFirst()));

    m_service->heldElsewhere.clear();
    QTRY_VERIFY(hotKey.isRegistered());
    QVERIFY(!hotKey.isRetrying());
    QCOMPARE(m_service->grantedKeys(), QList<quint32>{kK});
    QCOMPARE(m_warnings.size(), 1);
}

void TestToggleHotKey::settingsReadAgainRetryAtOnce()
{
    m_service->heldElsewhere = {kK};
    ToggleHotKey hotKey(*m_center, 1h);
    hotKey.setKeyCombo({kK, kControlOption});
    QVERIFY(!hotKey.isRegistered());

    m_service->heldElsewhere.clear();
    hotKey.setKeyCombo({kK, kControlOption});
    QVERIFY(hotKey.isRegistered());
    QCOMPARE(m_warnings.size(), 1);
}

// Registering again would free the key for a moment, for anyone to take.
void TestToggleHotKey::registeredKeyIsLeftAlone()
{
    ToggleHotKey hotKey(*m_center, 10ms);
    hotKey.setKeyCombo({kK, kControlOption});
    QVERIFY(hotKey.isRegistered());
    const QList<quint64> refs = m_service->granted.keys();

    hotKey.setKeyCombo({kK, kControlOption});
    QCOMPARE(m_service->attempts, 1);
    QCOMPARE(m_service->granted.keys(), refs);
}

void TestToggleHotKey::newCombinationReplacesTheOld()
{
    ToggleHotKey hotKey(*m_center, 10ms);
    hotKey.setKeyCombo({kK, kControlOption});
    hotKey.setKeyCombo({kJ, kControlOption});
    QCOMPARE(m_service->grantedKeys(), QList<quint32>{kJ});

    // A refused new one leaves nothing of the old behind, and it is the new
    // one that is retried.
    m_service->heldElsewhere = {kK};
    hotKey.setKeyCombo({kK, kControlOption});
    QVERIFY(m_service->grantedKeys().isEmpty());
    m_service->heldElsewhere.clear();
    QTRY_COMPARE(m_service->grantedKeys(), QList<quint32>{kK});
    QCOMPARE(m_warnings.size(), 1);
}

void TestToggleHotKey::combinationsThatNeedNoRetry_data()
{
    QTest::addColumn<qint32>("keyCode");
    QTest::addColumn<qint32>("modifiers");
    QTest::addColumn<int>("warnings");

    QTest::newRow("clear combination registers nothing, quietly") << -1 << -1 << 0;
    QTest::newRow("combination without modifiers registers nothing") << kK << -1 << 0;
    QTest::newRow("key code that names no key is said once") << 300 << kControlOption << 1;
}

void TestToggleHotKey::combinationsThatNeedNoRetry()
{
    QFETCH(qint32, keyCode);
    QFETCH(qint32, modifiers);
    QFETCH(int, warnings);

    ToggleHotKey hotKey(*m_center, 10ms);
    hotKey.setKeyCombo({keyCode, modifiers});
    QVERIFY(!hotKey.isRetrying());
    // Another reading of the same settings.
    const int attempts = m_service->attempts;
    hotKey.setKeyCombo({keyCode, modifiers});
    QCOMPARE(m_service->attempts, attempts);
    QVERIFY(!hotKey.isRetrying());
    QVERIFY(m_service->granted.isEmpty());
    QCOMPARE(m_warnings.size(), warnings);
}

void TestToggleHotKey::idleInterval_data()
{
    QTest::addColumn<float>("seconds");
    QTest::addColumn<qint64>("milliseconds"); // -1: never

    QTest::newRow("zero is never") << 0.0f << qint64(-1);
    QTest::newRow("negative is never") << -5.0f << qint64(-1);
    QTest::newRow("not a number is never") << std::numeric_limits<float>::quiet_NaN() << qint64(-1);
    QTest::newRow("infinity is never") << std::numeric_limits<float>::infinity() << qint64(-1);
    QTest::newRow("beyond a timer's range is never") << 3.0e6f << qint64(-1);
    QTest::newRow("first-use value") << 35.0f << qint64(35000);
    QTest::newRow("fraction of a second") << 0.3f << qint64(300);
    QTest::newRow("below a millisecond rounds up") << 1.0e-6f << qint64(1);
}

void TestToggleHotKey::idleInterval()
{
    QFETCH(float, seconds);
    QFETCH(qint64, milliseconds);

    const auto interval = PointerVisibility::idleInterval(seconds);
    QCOMPARE(interval ? interval->count() : qint64(-1), milliseconds);
}

QTEST_GUILESS_MAIN(TestToggleHotKey)
#include "tst_togglehotkey.moc"
