#pragma once

#include "Export.h"

#include <QByteArray>
#include <QString>

#include <exception>

namespace hotkeys {

// What a failed internal consistency check throws: the operation that found
// it, the source file name and line it reports, and its message.
class QUILLVANE_EXPORT AssertionFailure : public std::exception
{
public:
    AssertionFailure(const QByteArray &method, const QString &fileName, int line, const QString &description);

    QByteArray method() const { return m_method; }
    QString fileName() const { return m_fileName; }
    int line() const { return m_line; }
    QString description() const { return m_description; }

    const char *what() const noexcept override { return m_what.constData(); }

private:
    QByteArray m_method;
    QString m_fileName;
    int m_line;
    QString m_description;
    QByteArray m_what;
};

} // namespace hotkeys
