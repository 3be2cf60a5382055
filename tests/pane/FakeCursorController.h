#pragma once

// A stand-in for the cursor application's service, on a bus connection of its
// own so that it is a separate peer to the pane, as the real program is.

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QtDBus/qtdbusglobal.h>

class FakeCursorController : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.quillvane.CursorController")

public:
    int readPrefsCount = 0;
    // Set when any readPrefs arrived as a call that wants an answer.
    bool replyRequested = false;

public Q_SLOTS:
    Q_NOREPLY void readPrefs()
    {
        ++readPrefsCount;
        replyRequested = replyRequested || message().isReplyRequired();
    }

    // Answered in order after everything the caller sent before.
    int received() { return readPrefsCount; }
};

class FakeCursorService
{
public:
    explicit FakeCursorService(const QString &connectionName)
        : m_connectionName(connectionName)
        , m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName))
    {
        m_bus.registerObject(QStringLiteral("/"), &controller, QDBusConnection::ExportAllSlots);
        registered = m_bus.interface()->registerService(QStringLiteral("org.quillvane.QuillvaneServer"),
                                                        QDBusConnectionInterface::DontQueueService)
                         .value()
            == QDBusConnectionInterface::ServiceRegistered;
    }

    ~FakeCursorService()
    {
        m_bus.unregisterObject(QStringLiteral("/"));
        QDBusConnection::disconnectFromBus(m_connectionName);
    }

    FakeCursorController controller;
    bool registered = false;

private:
    QString m_connectionName;
    QDBusConnection m_bus;
};
