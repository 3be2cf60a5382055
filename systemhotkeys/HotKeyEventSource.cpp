#include "HotKeyEventSource.h"

namespace systemhotkeys {

quint32 osTypeFromString(QStringView code)
{
    if (code.size() != 4)
        return 0;
    quint32 type = 0;
    for (const QChar c : code) {
        if (c.unicode() > 0xff)
            return 0;
        type = (type << 8) | c.unicode();
    }
    return type;
}

HotKeyEvent::HotKeyEvent(quint32 eventClass, quint32 eventKind, std::optional<HotKeyID> hotKeyID)
    : m_class(eventClass)
    , m_kind(eventKind)
    , m_hotKeyID(hotKeyID)
{
}

qint32 HotKeyEvent::parameter(quint32 name, quint32 type, HotKeyID *out) const
{
    if (!out)
        return paramErr;
    if (name != kEventParamDirectObject || type != typeEventHotKeyID || !m_hotKeyID)
        return eventParameterNotFoundErr;
    *out = *m_hotKeyID;
    return noErr;
}

} // namespace systemhotkeys
