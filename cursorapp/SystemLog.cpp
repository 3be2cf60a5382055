#include "SystemLog.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

namespace {

constexpr char JournalSocket[] = "/run/systemd/journal/socket";

QByteArray g_identifier;
QtMessageHandler g_previousHandler = nullptr;
int g_journal = -1;

int priorityOf(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return LOG_DEBUG;
    case QtInfoMsg:
        return LOG_INFO;
    case QtWarningMsg:
        return LOG_WARNING;
    case QtCriticalMsg:
        return LOG_ERR;
    case QtFatalMsg:
        return LOG_CRIT;
    }
    return LOG_NOTICE;
}

// One entry of the journal's native protocol: KEY=value lines; a value with
// a line break goes as KEY, a line break, its length as 64-bit little
// endian, the bytes and a line break.
void appendField(QByteArray *entry, const char *key, const QByteArray &value)
{
    entry->append(key);
    if (!value.contains('\n')) {
        entry->append('=').append(value).append('\n');
        return;
    }
    entry->append('\n');
    quint64 size = quint64(value.size());
    for (int i = 0; i < 8; ++i, size >>= 8)
        entry->append(char(size & 0xff));
    entry->append(value).append('\n');
}

bool sendToJournal(int priority, const QByteArray &message)
{
    if (g_journal < 0)
        return false;
    QByteArray entry;
    appendField(&entry, "PRIORITY", QByteArray::number(priority));
    appendField(&entry, "SYSLOG_IDENTIFIER", g_identifier);
    appendField(&entry, "MESSAGE", message);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, JournalSocket, sizeof JournalSocket);
    return ::sendto(g_journal, entry.constData(), size_t(entry.size()), MSG_NOSIGNAL,
                    reinterpret_cast<const sockaddr *>(&address), sizeof address)
        == entry.size();
}

void handleMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    const QByteArray message = qFormatLogMessage(type, context, text).toUtf8();
    const int priority = priorityOf(type);
    if (!sendToJournal(priority, message))
        ::syslog(priority, "%s", message.constData());
    if (g_previousHandler)
        g_previousHandler(type, context, text);
}

} // namespace

void logToSystemLogUnlessTerminal(const char *identifier)
{
    if (::isatty(STDERR_FILENO))
        return;
    g_identifier = identifier;
    g_journal = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (g_journal >= 0 && ::access(JournalSocket, W_OK) != 0) {
        ::close(g_journal);
        g_journal = -1;
    }
    if (g_journal < 0)
        ::openlog(g_identifier.constData(), LOG_PID, LOG_USER);
    g_previousHandler = qInstallMessageHandler(handleMessage);
}
