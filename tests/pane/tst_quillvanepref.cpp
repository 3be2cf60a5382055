// The settings page in this process as a host shows it: what loading shows and writes, what each control writes
// and sends, the link to the cursor program, and its float slider; over the real settings store and a cursor
// service double.

#include "InterfaceFile.h"
#include "PTHotKey.h"
#include "PTHotKeyCenter.h"
#include "PropertyList.h"
#include "QuillvanePref.h"
#include "QuillvaneSettings.h"

#include "Bus.h"
#include "Doubles.h"
#include "Files.h"

#include <QDBusPendingReply>
#include <QDialog>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>

#include <limits>

using namespace Qt::StringLiterals;
using namespace testsupport;

namespace {

QVariant combo(qint64 keyCode, qint64 modifiers)
{
    return QVariantMap{{u"keyCode"_s, keyCode}, {u"modifiers"_s, modifiers}};
}

QString domainFile()
{
    return settingsFile(qEnvironmentVariable("XDG_CONFIG_HOME"), QuillvaneSettings::Domain);
}

bool store(const QVariantMap &values)
{
    return writeFile(domainFile(), settings::PropertyList::toXml(values));
}

// support candidate: the readPrefs the CursorServiceDouble has had, asked after all sent before, without
// blocking: the double answers on this very thread.
int readPrefsReceived()
{
    const QDBusPendingCall call = QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
        cursorBusName(), dbuslink::ObjectPath, dbuslink::Interface, u"received"_s));
    (void)QTest::qWaitFor([&] { return call.isFinished(); }, 5000);
    const QDBusPendingReply<int> reply = call;
    return reply.isValid() ? reply.value() : -1;
}

// The page with its interface file; it notes what the settings file held at launch.
class Page : public QuillvanePref
{
public:
    using QuillvanePref::QuillvanePref;

    bool load()
    {
        QString error;
        view = panecontract::InterfaceFile::load(
            QStringLiteral(QUILLVANE_SOURCE_DIR "/resources/QuillvanePref.ui"),
            [](const QString &name, QWidget *parent) -> QObject * {
                return name == u"FloatSlider"_s ? new FloatSlider(parent) : nullptr;
            },
            &error);
        if (!view || !panecontract::InterfaceFile::bind(this, view.get(), &error))
            return false;
        setMainView(view.get());
        view->show();
        mainViewDidLoad();
        return true;
    }
    template<typename T>
    T *control(const char *name) const { return view->findChild<T *>(QLatin1StringView(name)); }
    void launchCursorApp() override { atLaunch.append(settings::PropertyList::readFile(domainFile())); }

    std::unique_ptr<QWidget> view;
    QVariantList atLaunch;
};

using Act = std::function<void(Page &)>;
using SliderAct = std::function<void(QSlider *)>;

// Opens the sheet with the hot key button, types KEYS and presses BUTTONS.
Act record(const QList<QKeyCombination> &keys, const QStringList &buttons)
{
    return [=](Page &page) {
        QTest::mouseClick(page.control<QPushButton>("hotkeyButton"), Qt::LeftButton);
        QDialog *sheet = PTKeyComboPanel::sharedPanel()->window();
        QCOMPARE(sheet->parentWidget(), page.view.get());
        QCOMPARE(PTKeyComboPanel::sharedPanel()->keyBindingName(), u"toggle the cursor"_s);
        for (const QKeyCombination key : keys)
            QTest::keyClick(static_cast<QWidget *>(nullptr), key.key(), key.keyboardModifiers());
        for (const QString &button : buttons)
            QTest::mouseClick(sheet->findChild<QPushButton *>(button), Qt::LeftButton);
    };
}

} // namespace

Q_DECLARE_METATYPE(Act)
Q_DECLARE_METATYPE(SliderAct)

class TestQuillvanePref : public QObject
{
    Q_OBJECT

    PrivateBus m_bus;
    std::unique_ptr<QTemporaryDir> m_config;
    std::unique_ptr<settings::PreferencesStore> m_store;
    FloatSlider m_slider; // set up as the interface file sets it up

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        QVERIFY2(m_bus.start(&error), qPrintable(error));
        m_slider.setLocale(QLocale(u"de_DE"_s));
        m_slider.setMaximum(120.0);
        m_slider.setValueFormat(u"%1 s"_s);
    }
    void init()
    {
        m_config = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config->path()));
        m_store = std::make_unique<settings::PreferencesStore>(m_config->path());
    }

    void loading_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<bool>("autoShow");
        QTest::addColumn<float>("idleHide");
        QTest::addColumn<PTKeyCombo>("hotKey");
        QTest::addColumn<bool>("typing");
        QTest::addColumn<QVariantMap>("seeded"); // empty: the file stays as it was
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QString>("notice"); // empty: none, and an X11 session

        QVariantMap seed{{u"autoShow"_s, true}, {u"idleHide"_s, 35.0}, {u"toggleCursorHotKey"_s, combo(40, 0x1800)}};
        QTest::newRow("first use seeds the three defaults before the launch; X11: no notice")
            << QVariantMap() << true << 35.0f << PTKeyCombo(40, 0x1800) << false << seed << ":0"_ba << QString();
        seed.insert(u"other"_s, u"kept"_s);
        QTest::newRow("without autoShow the other two are seeded over, others kept; XWayland: X11 windows only")
            << QVariantMap{{u"idleHide"_s, 10.0}, {u"toggleCursorHotKey"_s, combo(0, 256)}, {u"other"_s, u"kept"_s}}
            << true << 35.0f << PTKeyCombo(40, 0x1800) << false << seed << ":0"_ba << u"only over the windows of X11"_s;
        QTest::newRow("stored settings are shown and nothing is written; Wayland alone: nowhere")
            << QVariantMap{{u"autoShow"_s, false}, {u"idleHide"_s, 12.5}, {u"toggleCursorHotKey"_s, combo(0, 256)},
                           {u"hideWhileTyping"_s, true}}
            << false << 12.5f << PTKeyCombo(0, 256) << true << QVariantMap() << QByteArray() << u"cannot be hidden"_s;
        QTest::newRow("missing idle time and hot key read as 0 and none, and stay missing")
            << QVariantMap{{u"autoShow"_s, true}} << true << 0.0f << PTKeyCombo() << false << QVariantMap() << ":0"_ba
            << QString();
    }
    void loading()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(PTKeyCombo, hotKey);
        QFETCH(QVariantMap, seeded);
        QFETCH(QByteArray, display);
        QFETCH(QString, notice);
        const QByteArray before = qgetenv("DISPLAY");
        const auto restore = qScopeGuard([&] { qputenv("DISPLAY", before); qunsetenv("WAYLAND_DISPLAY"); });
        qputenv("DISPLAY", display);
        qputenv("WAYLAND_DISPLAY", notice.isEmpty() ? QByteArray() : "wayland-0"_ba);
        QVERIFY(stored.isEmpty() || store(stored));
        CursorServiceDouble service;
        Page page(*m_store);
        QVERIFY(service.registered && page.load());

        QTEST(page.control<QCheckBox>("autoShowButton")->isChecked(), "autoShow");
        QTEST(page.control<FloatSlider>("idleSlider")->floatValue(), "idleHide");
        QTEST(page.control<QCheckBox>("hideWhileTypingButton")->isChecked(), "typing");
        QCOMPARE(page.hotKey()->keyCombo(), hotKey);
        // The field shows the stored hot key, also after assistive technology typed over it.
        page.control<QLineEdit>("hotkeyField")->setText(u"typed over"_s);
        QCOMPARE(page.control<QLineEdit>("hotkeyField")->text(), hotKey.description());
        // Launched once, seeded first; sent nothing, and wrote nothing more.
        const QVariant onDisk = seeded.isEmpty() ? stored : seeded;
        QCOMPARE_VALUE(QVariant(page.atLaunch), QVariant(QVariantList{onDisk}));
        QCOMPARE_VALUE(settings::PropertyList::readFile(domainFile()), onDisk);
        QCOMPARE(readPrefsReceived(), 0);
        // The reach notice, if any, right under the description.
        auto *shown = page.control<QLabel>("reachNotice");
        QCOMPARE(shown ? page.view->layout()->indexOf(shown) : 1, 1);
        QVERIFY(shown ? shown->text().contains(notice) && !notice.isEmpty() : notice.isEmpty());
    }

    void actions_data()
    {
        QTest::addColumn<Act>("act");
        QTest::addColumn<QString>("key"); // empty: nothing is written
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<int>("readPrefs");

        const QKeyCombination controlShiftJ(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_J);
        QTest::newRow("a slider step writes the new value as a real") << Act([](Page &page) {
            QTest::keyClick(page.control<FloatSlider>("idleSlider")->slider(), Qt::Key_Right);
        }) << u"idleHide"_s << QVariant(21.0) << 1;
        QTest::newRow("a click on the check box writes true") << Act([](Page &page) {
            auto *box = page.control<QCheckBox>("autoShowButton");
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
        }) << u"autoShow"_s << QVariant(true) << 1;
        QTest::newRow("a mixed check box writes true") << Act([](Page &page) {
            page.control<QCheckBox>("autoShowButton")->setCheckState(Qt::PartiallyChecked);
        }) << u"autoShow"_s << QVariant(true) << 1;
        QTest::newRow("hiding while typing, by keyboard, writes true") << Act([](Page &page) {
            QTest::keyClick(page.control<QCheckBox>("hideWhileTypingButton"), Qt::Key_Space);
        }) << u"hideWhileTyping"_s << QVariant(true) << 1;
        QTest::newRow("the hot key button sends readPrefs, a cancelled sheet nothing more")
            << record({controlShiftJ}, {u"cancelButton"_s}) << QString() << QVariant() << 1;
        QTest::newRow("a confirmed combination is written and sent")
            << record({controlShiftJ}, {u"okButton"_s}) << u"toggleCursorHotKey"_s << combo(38, 0x1200) << 2;
        QTest::newRow("a cleared combination is written as -1, -1")
            << record({controlShiftJ}, {u"clearButton"_s, u"okButton"_s}) << u"toggleCursorHotKey"_s
            << combo(-1, -1) << 2;
    }
    void actions()
    {
        QFETCH(Act, act);
        QFETCH(QString, key);
        QFETCH(QVariant, value);
        QVariantMap stored{{u"autoShow"_s, false}, {u"idleHide"_s, 20.0}, {u"toggleCursorHotKey"_s, combo(40, 0x1800)}};
        QVERIFY(store(stored));
        CursorServiceDouble service;
        Page page(*m_store);
        QVERIFY(service.registered && page.load());
        // Another program's change meanwhile survives the page's write.
        stored.insert(u"other"_s, u"changed elsewhere"_s);
        QVERIFY(store(stored));

        act(page);
        if (!key.isEmpty())
            stored.insert(key, value);
        QCOMPARE_VALUE(settings::PropertyList::readFile(domainFile()), QVariant(stored));
        QTEST(readPrefsReceived(), "readPrefs");
        QVERIFY2(!service.replyRequested, "readPrefs was sent as a call that wants an answer");
        const PTKeyCombo hotKey(stored.value(u"toggleCursorHotKey"_s));
        QCOMPARE(page.control<QLineEdit>("hotkeyField")->text(), hotKey.description());
        // The cursor program holds the hot key, never the settings window.
        QVERIFY(!PTHotKeyCenter::sharedCenter()->hotKeyForName(page.hotKey()->name()));
    }

    void serviceLookup()
    {
        // Not running: the change is written all the same, nothing sent or logged.
        QTest::failOnWarning(QRegularExpression(u"."_s));
        QuillvanePref pane(*m_store);
        pane.writeIdleHide(1.5f);
        QVERIFY(!pane.cursorAppProxy());
        QCOMPARE_VALUE(settings::PropertyList::readFile(domainFile()), QVariant(QVariantMap{{u"idleHide"_s, 1.5}}));
        // Running: found by the next change; the proxy is kept while it is gone and reaches it back.
        auto service = std::make_unique<CursorServiceDouble>();
        pane.writeIdleHide(2.0f);
        const dbuslink::CursorControllerProxy *proxy = pane.cursorAppProxy();
        QVERIFY(proxy);
        service.reset();
        QTRY_VERIFY(!nameHasOwner(cursorBusName()));
        pane.writeIdleHide(3.0f);
        service = std::make_unique<CursorServiceDouble>();
        pane.writeIdleHide(4.0f);
        QCOMPARE(pane.cursorAppProxy(), proxy);
        QCOMPARE(readPrefsReceived(), 1);
    }

    void slider_data()
    {
        QTest::addColumn<float>("start"); // set from code, which commits nothing
        QTest::addColumn<SliderAct>("act");
        QTest::addColumn<float>("after");
        QTest::addColumn<QString>("text"); // in German, as the slider is
        QTest::addColumn<int>("commits");

        const SliderAct none;
        QTest::newRow("inside the range: kept exactly") << 35.3f << none << 35.3f << u"35,3"_s << 0;
        QTest::newRow("the float's digits, not the widened double's") << 0.1f << none << 0.1f << u"0,1"_s << 0;
        QTest::newRow("negative zero shows as zero") << -0.0f << none << 0.0f << u"0,0"_s << 0;
        QTest::newRow("above the range: the maximum, logged") << 500.0f << none << 120.0f << u"120,0"_s << 0;
        QTest::newRow("below the range: the minimum, logged") << -1.0f << none << 0.0f << u"0,0"_s << 0;
        const float nan = std::numeric_limits<float>::quiet_NaN();
        QTest::newRow("not a number: the minimum, logged") << nan << none << 0.0f << u"0,0"_s << 0;
        const auto key = [](Qt::Key key) -> SliderAct { return [key](QSlider *knob) { QTest::keyClick(knob, key); }; };
        QTest::newRow("a step") << 35.0f << key(Qt::Key_Right) << 36.0f << u"36,0"_s << 1;
        QTest::newRow("a page") << 35.0f << key(Qt::Key_PageUp) << 45.0f << u"45,0"_s << 1;
        QTest::newRow("no step past the end") << 120.0f << key(Qt::Key_Right) << 120.0f << u"120,0"_s << 0;
        QTest::newRow("from between steps to the next step") << 35.3f << key(Qt::Key_Right) << 36.0f << u"36,0"_s << 1;
        const auto drag = [](int to) -> SliderAct {
            return [to](QSlider *knob) {
                knob->setSliderDown(true);
                knob->setSliderPosition(50);
                knob->setSliderPosition(to);
                knob->setSliderDown(false);
            };
        };
        QTest::newRow("a drag, once the knob is let go") << 0.0f << drag(30) << 30.0f << u"30,0"_s << 1;
        QTest::newRow("no drag back to where it began") << 0.0f << drag(0) << 0.0f << u"0,0"_s << 0;
    }
    void slider()
    {
        QFETCH(float, start);
        QFETCH(SliderAct, act);
        QFETCH(float, after);
        QFETCH(QString, text);
        if (start >= 0.0f && start <= 120.0f)
            QTest::failOnWarning(QRegularExpression(u"."_s));
        else
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"."_s));
        QSignalSpy committed(&m_slider, &FloatSlider::valueCommitted);
        m_slider.setFloatValue(start);
        if (act)
            act(m_slider.slider());
        QTEST(int(committed.count()), "commits");
        QCOMPARE(m_slider.floatValue(), after);
        QCOMPARE(m_slider.slider()->value(), qRound(after));
        QCOMPARE(m_slider.findChild<QLabel *>()->text(), text + u" s"_s);
    }
};

QTEST_MAIN(TestQuillvanePref)
#include "tst_quillvanepref.moc"
