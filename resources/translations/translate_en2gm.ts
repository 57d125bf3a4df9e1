<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>Client</name>
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
</context>
</TS>
