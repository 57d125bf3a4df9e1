<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>Client</name>
    <message>
        <source>Client</source>
        <translation>Client</translation>
    </message>
    <message>
        <source>Minimize</source>
        <translation>Minimize</translation>
    </message>
    <message>
        <source>Restore Down</source>
        <translation>Restore Down</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>PC Client</source>
        <translation>PC Client</translation>
    </message>
    <message>
        <source>Are you sure to close the client?</source>
        <translation>Are you sure to close the client?</translation>
    </message>
    <message>
        <source>Maximize</source>
        <translation>Maximize</translation>
    </message>
</context>
<context>
    <name>InfoBox</name>
    <message>
        <source>Yes</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>No</source>
        <translation>No</translation>
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
        <translation>Login</translation>
    </message>
    <message>
        <source>Username</source>
        <translation>Username</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>Remember Password</source>
        <translation>Remember Password</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Language:</source>
        <translation>Language:</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>German</source>
        <translation>German</translation>
    </message>
    <message>
        <source>Local IP:</source>
        <translation>Local IP:</translation>
    </message>
    <message>
        <source>User name can not be empty!</source>
        <translation>User name can not be empty!</translation>
    </message>
    <message>
        <source>Password can not be empty!</source>
        <translation>Password can not be empty!</translation>
    </message>
    <message>
        <source>Can&apos;t get local ip, exit!</source>
        <translation>Can&apos;t get local ip, exit!</translation>
    </message>
    <message>
        <source>Username does not exist!</source>
        <translation>Username does not exist!</translation>
    </message>
    <message>
        <source>Password incorrect, please have a check and try again.</source>
        <translation>Password incorrect, please have a check and try again.</translation>
    </message>
    <message>
        <source>Unknown error!</source>
        <translation>Unknown error!</translation>
    </message>
    <message>
        <source>Login Password Instruction:
</source>
        <translation>Login Password Instruction:
</translation>
    </message>
    <message>
        <source>1. Initial login username: </source>
        <translation>1. Initial login username: </translation>
    </message>
    <message>
        <source>2. Initial login password: </source>
        <translation>2. Initial login password: </translation>
    </message>
    <message>
        <source>3. Please change the login password later in the software:
   Config Management -&gt; Login Password
</source>
        <translation>3. Please change the login password later in the software:
   Config Management -&gt; Login Password
</translation>
    </message>
    <message>
        <source>4. In case you forget the login password, please uninstall
   and then install the VarnoPC</source>
        <translation>4. In case you forget the login password, please uninstall
   and then install the VarnoPC</translation>
    </message>
</context>
</TS>
