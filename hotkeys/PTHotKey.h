#pragma once

#include "PTKeyCombo.h"
#include "Export.h"
#include "HotKeyEventSource.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

// One system-wide hot key: a name, a key combination, and a target with an
// action to call when it is pressed. Held by std::shared_ptr and compared by
// identity. The registration itself is PTHotKeyCenter's business; while it
// has the hot key registered, carbonHotKey() holds the registration.
class QUILLVANE_EXPORT PTHotKey
{
public:
    // No name, the clear combination, no target, no action, no registration.
    PTHotKey();
    virtual ~PTHotKey();
    Q_DISABLE_COPY_MOVE(PTHotKey)

    QString name() const { return mName; }
    void setName(const QString &name) { mName = name; }

    PTKeyCombo keyCombo() const { return mKeyCombo; }
    void setKeyCombo(const PTKeyCombo &keyCombo) { mKeyCombo = keyCombo; }

    // Not owned; a destroyed target reads as null and is never called.
    QObject *target() const { return mTarget.data(); }
    void setTarget(QObject *target) { mTarget = target; }

    // The name of an invokable method of the target that takes a PTHotKey *,
    // such as "hotKeyPressed" for Q_INVOKABLE void hotKeyPressed(PTHotKey *).
    QByteArray action() const { return mAction; }
    void setAction(const QByteArray &action) { mAction = action; }

    systemhotkeys::HotKeyRef carbonHotKey() const { return mCarbonHotKey; }
    void setCarbonHotKey(systemhotkeys::HotKeyRef carbonHotKey) { mCarbonHotKey = carbonHotKey; }

    // Calls the action on the target with this hot key, on the calling
    // thread; does nothing without an action or target. A target without
    // such a method gets a log line.
    void invoke();

    // "<ClassName: display string>", with the class this object really has.
    QString description() const;

private:
    QString mName;
    PTKeyCombo mKeyCombo;
    QPointer<QObject> mTarget;
    QByteArray mAction;
    systemhotkeys::HotKeyRef mCarbonHotKey = systemhotkeys::HotKeyRef::Null;
};
