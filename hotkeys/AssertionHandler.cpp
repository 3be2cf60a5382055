#include "AssertionHandler.h"

#include <QLoggingCategory>

using namespace Qt::StringLiterals;

namespace hotkeys {

namespace {
Q_LOGGING_CATEGORY(lcAssertion, "quillvane.hotkeys.assertion", QtWarningMsg)
} // namespace

AssertionFailure::AssertionFailure(const QByteArray &method, const QString &fileName, int line,
                                   const QString &description)
    : m_method(method)
    , m_fileName(fileName)
    , m_line(line)
    , m_description(description)
    , m_what(u"Assertion failure in %1, %2:%3: %4"_s
                 .arg(QString::fromUtf8(method), fileName)
                 .arg(line)
                 .arg(description)
                 .toUtf8())
{
}

AssertionHandler *AssertionHandler::currentHandler()
{
    thread_local AssertionHandler handler;
    return &handler;
}

void AssertionHandler::handleFailureInMethod(const QByteArray &method, const void *object, const QString &fileName,
                                             int line, const QString &description)
{
    qCCritical(lcAssertion).noquote() << u"*** Assertion failure in %1, object 0x%2, %3:%4: %5"_s
                                             .arg(QString::fromUtf8(method))
                                             .arg(quintptr(object), 0, 16)
                                             .arg(fileName)
                                             .arg(line)
                                             .arg(description);
    throw AssertionFailure(method, fileName, line, description);
}

} // namespace hotkeys
