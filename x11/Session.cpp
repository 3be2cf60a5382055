#include "Session.h"

#include <QString>
#include <QtGlobal>

using namespace Qt::StringLiterals;

namespace x11 {

bool isWaylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        || qEnvironmentVariable("XDG_SESSION_TYPE").compare(u"wayland"_s, Qt::CaseInsensitive) == 0;
}

} // namespace x11
