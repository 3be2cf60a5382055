#include "PTKeyCodeTranslator.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <xcb/xcb.h>
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString kNoCharacter(QChar(u'\0'));

} // namespace

class TestKeyCodeTranslator : public QObject
{
    Q_OBJECT

private:
    QStringList savedLayout; // setxkbmap arguments that bring the server's layout back
    // Held for the whole run: an X server whose last client leaves resets
    // itself, and with it the layout.
    std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> keepAlive{nullptr, xcb_disconnect};

    bool setServerLayout(const QStringList &arguments)
    {
        QProcess setxkbmap;
        setxkbmap.start(u"setxkbmap"_s, arguments);
        if (!setxkbmap.waitForFinished(10000)) {
            setxkbmap.kill();
            setxkbmap.waitForFinished();
            return false;
        }
        return setxkbmap.exitStatus() == QProcess::NormalExit && setxkbmap.exitCode() == 0;
    }

    // setxkbmap arguments for the server's layout now.
    QStringList serverLayout()
    {
        QProcess setxkbmap;
        setxkbmap.start(u"setxkbmap"_s, {u"-query"_s});
        if (!setxkbmap.waitForFinished(10000)) {
            setxkbmap.kill();
            setxkbmap.waitForFinished();
            return {};
        }
        QStringList arguments;
        const QStringList lines = QString::fromUtf8(setxkbmap.readAllStandardOutput()).split(u'\n');
        for (const QString &line : lines) {
            const qsizetype colon = line.indexOf(u':');
            const QString key = line.left(colon).trimmed();
            if (colon > 0 && QStringList{u"rules"_s, u"model"_s, u"layout"_s, u"variant"_s}.contains(key))
                arguments << u'-' + key << line.mid(colon + 1).trimmed();
            if (colon > 0 && key == u"options")
                arguments << u"-option"_s << u""_s << u"-option"_s << line.mid(colon + 1).trimmed();
        }
        return arguments;
    }

    // Locks the core keyboard's active layout (XKB group).
    void lockServerGroup(quint8 group)
    {
        xcb_connection_t *c = xcb_connect(nullptr, nullptr);
        std::free(xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr));
        xcb_xkb_latch_lock_state(c, XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1, group, 0, 0, 0);
        std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        xcb_disconnect(c);
    }

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            return;
        // The server may still be resetting after the previous client left.
        QTRY_VERIFY((keepAlive.reset(xcb_connect(nullptr, nullptr)), !xcb_connection_has_error(keepAlive.get())));
    }

    void translateKeyCode_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<int>("keyCode");
        QTest::addColumn<QString>("character");

        QTest::newRow("us: Y position gives y") << u"us"_s << 16 << u"y"_s;
        QTest::newRow("de: Y position gives z") << u"de"_s << 16 << u"z"_s;
        QTest::newRow("us: A position gives a") << u"us"_s << 0 << u"a"_s;
        QTest::newRow("fr: A position gives q") << u"fr"_s << 0 << u"q"_s;
        QTest::newRow("de: semicolon position gives o umlaut") << u"de"_s << 41 << u"ö"_s;
        QTest::newRow("us: digit without shift") << u"us"_s << 18 << u"1"_s;
        QTest::newRow("fr: digit position gives its unshifted symbol") << u"fr"_s << 18 << u"&"_s;
        QTest::newRow("de: dead key gives its accent") << u"de"_s << 24 << u"´"_s;
        QTest::newRow("us: Return gives carriage return") << u"us"_s << 36 << u"\r"_s;
        QTest::newRow("us: keypad key without Num Lock gives no character") << u"us"_s << 83 << kNoCharacter;
        QTest::newRow("us: modifier key gives no character") << u"us"_s << 56 << kNoCharacter;
        QTest::newRow("us: function key gives no character") << u"us"_s << 122 << kNoCharacter;
        QTest::newRow("us: code of no key") << u"us"_s << 52 << kNoCharacter;
        QTest::newRow("us: negative code") << u"us"_s << -1 << kNoCharacter;
    }

    void translateKeyCode()
    {
        QFETCH(QString, layout);
        QFETCH(int, keyCode);
        QFETCH(QString, character);

        const PTKeyCodeTranslator translator(PTKeyCodeTranslator::keyboardLayoutWithNames(layout));
        QVERIFY(translator.keyboardLayout().keymap);
        const QString result = translator.translateKeyCode(qint16(keyCode));
        QCOMPARE(result.size(), 1);
        QCOMPARE(result, character);
    }

    void description_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("description");
        QTest::newRow("us") << u"us"_s << u"PTKeyCodeTranslator layout=English (US) (uchr)"_s;
        QTest::newRow("de") << u"de"_s << u"PTKeyCodeTranslator layout=German (uchr)"_s;
    }

    void description()
    {
        QFETCH(QString, layout);
        QFETCH(QString, description);
        const PTKeyCodeTranslator translator(PTKeyCodeTranslator::keyboardLayoutWithNames(layout));
        QCOMPARE(translator.description(), description);
    }

    void layoutThatDoesNotCompile()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"^Keyboard layout \"no-such-layout\".*does not compile"_s));
        const PTKeyCodeTranslator translator(PTKeyCodeTranslator::keyboardLayoutWithNames(u"no-such-layout"_s));
        QVERIFY(!translator.keyboardLayout().keymap);
        QCOMPARE(translator.translateKeyCode(16), kNoCharacter);
        QCOMPARE(translator.description(), u"PTKeyCodeTranslator layout= (uchr)"_s);
    }

    void currentTranslatorFollowsTheServer()
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY"))
            QSKIP("needs an X display");
        if (QStandardPaths::findExecutable(u"setxkbmap"_s).isEmpty())
            QSKIP("needs setxkbmap");
        savedLayout = serverLayout();
        QVERIFY(!savedLayout.isEmpty());
        QVERIFY(setServerLayout({u"us"_s}));

        const auto us = PTKeyCodeTranslator::currentTranslator();
        QCOMPARE(PTKeyCodeTranslator::currentTranslator(), us);
        QCOMPARE(us->layoutName(), u"English (US)"_s);
        QCOMPARE(us->translateKeyCode(16), u"y"_s);

        QVERIFY(setServerLayout({u"de"_s}));
        const auto de = PTKeyCodeTranslator::currentTranslator();
        QVERIFY(de != us);
        QCOMPARE(PTKeyCodeTranslator::currentTranslator(), de);
        QCOMPARE(de->description(), u"PTKeyCodeTranslator layout=German (uchr)"_s);
        QCOMPARE(de->translateKeyCode(16), u"z"_s);
        QCOMPARE(us->translateKeyCode(16), u"y"_s); // the earlier one keeps its layout

        // Two layouts, switched between on the server.
        QVERIFY(setServerLayout({u"us,fr"_s}));
        const auto first = PTKeyCodeTranslator::currentTranslator();
        QVERIFY(first != de);
        QCOMPARE(first->layoutName(), u"English (US)"_s);
        lockServerGroup(1);
        const auto second = PTKeyCodeTranslator::currentTranslator();
        QVERIFY(second != first);
        QCOMPARE(second->layoutName(), u"French"_s);
        QCOMPARE(second->translateKeyCode(0), u"q"_s);
        QCOMPARE(first->translateKeyCode(0), u"a"_s);
        lockServerGroup(0);
    }

    void cleanupTestCase()
    {
        if (!savedLayout.isEmpty())
            QVERIFY(setServerLayout(savedLayout));
        keepAlive.reset();
    }
};

QTEST_GUILESS_MAIN(TestKeyCodeTranslator)
#include "tst_keycodetranslator.moc"
