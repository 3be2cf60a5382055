<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>PTKeyCombo</name>
    <message>
        <source>(None)</source>
        <translation>(Keiner)</translation>
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
