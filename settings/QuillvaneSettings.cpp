#include "QuillvaneSettings.h"

#include <QLoggingCategory>

#include <cmath>
#include <limits>

Q_LOGGING_CATEGORY(lcSettings, "quillvane.settings.rules", QtWarningMsg)

namespace {

// A stored boolean as itself, a stored number as true unless it is zero;
// nullopt for any other type.
std::optional<bool> booleanReading(const QVariant &stored)
{
    switch (stored.typeId()) {
    case QMetaType::Bool:
        return stored.toBool();
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return stored.toLongLong() != 0;
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return stored.toULongLong() != 0;
    case QMetaType::Float:
    case QMetaType::Double:
        return stored.toDouble() != 0.0;
    default:
        return std::nullopt;
    }
}

} // namespace

bool QuillvaneSettings::autoShowReading(const QVariant &stored)
{
    if (const std::optional<bool> reading = booleanReading(stored))
        return *reading;
    qCWarning(lcSettings).nospace().noquote() << "The setting " << AutoShowKey << " holds a " << stored.typeName()
                                              << " instead of a boolean; reading it as true";
    return true;
}

bool QuillvaneSettings::hideWhileTypingReading(const QVariant &stored)
{
    if (!stored.isValid())
        return false;
    if (const std::optional<bool> reading = booleanReading(stored))
        return *reading;
    qCWarning(lcSettings).nospace().noquote() << "The setting " << HideWhileTypingKey << " holds a "
                                              << stored.typeName() << " instead of a boolean; reading it as false";
    return false;
}

float QuillvaneSettings::idleHideReading(const QVariant &stored)
{
    switch (stored.typeId()) {
    case QMetaType::UnknownType:
        return 0.0f;
    case QMetaType::Bool:
        return stored.toBool() ? 1.0f : 0.0f;
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return float(stored.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return float(stored.toULongLong());
    case QMetaType::Float:
    case QMetaType::Double: {
        const double value = stored.toDouble();
        if (std::isnan(value))
            return std::numeric_limits<float>::quiet_NaN();
        // Narrowing a double beyond the float range is undefined; saturate.
        if (std::abs(value) > double(std::numeric_limits<float>::max()))
            return value < 0 ? -std::numeric_limits<float>::infinity() : std::numeric_limits<float>::infinity();
        return float(value);
    }
    default:
        qCWarning(lcSettings).nospace().noquote() << "The setting " << IdleHideKey << " holds a " << stored.typeName()
                                        << " instead of a number; reading it as 0";
        return 0.0f;
    }
}

void QuillvaneSettings::setFirstUseValues(settings::PreferencesStore &store)
{
    const QuillvaneSettings firstUse;
    store.setAppValue(AutoShowKey, firstUse.autoShow, Domain);
    store.setAppValue(IdleHideKey, double(firstUse.idleHide), Domain);
    store.setAppValue(ToggleCursorHotKeyKey, firstUse.toggleCursorHotKey.dictionary(), Domain);
}

std::optional<QuillvaneSettings> QuillvaneSettings::readStored(settings::PreferencesStore &store)
{
    const QVariant autoShow = store.copyAppValue(AutoShowKey, Domain);
    if (!autoShow.isValid())
        return std::nullopt;
    QuillvaneSettings read;
    read.autoShow = autoShowReading(autoShow);
    read.idleHide = idleHideReading(store.copyAppValue(IdleHideKey, Domain));
    read.toggleCursorHotKey =
        settings::StoredKeyCombo::fromDictionary(store.copyAppValue(ToggleCursorHotKeyKey, Domain));
    read.hideWhileTyping = hideWhileTypingReading(store.copyAppValue(HideWhileTypingKey, Domain));
    return read;
}
