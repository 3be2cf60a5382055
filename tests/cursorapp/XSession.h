#pragma once

// A private X server whose screen can be read back with the drawn pointer in
// it, and a client that plays the user: it gives the root window a cursor,
// moves the pointer, presses buttons and keys with XTest and holds key grabs.

#include "KeyCodeTable.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QFile>
#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QtEndian>

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>
#include <memory>

namespace xsession {

// Xvfb on a free display number, its screen kept in a file in XWD format.
// The server draws the pointer into that screen itself, so the file shows
// what a user would see, pointer included; screenshots never do.
class PrivateXServer
{
public:
    ~PrivateXServer() { stop(); }

    // SCREENS screens of 640x480, side by side.
    bool start(QString *error, int screens = 1)
    {
        if (!m_dir.isValid()) {
            *error = QStringLiteral("no temporary folder");
            return false;
        }
        m_server.setProgram(QStringLiteral("Xvfb"));
        // A black root window, so that only the pointer has colour.
        QStringList arguments{QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-fbdir"),
                              m_dir.path(), QStringLiteral("-nolisten"), QStringLiteral("tcp"), QStringLiteral("-br")};
        for (int screen = 0; screen < screens; ++screen)
            arguments << QStringLiteral("-screen") << QString::number(screen) << QStringLiteral("640x480x24");
        m_server.setArguments(arguments);
        m_server.setStandardErrorFile(QProcess::nullDevice());
        m_server.start();
        if (!m_server.waitForStarted(5000)) {
            *error = QStringLiteral("Xvfb did not start: ") + m_server.errorString();
            return false;
        }
        const QDeadlineTimer deadline(10000);
        while (!m_server.canReadLine() && !deadline.hasExpired() && m_server.state() == QProcess::Running)
            m_server.waitForReadyRead(int(deadline.remainingTime()));
        const QByteArray number = m_server.readLine().trimmed();
        if (number.isEmpty()) {
            *error = QStringLiteral("Xvfb printed no display number");
            return false;
        }
        m_display = ':' + number;
        return true;
    }

    void stop()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.kill();
        m_server.waitForFinished(5000);
    }

    QByteArray display() const { return m_display; }
    // The screen in XWD format, as the server keeps it up to date.
    QString screenFile(int screen = 0) const { return m_dir.filePath(QStringLiteral("Xvfb_screen%1").arg(screen)); }

    // The pixels of a screen that have COLOUR (0xRRGGBB); -1 when the file
    // cannot be read.
    int countPixels(const QList<quint32> &colours, int screen = 0) const
    {
        QFile file(screenFile(screen));
        if (!file.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray data = file.readAll();
        // The XWD header: 25 big-endian 32-bit fields, then the window name,
        // then ncolors colour entries of 12 bytes, then the pixels.
        if (data.size() < 100)
            return -1;
        const auto field = [&data](int index) { return qFromBigEndian<quint32>(data.constData() + 4 * index); };
        const quint32 headerSize = field(0), width = field(4), height = field(5), byteOrder = field(7),
                      bitsPerPixel = field(11), bytesPerLine = field(12), ncolors = field(19);
        const qint64 pixels = qint64(headerSize) + 12 * qint64(ncolors);
        if (bitsPerPixel != 32 || pixels + qint64(bytesPerLine) * height > data.size())
            return -1;
        int count = 0;
        for (quint32 y = 0; y < height; ++y) {
            const char *line = data.constData() + pixels + qint64(bytesPerLine) * y;
            for (quint32 x = 0; x < width; ++x) {
                const quint32 pixel = byteOrder == 0 ? qFromLittleEndian<quint32>(line + 4 * x)
                                                     : qFromBigEndian<quint32>(line + 4 * x);
                count += colours.contains(pixel & 0xffffff);
            }
        }
        return count;
    }

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    QByteArray m_display;
};

// A client of the private server, connected for the whole test: the server
// takes back the root window's cursor when the client that set it leaves.
class User
{
public:
    static constexpr quint32 CursorForeground = 0xff0000;
    static constexpr quint32 CursorBackground = 0x00ff00;

    explicit User(const QByteArray &display)
        : m_connection(xcb_connect(display.constData(), nullptr))
    {
        if (!isValid())
            return;
        for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c())); it.rem; xcb_screen_next(&it))
            m_roots.append(it.data->root);
        m_root = m_roots.constFirst();
    }

    bool isValid() const { return !xcb_connection_has_error(c()); }
    xcb_connection_t *c() const { return m_connection.get(); }

    // The arrow of the cursor font in the two colours above, on every screen.
    void giveRootACursor()
    {
        constexpr quint16 leftPointer = 68; // its mask is the next glyph
        const xcb_font_t font = xcb_generate_id(c());
        xcb_open_font(c(), font, 6, "cursor");
        const xcb_cursor_t cursor = xcb_generate_id(c());
        xcb_create_glyph_cursor(c(), cursor, font, font, leftPointer, leftPointer + 1, 0xffff, 0, 0, 0, 0xffff, 0);
        for (const xcb_window_t root : std::as_const(m_roots))
            xcb_change_window_attributes(c(), root, XCB_CW_CURSOR, &cursor);
        xcb_close_font(c(), font);
        sync();
    }

    void moveTo(qint16 x, qint16 y)
    {
        xcb_test_fake_input(c(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_root, x, y, 0);
        sync();
    }

    // Xvfb's pointer does not move across screens; a warp takes it there.
    void warpTo(qint16 x, qint16 y, int screen)
    {
        xcb_warp_pointer(c(), XCB_NONE, m_roots.value(screen), 0, 0, 0, 0, x, y);
        sync();
    }

    void button(quint8 button, bool press)
    {
        xcb_test_fake_input(c(), press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME,
                            XCB_NONE, 0, 0, 0);
        sync();
    }

    void scroll(int clicks)
    {
        for (int i = 0; i < clicks; ++i) {
            button(5, true);
            button(5, false);
        }
    }

    // Holds the modifiers of a Carbon mask, taps the key of a virtual key
    // code, lets go.
    void typeHotKey(qint32 virtualKeyCode, quint32 carbonModifiers)
    {
        const QList<quint8> modifiers = modifierKeys(carbonModifiers);
        for (const quint8 key : modifiers)
            this->key(key, true);
        const quint8 keyCode = *x11::KeyCodeTable::xKeyCode(virtualKeyCode);
        key(keyCode, true);
        key(keyCode, false);
        for (auto it = modifiers.crbegin(); it != modifiers.crend(); ++it)
            key(*it, false);
        sync();
    }

    // False when the server refuses: another client holds the combination.
    bool grabHotKey(qint32 virtualKeyCode, quint32 carbonModifiers)
    {
        const XcbError error(xcb_request_check(
            c(), xcb_grab_key_checked(c(), 1, m_root, x11::KeyCodeTable::xModifiers(carbonModifiers),
                                      *x11::KeyCodeTable::xKeyCode(virtualKeyCode), XCB_GRAB_MODE_ASYNC,
                                      XCB_GRAB_MODE_ASYNC)));
        return !error;
    }

    void ungrabHotKey(qint32 virtualKeyCode, quint32 carbonModifiers)
    {
        xcb_ungrab_key(c(), *x11::KeyCodeTable::xKeyCode(virtualKeyCode), m_root,
                       x11::KeyCodeTable::xModifiers(carbonModifiers));
        sync();
    }

    // Whether another client holds the combination now; probes with a grab
    // of its own that it lets go at once.
    bool hotKeyIsHeldElsewhere(qint32 virtualKeyCode, quint32 carbonModifiers)
    {
        if (!grabHotKey(virtualKeyCode, carbonModifiers))
            return true;
        ungrabHotKey(virtualKeyCode, carbonModifiers);
        return false;
    }

    void sync() { std::free(xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr)); }

private:
    struct Disconnect
    {
        void operator()(xcb_connection_t *connection) const { xcb_disconnect(connection); }
    };
    struct Free
    {
        void operator()(void *p) const { std::free(p); }
    };
    using XcbError = std::unique_ptr<xcb_generic_error_t, Free>;

    void key(quint8 keyCode, bool press)
    {
        xcb_test_fake_input(c(), press ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keyCode, XCB_CURRENT_TIME, XCB_NONE, 0,
                            0, 0);
    }

    static QList<quint8> modifierKeys(quint32 carbonModifiers)
    {
        using x11::KeyCodeTable;
        // The left-hand keys, by their virtual key codes.
        const std::pair<quint32, qint32> keys[] = {
            {KeyCodeTable::CommandKey, 55},
            {KeyCodeTable::ShiftKey, 56},
            {KeyCodeTable::OptionKey, 58},
            {KeyCodeTable::ControlKey, 59},
        };
        QList<quint8> held;
        for (const auto &[modifier, virtualKeyCode] : keys) {
            if (carbonModifiers & modifier)
                held.append(*KeyCodeTable::xKeyCode(virtualKeyCode));
        }
        return held;
    }

    std::unique_ptr<xcb_connection_t, Disconnect> m_connection;
    QList<xcb_window_t> m_roots;
    xcb_window_t m_root = XCB_NONE;
};

} // namespace xsession
