<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>PTKeyComboPanel</name>
    <message>
        <source>New Hot Key</source>
        <translation>Neuer Kurzbefehl</translation>
    </message>
    <message>
        <source>Press the keys that should %@.</source>
        <translation>Drücken Sie die Tasten, die %@ sollen.</translation>
    </message>
    <message>
        <source>Recorded key combination</source>
        <translation>Aufgenommene Tastenkombination</translation>
    </message>
    <message>
        <source>Listening to the keyboard…</source>
        <translation>Wartet auf die Tastatur…</translation>
    </message>
    <message>
        <source>Key combination recorder</source>
        <translation>Aufnahme der Tastenkombination</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>Leeren</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Without a modifier, Escape cancels, Return confirms and Backspace clears; with one, they are recorded like any other key.</source>
        <translation>Ohne Sondertaste bricht Esc ab, Eingabe bestätigt und Rücktaste leert; mit einer werden sie wie jede andere Taste aufgenommen.</translation>
    </message>
    <message>
        <source>The keys pressed here become the new combination. Without a modifier, Escape cancels, Return confirms and Backspace clears.</source>
        <translation>Die hier gedrückten Tasten werden die neue Kombination. Ohne Sondertaste bricht Esc ab, Eingabe bestätigt und Rücktaste leert.</translation>
    </message>
</context>
<context>
    <name>QuillvanePref</name>
    <message>
        <source>Quillvane settings</source>
        <translation>Quillvane-Einstellungen</translation>
    </message>
    <message>
        <source>Quillvane hides the mouse pointer while you type or read, and brings it back when you need it.</source>
        <translation>Quillvane blendet den Mauszeiger aus, während Sie tippen oder lesen, und holt ihn zurück, wenn Sie ihn brauchen.</translation>
    </message>
    <message>
        <source>Pointer:</source>
        <translation>Zeiger:</translation>
    </message>
    <message>
        <source>&amp;Show it again when the mouse moves</source>
        <translation>Wieder &amp;zeigen, sobald sich die Maus bewegt</translation>
    </message>
    <message>
        <source>Show the pointer again when the mouse moves</source>
        <translation>Zeiger wieder zeigen, sobald sich die Maus bewegt</translation>
    </message>
    <message>
        <source>When this is off, only the hot key brings a hidden pointer back.</source>
        <translation>Ist dies aus, holt nur der Kurzbefehl einen ausgeblendeten Zeiger zurück.</translation>
    </message>
    <message>
        <source>&amp;Hide after:</source>
        <translation>&amp;Ausblenden nach:</translation>
    </message>
    <message>
        <source>%1 s</source>
        <comment>seconds</comment>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>Seconds of stillness before the pointer hides</source>
        <translation>Sekunden ohne Bewegung, bis der Zeiger verschwindet</translation>
    </message>
    <message>
        <source>How long the mouse must keep still before the pointer hides.</source>
        <translation>Wie lange die Maus still liegen muss, bis der Zeiger verschwindet.</translation>
    </message>
    <message>
        <source>Hot &amp;key:</source>
        <translation>&amp;Kurzbefehl:</translation>
    </message>
    <message>
        <source>Hot key that hides or shows the pointer</source>
        <translation>Kurzbefehl, der den Zeiger aus- oder einblendet</translation>
    </message>
    <message>
        <source>&amp;Change…</source>
        <translation>Ä&amp;ndern…</translation>
    </message>
    <message>
        <source>Change the hot key</source>
        <translation>Kurzbefehl ändern</translation>
    </message>
    <message>
        <source>Hides or shows the pointer, whichever program you are in.</source>
        <translation>Blendet den Zeiger aus oder ein, in jedem Programm.</translation>
    </message>
    <message>
        <source>In this Wayland session the pointer can be hidden only over the windows of X11 programs.</source>
        <translation>In dieser Wayland-Sitzung lässt sich der Zeiger nur über den Fenstern von X11-Programmen ausblenden.</translation>
    </message>
    <message>
        <source>The pointer cannot be hidden in this session: it has no X server.</source>
        <translation>In dieser Sitzung lässt sich der Zeiger nicht ausblenden: Sie hat keinen X-Server.</translation>
    </message>
    <message>
        <source>toggle the cursor</source>
        <translation>den Zeiger ein- und ausblenden</translation>
    </message>
    <message>
        <source>Hide it while I &amp;type</source>
        <translation>Beim &amp;Tippen ausblenden</translation>
    </message>
    <message>
        <source>Hide the pointer while I type</source>
        <translation>Den Zeiger beim Tippen ausblenden</translation>
    </message>
    <message>
        <source>A key press hides the pointer; moving the mouse or a click brings it back. Modifier keys alone do not.</source>
        <translation>Ein Tastendruck blendet den Zeiger aus; eine Mausbewegung oder ein Klick holt ihn zurück. Umschalt-, Strg-, Alt- und Super-Taste allein tun das nicht.</translation>
    </message>
</context>
</TS>
