#include "PTKeyComboPanel.h"

#include "InterfaceFile.h"
#include "PTHotKey.h"
#include "PTHotKeyCenter.h"
#include "PTKeyBroadcaster.h"

#include <QDialog>
#include <QEvent>
#include <QLoggingCategory>
#include <QMetaMethod>
#include <QWindow>

#include <exception>
#include <utility>

using namespace Qt::StringLiterals;

namespace {

Q_LOGGING_CATEGORY(lcKeyComboPanel, "quillvane.hotkeys.panel", QtInfoMsg)

PTKeyComboPanel *_sharedKeyComboPanel = nullptr;

// The keys that work the panel when pressed without a modifier.
constexpr qint32 ReturnKeyCode = 36;
constexpr qint32 BackspaceKeyCode = 51;
constexpr qint32 EscapeKeyCode = 53;
constexpr qint32 KeypadEnterKeyCode = 76;

QByteArray delegateSignature()
{
    return QMetaObject::normalizedSignature("keyComboPanelEnded(PTKeyComboPanel*)");
}

} // namespace

QString PTKeyComboPanel::defaultWindowNibPath()
{
    return u":/quillvane/PTKeyComboPanel.ui"_s;
}

PTKeyComboPanel *PTKeyComboPanel::sharedPanel()
{
    if (!_sharedKeyComboPanel)
        _sharedKeyComboPanel = new PTKeyComboPanel;
    return _sharedKeyComboPanel;
}

PTKeyComboPanel::PTKeyComboPanel(const QString &windowNibPath, QObject *parent)
    : QObject(parent)
    , mTitleFormat(u"empty"_s)
    , mKeyName(u"empty"_s)
    , m_windowNibPath(windowNibPath.isEmpty() ? defaultWindowNibPath() : windowNibPath)
{
}

PTKeyComboPanel::~PTKeyComboPanel()
{
    hotkeys::NotificationCenter::defaultCenter()->removeObserver(m_observer);
    releaseKeyboard();
    if (m_window) {
        m_window->removeEventFilter(this);
        disconnect(m_window, nullptr, this, nullptr);
        delete m_window.data();
    }
}

QDialog *PTKeyComboPanel::window()
{
    if (!m_window && loadWindow()) {
        windowDidLoad();
        // What was set before shows now, the title filled in.
        _refreshContents();
    }
    return m_window;
}

bool PTKeyComboPanel::loadWindow()
{
    // The file's broadcaster is made here, where the panel's code knows it.
    const auto makeBroadcaster = [](const QString &className, QWidget *parent) -> QObject * {
        return className == u"PTKeyBroadcaster"_s ? new PTKeyBroadcaster(parent) : nullptr;
    };
    QString errorString;
    std::unique_ptr<QWidget> root = panecontract::InterfaceFile::load(m_windowNibPath, makeBroadcaster, &errorString);
    auto *dialog = qobject_cast<QDialog *>(root.get());
    if (!dialog) {
        qCWarning(lcKeyComboPanel).noquote()
            << "The recording panel's interface file" << m_windowNibPath
            << (root ? u"does not make a dialog but a %1"_s.arg(QLatin1StringView(root->metaObject()->className()))
                     : errorString);
        return false;
    }
    if (!panecontract::InterfaceFile::bind(this, dialog, &errorString)) {
        qCWarning(lcKeyComboPanel).noquote()
            << "The recording panel's interface file" << m_windowNibPath << errorString;
        mTitleField = nullptr;
        mComboField = nullptr;
        mKeyBcaster = nullptr;
        return false;
    }
    root.release();
    m_window = dialog;
    m_windowObject = dialog;
    // The window is used again after each close.
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    connect(dialog, &QDialog::finished, this, &PTKeyComboPanel::windowFinished);
    connect(dialog, &QObject::destroyed, this, &PTKeyComboPanel::windowDestroyed);
    dialog->installEventFilter(this);
    return true;
}

void PTKeyComboPanel::windowDidLoad()
{
    if (mTitleField)
        mTitleFormat = mTitleField->property("text").toString();
    // Without a broadcaster of its own there is nothing to observe: a null
    // sender would mean every broadcaster.
    if (mKeyBcaster) {
        m_observer = hotkeys::NotificationCenter::defaultCenter()->addObserver(
            PTKeyBroadcasterKeyEvent, mKeyBcaster,
            [this](const hotkeys::Notification &notification) { noteKeyBroadcast(notification); }, this);
    }
}

void PTKeyComboPanel::windowDestroyed()
{
    // Whoever held the window as a child took it along. A sheet on it ends
    // as cancelled, and the next use loads the window again.
    hotkeys::NotificationCenter::defaultCenter()->removeObserver(m_observer);
    m_observer = hotkeys::NotificationCenter::ObserverToken::Null;
    if (m_showing == Showing::Sheet) {
        qCWarning(lcKeyComboPanel) << "The window under the recording panel went away; the sheet ends unconfirmed";
        m_sheetHotKey.reset();
        currentModalDelegate = nullptr;
    }
    m_showing = Showing::Not;
}

void PTKeyComboPanel::_refreshContents()
{
    if (mComboField) {
        mComboField->setProperty("text", mKeyCombo ? mKeyCombo->description() : QString());
        mComboField->setAccessibleDescription(mKeyCombo ? mKeyCombo->descriptionInWords() : QString());
    }
    if (mTitleField)
        mTitleField->setProperty("text", formatTitle(mTitleFormat, mKeyName));
}

QString PTKeyComboPanel::formatTitle(const QString &format, const QString &argument)
{
    QString title;
    title.reserve(format.size() + argument.size());
    bool argumentUsed = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format[i] == u'%' && i + 1 < format.size()) {
            if (format[i + 1] == u'%') {
                title += u'%';
                ++i;
                continue;
            }
            if (format[i + 1] == u'@' && !argumentUsed) {
                title += argument;
                argumentUsed = true;
                ++i;
                continue;
            }
        }
        title += format[i];
    }
    return title;
}

bool PTKeyComboPanel::isModalPanel() const
{
    return m_window && m_window->windowModality() == Qt::ApplicationModal;
}

void PTKeyComboPanel::showSheetForHotkey(const std::shared_ptr<PTHotKey> &hotKey, QWidget *window, QObject *delegate)
{
    QDialog *sheet = this->window();
    if (!sheet) {
        qCWarning(lcKeyComboPanel) << "The recording panel cannot be shown: its window did not load";
        return;
    }
    if (m_showing != Showing::Not) {
        qCWarning(lcKeyComboPanel) << "The recording panel is up already; not showing it again";
        return;
    }
    // Attached to the window it is a sheet on; window-modal blocks that
    // window's input until the sheet ends.
    QWidget *parentWindow = window ? window->window() : nullptr;
    if (sheet->parentWidget() != parentWindow)
        sheet->setParent(parentWindow, sheet->windowFlags() | Qt::Dialog);
    if (mKeyBcaster)
        mKeyBcaster->setFocus(Qt::OtherFocusReason);

    setKeyCombo(hotKey ? std::optional(hotKey->keyCombo()) : std::nullopt);
    setKeyBindingName(hotKey ? hotKey->name() : QString());
    currentModalDelegate = delegate;
    m_sheetHotKey = hotKey;

    m_showing = Showing::Sheet;
    sheet->setWindowModality(Qt::WindowModal);
    sheet->open();
}

void PTKeyComboPanel::windowFinished(int result)
{
    if (m_showing != Showing::Sheet)
        return;
    const std::shared_ptr<PTHotKey> hotKey = m_sheetHotKey;
    chooseHotKeyDidEnd(m_window, result, hotKey);
}

void PTKeyComboPanel::chooseHotKeyDidEnd(QDialog *sheet, int returnCode, const std::shared_ptr<PTHotKey> &contextInfo)
{
    if (sheet && sheet == m_window && m_showing == Showing::Sheet) {
        m_showing = Showing::Not;
        m_sheetHotKey.reset();
    }
    if (sheet) {
        QWidget *owner = sheet->parentWidget();
        sheet->hide();
        // Free again, so that it outlives the window it was a sheet on.
        sheet->setParent(nullptr, sheet->windowFlags() | Qt::Dialog);
        // The keyboard goes back to the window the sheet was on, also where
        // no window manager hands it on.
        if (owner && owner->isVisible())
            owner->activateWindow();
    }
    // Ours until the end of this handler, whatever the delegate does.
    const std::shared_ptr<PTHotKey> hotKey = contextInfo;
    const QPointer<QObject> delegate = std::exchange(currentModalDelegate, nullptr);
    if (returnCode != 1 || !hotKey)
        return;

    // This runs from the event loop (a button's click): nothing thrown may
    // unwind through it.
    try {
        hotKey->setKeyCombo(keyCombo());
        PTHotKeyCenter::sharedCenter()->updateHotKey(hotKey);
    } catch (const std::exception &error) {
        qCWarning(lcKeyComboPanel) << "Registering the recorded hot key failed:" << error.what();
    }

    const int index = delegate ? delegate->metaObject()->indexOfMethod(delegateSignature().constData()) : -1;
    if (index < 0) {
        qCWarning(lcKeyComboPanel).noquote() << "currentModalDelegate doesn't respond to keyComboPanelEnded:!";
        return;
    }
    try {
        delegate->metaObject()->method(index).invoke(delegate, Qt::DirectConnection,
                                                     Q_ARG(PTKeyComboPanel *, this));
    } catch (const std::exception &error) {
        qCWarning(lcKeyComboPanel) << "The recording panel's delegate failed:" << error.what();
    }
}

void PTKeyComboPanel::runModalForHotKey(const std::shared_ptr<PTHotKey> &hotKey)
{
    setKeyCombo(hotKey ? std::optional(hotKey->keyCombo()) : std::nullopt);
    setKeyBindingName(hotKey ? hotKey->name() : QString());
    QDialog *panel = window();
    if (!panel) {
        qCWarning(lcKeyComboPanel) << "The recording panel cannot be shown: its window did not load";
        return;
    }
    if (m_showing != Showing::Not) {
        qCWarning(lcKeyComboPanel) << "The recording panel is up already; not running it again";
        return;
    }
    if (panel->parentWidget())
        panel->setParent(nullptr, panel->windowFlags() | Qt::Dialog);

    m_showing = Showing::Modal;
    panel->setWindowModality(Qt::ApplicationModal);
    const QPointer<QDialog> guard = panel;
    const int code = panel->exec();
    m_showing = Showing::Not;
    if (guard)
        guard->hide();
    if (code != 1 || !hotKey)
        return;
    try {
        hotKey->setKeyCombo(keyCombo());
        PTHotKeyCenter::sharedCenter()->updateHotKey(hotKey);
    } catch (const std::exception &error) {
        qCWarning(lcKeyComboPanel) << "Registering the recorded hot key failed:" << error.what();
    }
}

void PTKeyComboPanel::setKeyCombo(const std::optional<PTKeyCombo> &keyCombo)
{
    mKeyCombo = keyCombo.value_or(PTKeyCombo::clearKeyCombo());
    _refreshContents();
}

void PTKeyComboPanel::setKeyBindingName(const QString &name)
{
    mKeyName = name;
    _refreshContents();
}

void PTKeyComboPanel::ok(QObject *)
{
    if (m_window)
        m_window->done(1);
}

void PTKeyComboPanel::cancel(QObject *)
{
    if (m_window)
        m_window->done(0);
}

void PTKeyComboPanel::clear(QObject *)
{
    setKeyCombo(PTKeyCombo::clearKeyCombo());
    if (isModalPanel() && m_window)
        m_window->done(1);
}

void PTKeyComboPanel::noteKeyBroadcast(const hotkeys::Notification &notification)
{
    const QVariant keyCombo = notification.userInfo().value(PTKeyBroadcaster::keyComboKey());
    if (!keyCombo.canConvert<PTKeyCombo>()) {
        qCWarning(lcKeyComboPanel) << "A key broadcast without a key combination:" << notification.userInfo();
        return;
    }
    const PTKeyCombo combo = keyCombo.value<PTKeyCombo>();
    // The keyboard's way out, with the buttons out of its reach: a plain
    // Escape, Return (or Enter) and Backspace do what Cancel, OK and Clear do.
    // No system-wide hot key can be any of them without a modifier; with one
    // held they are recorded like any other key.
    if (combo.modifiers() == 0 && m_showing != Showing::Not) {
        switch (combo.keyCode()) {
        case EscapeKeyCode:
            cancel();
            return;
        case ReturnKeyCode:
        case KeypadEnterKeyCode:
            ok();
            return;
        case BackspaceKeyCode:
            clear();
            return;
        default:
            break;
        }
    }
    setKeyCombo(combo);
}

// While the window is up its broadcaster has the whole keyboard: keys that
// other programs hold (the cursor application's hot key among them) reach it
// too. The X server grants a keyboard grab only to a window that is shown,
// so the grab is made again once the window is exposed.
bool PTKeyComboPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_windowObject) {
        if (event->type() == QEvent::Show) {
            grabKeyboard();
            QWindow *handle = m_window->windowHandle();
            if (handle && handle != m_watchedWindowHandle) {
                if (m_watchedWindowHandle)
                    m_watchedWindowHandle->removeEventFilter(this);
                handle->installEventFilter(this);
                m_watchedWindowHandle = handle;
            }
        } else if (event->type() == QEvent::Hide) {
            releaseKeyboard();
        }
    } else if (watched == m_watchedWindowHandle && event->type() == QEvent::Expose) {
        if (m_window && m_window->isVisible() && static_cast<QWindow *>(watched)->isExposed())
            grabKeyboard();
    }
    return QObject::eventFilter(watched, event);
}

void PTKeyComboPanel::grabKeyboard()
{
    if (mKeyBcaster)
        mKeyBcaster->grabKeyboard();
}

void PTKeyComboPanel::releaseKeyboard()
{
    if (mKeyBcaster && QWidget::keyboardGrabber() == mKeyBcaster)
        mKeyBcaster->releaseKeyboard();
}
