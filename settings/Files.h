#pragma once

#include <QByteArray>
#include <QString>

namespace settings {

// What readBoundedFile() found.
enum class FileRead {
    Read,       // *data holds the whole file
    Missing,    // nothing at the path (or a dangling link)
    NotRegular, // a folder, a FIFO, a device ...: never opened for reading
    TooLarge,   // over the bound, or grew past it while being read
    Failed,     // could not be opened or read; *errorString says why
};

// Reads the regular file at PATH, at most MAXIMUM bytes. The file is opened
// without blocking (a FIFO or a device in its place never stalls the caller)
// and checked on the open descriptor, so that what is read is what was
// checked. Reads are repeated after EINTR and grow the buffer with the file,
// not with the bound. *errorString is set for every outcome but Read.
FileRead readBoundedFile(const QString &path, qint64 maximum, QByteArray *data, QString *errorString);

// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute
// path (a relative one is ignored, as the base-directory rules say), else
// $HOME/.config when HOME is absolute. Empty when neither names an absolute
// folder.
QString configHome();

// Creates PATH and its missing parents, each private to the user (0700). True
// when PATH is a folder afterwards; *errorString says why not.
bool makePrivateFolder(const QString &path, QString *errorString);

} // namespace settings
