#pragma once

#include "Export.h"
#include "FloatSlider.h"
#include "PTKeyComboPanel.h"
#include "PreferencePane.h"
#include "PreferencesStore.h"
#include "ServiceConnection.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QVariant>

#include <memory>

class PTHotKey;

// The settings page of the cursor application. It keeps no settings of its
// own: it reads and writes the cursor application's settings domain, seeds it
// on first use, keeps the cursor application a login item and running, and
// after every change flushes the domain and tells the cursor application to
// re-read it.
//
// Its three outlets are filled from the page's interface file before
// mainViewDidLoad(), and its three actions are sent by the controls there.
class QUILLVANE_EXPORT QuillvanePref : public panecontract::PreferencePane
{
    Q_OBJECT
    Q_PROPERTY(QLineEdit *hotkeyField MEMBER hotkeyField)
    Q_PROPERTY(FloatSlider *idleSlider MEMBER idleSlider)
    Q_PROPERTY(QCheckBox *autoShowButton MEMBER autoShowButton)
    Q_PROPERTY(QCheckBox *hideWhileTypingButton MEMBER hideWhileTypingButton)

public:
    explicit QuillvanePref(settings::PreferencesStore &store = settings::PreferencesStore::standard(),
                           QObject *parent = nullptr);
    ~QuillvanePref() override;

    // The name of the page's hot key, which the recording panel shows: in the
    // user's language.
    static QString hotKeyName();

    // Loading: shows the stored settings in the controls (seeding the domain
    // on first use), builds the page's hot key, makes the cursor application
    // a login item, launches it, and leaves the link without a proxy. Sends
    // nothing to the cursor application, and writes and flushes nothing when
    // the domain was seeded before.
    void mainViewDidLoad() override;

    // Looks the cursor application's service up and holds its root proxy;
    // no proxy when the service is not registered.
    void establishAppConnection();
    // Flushes the settings domain and tells the cursor application, when it
    // can be reached, to re-read it. The first call that finds no proxy looks
    // the service up; a proxy once found is kept for the life of the pane.
    void syncPrefs();
    // Makes the cursor application a login item, exactly once.
    void addToLoginItems();

    // Starts the cursor application (whether or not it already runs) without
    // waiting for it.
    virtual void launchCursorApp();
    // <resources of the bundle that holds this class>/Quillvane.app
    static QString cursorAppPath();

    // One write per control action, each followed by syncPrefs().
    void writeIdleHide(float idleHide);
    // A check box state: 0 off writes false; on (1) and mixed (-1) write true.
    void writeAutoShow(int checkBoxState);
    // Off (0) writes false; on and mixed write true.
    void writeHideWhileTyping(int checkBoxState);
    void writeToggleCursorHotKey(const PTKeyCombo &keyCombo);

    // The page's hot key; null before loading.
    std::shared_ptr<PTHotKey> hotKey() const { return mHotKey; }
    // The cursor application's proxy; null while the link has none.
    const dbuslink::CursorControllerProxy *cursorAppProxy() const { return cursorApp.get(); }
    // The value most recently copied from the domain while loading.
    QVariant lastCopiedPrefItem() const { return prefItem; }

    // A check box's state as a number: off 0, on 1, mixed -1.
    static int checkBoxState(const QCheckBox &checkBox);

public Q_SLOTS:
    // The actions of the controls, sent for every change the user makes,
    // whichever way it comes (the interface file sends autoShowClick on each
    // change of the check box's state, not only on clicks). Each reads its
    // control, not the sender, writes one value, and synchronises.
    void idleSlide(QObject *sender);
    void autoShowClick(QObject *sender);
    void hideWhileTypingClick(QObject *sender);
    // Opens the shared recording panel as a sheet on the page's window for
    // the page's hot key, then (without waiting for the user) flushes the
    // domain and tells the cursor application.
    void setHotKeyClick(QObject *sender);

    // The recording panel's call after the user confirmed a combination:
    // stores it, shows it, lets go of the key, and tells the cursor
    // application.
    Q_INVOKABLE void keyComboPanelEnded(PTKeyComboPanel *panel);

private:
    // Stores the first-use values, flushes them, and returns the hot key as
    // the domain now holds it.
    QVariant seedFirstUseSettings();
    // A new hot key around COMBO, named, with this page as its target.
    void makeHotKey(const PTKeyCombo &combo);
    // The control setters of loading (the hot key field's also after a
    // recording); a missing outlet is left alone.
    void showHotKey();
    void showAutoShow(bool on);
    void showHideWhileTyping(bool on);
    void showIdleHide(float idleHide);
    // A line under the description when the pointer cannot be hidden over
    // every window in this session.
    void showPointerReachNotice();

    // Outlets: owned by the main view.
    QLineEdit *hotkeyField = nullptr;
    FloatSlider *idleSlider = nullptr;
    QCheckBox *autoShowButton = nullptr;
    QCheckBox *hideWhileTypingButton = nullptr;
    // The value most recently copied from the domain while loading.
    QVariant prefItem;
    std::shared_ptr<PTHotKey> mHotKey;
    // The result of the last service lookup, none included.
    std::unique_ptr<dbuslink::ServiceConnection> theConnection;
    // The cursor application's root proxy; kept once found.
    std::unique_ptr<dbuslink::CursorControllerProxy> cursorApp;

    settings::PreferencesStore &m_store;
};
