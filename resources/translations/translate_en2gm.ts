<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>CLiveStream</name>
    <message>
        <source>Capture</source>
        <translation>Schnappschuss</translation>
    </message>
    <message>
        <source>Snapshot OK.It is saved to:</source>
        <translation>Schnappschuss OK. Gespeichert unter:</translation>
    </message>
    <message>
        <source>Failed to save image!</source>
        <translation>Das Bild konnte nicht gespeichert werden!</translation>
    </message>
</context>
<context>
    <name>Client</name>
    <message>
        <source>Preview (%1) failed !</source>
        <translation>Vorschau (%1) fehlgeschlagen!</translation>
    </message>
    <message>
        <source>Client</source>
        <translation>Client</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>Minimieren</translation>
    </message>
    <message>
        <source>Restore Down</source>
        <translation>Verkleinern</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>PC Client</source>
        <translation>PC-Client</translation>
    </message>
    <message>
        <source>Are you sure to close the client?</source>
        <translation>Möchten Sie den Client wirklich schließen?</translation>
    </message>
    <message>
        <source>Maximize</source>
        <translation>Maximieren</translation>
    </message>
    <message>
        <source>Preview</source>
        <translation>Vorschau</translation>
    </message>
    <message>
        <source>Playback</source>
        <translation>Wiedergabe</translation>
    </message>
    <message>
        <source>Recordings and Playback</source>
        <translation>Aufnahmen und Wiedergabe</translation>
    </message>
    <message>
        <source>Alarm Log</source>
        <translation>Alarmprotokoll</translation>
    </message>
    <message>
        <source>Config</source>
        <translation>Konfiguration</translation>
    </message>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Add device</source>
        <translation>Gerät hinzufügen</translation>
    </message>
    <message>
        <source>4 Video Windows</source>
        <translation>4 Videofenster</translation>
    </message>
    <message>
        <source>8 Video Windows</source>
        <translation>8 Videofenster</translation>
    </message>
    <message>
        <source>16 Video Windows</source>
        <translation>16 Videofenster</translation>
    </message>
    <message>
        <source>25 Video Windows</source>
        <translation>25 Videofenster</translation>
    </message>
    <message>
        <source>Previous Group</source>
        <translation>Vorherige Gruppe</translation>
    </message>
    <message>
        <source>Next Group</source>
        <translation>Nächste Gruppe</translation>
    </message>
    <message>
        <source>Unmute All</source>
        <translation>Ton für alle einschalten</translation>
    </message>
    <message>
        <source>Mute All</source>
        <translation>Alle stummschalten</translation>
    </message>
    <message>
        <source>Fullscreen</source>
        <translation>Vollbild</translation>
    </message>
    <message>
        <source>Device List</source>
        <translation>Geräteliste</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>Connect all</source>
        <translation>Alle verbinden</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Device Management</source>
        <translation>Geräteverwaltung</translation>
    </message>
    <message>
        <source>At most %1 cameras can be listed: %2 camera(s) not added.</source>
        <translation>Es können höchstens %1 Kameras aufgeführt werden: %2 Kamera(s) nicht hinzugefügt.</translation>
    </message>
    <message>
        <source>The camera list could not be saved (error %1): the changes are lost when the client ends.</source>
        <translation>Die Kameraliste konnte nicht gespeichert werden (Fehler %1): die Änderungen gehen beim Beenden des Clients verloren.</translation>
    </message>
    <message>
        <source>Setup Device</source>
        <translation>Gerät einrichten</translation>
    </message>
    <message>
        <source>Device is offline !</source>
        <translation>Das Gerät ist offline!</translation>
    </message>
    <message>
        <source>The current device is under previewing or recording playing back. Pls stop that before removing it.</source>
        <translation>Das Gerät wird gerade in der Vorschau oder bei der Wiedergabe von Aufnahmen verwendet. Bitte beenden Sie dies, bevor Sie es entfernen.</translation>
    </message>
    <message>
        <source>Are you sure to delete the device %1 (%2)?</source>
        <translation>Möchten Sie das Gerät %1 (%2) wirklich löschen?</translation>
    </message>
    <message>
        <source>Pls provide the camera password before visiting it</source>
        <translation>Bitte geben Sie das Kamerapasswort ein, bevor Sie auf die Kamera zugreifen.</translation>
    </message>
    <message>
        <source>Device:</source>
        <translation>Gerät:</translation>
    </message>
    <message>
        <source> Online</source>
        <translation> online</translation>
    </message>
    <message>
        <source> Offline</source>
        <translation> offline</translation>
    </message>
    <message>
        <source>Wrong password</source>
        <translation>Falsches Passwort</translation>
    </message>
    <message>
        <source>The relay reports this camera offline. Its firmware cannot be asked whether it is back: if it is online on another relay node, it needs a newer firmware or the same relay node as this client.</source>
        <translation>Das Relay meldet diese Kamera als offline. Ihre Firmware kann nicht gefragt werden, ob sie wieder da ist: Ist sie an einem anderen Relay-Knoten online, braucht sie eine neuere Firmware oder denselben Relay-Knoten wie dieser Client.</translation>
    </message>
    <message>
        <source> Wrong password</source>
        <translation> falsches Passwort</translation>
    </message>
    <message>
        <source> Recording lost its stream</source>
        <translation> Aufnahme hat ihren Stream verloren</translation>
    </message>
    <message>
        <source> Recording has its stream again</source>
        <translation> Aufnahme hat ihren Stream wieder</translation>
    </message>
    <message>
        <source>The camera %1 (%2) refuses the stored password. Enter its password under Settings &gt; Camera Editor.</source>
        <translation>Die Kamera %1 (%2) lehnt das gespeicherte Passwort ab. Geben Sie ihr Passwort unter Einstellungen &gt; Kamera bearbeiten ein.</translation>
    </message>
    <message>
        <source>Live video reconnecting</source>
        <translation>Live-Video wird neu verbunden</translation>
    </message>
</context>
<context>
    <name>InfoBox</name>
    <message>
        <source>Yes</source>
        <translation>Ja</translation>
    </message>
    <message>
        <source>No</source>
        <translation>Nein</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>QAboutDlg</name>
    <message>
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Version:</source>
        <translation>Version:</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>QAddDevice</name>
    <message>
        <source>Add Device</source>
        <translation>Gerät hinzufügen</translation>
    </message>
    <message>
        <source>Select all</source>
        <translation>Alle auswählen</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>Manuell</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Camera ID</source>
        <translation>Kamera-ID</translation>
    </message>
    <message>
        <source>IP</source>
        <translation>IP</translation>
    </message>
    <message>
        <source>ONVIF URL</source>
        <translation>ONVIF-URL</translation>
    </message>
    <message>
        <source>The device list is full: at most %1 devices. Device [%2] was not added.</source>
        <translation>Die Geräteliste ist voll: höchstens %1 Geräte. Gerät [%2] wurde nicht hinzugefügt.</translation>
    </message>
    <message>
        <source>Device [%1] has been added, the name is [%2].</source>
        <translation>Gerät [%1] ist bereits vorhanden, sein Name ist [%2].</translation>
    </message>
    <message>
        <source>Failed to add device,id:[%1]</source>
        <translation>Gerät konnte nicht hinzugefügt werden, ID: [%1]</translation>
    </message>
    <message>
        <source>Add device:</source>
        <translation>Gerät hinzugefügt:</translation>
    </message>
    <message>
        <source>Please select one or more devices to add!</source>
        <translation>Bitte wählen Sie mindestens ein Gerät zum Hinzufügen aus!</translation>
    </message>
    <message>
        <source>Add device completed</source>
        <translation>Geräte wurden hinzugefügt</translation>
    </message>
    <message>
        <source>Failed to add device (%1)</source>
        <translation>Gerät (%1) konnte nicht hinzugefügt werden</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Adding the selected cameras...</source>
        <translation>Die ausgewählten Kameras werden hinzugefügt...</translation>
    </message>
</context>
<context>
    <name>QAlarmSearch</name>
    <message>
        <source>Alarm Log</source>
        <translation>Alarmprotokoll</translation>
    </message>
    <message>
        <source>Device:</source>
        <translation>Gerät:</translation>
    </message>
    <message>
        <source>Start Time:</source>
        <translation>Startzeit:</translation>
    </message>
    <message>
        <source>End Time:</source>
        <translation>Endzeit:</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>No.</source>
        <translation>Nr.</translation>
    </message>
    <message>
        <source>Device ID</source>
        <translation>Geräte-ID</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Alarm Type</source>
        <translation>Alarmtyp</translation>
    </message>
    <message>
        <source>External sensor alarm</source>
        <translation>Alarm externer Sensor</translation>
    </message>
    <message>
        <source>Motion detect alarm</source>
        <translation>Bewegungsalarm</translation>
    </message>
    <message>
        <source>IO Alarm</source>
        <translation>E/A-Alarm</translation>
    </message>
    <message>
        <source>Video block alarm</source>
        <translation>Videoabdeckungsalarm</translation>
    </message>
    <message>
        <source>Human detect alarm</source>
        <translation>Personenerkennungsalarm</translation>
    </message>
    <message>
        <source>Motion detection (fallback)</source>
        <translation>Bewegungserkennung (Ersatz)</translation>
    </message>
    <message>
        <source>Other alarm</source>
        <translation>Sonstiger Alarm</translation>
    </message>
    <message>
        <source>Start time can not later than the end of time!</source>
        <translation>Die Startzeit darf nicht nach der Endzeit liegen!</translation>
    </message>
    <message>
        <source>Search time can not longer than 7 days!</source>
        <translation>Die Suche darf nicht mehr als 7 Tage zurückreichen!</translation>
    </message>
    <message>
        <source>Please select a device!</source>
        <translation>Bitte wählen Sie ein Gerät aus!</translation>
    </message>
    <message>
        <source>Failed to query the alarm log on the device video.</source>
        <translation>Das Alarmprotokoll des Geräts konnte nicht abgefragt werden.</translation>
    </message>
    <message>
        <source>Camera password not provided,please input.</source>
        <translation>Kein Kamerapasswort hinterlegt, bitte eingeben.</translation>
    </message>
    <message>
        <source>Camera password is incorrect, please input the correct password</source>
        <translation>Das Kamerapasswort ist falsch, bitte geben Sie das richtige Passwort ein</translation>
    </message>
    <message>
        <source>The device did not answer, please search again.</source>
        <translation>Das Gerät hat nicht geantwortet, bitte suchen Sie erneut.</translation>
    </message>
    <message>
        <source>Device has no alarm log !</source>
        <translation>Das Gerät hat kein Alarmprotokoll!</translation>
    </message>
    <message>
        <source>Searching the alarm log...</source>
        <translation>Das Alarmprotokoll wird durchsucht...</translation>
    </message>
</context>
<context>
    <name>QConfigMgr</name>
    <message>
        <source>Config Management</source>
        <translation>Konfigurationsverwaltung</translation>
    </message>
    <message>
        <source>User Manager</source>
        <translation>Benutzerverwaltung</translation>
    </message>
    <message>
        <source>Config Storage</source>
        <translation>Speicher konfigurieren</translation>
    </message>
    <message>
        <source>Log Manager</source>
        <translation>Protokollverwaltung</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Remove device:</source>
        <translation>Gerät entfernt:</translation>
    </message>
</context>
<context>
    <name>QDownload</name>
    <message>
        <source>Starting...</source>
        <translation>Wird gestartet...</translation>
    </message>
    <message>
        <source>Stopping the download...</source>
        <translation>Download wird angehalten...</translation>
    </message>
    <message>
        <source>Download Recordings</source>
        <translation>Aufnahmen herunterladen</translation>
    </message>
    <message>
        <source>No.</source>
        <translation>Nr.</translation>
    </message>
    <message>
        <source>Size(MB)</source>
        <translation>Größe (MB)</translation>
    </message>
    <message>
        <source>File name</source>
        <translation>Dateiname</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Fortschritt</translation>
    </message>
    <message>
        <source>All</source>
        <translation>Alle</translation>
    </message>
    <message>
        <source>Save to folder:</source>
        <translation>Speichern in:</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Choose a Target Directory</source>
        <translation>Zielordner wählen</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>The download folder (%1) cannot be written.</source>
        <translation>In den Download-Ordner (%1) kann nicht geschrieben werden.</translation>
    </message>
    <message>
        <source>Download failed, disk is full !</source>
        <translation>Herunterladen fehlgeschlagen, der Datenträger ist voll!</translation>
    </message>
    <message>
        <source>It is downloading, are you sure you want to close?</source>
        <translation>Es wird heruntergeladen. Wirklich schließen?</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Angehalten</translation>
    </message>
    <message>
        <source>Finished</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>no data from the camera</source>
        <translation>keine Daten von der Kamera</translation>
    </message>
    <message>
        <source>the camera stopped sending</source>
        <translation>die Kamera hat aufgehört zu senden</translation>
    </message>
    <message>
        <source>cannot create %1 (%2)</source>
        <translation>%1 kann nicht angelegt werden (%2)</translation>
    </message>
    <message>
        <source>cannot write %1 (%2)</source>
        <translation>%1 kann nicht geschrieben werden (%2)</translation>
    </message>
    <message>
        <source>the camera sent the file out of order</source>
        <translation>die Kamera hat die Datei nicht in der richtigen Reihenfolge gesendet</translation>
    </message>
    <message>
        <source>conversion to MP4 failed, camera file kept as %1</source>
        <translation>Umwandlung in MP4 fehlgeschlagen, Kameradatei aufbewahrt als %1</translation>
    </message>
    <message>
        <source>the camera did not start the download (%1)</source>
        <translation>die Kamera hat das Herunterladen nicht begonnen (%1)</translation>
    </message>
    <message>
        <source>an earlier download of this file is still ending</source>
        <translation>ein früheres Herunterladen dieser Datei endet noch</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unbekannt</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>Fehlgeschlagen: %1</translation>
    </message>
</context>
<context>
    <name>QLogMgr</name>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>User</source>
        <translation>Benutzer</translation>
    </message>
    <message>
        <source>Content</source>
        <translation>Inhalt</translation>
    </message>
</context>
<context>
    <name>QLogin</name>
    <message>
        <source>Login</source>
        <translation>Anmelden</translation>
    </message>
    <message>
        <source>Username</source>
        <translation>Benutzername</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>Remember Password</source>
        <translation>Passwort merken</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Hilfe</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Language:</source>
        <translation>Sprache:</translation>
    </message>
    <message>
        <source>English</source>
        <translation>Englisch</translation>
    </message>
    <message>
        <source>German</source>
        <translation>Deutsch</translation>
    </message>
    <message>
        <source>Local IP:</source>
        <translation>Lokale IP:</translation>
    </message>
    <message>
        <source>User name can not be empty!</source>
        <translation>Der Benutzername darf nicht leer sein!</translation>
    </message>
    <message>
        <source>Password can not be empty!</source>
        <translation>Das Passwort darf nicht leer sein!</translation>
    </message>
    <message>
        <source>Can&apos;t get local ip, exit!</source>
        <translation>Keine lokale IP-Adresse gefunden, das Programm wird beendet!</translation>
    </message>
    <message>
        <source>Username does not exist!</source>
        <translation>Der Benutzername existiert nicht!</translation>
    </message>
    <message>
        <source>Password incorrect, please have a check and try again.</source>
        <translation>Das Passwort ist falsch. Bitte prüfen Sie es und versuchen Sie es erneut.</translation>
    </message>
    <message>
        <source>Unknown error!</source>
        <translation>Unbekannter Fehler!</translation>
    </message>
    <message>
        <source>Login Password Instruction:
</source>
        <translation>Hinweise zum Anmeldepasswort:
</translation>
    </message>
    <message>
        <source>1. Initial login username: </source>
        <translation>1. Anfänglicher Benutzername: </translation>
    </message>
    <message>
        <source>2. Initial login password: </source>
        <translation>2. Anfängliches Passwort: </translation>
    </message>
    <message>
        <source>3. Please change the login password later in the software:
   Config Management -&gt; Login Password
</source>
        <translation>3. Bitte ändern Sie das Anmeldepasswort später im Programm:
   Konfigurationsverwaltung -&gt; Anmeldepasswort
</translation>
    </message>
    <message>
        <source>4. In case you forget the login password, please uninstall
   and then install the VarnoPC</source>
        <translation>4. Falls Sie das Anmeldepasswort vergessen, deinstallieren Sie
   VarnoPC und installieren Sie es danach erneut</translation>
    </message>
    <message>
        <source>The user store %1 cannot be read. Check that the file is readable by this user.</source>
        <translation>Die Benutzerdatei %1 kann nicht gelesen werden. Prüfen Sie, ob dieser Benutzer die Datei lesen darf.</translation>
    </message>
    <message>
        <source>The login settings could not be read and were reset. The old file was kept as %1.</source>
        <translation>Die Anmeldeeinstellungen konnten nicht gelesen werden und wurden zurückgesetzt. Die alte Datei wurde als %1 aufbewahrt.</translation>
    </message>
</context>
<context>
    <name>QManualDial</name>
    <message>
        <source>Manual</source>
        <translation>Manuell</translation>
    </message>
    <message>
        <source>Camera ID</source>
        <translation>Kamera-ID</translation>
    </message>
    <message>
        <source>You can find Camera ID on the back of the camera.It is like A0000188.</source>
        <translation>Die Kamera-ID steht auf der Rückseite der Kamera, z. B. A0000188.</translation>
    </message>
    <message>
        <source>Camera Name</source>
        <translation>Kameraname</translation>
    </message>
    <message>
        <source>Name the Camera...</source>
        <translation>Kamera benennen ...</translation>
    </message>
    <message>
        <source>Camera Password</source>
        <translation>Kamerapasswort</translation>
    </message>
    <message>
        <source>You can find the default password on the back of the camera.</source>
        <translation>Das Standardpasswort steht auf der Rückseite der Kamera.</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Hinzufügen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>ID can not be empty!</source>
        <translation>Die ID darf nicht leer sein!</translation>
    </message>
    <message>
        <source>ID is not correct !</source>
        <translation>Die ID ist ungültig!</translation>
    </message>
    <message>
        <source>Device[%1] has been added, check [%2].</source>
        <translation>Gerät [%1] ist bereits vorhanden, siehe [%2].</translation>
    </message>
    <message>
        <source>Please inupt Name.</source>
        <translation>Bitte geben Sie einen Namen ein.</translation>
    </message>
    <message>
        <source>Please input password.</source>
        <translation>Bitte geben Sie das Passwort ein.</translation>
    </message>
    <message>
        <source>Unable to connect server (ID:%1) (errorno:%2)!</source>
        <translation>Keine Verbindung zum Server (ID: %1) (Fehlernummer: %2)!</translation>
    </message>
    <message>
        <source>Camera %1 did not answer its lookup (errorno:%2). Check the ID; a camera with an older firmware may need a newer one, or the same relay node as this client.</source>
        <translation>Die Kamera %1 hat auf ihre Suche nicht geantwortet (Fehlernummer: %2). Prüfen Sie die ID; eine Kamera mit älterer Firmware braucht womöglich eine neuere oder denselben Relay-Knoten wie dieser Client.</translation>
    </message>
    <message>
        <source>Unable to connect device(%1) (errorno:%2)!</source>
        <translation>Keine Verbindung zum Gerät (%1) (Fehlernummer: %2)!</translation>
    </message>
    <message>
        <source>Password incorrect!</source>
        <translation>Falsches Passwort!</translation>
    </message>
    <message>
        <source>Manually add device(%1) successfully!</source>
        <translation>Gerät (%1) wurde manuell hinzugefügt!</translation>
    </message>
    <message>
        <source>Checking the camera&apos;s password...</source>
        <translation>Das Passwort der Kamera wird geprüft...</translation>
    </message>
</context>
<context>
    <name>QPasswd</name>
    <message>
        <source>Password</source>
        <translation>Passwort</translation>
    </message>
    <message>
        <source>ID:</source>
        <translation>ID:</translation>
    </message>
    <message>
        <source>Default device ID can be found on the back of the camera</source>
        <translation>Die Geräte-ID steht auf der Rückseite der Kamera</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Name the camera</source>
        <translation>Kamera benennen</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Passwort:</translation>
    </message>
    <message>
        <source>Default device password can be found on the back of the camera</source>
        <translation>Das Standardpasswort steht auf der Rückseite der Kamera</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Bestätigen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Property</source>
        <translation>Eigenschaften</translation>
    </message>
    <message>
        <source>Please input password.</source>
        <translation>Bitte geben Sie das Passwort ein.</translation>
    </message>
</context>
<context>
    <name>QPasswdFrm</name>
    <message>
        <source>Device ID:</source>
        <translation>Geräte-ID:</translation>
    </message>
    <message>
        <source>Device Name:</source>
        <translation>Gerätename:</translation>
    </message>
    <message>
        <source>The device name...</source>
        <translation>Der Gerätename ...</translation>
    </message>
    <message>
        <source>Old Password:</source>
        <translation>Altes Passwort:</translation>
    </message>
    <message>
        <source>The original password...</source>
        <translation>Das bisherige Passwort ...</translation>
    </message>
    <message>
        <source>New Password:</source>
        <translation>Neues Passwort:</translation>
    </message>
    <message>
        <source>The new password consists of 6-30 characters (0-9,a-z,A-Z);
Special characters are not allowed.
The password must not begin with &quot;0&quot;.</source>
        <translation>Das neue Passwort besteht aus 6–30 Zeichen (0-9, a-z, A-Z);
Sonderzeichen sind nicht erlaubt.
Das Passwort darf nicht mit „0“ beginnen.</translation>
    </message>
    <message>
        <source>Confirm:</source>
        <translation>Bestätigung:</translation>
    </message>
    <message>
        <source>The confirm password must be the same with the new password.</source>
        <translation>Die Bestätigung muss mit dem neuen Passwort übereinstimmen.</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Bestätigen</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Name can not be empty!</source>
        <translation>Der Name darf nicht leer sein!</translation>
    </message>
    <message>
        <source>Old password can not be empty!</source>
        <translation>Das alte Passwort darf nicht leer sein!</translation>
    </message>
    <message>
        <source>New password can not be empty!</source>
        <translation>Das neue Passwort darf nicht leer sein!</translation>
    </message>
    <message>
        <source>New password can not be same with old password!</source>
        <translation>Das neue Passwort darf nicht mit dem alten übereinstimmen!</translation>
    </message>
    <message>
        <source>New password must consists of 6-30 characters!</source>
        <translation>Das neue Passwort muss aus 6–30 Zeichen bestehen!</translation>
    </message>
    <message>
        <source>New password must not begin with &apos;0&apos; !</source>
        <translation>Das neue Passwort darf nicht mit „0“ beginnen!</translation>
    </message>
    <message>
        <source>Confirm password can not be empty!</source>
        <translation>Die Passwortbestätigung darf nicht leer sein!</translation>
    </message>
    <message>
        <source>New password can be same with confirm password!</source>
        <translation>Das neue Passwort stimmt nicht mit der Bestätigung überein!</translation>
    </message>
    <message>
        <source>Unable to connect device(%1) (errorno:%2)!</source>
        <translation>Keine Verbindung zum Gerät (%1) (Fehlernummer: %2)!</translation>
    </message>
    <message>
        <source>Change device [%1] Password failed, Please enter the correct old password !</source>
        <translation>Das Passwort von Gerät [%1] wurde nicht geändert. Bitte geben Sie das richtige alte Passwort ein!</translation>
    </message>
    <message>
        <source>Change Password:</source>
        <translation>Passwort geändert:</translation>
    </message>
    <message>
        <source>Modify successful !</source>
        <translation>Änderung erfolgreich!</translation>
    </message>
    <message>
        <source>Changing the camera&apos;s password...</source>
        <translation>Das Passwort der Kamera wird geändert...</translation>
    </message>
</context>
<context>
    <name>QPropertyDial</name>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Camera Editor</source>
        <translation>Kamera bearbeiten</translation>
    </message>
    <message>
        <source>Change password</source>
        <translation>Passwort ändern</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>QPtzCtrol</name>
    <message>
        <source>Zoom out</source>
        <translation>Herauszoomen</translation>
    </message>
    <message>
        <source>Zoom in</source>
        <translation>Hineinzoomen</translation>
    </message>
    <message>
        <source>Speed</source>
        <translation>Geschwindigkeit</translation>
    </message>
    <message>
        <source>Presets</source>
        <translation>Positionen</translation>
    </message>
    <message>
        <source>Go to</source>
        <translation>Anfahren</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Save preset</source>
        <translation>Position speichern</translation>
    </message>
    <message>
        <source>Name of the new preset:</source>
        <translation>Name der neuen Position:</translation>
    </message>
    <message>
        <source>Remove preset</source>
        <translation>Position entfernen</translation>
    </message>
    <message>
        <source>Remove the preset &quot;%1&quot;?</source>
        <translation>Die Position „%1“ entfernen?</translation>
    </message>
</context>
<context>
    <name>QPtzFrame</name>
    <message>
        <source>Up</source>
        <translation>Hoch</translation>
    </message>
    <message>
        <source>Down</source>
        <translation>Runter</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>Rechts</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>Links</translation>
    </message>
</context>
<context>
    <name>QRenameFrm</name>
    <message>
        <source>Device ID:</source>
        <translation>Geräte-ID:</translation>
    </message>
    <message>
        <source>Device Name:</source>
        <translation>Gerätename:</translation>
    </message>
    <message>
        <source>Name must be less than 32</source>
        <translation>Höchstens 31 Zeichen</translation>
    </message>
    <message>
        <source>Device Password:</source>
        <translation>Gerätepasswort:</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Bestätigen</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Name can not be empty!</source>
        <translation>Der Name darf nicht leer sein!</translation>
    </message>
    <message>
        <source>Password can not be empty!</source>
        <translation>Das Passwort darf nicht leer sein!</translation>
    </message>
    <message>
        <source>Rename:</source>
        <translation>Umbenannt:</translation>
    </message>
    <message>
        <source>Modify successful !</source>
        <translation>Änderung erfolgreich!</translation>
    </message>
    <message>
        <source>The password the client uses for this camera.</source>
        <translation>Das Passwort, das der Client für diese Kamera verwendet.</translation>
    </message>
    <message>
        <source>The password the client uses for this camera: the camera&apos;s current password, of any length. To give the camera a new password (6-30 characters) use &quot;Change password&quot;.</source>
        <translation>Das Passwort, das der Client für diese Kamera verwendet: das aktuelle Passwort der Kamera, beliebig lang. Ein neues Kamerapasswort (6-30 Zeichen) vergeben Sie unter „Passwort ändern“.</translation>
    </message>
    <message>
        <source>The password the client uses for this camera: its ONVIF password, of any length. The camera&apos;s own password is changed on the camera&apos;s web page.</source>
        <translation>Das Passwort, das der Client für diese Kamera verwendet: ihr ONVIF-Passwort, beliebig lang. Das Passwort der Kamera selbst ändern Sie auf der Webseite der Kamera.</translation>
    </message>
</context>
<context>
    <name>QTipWidget</name>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>QUserMgr</name>
    <message>
        <source>User Name:</source>
        <translation>Benutzername:</translation>
    </message>
    <message>
        <source>Old Password:</source>
        <translation>Altes Passwort:</translation>
    </message>
    <message>
        <source>The original password...</source>
        <translation>Das bisherige Passwort ...</translation>
    </message>
    <message>
        <source>New Password:</source>
        <translation>Neues Passwort:</translation>
    </message>
    <message>
        <source>The new password consists of 1-31 characters (0-9,a-z,A-Z); 
Special characters are not allowed.</source>
        <translation>Das neue Passwort besteht aus 1–31 Zeichen (0-9, a-z, A-Z);
Sonderzeichen sind nicht erlaubt.</translation>
    </message>
    <message>
        <source>Confirm:</source>
        <translation>Bestätigung:</translation>
    </message>
    <message>
        <source>The confirm password is not identical as the new password.</source>
        <translation>Die Bestätigung muss mit dem neuen Passwort übereinstimmen.</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Bestätigen</translation>
    </message>
    <message>
        <source>Change Password</source>
        <translation>Passwort ändern</translation>
    </message>
    <message>
        <source>User name cannot be empty!</source>
        <translation>Der Benutzername darf nicht leer sein!</translation>
    </message>
    <message>
        <source>The old password cannot be empty!</source>
        <translation>Das alte Passwort darf nicht leer sein!</translation>
    </message>
    <message>
        <source>The new password cannot be empty!</source>
        <translation>Das neue Passwort darf nicht leer sein!</translation>
    </message>
    <message>
        <source>New password can not be same with old password!</source>
        <translation>Das neue Passwort darf nicht mit dem alten übereinstimmen!</translation>
    </message>
    <message>
        <source>The confirm password cannot be empty!</source>
        <translation>Die Passwortbestätigung darf nicht leer sein!</translation>
    </message>
    <message>
        <source>The confirm password is not identical as the new password. Please check.</source>
        <translation>Die Passwortbestätigung stimmt nicht mit dem neuen Passwort überein. Bitte prüfen.</translation>
    </message>
    <message>
        <source>Change password successfully!</source>
        <translation>Das Passwort wurde geändert!</translation>
    </message>
    <message>
        <source>User name does not exist!</source>
        <translation>Der Benutzername existiert nicht!</translation>
    </message>
    <message>
        <source>The orignal password incorrect.Please provide correct password.</source>
        <translation>Das bisherige Passwort ist falsch. Bitte geben Sie das richtige Passwort ein.</translation>
    </message>
    <message>
        <source>Unknown error!</source>
        <translation>Unbekannter Fehler!</translation>
    </message>
</context>
<context>
    <name>QVideoHand</name>
    <message>
        <source>Record</source>
        <translation>Aufnehmen</translation>
    </message>
    <message>
        <source>Snapshot</source>
        <translation>Schnappschuss</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Recording</source>
        <translation>Aufnahme</translation>
    </message>
    <message>
        <source>Manual recording can not be executed , as there is an alarm vieo recording under going.</source>
        <translation>Eine manuelle Aufnahme ist nicht möglich, solange eine Alarmaufnahme läuft.</translation>
    </message>
    <message>
        <source>Stop recording</source>
        <translation>Aufnahme beenden</translation>
    </message>
    <message>
        <source>Alarm recording</source>
        <translation>Alarmaufnahme</translation>
    </message>
    <message>
        <source>waiting for the camera</source>
        <translation>wartet auf die Kamera</translation>
    </message>
</context>
<context>
    <name>QVideoHandPb</name>
    <message>
        <source>Fast backward</source>
        <translation>Langsamer</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Fast forward</source>
        <translation>Schneller</translation>
    </message>
    <message>
        <source>Next frame</source>
        <translation>Nächstes Bild</translation>
    </message>
    <message>
        <source>Snapshot</source>
        <translation>Schnappschuss</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Abspielen</translation>
    </message>
</context>
<context>
    <name>QVideoMgr</name>
    <message>
        <source>Storage Settings</source>
        <translation>Speichereinstellungen</translation>
    </message>
    <message>
        <source>over write the disk when it is full.</source>
        <translation>Datenträger überschreiben, wenn er voll ist.</translation>
    </message>
    <message>
        <source>set save path name:</source>
        <translation>Name des Aufnahmeordners:</translation>
    </message>
    <message>
        <source>Alarm recording:</source>
        <translation>Alarmaufnahme:</translation>
    </message>
    <message>
        <source>None</source>
        <translation>Keine</translation>
    </message>
    <message>
        <source>Every alarm</source>
        <translation>Jeder Alarm</translation>
    </message>
    <message>
        <source>IO alarms only</source>
        <translation>Nur E/A-Alarme</translation>
    </message>
    <message>
        <source>Motion detection only</source>
        <translation>Nur Bewegungserkennung</translation>
    </message>
    <message>
        <source>Snapshot save to</source>
        <translation>Schnappschüsse speichern in</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Durchsuchen</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source> Local disk)</source>
        <translation> Lokaler Datenträger)</translation>
    </message>
    <message>
        <source> Removable disk)</source>
        <translation> Wechseldatenträger)</translation>
    </message>
    <message>
        <source> Unknown type)</source>
        <translation> Unbekannter Typ)</translation>
    </message>
    <message>
        <source>Failed to open the storage configuration file!</source>
        <translation>Die Speicherkonfigurationsdatei konnte nicht geöffnet werden!</translation>
    </message>
    <message>
        <source>Save storage set successfully. It will take effect from next recording starts.</source>
        <translation>Speichereinstellungen gespeichert. Sie gelten ab dem Start der nächsten Aufnahme.</translation>
    </message>
    <message>
        <source>Select the folder</source>
        <translation>Ordner auswählen</translation>
    </message>
    <message>
        <source>Storage</source>
        <translation>Speicher</translation>
    </message>
    <message>
        <source>The storage settings could not be read and were reset to the defaults. The old file was kept as %1.</source>
        <translation>Die Speichereinstellungen konnten nicht gelesen werden und wurden auf die Standardwerte zurückgesetzt. Die alte Datei wurde als %1 aufbewahrt.</translation>
    </message>
</context>
<context>
    <name>QVideoOnly</name>
    <message>
        <source>Waiting for video...</source>
        <translation>Warten auf Video …</translation>
    </message>
    <message>
        <source>The client will run in the background because a alarm video is under recording.Are you sure you want to close?</source>
        <translation>Der Client läuft im Hintergrund weiter, weil gerade ein Alarmvideo aufgenommen wird. Möchten Sie das Video wirklich schließen?</translation>
    </message>
    <message>
        <source>A running record will be stopped after closing the client. Are you sure to close it?</source>
        <translation>Eine laufende Aufnahme wird beim Schließen beendet. Möchten Sie das Video wirklich schließen?</translation>
    </message>
    <message>
        <source>Close the video</source>
        <translation>Video schließen</translation>
    </message>
    <message>
        <source>%1 running record will be stopped after closing. Are you sure to close it?</source>
        <translation>Beim Schließen werden %1 laufende Aufnahmen beendet. Möchten Sie wirklich alle Videos schließen?</translation>
    </message>
    <message>
        <source>Recording</source>
        <translation>Aufnahme</translation>
    </message>
    <message>
        <source>Disk space is full, can&apos;t cover!!!</source>
        <translation>Der Speicher ist voll und kann nicht überschrieben werden!</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Closed all</source>
        <translation>Alle schließen</translation>
    </message>
    <message>
        <source>Snapshot</source>
        <translation>Schnappschuss</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Aufnehmen</translation>
    </message>
    <message>
        <source>Hight definition</source>
        <translation>Hohe Auflösung (HD)</translation>
    </message>
    <message>
        <source>Standard definition</source>
        <translation>Standardauflösung (SD)</translation>
    </message>
    <message>
        <source>Choose stream by window size</source>
        <translation>Stream nach Fenstergröße wählen</translation>
    </message>
    <message>
        <source>Keep aspect ratio</source>
        <translation>Seitenverhältnis beibehalten</translation>
    </message>
    <message>
        <source>The oldest recordings in %1 were overwritten, but the disk is still full: another program fills it. Recording stopped.</source>
        <translation>Die ältesten Aufnahmen in %1 wurden überschrieben, aber die Festplatte ist immer noch voll: ein anderes Programm füllt sie. Aufnahme beendet.</translation>
    </message>
    <message>
        <source>The record disk of %1 went away. Recording goes on on the next disk.</source>
        <translation>Die Aufnahme-Festplatte von %1 ist nicht mehr vorhanden. Die Aufnahme wird auf der nächsten Festplatte fortgesetzt.</translation>
    </message>
    <message>
        <source>The record disk of %1 went away and no other record disk is left. Recording stopped.</source>
        <translation>Die Aufnahme-Festplatte von %1 ist nicht mehr vorhanden, und es gibt keine weitere Aufnahme-Festplatte. Aufnahme beendet.</translation>
    </message>
    <message>
        <source>The record folder %1 cannot be written (read-only or no permission). Recording stopped.</source>
        <translation>In den Aufnahmeordner %1 kann nicht geschrieben werden (schreibgeschützt oder keine Berechtigung). Aufnahme beendet.</translation>
    </message>
    <message>
        <source>The recording file %1 could not be written. Recording stopped.</source>
        <translation>Die Aufnahmedatei %1 konnte nicht geschrieben werden. Aufnahme beendet.</translation>
    </message>
    <message>
        <source>A recording file could not be created in %1 (error %2). Recording stopped.</source>
        <translation>In %1 konnte keine Aufnahmedatei angelegt werden (Fehler %2). Aufnahme beendet.</translation>
    </message>
</context>
<context>
    <name>QVideoPlay</name>
    <message>
        <source>No video</source>
        <translation>Kein Video</translation>
    </message>
    <message>
        <source>Reconnecting...</source>
        <translation>Verbindung wird wiederhergestellt...</translation>
    </message>
</context>
<context>
    <name>fileplay</name>
    <message>
        <source>Searching...</source>
        <translation>Suche läuft...</translation>
    </message>
    <message>
        <source>Source:</source>
        <translation>Quelle:</translation>
    </message>
    <message>
        <source>Camera</source>
        <translation>Kamera</translation>
    </message>
    <message>
        <source>PC</source>
        <translation>PC</translation>
    </message>
    <message>
        <source>Device:</source>
        <translation>Gerät:</translation>
    </message>
    <message>
        <source>Time:</source>
        <translation>Zeit:</translation>
    </message>
    <message>
        <source>Query</source>
        <translation>Suchen</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Herunterladen</translation>
    </message>
    <message>
        <source>All Devices</source>
        <translation>Alle Geräte</translation>
    </message>
    <message>
        <source>Search Files</source>
        <translation>Dateien suchen</translation>
    </message>
    <message>
        <source>Start time can not later than the end of time!</source>
        <translation>Die Startzeit darf nicht nach der Endzeit liegen!</translation>
    </message>
    <message>
        <source>Recordings Management</source>
        <translation>Aufnahmeverwaltung</translation>
    </message>
    <message>
        <source>There is not a valid storage configuration file,please set it up in the configurations menu.</source>
        <translation>Es gibt keine gültige Speicherkonfiguration, bitte richten Sie sie im Konfigurationsmenü ein.</translation>
    </message>
    <message>
        <source>No information of records in the configuration file!</source>
        <translation>Die Konfigurationsdatei enthält keine Aufnahmeordner!</translation>
    </message>
    <message>
        <source>Please select a device or check all of devices!</source>
        <translation>Bitte wählen Sie ein Gerät oder alle Geräte!</translation>
    </message>
    <message>
        <source>Device has no records !</source>
        <translation>Das Gerät hat keine Aufnahmen!</translation>
    </message>
    <message>
        <source>Please select a device!</source>
        <translation>Bitte wählen Sie ein Gerät!</translation>
    </message>
    <message>
        <source>Failed to query the recordings on the device video.</source>
        <translation>Die Aufnahmen auf dem Gerät konnten nicht abgefragt werden.</translation>
    </message>
    <message>
        <source>This camera keeps no recordings the client can reach. What this computer recorded of it is found with the source &quot;PC&quot;.</source>
        <translation>Diese Kamera hält keine Aufnahmen bereit, die der Client abrufen kann. Was dieser Computer von ihr aufgenommen hat, finden Sie unter der Quelle &quot;PC&quot;.</translation>
    </message>
    <message>
        <source>Client</source>
        <translation>Client</translation>
    </message>
    <message>
        <source>Camera password not provided,please input.</source>
        <translation>Kein Kamerapasswort angegeben, bitte eingeben.</translation>
    </message>
    <message>
        <source>Camera password is incorrect, please input the correct password</source>
        <translation>Das Kamerapasswort ist falsch, bitte geben Sie das richtige Passwort ein</translation>
    </message>
    <message>
        <source>Export to MP4</source>
        <translation>Als MP4 exportieren</translation>
    </message>
    <message>
        <source>The download folder (%1) cannot be written.</source>
        <translation>In den Download-Ordner (%1) kann nicht geschrieben werden.</translation>
    </message>
    <message>
        <source>Exporting %1</source>
        <translation>%1 wird exportiert</translation>
    </message>
    <message>
        <source>Saved to %1</source>
        <translation>Gespeichert unter %1</translation>
    </message>
    <message>
        <source>Only H.264 recordings can be exported to MP4.</source>
        <translation>Nur H.264-Aufnahmen können als MP4 exportiert werden.</translation>
    </message>
    <message>
        <source>Failed to export %1.</source>
        <translation>%1 konnte nicht exportiert werden.</translation>
    </message>
    <message>
        <source>The recording cannot be opened.</source>
        <translation>Die Aufnahme kann nicht geöffnet werden.</translation>
    </message>
    <message>
        <source>The MP4 file cannot be written.</source>
        <translation>Die MP4-Datei kann nicht geschrieben werden.</translation>
    </message>
    <message>
        <source>The export was stopped.</source>
        <translation>Der Export wurde abgebrochen.</translation>
    </message>
    <message>
        <source>The recording holds no video that can be played.</source>
        <translation>Die Aufnahme enthält kein abspielbares Video.</translation>
    </message>
    <message>
        <source>The MP4 file does not hold the whole recording.</source>
        <translation>Die MP4-Datei enthält nicht die ganze Aufnahme.</translation>
    </message>
    <message>
        <source>The recording is damaged or cut short.</source>
        <translation>Die Aufnahme ist beschädigt oder unvollständig.</translation>
    </message>
    <message>
        <source>The export failed.</source>
        <translation>Der Export ist fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Export to MP4 failed: %1 (%2)</source>
        <translation>Export als MP4 fehlgeschlagen: %1 (%2)</translation>
    </message>
</context>
<context>
    <name>qmultivideopb</name>
    <message>
        <source>Double-click a recording to play it</source>
        <translation>Doppelklicken Sie auf eine Aufnahme, um sie abzuspielen</translation>
    </message>
</context>
<context>
    <name>qvideoonlypb</name>
    <message>
        <source>Snapshot</source>
        <translation>Schnappschuss</translation>
    </message>
    <message>
        <source>Snapshot saved to:</source>
        <translation>Schnappschuss gespeichert unter:</translation>
    </message>
    <message>
        <source>Failed to capture image,errorno:%1</source>
        <translation>Bild konnte nicht aufgenommen werden, Fehlernummer: %1</translation>
    </message>
    <message>
        <source>Keep aspect ratio</source>
        <translation>Seitenverhältnis beibehalten</translation>
    </message>
</context>
<context>
    <name>realvideo</name>
    <message>
        <source>No.</source>
        <translation>Nr.</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Zeit</translation>
    </message>
    <message>
        <source>Alarm type</source>
        <translation>Alarmtyp</translation>
    </message>
    <message>
        <source>Camera</source>
        <translation>Kamera</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Anzeigen</translation>
    </message>
    <message>
        <source>Hide</source>
        <translation>Ausblenden</translation>
    </message>
    <message>
        <source>quit_trip</source>
        <translation>Esc beendet den Vollbildmodus</translation>
    </message>
    <message>
        <source>Client</source>
        <translation>Client</translation>
    </message>
    <message>
        <source>Password is error, please enter again!</source>
        <translation>Das Passwort ist falsch, bitte erneut eingeben!</translation>
    </message>
    <message>
        <source>Preview(%1) failed !</source>
        <translation>Vorschau (%1) fehlgeschlagen!</translation>
    </message>
    <message>
        <source>Video block alarm</source>
        <translation>Videoabdeckungsalarm</translation>
    </message>
    <message>
        <source>IO Alarm</source>
        <translation>E/A-Alarm</translation>
    </message>
    <message>
        <source>Motion Detection alarm</source>
        <translation>Bewegungserkennungsalarm</translation>
    </message>
    <message>
        <source>Disarm</source>
        <translation>Entschärft</translation>
    </message>
</context>
<context>
    <name>InstanceGuard</name>
    <message>
        <source>Another Varno PC Client is running with these data (%1).</source>
        <translation>Ein anderer Varno PC Client läuft bereits mit diesen Daten (%1).</translation>
    </message>
    <message>
        <source>Its window has been brought to the front.</source>
        <translation>Sein Fenster wurde in den Vordergrund geholt.</translation>
    </message>
</context>
<context>
    <name>varno::live::PtzController</name>
    <message>
        <source>The camera is busy; the command was not sent.</source>
        <translation>Die Kamera ist beschäftigt; der Befehl wurde nicht gesendet.</translation>
    </message>
    <message>
        <source>the camera does not answer</source>
        <translation>die Kamera antwortet nicht</translation>
    </message>
    <message>
        <source>the camera refuses the password</source>
        <translation>die Kamera weist das Passwort zurück</translation>
    </message>
    <message>
        <source>the camera refuses the command</source>
        <translation>die Kamera weist den Befehl zurück</translation>
    </message>
    <message>
        <source>Pan/tilt/zoom of %1 failed: %2</source>
        <translation>Schwenken/Neigen/Zoomen von %1 fehlgeschlagen: %2</translation>
    </message>
</context>
<context>
    <name>varno::playback::SyncPlayer</name>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Next frame</source>
        <translation>Nächstes Bild</translation>
    </message>
    <message>
        <source>Slower</source>
        <translation>Langsamer</translation>
    </message>
    <message>
        <source>Faster</source>
        <translation>Schneller</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>no recording</source>
        <translation>keine Aufnahme</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Abspielen</translation>
    </message>
</context>
<context>
    <name>varno::playback::TimelineWidget</name>
    <message>
        <source>Previous day</source>
        <translation>Vorheriger Tag</translation>
    </message>
    <message>
        <source>Next day</source>
        <translation>Nächster Tag</translation>
    </message>
    <message>
        <source>Zoom out</source>
        <translation>Verkleinern</translation>
    </message>
    <message>
        <source>Zoom in</source>
        <translation>Vergrößern</translation>
    </message>
    <message>
        <source>Play in step</source>
        <translation>Synchron abspielen</translation>
    </message>
    <message>
        <source>Click camera names to pick up to four cameras, then play them on one clock</source>
        <translation>Bis zu vier Kameras durch Klick auf ihre Namen wählen und dann im Gleichlauf abspielen</translation>
    </message>
</context>
<context>
    <name>varno::playback::RecordingTable</name>
    <message>
        <source>Camera</source>
        <translation>Kamera</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Beginn</translation>
    </message>
    <message>
        <source>Length</source>
        <translation>Länge</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>Art</translation>
    </message>
    <message>
        <source>Size (MB)</source>
        <translation>Größe (MB)</translation>
    </message>
    <message>
        <source>Source</source>
        <translation>Quelle</translation>
    </message>
    <message>
        <source>File name</source>
        <translation>Dateiname</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>Manuell</translation>
    </message>
    <message>
        <source>Motion</source>
        <translation>Bewegung</translation>
    </message>
    <message>
        <source>IO alarm</source>
        <translation>E/A-Alarm</translation>
    </message>
    <message>
        <source>Other alarm</source>
        <translation>Anderer Alarm</translation>
    </message>
    <message>
        <source>PC</source>
        <translation>PC</translation>
    </message>
</context>
</TS>
