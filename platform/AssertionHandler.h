#pragma once

#include "platform/Export.h"

#include <QByteArray>
#include <QString>

#include <exception>

namespace platform {

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

} // namespace platform
