#include "PTHotKeyCenter.h"

#include "AssertionHandler.h"
#include "PTKeyCodeTranslator.h"
#include "PortalHotKeyEventSource.h"
#include "SessionHotKeyEventSource.h"
#include "ShortcutTrigger.h"

#include <QLoggingCategory>

using namespace Qt::StringLiterals;

namespace {

Q_LOGGING_CATEGORY(lcHotKeyCenter, "quillvane.hotkeys.center", QtWarningMsg)

// The file name and line numbers that the center's programming errors are
// reported under, one per check; they stay the same as the code moves.
const QString kSourceFileName = u"PTHotKeyCenter"_s;
constexpr int kUnregisterWithoutReferenceLine = 113;
constexpr int kUnknownEventClassLine = 208;
constexpr int kUnknownEventKindLine = 239;

PTHotKeyCenter *_sharedHotKeyCenter = nullptr;

quint32 hotKeySignature()
{
    return systemhotkeys::osTypeFromString(u"PTHk");
}

} // namespace

PTHotKeyCenter *PTHotKeyCenter::sharedCenter()
{
    if (_sharedHotKeyCenter)
        return _sharedHotKeyCenter;
    const std::shared_ptr<systemhotkeys::HotKeyEventSource> source = systemhotkeys::sessionHotKeyEventSource();
    // Where the desktop binds the hot keys, it proposes the key that the
    // combination names in the current layout, and shows the user each hot
    // key by its name.
    if (auto *portal = dynamic_cast<systemhotkeys::PortalHotKeyEventSource *>(source.get())) {
        portal->setTriggerFunction([](quint32 keyCode, quint32 modifiers) {
            const PTKeyCodeTranslator::KeyboardLayout layout =
                PTKeyCodeTranslator::currentTranslator()->keyboardLayout();
            return systemhotkeys::shortcutTrigger(keyCode, modifiers, layout.keymap.get(), layout.layoutIndex);
        });
        portal->setDescriptionFunction([](systemhotkeys::HotKeyRef ref) {
            const QList<std::shared_ptr<PTHotKey>> hotKeys = _sharedHotKeyCenter->allHotKeys();
            const auto it = std::find_if(hotKeys.cbegin(), hotKeys.cend(),
                                         [ref](const auto &hotKey) { return hotKey->carbonHotKey() == ref; });
            return it == hotKeys.cend() ? QString() : (*it)->name();
        });
    }
    _sharedHotKeyCenter = new PTHotKeyCenter(source);
    return _sharedHotKeyCenter;
}

PTHotKeyCenter::PTHotKeyCenter(std::shared_ptr<systemhotkeys::HotKeyEventSource> source)
    : mSource(std::move(source))
{
}

PTHotKeyCenter::~PTHotKeyCenter()
{
    // The handler refers to this center.
    if (mEventHandlerInstalled)
        mSource->installHandler({});
}

bool PTHotKeyCenter::registerHotKey(const std::shared_ptr<PTHotKey> &hotKey)
{
    // An invalid combination registers nothing and answers true before any
    // other check: that is how clearing a combination ends a registration.
    if (!hotKey || !hotKey->keyCombo().isValidHotKeyCombo())
        return true;
    if (hotKey->name().isEmpty()) {
        qCWarning(lcHotKeyCenter) << "Not registering a hot key without a name:" << hotKey->description();
        return false;
    }
    // A second registration would leave the first one live without any
    // table entry to end it through.
    if (_isRegistered(hotKey)) {
        qCWarning(lcHotKeyCenter) << "Hot key" << hotKey->name() << "is registered already";
        return false;
    }
    const PTKeyCombo combo = hotKey->keyCombo();

    const systemhotkeys::HotKeyID hotKeyID{hotKeySignature(), mNextKeyID};
    const auto registration = mSource->registerHotKey(quint32(combo.keyCode()), quint32(combo.modifiers()), hotKeyID);
    if (registration.status != systemhotkeys::noErr)
        return false;

    mHotKeyMap.insert(mNextKeyID, hotKey);
    ++mNextKeyID;
    hotKey->setCarbonHotKey(registration.ref);
    mHotKeys.insert(hotKey->name(), hotKey);
    _updateEventHandler();
    return true;
}

void PTHotKeyCenter::unregisterHotKey(const std::shared_ptr<PTHotKey> &hotKey)
{
    if (!hotKey)
        return;
    const std::shared_ptr<PTHotKey> registered = mHotKeys.value(hotKey->name());
    if (!registered)
        return;
    if (registered != hotKey) {
        qCWarning(lcHotKeyCenter) << "Not unregistering" << hotKey->name()
                                  << "- another hot key is registered under that name";
        return;
    }
    if (hotKey->carbonHotKey() == systemhotkeys::HotKeyRef::Null)
        hotkeys::AssertionHandler::currentHandler()->handleFailureInMethod(
            "unregisterHotKey", this, kSourceFileName, kUnregisterWithoutReferenceLine, QString());
    _endRegistration(registered);
    _updateEventHandler();
}

void PTHotKeyCenter::unregisterHotKeyForName(const QString &name)
{
    unregisterHotKey(mHotKeys.value(name));
}

void PTHotKeyCenter::unregisterAllHotKeys()
{
    // Each unregistration changes the table; work from a snapshot.
    const QList<std::shared_ptr<PTHotKey>> hotKeys = mHotKeys.values();
    for (const std::shared_ptr<PTHotKey> &hotKey : hotKeys)
        unregisterHotKey(hotKey);
}

void PTHotKeyCenter::setHotKeyRegistrationForName(const QString &name, bool enable)
{
    const std::shared_ptr<PTHotKey> hotKey = mHotKeys.value(name);
    if (hotKey && !enable)
        unregisterHotKey(hotKey);
}

void PTHotKeyCenter::updateHotKey(const std::shared_ptr<PTHotKey> &hotKey)
{
    if (!hotKey)
        return;
    // Our own reference: the tables may hold the last ones.
    const std::shared_ptr<PTHotKey> keep = hotKey;
    unregisterHotKey(mHotKeys.value(keep->name()));
    // Renamed since it was registered: not found under its name, but it must
    // not stay registered with its old combination.
    if (_isRegistered(keep)) {
        _endRegistration(keep);
        _updateEventHandler();
    }
    registerHotKey(keep);
}

std::shared_ptr<PTHotKey> PTHotKeyCenter::hotKeyForName(const QString &name) const
{
    return mHotKeys.value(name);
}

QList<std::shared_ptr<PTHotKey>> PTHotKeyCenter::allHotKeys() const
{
    return mHotKeys.values();
}

void PTHotKeyCenter::_updateEventHandler()
{
    if (mHotKeys.isEmpty() || mEventHandlerInstalled)
        return;
    mSource->installHandler([this](const systemhotkeys::HotKeyEvent &event) { return _hotKeyEventHandler(event); });
    mEventHandlerInstalled = true;
}

// Where events come in from the event loop: an exception must not unwind
// into the event dispatch, where it would end the application.
qint32 PTHotKeyCenter::_hotKeyEventHandler(const systemhotkeys::HotKeyEvent &event)
{
    try {
        return sendCarbonEvent(event);
    } catch (const std::exception &e) {
        qCWarning(lcHotKeyCenter) << "Hot key event not handled:" << e.what();
    } catch (...) {
        qCWarning(lcHotKeyCenter) << "Hot key event not handled: unknown exception";
    }
    return systemhotkeys::eventNotHandledErr;
}

qint32 PTHotKeyCenter::sendCarbonEvent(const systemhotkeys::HotKeyEvent &event)
{
    hotkeys::AssertionHandler *assertions = hotkeys::AssertionHandler::currentHandler();
    if (event.eventClass() != systemhotkeys::kEventClassKeyboard)
        assertions->handleFailureInMethod("sendCarbonEvent", this, kSourceFileName, kUnknownEventClassLine,
                                          u"Unknown event class"_s);

    systemhotkeys::HotKeyID hotKeyID;
    const qint32 status = event.parameter(systemhotkeys::kEventParamDirectObject, systemhotkeys::typeEventHotKeyID, &hotKeyID);
    if (status != systemhotkeys::noErr)
        return status;

    if (hotKeyID.signature != hotKeySignature()) {
        qCDebug(lcHotKeyCenter) << "Hot key event of another component, signature" << Qt::hex << hotKeyID.signature;
        return systemhotkeys::eventNotHandledErr;
    }
    // Kept for the whole dispatch: the action may unregister it.
    const std::shared_ptr<PTHotKey> hotKey = mHotKeyMap.value(hotKeyID.id);
    if (!hotKey) {
        qCDebug(lcHotKeyCenter) << "Hot key event for ID" << hotKeyID.id << ", which is not registered (any more)";
        return systemhotkeys::eventNotHandledErr;
    }

    switch (event.eventKind()) {
    case systemhotkeys::kEventHotKeyReleased:
        _hotKeyUp(hotKey);
        break;
    case systemhotkeys::kEventHotKeyPressed:
        _hotKeyDown(hotKey);
        break;
    default:
        assertions->handleFailureInMethod("sendCarbonEvent", this, kSourceFileName, kUnknownEventKindLine,
                                          u"Unknown event kind"_s);
    }
    return status;
}

void PTHotKeyCenter::_hotKeyDown(const std::shared_ptr<PTHotKey> &hotKey)
{
    hotKey->invoke();
}

void PTHotKeyCenter::_hotKeyUp(const std::shared_ptr<PTHotKey> &)
{
}

void PTHotKeyCenter::_endRegistration(const std::shared_ptr<PTHotKey> &hotKey)
{
    mSource->unregisterHotKey(hotKey->carbonHotKey());
    mHotKeys.removeIf([&](const auto &entry) { return entry.value() == hotKey; });
    mHotKeyMap.removeIf([&](const auto &entry) { return entry.value() == hotKey; });
    hotKey->setCarbonHotKey(systemhotkeys::HotKeyRef::Null);
}

bool PTHotKeyCenter::_isRegistered(const std::shared_ptr<PTHotKey> &hotKey) const
{
    return std::find(mHotKeyMap.cbegin(), mHotKeyMap.cend(), hotKey) != mHotKeyMap.cend();
}
