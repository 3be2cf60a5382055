#pragma once

#include "AssertionFailure.h"
#include "Export.h"

#include <QByteArray>
#include <QString>


namespace hotkeys {

// Reports programming errors: logs the operation, the object, the file, the
// line and the message, then throws AssertionFailure, which ends the
// operation. Whoever dispatches events catches it, so that it never unwinds
// through Qt's or the X server's event dispatch.
class QUILLVANE_EXPORT AssertionHandler
{
public:
    // The handler of the calling thread.
    static AssertionHandler *currentHandler();

    [[noreturn]] void handleFailureInMethod(const QByteArray &method, const void *object, const QString &fileName,
                                            int line, const QString &description);
};

} // namespace hotkeys
