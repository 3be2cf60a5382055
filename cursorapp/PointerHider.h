#pragma once

#include <QString>

#include <memory>

class XConnection;

// Hides the pointer on every screen with XFixes. The server counts the hides
// of each client and shows the pointer again when that client goes away, so
// a pointer hidden here never outlives the program, even one that crashed.
// Hides and shows are kept balanced: a show without a hide is an X error.
class PointerHider
{
public:
    // Null when the server lacks XFixes 4; *WHYNOT then says so.
    static std::unique_ptr<PointerHider> create(XConnection &x, QString *whyNot);

    ~PointerHider();
    Q_DISABLE_COPY_MOVE(PointerHider)

    bool isHidden() const { return m_hidden; }
    // Each does nothing when the pointer already is so.
    void hide();
    void show();

private:
    explicit PointerHider(XConnection &x);

    XConnection &m_x;
    bool m_hidden = false;
};
