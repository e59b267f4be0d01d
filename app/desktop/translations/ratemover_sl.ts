<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- Slovene for the toolkit texts that Qt's own Slovene translation lacks:
     the standard buttons of message boxes and dialogs, and the file dialog's
     texts, its questions included.
     Loaded after Qt's translation, so these are looked up first. -->
<TS version="2.1" language="sl_SI">
<context>
    <name>QPlatformTheme</name>
    <message>
        <source>OK</source>
        <translation>V redu</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Prekliči</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Odpri</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Shrani</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Zapri</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Da</translation>
    </message>
    <message>
        <source>No</source>
        <translation>Ne</translation>
    </message>
    <message>
        <source>&amp;Yes</source>
        <translation>&amp;Da</translation>
    </message>
    <message>
        <source>&amp;No</source>
        <translation>&amp;Ne</translation>
    </message>
</context>
<context>
    <name>QAbstractFileIconProvider</name>
    <message>
        <source>Folder</source>
        <comment>All other platforms</comment>
        <translation>Mapa</translation>
    </message>
    <message>
        <source>Drive</source>
        <translation>Pogon</translation>
    </message>
</context>
<context>
    <name>QFileDialog</name>
    <message>
        <source>Delete</source>
        <translation>Izbriši</translation>
    </message>
    <message>
        <source>Are you sure you want to delete '%1'?</source>
        <translation>Ali res želite izbrisati »%1«?</translation>
    </message>
    <message>
        <source>Files</source>
        <translation>Datoteke</translation>
    </message>
    <message>
        <source>Sidebar</source>
        <translation>Stranska vrstica</translation>
    </message>
    <message>
        <source>List of places and bookmarks</source>
        <translation>Seznam mest in zaznamkov</translation>
    </message>
</context>
</TS>
