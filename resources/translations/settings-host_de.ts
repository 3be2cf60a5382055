<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>PTKeyCombo</name>
    <message>
        <source>(None)</source>
        <translation>(Keiner)</translation>
    </message>
    <message>
        <source>Super</source>
        <translation>Super</translation>
    </message>
    <message>
        <source>Control</source>
        <translation>Strg</translation>
    </message>
    <message>
        <source>Alt</source>
        <translation>Alt</translation>
    </message>
    <message>
        <source>Shift</source>
        <translation>Umschalt</translation>
    </message>
    <message>
        <source>Enter</source>
        <translation>Eingabe</translation>
    </message>
    <message>
        <source>Tab</source>
        <translation>Tab</translation>
    </message>
    <message>
        <source>Space</source>
        <translation>Leertaste</translation>
    </message>
    <message>
        <source>Backspace</source>
        <translation>Rücktaste</translation>
    </message>
    <message>
        <source>Esc</source>
        <translation>Esc</translation>
    </message>
    <message>
        <source>Right Super</source>
        <translation>Super rechts</translation>
    </message>
    <message>
        <source>Caps Lock</source>
        <translation>Feststelltaste</translation>
    </message>
    <message>
        <source>Right Shift</source>
        <translation>Umschalt rechts</translation>
    </message>
    <message>
        <source>Right Alt</source>
        <translation>Alt Gr</translation>
    </message>
    <message>
        <source>Right Control</source>
        <translation>Strg rechts</translation>
    </message>
    <message>
        <source>Fn</source>
        <translation>Fn</translation>
    </message>
    <message>
        <source>Num Lock</source>
        <translation>Num</translation>
    </message>
    <message>
        <source>Volume Up</source>
        <translation>Lauter</translation>
    </message>
    <message>
        <source>Volume Down</source>
        <translation>Leiser</translation>
    </message>
    <message>
        <source>Mute</source>
        <translation>Stumm</translation>
    </message>
    <message>
        <source>Print Screen</source>
        <translation>Druck</translation>
    </message>
    <message>
        <source>Scroll Lock</source>
        <translation>Rollen</translation>
    </message>
    <message>
        <source>Menu</source>
        <translation>Menü</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Insert</source>
        <translation>Einfg</translation>
    </message>
    <message>
        <source>Home</source>
        <translation>Pos1</translation>
    </message>
    <message>
        <source>Page Up</source>
        <translation>Bild auf</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Entf</translation>
    </message>
    <message>
        <source>End</source>
        <translation>Ende</translation>
    </message>
    <message>
        <source>Page Down</source>
        <translation>Bild ab</translation>
    </message>
    <message>
        <source>Left Arrow</source>
        <translation>Pfeil links</translation>
    </message>
    <message>
        <source>Right Arrow</source>
        <translation>Pfeil rechts</translation>
    </message>
    <message>
        <source>Down Arrow</source>
        <translation>Pfeil runter</translation>
    </message>
    <message>
        <source>Up Arrow</source>
        <translation>Pfeil hoch</translation>
    </message>
    <message>
        <source>Keypad %1</source>
        <translation>Ziffernblock %1</translation>
    </message>
</context>
<context>
    <name>SettingsHost</name>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Shows settings pages in a window.</source>
        <translation>Zeigt Einstellungsseiten in einem Fenster.</translation>
    </message>
    <message>
        <source>Save the window as an image in FILE once the pages have loaded, then quit.</source>
        <translation>Das Fenster nach dem Laden der Seiten als Bild in DATEI speichern, dann beenden.</translation>
    </message>
    <message>
        <source>FILE</source>
        <translation>DATEI</translation>
    </message>
    <message>
        <source>The settings page bundles to open. Without any, the pages installed beside the program.</source>
        <translation>Die zu öffnenden Einstellungsseiten. Ohne Angabe die neben dem Programm installierten Seiten.</translation>
    </message>
    <message>
        <source>[PAGE.prefPane...]</source>
        <translation>[SEITE.prefPane...]</translation>
    </message>
    <message>
        <source>No settings page could be opened.</source>
        <translation>Keine Einstellungsseite konnte geöffnet werden.</translation>
    </message>
    <message>
        <source>Cannot save the screenshot %1.</source>
        <translation>Das Bildschirmfoto %1 kann nicht gespeichert werden.</translation>
    </message>
    <message>
        <source>No settings page given, and none installed in %1, the folder above it or ../lib/quillvane.</source>
        <translation>Keine Einstellungsseite angegeben, und in %1, im Ordner darüber oder in ../lib/quillvane ist keine installiert.</translation>
    </message>
</context>
<context>
    <name>host::SettingsWindow</name>
    <message>
        <source>Settings pages</source>
        <translation>Einstellungsseiten</translation>
    </message>
    <message>
        <source>%1 Settings</source>
        <translation>%1-Einstellungen</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
</context>
</TS>
