#pragma once

#include "Export.h"

#include <QObject>
#include <QString>
#include <QVariantMap>

namespace hotkeys {

// One announcement: a name, the object that sent it (may be null) and a
// dictionary of details.
class QUILLVANE_EXPORT Notification
{
public:
    Notification(const QString &name, QObject *object, const QVariantMap &userInfo = {});

    QString name() const { return m_name; }
    QObject *object() const { return m_object; }
    QVariantMap userInfo() const { return m_userInfo; }

private:
    QString m_name;
    QObject *m_object;
    QVariantMap m_userInfo;
};

} // namespace hotkeys
