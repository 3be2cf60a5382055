#pragma once

#include "Export.h"

#include <QString>

namespace loginitems {

// Starts applications the way a desktop launcher does.
class QUILLVANE_EXPORT Workspace
{
public:
    // Starts the executable of the application bundle at PATH as a process of
    // its own: detached (it outlives the caller and is never waited for), in
    // the root folder, its standard streams on /dev/null so that it holds none
    // of the caller's open. False, with a log line, when there is no bundle at
    // PATH, the bundle names no executable that is there, or it cannot start.
    static bool launchApplication(const QString &path);
};

} // namespace loginitems
