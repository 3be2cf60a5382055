#pragma once

// Everything in the pane plug-in is hidden unless marked with this: the
// login item functions, the hot key library's classes and the principal class.
#define QUILLVANE_EXPORT __attribute__((visibility("default")))
