#pragma once

#include <QString>

namespace host {

// Installs the translation BASENAME_<language>.qm from FOLDER for the user's
// languages, the first that exists. False when there is none, which leaves
// the texts as they are written.
bool installTranslator(const QString &folder, const QString &baseName);

} // namespace host
