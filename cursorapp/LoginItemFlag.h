#pragma once

namespace platform {
class Bundle;
}

// Whether the first login item that opens BUNDLE asks for a hidden start.
// False when no login item opens it or the list cannot be read.
bool loginItemIsHidden(const platform::Bundle &bundle);
