#include "QuillvanePref.h"

#include "Bundle.h"
#include "CursorLink.h"
#include "LoginItems.h"
#include "PTHotKey.h"
#include "PTHotKeyCenter.h"
#include "PTKeyCombo.h"
#include "PointerReach.h"
#include "QuillvaneSettings.h"
#include "Workspace.h"

#include <QBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

using namespace Qt::StringLiterals;

QuillvanePref::QuillvanePref(settings::PreferencesStore &store, QObject *parent)
    : panecontract::PreferencePane(parent)
    , m_store(store)
{
}

QuillvanePref::~QuillvanePref() = default;

QString QuillvanePref::hotKeyName()
{
    return tr("toggle the cursor");
}

void QuillvanePref::mainViewDidLoad()
{
    const QString domain = QuillvaneSettings::Domain;
    prefItem = m_store.copyAppValue(QuillvaneSettings::AutoShowKey, domain);
    if (prefItem.isValid()) {
        showAutoShow(QuillvaneSettings::autoShowReading(prefItem));
        prefItem = m_store.copyAppValue(QuillvaneSettings::IdleHideKey, domain);
        showIdleHide(QuillvaneSettings::idleHideReading(prefItem));
        makeHotKey(PTKeyCombo(m_store.copyAppValue(QuillvaneSettings::ToggleCursorHotKeyKey, domain)));
        showHotKey();
    } else {
        // First use: the hot key is whatever the domain gives back, the
        // switch and the slider show the constants just stored.
        makeHotKey(PTKeyCombo(seedFirstUseSettings()));
        showHotKey();
        showAutoShow(QuillvaneSettings().autoShow);
        showIdleHide(QuillvaneSettings().idleHide);
    }
    // Not among the settings that first use stores: missing reads as off.
    showHideWhileTyping(QuillvaneSettings::hideWhileTypingReading(
        m_store.copyAppValue(QuillvaneSettings::HideWhileTypingKey, domain)));
    // The field is read-only for the keyboard, but assistive technology can
    // still set its text: it goes back at once to the hot key that is stored.
    if (hotkeyField) {
        connect(hotkeyField, &QLineEdit::textChanged, this, [this](const QString &text) {
            if (text != mHotKey->keyCombo().description())
                showHotKey();
        });
    }
    showPointerReachNotice();
    addToLoginItems();
    launchCursorApp();
    cursorApp.reset();
}

void QuillvanePref::showPointerReachNotice()
{
    // Decided from the session's environment, as the cursor program decides
    // it, so that the page never waits for the bus to say so.
    QString reason; // in English, for the log; the page says it in its own words
    const dbuslink::PointerReach reach = dbuslink::pointerReachFromEnvironment(&reason);
    QWidget *view = mainView();
    auto *intro = view ? view->findChild<QLabel *>(u"introLabel"_s) : nullptr;
    auto *layout = view ? qobject_cast<QBoxLayout *>(view->layout()) : nullptr;
    if (reach == dbuslink::PointerReach::Everywhere || !layout)
        return;
    auto *notice = new QLabel(view);
    notice->setObjectName(u"reachNotice"_s);
    notice->setWordWrap(true);
    notice->setText(reach == dbuslink::PointerReach::X11WindowsOnly
                        ? tr("In this Wayland session the pointer can be hidden only over the windows of X11 programs.")
                        : tr("The pointer cannot be hidden in this session: it has no X server."));
    layout->insertWidget(intro ? layout->indexOf(intro) + 1 : 0, notice);
}

void QuillvanePref::makeHotKey(const PTKeyCombo &combo)
{
    mHotKey = std::make_shared<PTHotKey>();
    mHotKey->setKeyCombo(combo);
    mHotKey->setName(hotKeyName());
    mHotKey->setTarget(this);
}

void QuillvanePref::showHotKey()
{
    if (!hotkeyField)
        return;
    // The glyphs for the eye, the words for the ear.
    hotkeyField->setText(mHotKey->keyCombo().description());
    hotkeyField->setAccessibleDescription(mHotKey->keyCombo().descriptionInWords());
}

void QuillvanePref::showAutoShow(bool on)
{
    // Every change of the check box's state sends its action, so that it
    // writes however the user changed it (click, Space, mnemonic, assistive
    // technology); the page filling it in is no such change.
    if (autoShowButton) {
        const QSignalBlocker loading(autoShowButton);
        autoShowButton->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
}

void QuillvanePref::showHideWhileTyping(bool on)
{
    if (hideWhileTypingButton) {
        const QSignalBlocker loading(hideWhileTypingButton);
        hideWhileTypingButton->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
}

void QuillvanePref::showIdleHide(float idleHide)
{
    // The slider keeps a value that is not a number or lies outside its
    // range out; the domain keeps it until the user moves the slider.
    if (idleSlider)
        idleSlider->setFloatValue(idleHide);
}

int QuillvanePref::checkBoxState(const QCheckBox &checkBox)
{
    switch (checkBox.checkState()) {
    case Qt::Unchecked:
        return 0;
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        break;
    }
    return -1;
}

void QuillvanePref::idleSlide(QObject *)
{
    writeIdleHide(idleSlider ? idleSlider->floatValue() : 0.0f);
}

void QuillvanePref::autoShowClick(QObject *)
{
    writeAutoShow(autoShowButton ? checkBoxState(*autoShowButton) : 0);
}

void QuillvanePref::hideWhileTypingClick(QObject *)
{
    writeHideWhileTyping(hideWhileTypingButton ? checkBoxState(*hideWhileTypingButton) : 0);
}

void QuillvanePref::setHotKeyClick(QObject *)
{
    // Before loading there is no hot key to edit, only the synchronisation.
    if (mHotKey) {
        PTKeyComboPanel *panel = PTKeyComboPanel::sharedPanel();
        panel->setKeyCombo(mHotKey->keyCombo());
        panel->setKeyBindingName(mHotKey->name());
        QWidget *view = mainView();
        panel->showSheetForHotkey(mHotKey, view ? view->window() : nullptr, this);
    }
    syncPrefs();
}

void QuillvanePref::keyComboPanelEnded(PTKeyComboPanel *panel)
{
    mHotKey->setKeyCombo(panel->keyCombo());
    showHotKey();
    // The panel has just registered the combination in this process, but it
    // is the cursor application's to hold, and the X server lets only one
    // client grab a key. Let go of it before the cursor application re-reads
    // its settings; the unregistration returns once the server has taken it.
    PTHotKeyCenter::sharedCenter()->unregisterHotKey(mHotKey);
    writeToggleCursorHotKey(mHotKey->keyCombo());
}

QVariant QuillvanePref::seedFirstUseSettings()
{
    const QString domain = QuillvaneSettings::Domain;
    QuillvaneSettings::setFirstUseValues(m_store);
    // The only flush while loading: the cursor application, launched next,
    // must find the seeded values on disk.
    m_store.appSynchronize(domain);
    return m_store.copyAppValue(QuillvaneSettings::ToggleCursorHotKeyKey, domain);
}

QString QuillvanePref::cursorAppPath()
{
    // Any code of this class finds the bundle that holds the pane.
    const settings::Bundle pane =
        settings::Bundle::forAddress(reinterpret_cast<const void *>(&QuillvanePref::cursorAppPath));
    return u"%1/Quillvane.app"_s.arg(pane.resourcePath());
}

void QuillvanePref::addToLoginItems()
{
    PTAddBundleToLoginItems(settings::Bundle::withPath(cursorAppPath()), false);
}

void QuillvanePref::launchCursorApp()
{
    // A failed launch changes nothing for the page; the next action simply
    // finds no service to tell.
    loginitems::Workspace::launchApplication(cursorAppPath());
}

void QuillvanePref::establishAppConnection()
{
    theConnection = dbuslink::ServiceConnection::connectionWithRegisteredName(dbuslink::RegisteredName);
    cursorApp = theConnection ? theConnection->rootProxy() : nullptr;
}

void QuillvanePref::syncPrefs()
{
    // A failed flush is logged by the store and keeps its changes pending for
    // the next one; the page carries on either way.
    m_store.appSynchronize(QuillvaneSettings::Domain);
    if (cursorApp) {
        cursorApp->readPrefs();
        return;
    }
    establishAppConnection();
    if (cursorApp)
        cursorApp->readPrefs();
}

void QuillvanePref::writeIdleHide(float idleHide)
{
    m_store.setAppValue(QuillvaneSettings::IdleHideKey, double(idleHide), QuillvaneSettings::Domain);
    syncPrefs();
}

void QuillvanePref::writeHideWhileTyping(int checkBoxState)
{
    m_store.setAppValue(QuillvaneSettings::HideWhileTypingKey, checkBoxState != 0, QuillvaneSettings::Domain);
    syncPrefs();
}

void QuillvanePref::writeAutoShow(int checkBoxState)
{
    m_store.setAppValue(QuillvaneSettings::AutoShowKey, checkBoxState != 0, QuillvaneSettings::Domain);
    syncPrefs();
}

void QuillvanePref::writeToggleCursorHotKey(const PTKeyCombo &keyCombo)
{
    m_store.setAppValue(QuillvaneSettings::ToggleCursorHotKeyKey, keyCombo.plistRepresentation(),
                        QuillvaneSettings::Domain);
    syncPrefs();
}
