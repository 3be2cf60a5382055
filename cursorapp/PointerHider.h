#pragma once

#include "PointerInterfaces.h"

#include <QString>

#include <memory>

namespace x11 {
class XConnection;
}

// Hides the pointer on every screen with XFixes. The server counts the hides
// of each client and shows the pointer again when that client goes away, so
// a pointer hidden here never outlives the program, even one that crashed.
// Hides and shows are kept balanced: a show without a hide is an X error.
class PointerHider : public AbstractPointerHider
{
public:
    // Null when the server lacks XFixes 4; *ERRORSTRING then says so.
    static std::unique_ptr<PointerHider> create(x11::XConnection &x, QString *errorString);

    ~PointerHider() override;
    Q_DISABLE_COPY_MOVE(PointerHider)

    bool isHidden() const override { return m_hidden; }
    void hide() override;
    void show() override;

private:
    explicit PointerHider(x11::XConnection &x);

    x11::XConnection &m_x;
    bool m_hidden = false;
};
