<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="de">
<context>
    <name>kw::AddProgram</name>
    <message>
        <source>Fehler</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Das Programm &apos;%1&apos; befindet sich bereits in deiner Liste !</source>
        <translation>The program &apos;%1&apos; is already in your list!</translation>
    </message>
    <message>
        <source>&apos;%1&apos; wurde nicht gefunden (???)</source>
        <translation>&apos;%1&apos; was not found (???)</translation>
    </message>
    <message>
        <source>Bitte ein anderes Programm wählen.</source>
        <translation>Please choose another program.</translation>
    </message>
    <message>
        <source>Soll das Programm</source>
        <translation>Shall the program</translation>
    </message>
    <message>
        <source>als P2P-Programm eingetragen werden ?</source>
        <translation>be added as a P2P program?</translation>
    </message>
    <message>
        <source>Hinzufügen</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Programm : </source>
        <translation>Program : </translation>
    </message>
</context>
<context>
    <name>kw::Autostart</name>
    <message>
        <source>Kopierwart bei jeder Anmeldung starten</source>
        <translation>Start Kopierwart at every login</translation>
    </message>
    <message>
        <source>Fehler</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Der Autostart-Eintrag &apos;%1&apos; kann nicht angelegt werden.</source>
        <translation>The autostart entry &apos;%1&apos; cannot be created.</translation>
    </message>
    <message>
        <source>Der Autostart-Eintrag &apos;%1&apos; kann nicht entfernt werden.</source>
        <translation>The autostart entry &apos;%1&apos; cannot be removed.</translation>
    </message>
    <message>
        <source>Autostart</source>
        <translation>Autostart</translation>
    </message>
</context>
<context>
    <name>kw::Colors</name>
    <message>
        <source>Farbe</source>
        <translation>Colour</translation>
    </message>
</context>
<context>
    <name>kw::Dialogs</name>
    <message>
        <source>Öffnen</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>Programme (*)</source>
        <translation>Programs (*)</translation>
    </message>
    <message>
        <source>Wave-Dateien (*.wav)</source>
        <translation>Wave files (*.wav)</translation>
    </message>
    <message>
        <source>Dateien (%1)</source>
        <translation>Files (%1)</translation>
    </message>
</context>
<context>
    <name>kw::FilterTextInput</name>
    <message>
        <source>In diesem Eingabefeld sind nur Alphanumerische Eingaben zulässig.</source>
        <translation>Only letters and digits may be typed into this field.</translation>
    </message>
    <message>
        <source>Folgende Zeichen sind erlaubt:</source>
        <translation>These characters are allowed:</translation>
    </message>
    <message>
        <source>Sowie Freizeichen</source>
        <translation>And spaces</translation>
    </message>
    <message>
        <source>ESC löscht das Eingabefeld.</source>
        <translation>ESC clears the field.</translation>
    </message>
    <message>
        <source>Eingabefeld Hilfe</source>
        <translation>Input field help</translation>
    </message>
    <message>
        <source> (F1 für Hilfe)</source>
        <translation> (F1 for help)</translation>
    </message>
</context>
<context>
    <name>kw::FolderGuard</name>
    <message>
        <source>Das zu überwachende Verzeichnis %1 ist nicht vorhanden und kann nicht angelegt werden !</source>
        <translation>The folder to watch %1 does not exist and cannot be created!</translation>
    </message>
    <message>
        <source>Bitte geben Sie ein neues Verzeichnis an, welches überwacht werden soll.</source>
        <translation>Please choose a new folder to watch.</translation>
    </message>
    <message>
        <source>Das Zielverzeichnis %1 kann nicht angelegt werden.</source>
        <translation>The destination folder %1 cannot be created.</translation>
    </message>
    <message>
        <source>Bitte geben Sie ein neues Zielverzeichnis an.</source>
        <translation>Please choose a new destination folder.</translation>
    </message>
    <message>
        <source>Fehler</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Das zu überwachende Verzeichnis und das Zielverzeichnis sind dasselbe Verzeichnis %1 !</source>
        <translation>The folder to watch and the destination folder are the same folder %1!</translation>
    </message>
    <message>
        <source>Bitte geben Sie ein anderes Zielverzeichnis an.</source>
        <translation>Please choose another destination folder.</translation>
    </message>
</context>
<context>
    <name>kw::FrmList</name>
    <message>
        <source>Kopierte Dateien</source>
        <translation>Copied files</translation>
    </message>
    <message>
        <source>Fehler</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Die Datei</source>
        <translation>The file</translation>
    </message>
    <message>
        <source>liegt nicht mehr im Zielverzeichnis.</source>
        <translation>is no longer in the destination folder.</translation>
    </message>
</context>
<context>
    <name>kw::FrmMain</name>
    <message>
        <source>Zielverzeichnis</source>
        <translation>Destination folder</translation>
    </message>
    <message>
        <source> – antwortet nicht, Kopierwart wartet</source>
        <translation> – not answering, Kopierwart waits</translation>
    </message>
    <message>
        <source> – Datenträger fehlt, warte auf </source>
        <translation> – medium missing, waiting for </translation>
    </message>
    <message>
        <source>Zu überwachendes Verzeichnis</source>
        <translation>Folder to watch</translation>
    </message>
    <message>
        <source>Öffnen</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>Suchen</source>
        <translation>Browse</translation>
    </message>
    <message>
        <source>TimerIntervall (x Sec)</source>
        <translation>Timer interval (x s)</translation>
    </message>
    <message>
        <source>Überwachtes Verzeichnis jetzt prüfen</source>
        <translation>Check the watched folder now</translation>
    </message>
    <message>
        <source>Bei Kopiervorgang folgende Sounddatei wiedergeben</source>
        <translation>Play this sound file after each copy</translation>
    </message>
    <message>
        <source>Klangdatei abspielen</source>
        <translation>Play the sound file</translation>
    </message>
    <message>
        <source>Gesperrte Endungen</source>
        <translation>Blocked extensions</translation>
    </message>
    <message>
        <source>Tasklist</source>
        <translation>Task list</translation>
    </message>
    <message>
        <source>Liste der kopierten Dateien</source>
        <translation>List of copied files</translation>
    </message>
    <message>
        <source>Farbe</source>
        <translation>Colour</translation>
    </message>
    <message>
        <source>Über Kopierwart</source>
        <translation>About Kopierwart</translation>
    </message>
    <message>
        <source>Statistik</source>
        <translation>Statistics</translation>
    </message>
    <message>
        <source>Protokoll und Liste der kopierten Dateien löschen</source>
        <translation>Delete the log and the list of copied files</translation>
    </message>
    <message>
        <source>DebugWindow</source>
        <translation>Debug window</translation>
    </message>
    <message>
        <source>Protokolldatei anzeigen</source>
        <translation>Show the log file</translation>
    </message>
    <message>
        <source>Debug-Fenster leeren</source>
        <translation>Clear the debug window</translation>
    </message>
    <message>
        <source>Datei ausführen</source>
        <translation>Open file</translation>
    </message>
    <message>
        <source>Datei löschen</source>
        <translation>Delete file</translation>
    </message>
    <message>
        <source>Datei aus der Liste entfernen</source>
        <translation>Remove file from the list</translation>
    </message>
    <message>
        <source>P2P hinzufügen</source>
        <translation>Add P2P</translation>
    </message>
    <message>
        <source>keine laufenden Programme</source>
        <translation>no programs running</translation>
    </message>
    <message>
        <source>Bitte Verzeichnis angeben !</source>
        <translation>Please choose a folder!</translation>
    </message>
    <message>
        <source>Zu überwachendes Verzeichnis suchen</source>
        <translation>Choose the folder to watch</translation>
    </message>
    <message>
        <source>Zielverzeichnis suchen</source>
        <translation>Choose the destination folder</translation>
    </message>
    <message>
        <source>Fehler</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Das zu überwachende Verzeichnis und das Zielverzeichnis wären dasselbe Verzeichnis, oder eines läge im anderen:</source>
        <translation>The folder to watch and the destination folder would be the same folder, or one would lie inside the other:</translation>
    </message>
    <message>
        <source>Die Einstellung bleibt, wie sie war. Bitte wählen Sie ein anderes Verzeichnis.</source>
        <translation>The setting stays as it was. Please choose another folder.</translation>
    </message>
    <message>
        <source>TimerIntervall (%1 Sec)</source>
        <translation>Timer interval (%1 s)</translation>
    </message>
    <message>
        <source>Wollen Sie die Datei</source>
        <translation>Do you really want to delete the file</translation>
    </message>
    <message>
        <source>wirklich löschen ?</source>
        <translation>?</translation>
    </message>
    <message>
        <source>     Kontakt: </source>
        <translation>     Contact: </translation>
    </message>
    <message>
        <source>Genial ist der %1 für P2P-Programme .)</source>
        <translation>%1 is brilliant for P2P programs .)</translation>
    </message>
    <message>
        <source>Keine Dateien im Upload-Verzeichnis = KEIN UPLOAD</source>
        <translation>No files in the upload folder = NO UPLOAD</translation>
    </message>
    <message>
        <source>Die angegebene Datei kann nicht wiedergegeben werden !</source>
        <translation>The chosen file cannot be played!</translation>
    </message>
    <message>
        <source>About</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Paare</source>
        <translation>Pairs</translation>
    </message>
    <message>
        <source>Weitere Verzeichnispaare</source>
        <translation>Further folder pairs</translation>
    </message>
    <message>
        <source>Das Verzeichnis überschneidet sich mit einem weiteren Verzeichnispaar:</source>
        <translation>The folder overlaps a further folder pair:</translation>
    </message>
</context>
<context>
    <name>kw::FrmP2Pnew</name>
    <message>
        <source>Neues P2P-Programm</source>
        <translation>New P2P program</translation>
    </message>
    <message>
        <source>Anwendung hinzufügen</source>
        <translation>Add an application</translation>
    </message>
    <message>
        <source>Bitte wähle die Anwendung aus, die den P2P-Programmen hinzugefügt werden soll </source>
        <translation>Please choose the application to add to the P2P programs </translation>
    </message>
    <message>
        <source>[und klicke disese mit der rechten Maustaste an]</source>
        <translation>[and click it with the right mouse button]</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>Refresh</translation>
    </message>
    <message>
        <source>Abbrechen</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Programm hinzufügen</source>
        <translation>Add program</translation>
    </message>
    <message>
        <source>Menu schließen</source>
        <translation>Close menu</translation>
    </message>
</context>
<context>
    <name>kw::FrmPairs</name>
    <message>
        <source>Verzeichnispaare</source>
        <translation>Folder pairs</translation>
    </message>
    <message>
        <source>Jedes überwachte Verzeichnis hat sein eigenes Zielverzeichnis. Das erste Paar ist das des Hauptfensters und wird dort geändert.</source>
        <translation>Each watched folder has its own destination folder. The first pair is the main window’s and is changed there.</translation>
    </message>
    <message>
        <source>Verzeichnispaare: überwachtes Verzeichnis und Zielverzeichnis</source>
        <translation>Folder pairs: watched folder and destination folder</translation>
    </message>
    <message>
        <source>Hinzufügen</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Paar hinzufügen</source>
        <translation>Add a pair</translation>
    </message>
    <message>
        <source>Entfernen</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>Gewähltes Paar entfernen</source>
        <translation>Remove the chosen pair</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Paare übernehmen</source>
        <translation>Keep these pairs</translation>
    </message>
    <message>
        <source>Abbrechen</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Abbrechen, die Paare bleiben, wie sie waren</source>
        <translation>Cancel, the pairs stay as they were</translation>
    </message>
    <message>
        <source>Zu überwachendes Verzeichnis suchen</source>
        <translation>Choose the folder to watch</translation>
    </message>
    <message>
        <source>Zielverzeichnis suchen</source>
        <translation>Choose the destination folder</translation>
    </message>
    <message>
        <source>Fehler</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Ein überwachtes Verzeichnis darf weder ein anderes überwachtes Verzeichnis oder ein Zielverzeichnis sein, noch in einem liegen oder eines enthalten:</source>
        <translation>A watched folder may not be another watched folder or a destination folder, nor lie inside one or contain one:</translation>
    </message>
    <message>
        <source>Das Paar wird nicht hinzugefügt.</source>
        <translation>The pair is not added.</translation>
    </message>
    <message>
        <source>Überwachtes Verzeichnis</source>
        <translation>Watched folder</translation>
    </message>
    <message>
        <source>Zielverzeichnis</source>
        <translation>Destination folder</translation>
    </message>
    <message>
        <source>Das Paar des Hauptfensters</source>
        <translation>The main window’s pair</translation>
    </message>
</context>
<context>
    <name>kw::FrmPrefix</name>
    <message>
        <source> Gesperrte Endungen</source>
        <translation> Blocked extensions</translation>
    </message>
    <message>
        <source>Dateien, die eine gesperrte Endung enthalten, werden übergangen und nicht kopiert.</source>
        <translation>Files with a blocked extension are passed over and not copied.</translation>
    </message>
    <message>
        <source>Hinzufügen</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Endung</source>
        <translation>Extension</translation>
    </message>
    <message>
        <source>Eintrag entfernen</source>
        <translation>Remove entry</translation>
    </message>
</context>
<context>
    <name>kw::FrmTask</name>
    <message>
        <source>Tasklist</source>
        <translation>Task list</translation>
    </message>
    <message>
        <source>Folgende Tasks werden gestartet, wenn diese nicht aktiv sind (sinnvoll wenn z.B. ein P2P-Programm abstürzt)</source>
        <translation>These tasks are started when they are not running (useful when, for example, a P2P program crashes)</translation>
    </message>
    <message>
        <source>Task hinzufügen</source>
        <translation>Add task</translation>
    </message>
    <message>
        <source>Task</source>
        <translation>Task</translation>
    </message>
    <message>
        <source>Task entfernen</source>
        <translation>Remove task</translation>
    </message>
</context>
<context>
    <name>kw::ListEditorWindow</name>
    <message>
        <source>Übernehmen</source>
        <translation>Apply</translation>
    </message>
    <message>
        <source>Abbrechen</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>kw::LogActions</name>
    <message>
        <source>Logs Deleted</source>
        <translation>Logs Deleted</translation>
    </message>
    <message>
        <source>Programm-Logdateien wurden gelöscht !</source>
        <translation>The program&apos;s log files were deleted!</translation>
    </message>
</context>
<context>
    <name>kw::Mover</name>
    <message>
        <source>Neue Datei kopieren</source>
        <translation>Copying a new file</translation>
    </message>
</context>
<context>
    <name>kw::Problems</name>
    <message>
        <source>%1 und %2 weitere Datei</source>
        <translation>%1 and %2 more file</translation>
    </message>
    <message>
        <source>%1 und %2 weitere Dateien</source>
        <translation>%1 and %2 more files</translation>
    </message>
    <message>
        <source>Die Datei %1</source>
        <translation>The file %1</translation>
    </message>
    <message>
        <source>Zielverzeichnis nicht erreichbar</source>
        <translation>Destination folder unreachable</translation>
    </message>
    <message>
        <source>Zielverzeichnis antwortet nicht</source>
        <translation>Destination folder not answering</translation>
    </message>
    <message>
        <source>Zielverzeichnis voll</source>
        <translation>Destination folder full</translation>
    </message>
    <message>
        <source>Keine Schreibrechte im Zielverzeichnis</source>
        <translation>No write permission in the destination folder</translation>
    </message>
    <message>
        <source>Zielverzeichnis lehnt Dateien ab</source>
        <translation>Destination folder refuses files</translation>
    </message>
    <message>
        <source>Einstellungen nicht lesbar</source>
        <translation>Settings unreadable</translation>
    </message>
    <message>
        <source>Das Zielverzeichnis %1 ist nicht eingehängt. Die Dateien warten, bis es wieder da ist.</source>
        <translation>The destination folder %1 is not mounted. The files wait until it is back.</translation>
    </message>
    <message>
        <source>Das Zielverzeichnis %1 antwortet nicht. Die Dateien warten.</source>
        <translation>The destination folder %1 does not answer. The files wait.</translation>
    </message>
    <message>
        <source>Für %1 ist im Zielverzeichnis nicht genug Platz. Sie bleibt im überwachten Verzeichnis, bis Platz frei wird.</source>
        <translation>There is not enough room in the destination folder for %1. It stays in the watched folder until room is freed.</translation>
    </message>
    <message>
        <source>Für %1 ist im Zielverzeichnis nicht genug Platz. Sie bleiben im überwachten Verzeichnis, bis Platz frei wird.</source>
        <translation>There is not enough room in the destination folder for %1. They stay in the watched folder until room is freed.</translation>
    </message>
    <message>
        <source>%1 darf nicht ins Zielverzeichnis geschrieben werden. Bitte prüfen Sie dessen Rechte.</source>
        <translation>%1 may not be written into the destination folder. Please check its permissions.</translation>
    </message>
    <message>
        <source>%1 dürfen nicht ins Zielverzeichnis geschrieben werden. Bitte prüfen Sie dessen Rechte.</source>
        <translation>%1 may not be written into the destination folder. Please check its permissions.</translation>
    </message>
    <message>
        <source>Das Zielverzeichnis nimmt %1 nicht an (Name, Namenslänge oder Größe). Sie bleibt im überwachten Verzeichnis.</source>
        <translation>The destination folder does not take %1 (name, name length or size). It stays in the watched folder.</translation>
    </message>
    <message>
        <source>Das Zielverzeichnis nimmt %1 nicht an (Name, Namenslänge oder Größe). Sie bleiben im überwachten Verzeichnis.</source>
        <translation>The destination folder does not take %1 (name, name length or size). They stay in the watched folder.</translation>
    </message>
    <message>
        <source>%1 kann nicht gelesen werden. Kopierwart arbeitet ohne diese Einstellungen.</source>
        <translation>%1 cannot be read. Kopierwart works without these settings.</translation>
    </message>
    <message>
        <source>%1 können nicht gelesen werden. Kopierwart arbeitet ohne diese Einstellungen.</source>
        <translation>%1 cannot be read. Kopierwart works without these settings.</translation>
    </message>
    <message>
        <source>Zielverzeichnis wieder erreichbar</source>
        <translation>Destination folder reachable again</translation>
    </message>
    <message>
        <source>Zielverzeichnis antwortet wieder</source>
        <translation>Destination folder answers again</translation>
    </message>
    <message>
        <source>Zielverzeichnis hat wieder Platz</source>
        <translation>Destination folder has room again</translation>
    </message>
    <message>
        <source>Schreibrechte wieder da</source>
        <translation>Write permission back</translation>
    </message>
    <message>
        <source>Keine abgelehnte Datei mehr</source>
        <translation>No refused file left</translation>
    </message>
    <message>
        <source>Einstellungen wieder lesbar</source>
        <translation>Settings readable again</translation>
    </message>
    <message>
        <source>Das Zielverzeichnis %1 ist wieder da.</source>
        <translation>The destination folder %1 is back.</translation>
    </message>
    <message>
        <source>Das Zielverzeichnis %1 antwortet wieder.</source>
        <translation>The destination folder %1 answers again.</translation>
    </message>
    <message>
        <source>Keine Datei wartet mehr auf Platz im Zielverzeichnis.</source>
        <translation>No file waits for room in the destination folder any more.</translation>
    </message>
    <message>
        <source>Keine Datei wartet mehr auf Schreibrechte im Zielverzeichnis.</source>
        <translation>No file waits for write permission in the destination folder any more.</translation>
    </message>
    <message>
        <source>Keine Datei wartet mehr, weil das Zielverzeichnis sie ablehnt.</source>
        <translation>No file waits any more because the destination folder refuses it.</translation>
    </message>
    <message>
        <source>%1 kann wieder gelesen werden.</source>
        <translation>%1 can be read again.</translation>
    </message>
    <message>
        <source>%1 können wieder gelesen werden.</source>
        <translation>%1 can be read again.</translation>
    </message>
    <message>
        <source>Kontingent erschöpft</source>
        <translation>Disk quota used up</translation>
    </message>
    <message>
        <source>Keine freien Dateieinträge</source>
        <translation>No free file entries</translation>
    </message>
    <message>
        <source>Ihr Speicherkontingent im Zielverzeichnis ist erschöpft. %1 bleibt im überwachten Verzeichnis, bis Platz frei wird.</source>
        <translation>Your disk quota in the destination folder is used up. %1 stays in the watched folder until room is freed.</translation>
    </message>
    <message>
        <source>Ihr Speicherkontingent im Zielverzeichnis ist erschöpft. %1 bleiben im überwachten Verzeichnis, bis Platz frei wird.</source>
        <translation>Your disk quota in the destination folder is used up. %1 stay in the watched folder until room is freed.</translation>
    </message>
    <message>
        <source>Das Dateisystem des Zielverzeichnisses hat keine freien Dateieinträge mehr. %1 bleibt im überwachten Verzeichnis, bis Dateien gelöscht werden.</source>
        <translation>The destination folder&apos;s file system has no free file entries left. %1 stays in the watched folder until files are deleted.</translation>
    </message>
    <message>
        <source>Das Dateisystem des Zielverzeichnisses hat keine freien Dateieinträge mehr. %1 bleiben im überwachten Verzeichnis, bis Dateien gelöscht werden.</source>
        <translation>The destination folder&apos;s file system has no free file entries left. %1 stay in the watched folder until files are deleted.</translation>
    </message>
    <message>
        <source>Kontingent wieder frei</source>
        <translation>Disk quota free again</translation>
    </message>
    <message>
        <source>Wieder freie Dateieinträge</source>
        <translation>Free file entries again</translation>
    </message>
</context>
<context>
    <name>kw::Program</name>
    <message>
        <source>keine Leseberechtigung</source>
        <translation>no read permission</translation>
    </message>
    <message>
        <source>Fehler</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>Diese Datei ist vorhanden, kann aber nicht gelesen werden:</source>
        <translation>This file exists but cannot be read:</translation>
    </message>
    <message>
        <source>Diese Dateien sind vorhanden, können aber nicht gelesen werden:</source>
        <translation>These files exist but cannot be read:</translation>
    </message>
    <message>
        <source>Kopierwart arbeitet ohne ihren Inhalt weiter und schreibt in diesem Lauf nichts in diese Datei.</source>
        <translation>Kopierwart goes on without its content and writes nothing into this file in this run.</translation>
    </message>
    <message>
        <source>Kopierwart arbeitet ohne ihren Inhalt weiter und schreibt in diesem Lauf nichts in diese Dateien.</source>
        <translation>Kopierwart goes on without their content and writes nothing into these files in this run.</translation>
    </message>
</context>
<context>
    <name>kw::Statistics</name>
    <message>
        <source>,</source>
        <comment>decimal sign</comment>
        <translation>.</translation>
    </message>
    <message>
        <source>%1 Gesicherte Datei (%2 MB)</source>
        <translation>%1 saved file (%2 MB)</translation>
    </message>
    <message>
        <source>%1 Gesicherte Dateien (%2 MB)</source>
        <translation>%1 saved files (%2 MB)</translation>
    </message>
</context>
<context>
    <name>kw::Tray</name>
    <message>
        <source>Anzeigen</source>
        <translation>Show</translation>
    </message>
    <message>
        <source>Beenden</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>Verbergen</source>
        <translation>Hide</translation>
    </message>
    <message>
        <source>Zeigen</source>
        <translation>Show</translation>
    </message>
    <message>
        <source>Kein P2P-Programm läuft</source>
        <translation>No P2P program running</translation>
    </message>
    <message>
        <source>P2P-Programme: </source>
        <translation>P2P programs: </translation>
    </message>
    <message>
        <source>%1 (überwacht: %2)</source>
        <translation>%1 (watched: %2)</translation>
    </message>
</context>
</TS>
