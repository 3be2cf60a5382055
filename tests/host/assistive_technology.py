#!/usr/bin/python3
# The settings window as assistive technology meets it: the real settings-host
# with the real pane bundle, on a session bus of this test's own with the
# accessibility bus started on it. A real AT-SPI client does what a screen
# reader does (toggles, sets values, presses buttons, reads names), and XTest
# types as a keyboard user does; the settings file and the cursor program
# must follow every change.
#
# Usage: assistive_technology.py SETTINGS_HOST PANE_BUNDLE SOURCE_DIR

import ctypes
import os
import plistlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import xml.etree.ElementTree as ElementTree

from gi.repository import Gio, GLib

HOST, PANE, SOURCE = sys.argv[1:4]
SERVER = 'org.quillvane.QuillvaneServer'
# X key codes: the Linux key code + 8.
CONTROL, SHIFT, ALT, J, K, T, RETURN, ESCAPE = 37, 50, 64, 44, 45, 28, 36, 9
CONTROL_SHIFT_J = {'keyCode': 38, 'modifiers': 4608}


def until(condition, what, seconds=20):
    """Waits until CONDITION gives something true, letting the accessibility
    events in meanwhile, and returns it; fails naming WHAT."""
    deadline = time.monotonic() + seconds
    while True:
        while GLib.MainContext.default().iteration(False):
            pass
        try:
            value = condition()
            error = None
        except Exception as exception:  # objects that come and go while they are looked at
            value, error = None, exception
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f'timed out waiting until {what}' + (f' ({error!r})' if error else ''))
        time.sleep(0.02)


def check(condition, what):
    if not condition:
        raise AssertionError(what)


class Keyboard:
    """The user's keyboard: key presses through XTest on the X server."""

    def __init__(self):
        self.xcb = ctypes.CDLL('libxcb.so.1')
        self.xtest = ctypes.CDLL('libxcb-xtest.so.0')
        self.xcb.xcb_connect.restype = ctypes.c_void_p
        self.xcb.xcb_connect.argtypes = [ctypes.c_char_p, ctypes.c_void_p]
        for function in (self.xcb.xcb_connection_has_error, self.xcb.xcb_flush, self.xcb.xcb_disconnect):
            function.argtypes = [ctypes.c_void_p]
        self.xtest.xcb_test_fake_input.argtypes = [ctypes.c_void_p, ctypes.c_uint8, ctypes.c_uint8, ctypes.c_uint32,
                                                   ctypes.c_uint32, ctypes.c_int16, ctypes.c_int16, ctypes.c_uint8]
        self.xtest.xcb_test_fake_input.restype = ctypes.c_uint
        self.connection = self.xcb.xcb_connect(None, None)
        check(not self.xcb.xcb_connection_has_error(self.connection), 'no X display')

    def chord(self, *keys):
        """Presses KEYS in order and lets go of them in reverse."""
        for key, event in [(key, 2) for key in keys] + [(key, 3) for key in reversed(keys)]:  # press, release
            self.xtest.xcb_test_fake_input(self.connection, event, key, 0, 0, 0, 0, 0)
        self.xcb.xcb_flush(self.connection)


class Session:
    """A session bus with the accessibility bus on it, and every process the
    test starts; close() ends them all, the cursor program that the host
    launches included."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix='quillvane-at.')
        self.processes = []
        self.bus = self.a11y = None

    def open(self):
        daemon = self.start(['dbus-daemon', '--session', '--nofork', '--print-address=1'], stdout=subprocess.PIPE)
        address = daemon.stdout.readline().decode().strip()
        check(address, 'dbus-daemon printed no address')
        os.environ['DBUS_SESSION_BUS_ADDRESS'] = address
        self.bus = self.connect(address)

        # What a desktop session starts: the accessibility bus and the name
        # org.a11y.Bus through which programs find it. Without DISPLAY it
        # leaves the shared X server alone (the AT_SPI_BUS property would lead
        # later programs on it to this bus); in a runtime folder of its own
        # its socket is this test's.
        runtime = os.path.join(self.folder, 'runtime')
        os.mkdir(runtime, 0o700)
        environment = dict(os.environ, XDG_RUNTIME_DIR=runtime)
        environment.pop('DISPLAY', None)
        self.start(['/usr/libexec/at-spi-bus-launcher', '--launch-immediately', '--a11y=1'], env=environment)
        until(lambda: self.has_owner(self.bus, 'org.a11y.Bus'), 'the accessibility bus is announced')
        a11y_address = self.call(self.bus, 'org.a11y.Bus', '/org/a11y/bus', 'org.a11y.Bus', 'GetAddress')[0]
        self.a11y = self.connect(a11y_address)
        # For this process's AT-SPI client only; see open_host().
        os.environ['AT_SPI_BUS_ADDRESS'] = a11y_address

    @staticmethod
    def end_with_test():
        """Has the child ended (SIGTERM) should this test die without close()."""
        ctypes.CDLL(None).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG

    def start(self, arguments, **options):
        process = subprocess.Popen(arguments, stdin=subprocess.DEVNULL, preexec_fn=self.end_with_test, **options)
        self.processes.append(process)
        return process

    @staticmethod
    def connect(address):
        flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
        return Gio.DBusConnection.new_for_address_sync(address, flags, None, None)

    @staticmethod
    def call(bus, name, path, interface, method, arguments=None):
        return bus.call_sync(name, path, interface, method, arguments, None, Gio.DBusCallFlags.NO_AUTO_START,
                             5000, None).unpack()

    def has_owner(self, bus, name):
        return self.call(bus, 'org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                         'NameHasOwner', GLib.Variant('(s)', (name,)))[0]

    def cursor(self, prop):
        """A property of the cursor program."""
        return self.call(self.bus, SERVER, '/', 'org.freedesktop.DBus.Properties', 'Get',
                         GLib.Variant('(ss)', ('org.quillvane.CursorController', prop)))[0]

    def end_owner(self, bus, name):
        """Ends the process that owns NAME, one this test did not start itself."""
        try:
            pid = self.call(bus, 'org.freedesktop.DBus', '/org/freedesktop/DBus', 'org.freedesktop.DBus',
                            'GetConnectionUnixProcessID', GLib.Variant('(s)', (name,)))[0]
        except GLib.Error:
            return
        os.kill(pid, signal.SIGTERM)
        until(lambda: not self.has_owner(bus, name), f'{name} has ended', 10)

    def close(self):
        # The hosts first, then what they started, then the buses: the
        # launcher takes its bus along.
        hosts, buses = self.processes[2:], self.processes[:2]
        for process in reversed(hosts):
            process.kill()
            process.wait()
        for bus, name in ((self.bus, SERVER), (self.a11y, 'org.a11y.atspi.Registry')):
            try:
                bus and self.end_owner(bus, name)
            except Exception as error:
                print(f'cannot end {name}: {error}', file=sys.stderr)
        for process in reversed(buses):
            process.terminate()
            try:
                process.wait(5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        shutil.rmtree(self.folder, ignore_errors=True)


def showing(accessible):
    return accessible.getState().contains(pyatspi.STATE_SHOWING)


def find(root, role=None, name=None):
    """The showing objects under ROOT, of ROLE and NAME where given."""
    return pyatspi.findAllDescendants(root, lambda accessible: (role is None or accessible.getRole() == role)
                                      and (name is None or accessible.name == name) and showing(accessible))


def one(root, role, name=None):
    found = find(root, role, name)
    check(len(found) == 1, f'one showing {role} {name or ""} under "{root.name}", not {len(found)}')
    return found[0]


def act(accessible, action):
    """Does ACTION, as a screen reader's command does."""
    actions = accessible.queryAction()
    names = [actions.getName(i) for i in range(actions.nActions)]
    check(action in names, f'{accessible.name} offers {names}, not {action}')
    actions.doAction(names.index(action))


def text(accessible):
    return accessible.queryText().getText(0, -1)


def open_host(session, language):
    """Opens the pane in settings-host under LANGUAGE with settings of its own;
    returns its application on the accessibility bus and a reader of the
    settings it writes."""
    config = tempfile.mkdtemp(dir=session.folder)
    # Qt 6.4 connects to an address given in AT_SPI_BUS_ADDRESS only after it
    # has tried to register, and then never registers: the host finds the bus
    # as a desktop session's programs do, through org.a11y.Bus.
    environment = {key: value for key, value in os.environ.items() if key not in ('AT_SPI_BUS_ADDRESS', 'LANGUAGE')}
    environment.update(QT_LINUX_ACCESSIBILITY_ALWAYS_ON='1', XDG_CONFIG_HOME=config, LC_ALL=language)
    host = session.start([HOST, PANE], env=environment)
    desktop = pyatspi.Registry.getDesktop(0)
    application = until(lambda: next(a for a in desktop if a and a.get_process_id() == host.pid),
                        'the settings window is on the accessibility bus')
    until(lambda: find(application, pyatspi.ROLE_CHECK_BOX), 'the page shows')
    path = os.path.join(config, 'org.quillvane.Quillvane.plist')

    def settings():
        with open(path, 'rb') as file:
            return plistlib.load(file)
    return application, settings


def open_sheet(application):
    """Has the page's hot key button pressed; returns the recording sheet once its recorder has the keyboard."""
    act(one(application, pyatspi.ROLE_PUSH_BUTTON), 'Press')
    sheet = until(lambda: one(application, pyatspi.ROLE_DIALOG), 'the recording sheet opens')
    until(lambda: [button for button in find(sheet, pyatspi.ROLE_PUSH_BUTTON)
                   if button.getState().contains(pyatspi.STATE_FOCUSED)], 'the recorder has the keyboard')
    return sheet


def check_names(application):
    controls = (pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_SLIDER, pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TEXT,
                pyatspi.ROLE_PAGE_TAB, pyatspi.ROLE_LABEL, pyatspi.ROLE_DIALOG)
    unnamed = [a.getRoleName() for a in find(application) if a.getRole() in controls and not a.name.strip()]
    check(not unnamed, f'controls without a name: {unnamed}')


def translations():
    """Every text of the German translations, with its translation."""
    for name in ('QuillvanePref_de.ts', 'settings-host_de.ts'):
        for message in ElementTree.parse(os.path.join(SOURCE, 'resources', 'translations', name)).iter('message'):
            yield message.findtext('source'), message.findtext('translation') or ''


def check_german():
    """Checks that every text of the page's and the sheet's interface files
    has a German translation; returns every English text whose German
    differs, as a pattern that finds it in a longer text."""
    translated = {source for source, translation in translations() if translation}
    for name in ('QuillvanePref.ui', 'PTKeyComboPanel.ui'):
        for string in ElementTree.parse(os.path.join(SOURCE, 'resources', name)).iter('string'):
            check(string.get('notr') == 'true' or not string.text or string.text in translated,
                  f'{name} shows "{string.text}" without a German translation')
    return [re.compile(r'(?<!\w)' + re.sub(r'%[1@]', '.*', re.escape(source.replace('&', ''))) + r'(?!\w)')
            for source, translation in translations() if source.replace('&', '') != translation.replace('&', '')]


def main():
    session = Session()
    try:
        session.open()
        # Only now: the AT-SPI client takes the buses that the environment names when it loads.
        global pyatspi
        import pyatspi
        keyboard = Keyboard()

        application, settings = open_host(session, 'C.UTF-8')
        until(lambda: session.has_owner(session.bus, SERVER) and session.cursor('AutoShow') is True,
              'the cursor program runs with the seeded settings')
        check_names(application)
        check(not find(application, pyatspi.ROLE_PAGE_TAB_LIST), 'the tab bar of the single page is hidden')
        field = one(application, pyatspi.ROLE_TEXT)
        check((text(field), field.description) == ('⌥^K', 'Control+Alt+K'),
              'the hot key field says the hot key in glyphs and in words')
        field.queryEditableText().setTextContents('typed over')
        check(text(field) == '⌥^K', 'the hot key field shows only the stored hot key')

        # The check box toggled as a screen reader does it.
        box = one(application, pyatspi.ROLE_CHECK_BOX, 'Show the pointer again when the mouse moves')
        check(box.getState().contains(pyatspi.STATE_CHECKED), 'the check box starts on')
        act(box, 'Toggle')
        until(lambda: settings()['autoShow'] is False and session.cursor('AutoShow') is False,
              'the toggled check box is stored and the cursor program follows')

        # Hiding while typing: not stored by first use, then on through the
        # screen reader's Toggle and off again through its mnemonic.
        typing = one(application, pyatspi.ROLE_CHECK_BOX, 'Hide the pointer while I type')
        check(not typing.getState().contains(pyatspi.STATE_CHECKED) and 'hideWhileTyping' not in settings(),
              'hiding while typing starts off and unstored')
        act(typing, 'Toggle')
        until(lambda: settings().get('hideWhileTyping') is True and session.cursor('HideWhileTyping') is True,
              'hiding while typing is stored on and the cursor program follows')
        keyboard.chord(ALT, T)
        until(lambda: settings().get('hideWhileTyping') is False and session.cursor('HideWhileTyping') is False,
              'its mnemonic turns it off, stored, and the cursor program follows')

        # The slider set to a value.
        one(application, pyatspi.ROLE_SLIDER).queryValue().currentValue = 40.0
        until(lambda: settings()['idleHide'] == 40.0 and session.cursor('IdleHide') == 40.0,
              'the slider value is stored and the cursor program follows')

        # A new hot key recorded from the keyboard, confirmed with a plain Return.
        sheet = open_sheet(application)
        check_names(application)
        keyboard.chord(CONTROL, SHIFT, J)
        recorded = one(sheet, pyatspi.ROLE_LABEL, 'Recorded key combination')
        until(lambda: recorded.description == 'Control+Shift+J', 'Control-Shift-J is recorded')
        keyboard.chord(RETURN)
        until(lambda: not find(application, pyatspi.ROLE_DIALOG), 'a plain Return ends the sheet')
        until(lambda: settings()['toggleCursorHotKey'] == CONTROL_SHIFT_J
              and session.cursor('ToggleCursorHotKey') == CONTROL_SHIFT_J,
              'the new hot key is stored and the cursor program follows')
        check((text(field), field.description) == ('^⇧J', 'Control+Shift+J'), 'the field shows the new hot key')

        # Opened again and left with a plain Escape: nothing changes.
        sheet = open_sheet(application)
        keyboard.chord(CONTROL, SHIFT, K)
        recorded = one(sheet, pyatspi.ROLE_LABEL, 'Recorded key combination')
        until(lambda: recorded.description == 'Control+Shift+K', 'Control-Shift-K is recorded')
        keyboard.chord(ESCAPE)
        until(lambda: not find(application, pyatspi.ROLE_DIALOG), 'a plain Escape ends the sheet')
        check(settings()['toggleCursorHotKey'] == CONTROL_SHIFT_J, 'the cancelled sheet stored nothing')
        check(session.cursor('ToggleCursorHotKey') == CONTROL_SHIFT_J, 'the cursor program keeps its hot key')
        check(text(field) == '^⇧J', 'the field keeps the hot key')

        # In German, everything that the page and the sheet say is German.
        application, settings = open_host(session, 'de_DE.UTF-8')
        sheet = open_sheet(application)
        check_names(application)
        said = []
        for accessible in find(application):
            said += [accessible.name, accessible.description]
            if accessible.getRole() == pyatspi.ROLE_TEXT:
                said.append(text(accessible))
        said = [words for words in said if words]
        check('Strg+Alt+K' in said, f'the hot key in German words: {said}')
        english_patterns = check_german()
        english = [t for t in said if any(p.search(t) for p in english_patterns)]
        check(not english, f'English under German: {english}')
        keyboard.chord(ESCAPE)
        until(lambda: not find(application, pyatspi.ROLE_DIALOG), 'a plain Escape ends the German sheet')
    finally:
        session.close()
    print('PASS: the settings window through assistive technology')


if __name__ == '__main__':
    main()
