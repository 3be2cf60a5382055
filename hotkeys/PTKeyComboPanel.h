#pragma once

#include "PTKeyBroadcaster.h"
#include "PTKeyCombo.h"
#include "Export.h"
#include "NotificationCenter.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class PTHotKey;
class QDialog;
class QWidget;

// The recording window for a new key combination of a hot key, one per
// process (sharedPanel()). Shown either as a sheet on another window
// (window-modal, returns at once) or application-modal (runModalForHotKey).
// While it is up its key broadcaster has the keyboard, grabbed from every
// other program, and the panel shows the latest combination pressed (in
// glyphs, and in words for assistive technology); OK gives the combination to
// the hot key and has the shared hot key center register it anew. Keys
// pressed without a modifier work the panel instead of being recorded: Escape
// cancels, Return or Enter confirms, Backspace clears.
//
// The sheet's delegate is any QObject with an invokable
//     void keyComboPanelEnded(PTKeyComboPanel *panel)
// which is called after a confirmed sheet, once the hot key carries (and is
// registered with) the new combination.
//
// The window comes from the interface file PTKeyComboPanel.ui, loaded the
// first time the panel needs it and bound to the panel by the rules of
// panecontract::InterfaceFile: a QDialog with the outlets mTitleField and
// mComboField (widgets with a "text" property) and mKeyBcaster (a
// PTKeyBroadcaster), and buttons whose actions are ok, cancel and clear. The
// title field's text is the title format: "%@" in it stands for the hot key's
// name.
class QUILLVANE_EXPORT PTKeyComboPanel : public QObject
{
    Q_OBJECT
    // The outlets, filled from the interface file by name.
    Q_PROPERTY(QWidget *mTitleField READ titleField WRITE setTitleField)
    Q_PROPERTY(QWidget *mComboField READ comboField WRITE setComboField)
    Q_PROPERTY(PTKeyBroadcaster *mKeyBcaster READ keyBroadcaster WRITE setKeyBroadcaster)

public:
    // The panel of the process, made on first use, never destroyed.
    static PTKeyComboPanel *sharedPanel();

    // The interface file built into the library.
    static QString defaultWindowNibPath();

    // A panel whose window will come from the interface file at
    // WINDOWNIBPATH (empty: the default one).
    explicit PTKeyComboPanel(const QString &windowNibPath = QString(), QObject *parent = nullptr);
    // Stops observing every notification.
    ~PTKeyComboPanel() override;
    Q_DISABLE_COPY_MOVE(PTKeyComboPanel)

    // The panel's window, loaded on the first call; null when the interface
    // file cannot be used (logged).
    QDialog *window();
    // Whether the window is shown application-modal (by runModalForHotKey)
    // rather than as a sheet.
    bool isModalPanel() const;

    // Shows the panel as a sheet on WINDOW's window for HOTKEY, showing its
    // combination and name, and returns at once. The hot key and DELEGATE
    // are held until the sheet ends. A panel that is already up, or whose
    // window cannot be loaded, shows nothing and holds nothing (logged).
    void showSheetForHotkey(const std::shared_ptr<PTHotKey> &hotKey, QWidget *window, QObject *delegate);
    // The sheet's end handler. Closes the window; with RETURNCODE 1 and a hot
    // key gives the hot key the panel's combination, has the shared center
    // update its registration and then calls the delegate back. Lets go of
    // the hot key and the delegate in any case.
    void chooseHotKeyDidEnd(QDialog *sheet, int returnCode, const std::shared_ptr<PTHotKey> &contextInfo);
    // Shows the panel application-modal for HOTKEY and returns when it is
    // dismissed; a confirmed combination is given to the hot key and
    // registered. No delegate is involved.
    void runModalForHotKey(const std::shared_ptr<PTHotKey> &hotKey);

    // Stores and shows KEYCOMBO; nullopt stores the clear combination.
    void setKeyCombo(const std::optional<PTKeyCombo> &keyCombo);
    // The stored combination; the clear combination before any was set.
    PTKeyCombo keyCombo() const { return mKeyCombo.value_or(PTKeyCombo::clearKeyCombo()); }
    void setKeyBindingName(const QString &name);
    QString keyBindingName() const { return mKeyName; }

    // The outlets; null until the window is loaded.
    QWidget *titleField() const { return mTitleField; }
    void setTitleField(QWidget *field) { mTitleField = field; }
    QWidget *comboField() const { return mComboField; }
    void setComboField(QWidget *field) { mComboField = field; }
    PTKeyBroadcaster *keyBroadcaster() const { return mKeyBcaster; }
    void setKeyBroadcaster(PTKeyBroadcaster *broadcaster) { mKeyBcaster = broadcaster; }

    // "%@" in FORMAT replaced by ARGUMENT, "%%" by "%"; nothing else changes.
    static QString formatTitle(const QString &format, const QString &argument);

public Q_SLOTS:
    // The actions of the window's three buttons. In a sheet OK and Cancel end
    // it with 1 and 0 and Clear only empties the combination; running
    // modally Clear also confirms.
    void ok(QObject *sender = nullptr);
    void cancel(QObject *sender = nullptr);
    void clear(QObject *sender = nullptr);

protected:
    // Runs once, when the window has been loaded: takes the title format
    // and starts observing its own broadcaster.
    virtual void windowDidLoad();
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Showing { Not, Sheet, Modal };

    void _refreshContents();
    void noteKeyBroadcast(const hotkeys::Notification &notification);
    bool loadWindow();
    void windowFinished(int result);
    void windowDestroyed();
    void grabKeyboard();
    void releaseKeyboard();

    QPointer<QWidget> mTitleField;
    QPointer<QWidget> mComboField;
    QPointer<PTKeyBroadcaster> mKeyBcaster;
    QPointer<QObject> currentModalDelegate;
    QString mTitleFormat;
    QString mKeyName;
    std::optional<PTKeyCombo> mKeyCombo;

    QString m_windowNibPath;
    QPointer<QDialog> m_window;
    // The same window as a plain object, for telling its events apart: while
    // it is being destroyed it is no longer a QDialog, and m_window must not
    // be read then.
    QPointer<QObject> m_windowObject;
    Showing m_showing = Showing::Not;
    // The hot key of the sheet now showing.
    std::shared_ptr<PTHotKey> m_sheetHotKey;
    hotkeys::NotificationCenter::ObserverToken m_observer = hotkeys::NotificationCenter::ObserverToken::Null;
    QPointer<QObject> m_watchedWindowHandle;
};
