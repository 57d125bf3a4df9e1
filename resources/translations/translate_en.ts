<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>CLiveStream</name>
    <message>
        <source>Capture</source>
        <translation>Capture</translation>
    </message>
    <message>
        <source>Snapshot OK.It is saved to:</source>
        <translation>Snapshot OK.It is saved to:</translation>
    </message>
    <message>
        <source>Failed to save image!</source>
        <translation>Failed to save image!</translation>
    </message>
</context>
<context>
    <name>Client</name>
    <message>
        <source>Preview (%1) failed !</source>
        <translation>Preview (%1) failed !</translation>
    </message>
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
    <message>
        <source>Preview</source>
        <translation>Preview</translation>
    </message>
    <message>
        <source>Playback</source>
        <translation>Playback</translation>
    </message>
    <message>
        <source>Recordings and Playback</source>
        <translation>Recordings and Playback</translation>
    </message>
    <message>
        <source>Alarm Log</source>
        <translation>Alarm Log</translation>
    </message>
    <message>
        <source>Config</source>
        <translation>Config</translation>
    </message>
    <message>
        <source>About</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Add device</source>
        <translation>Add device</translation>
    </message>
    <message>
        <source>4 Video Windows</source>
        <translation>4 Video Windows</translation>
    </message>
    <message>
        <source>8 Video Windows</source>
        <translation>8 Video Windows</translation>
    </message>
    <message>
        <source>16 Video Windows</source>
        <translation>16 Video Windows</translation>
    </message>
    <message>
        <source>25 Video Windows</source>
        <translation>25 Video Windows</translation>
    </message>
    <message>
        <source>Previous Group</source>
        <translation>Previous Group</translation>
    </message>
    <message>
        <source>Next Group</source>
        <translation>Next Group</translation>
    </message>
    <message>
        <source>Unmute All</source>
        <translation>Unmute All</translation>
    </message>
    <message>
        <source>Mute All</source>
        <translation>Mute All</translation>
    </message>
    <message>
        <source>Fullscreen</source>
        <translation>Fullscreen</translation>
    </message>
    <message>
        <source>Device List</source>
        <translation>Device List</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>Connect all</source>
        <translation>Connect all</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Device Management</source>
        <translation>Device Management</translation>
    </message>
    <message>
        <source>At most %1 cameras can be listed: %2 camera(s) not added.</source>
        <translation>At most %1 cameras can be listed: %2 camera(s) not added.</translation>
    </message>
    <message>
        <source>The camera list could not be saved (error %1): the changes are lost when the client ends.</source>
        <translation>The camera list could not be saved (error %1): the changes are lost when the client ends.</translation>
    </message>
    <message>
        <source>Setup Device</source>
        <translation>Setup Device</translation>
    </message>
    <message>
        <source>Device is offline !</source>
        <translation>Device is offline !</translation>
    </message>
    <message>
        <source>The current device is under previewing or recording playing back. Pls stop that before removing it.</source>
        <translation>The current device is under previewing or recording playing back. Pls stop that before removing it.</translation>
    </message>
    <message>
        <source>Are you sure to delete the device %1 (%2)?</source>
        <translation>Are you sure to delete the device %1 (%2)?</translation>
    </message>
    <message>
        <source>Pls provide the camera password before visiting it</source>
        <translation>Pls provide the camera password before visiting it</translation>
    </message>
    <message>
        <source>Device:</source>
        <translation>Device:</translation>
    </message>
    <message>
        <source> Online</source>
        <translation> Online</translation>
    </message>
    <message>
        <source> Offline</source>
        <translation> Offline</translation>
    </message>
    <message>
        <source>Wrong password</source>
        <translation>Wrong password</translation>
    </message>
    <message>
        <source>The relay reports this camera offline. Its firmware cannot be asked whether it is back: if it is online on another relay node, it needs a newer firmware or the same relay node as this client.</source>
        <translation>The relay reports this camera offline. Its firmware cannot be asked whether it is back: if it is online on another relay node, it needs a newer firmware or the same relay node as this client.</translation>
    </message>
    <message>
        <source> Wrong password</source>
        <translation> Wrong password</translation>
    </message>
    <message>
        <source> Recording lost its stream</source>
        <translation> Recording lost its stream</translation>
    </message>
    <message>
        <source> Recording has its stream again</source>
        <translation> Recording has its stream again</translation>
    </message>
    <message>
        <source>The camera %1 (%2) refuses the stored password. Enter its password under Settings &gt; Camera Editor.</source>
        <translation>The camera %1 (%2) refuses the stored password. Enter its password under Settings &gt; Camera Editor.</translation>
    </message>
    <message>
        <source>Live video reconnecting</source>
        <translation>Live video reconnecting</translation>
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
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>QAboutDlg</name>
    <message>
        <source>About</source>
        <translation>About</translation>
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
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>QAddDevice</name>
    <message>
        <source>Add Device</source>
        <translation>Add Device</translation>
    </message>
    <message>
        <source>Select all</source>
        <translation>Select all</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>Manual</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Camera ID</source>
        <translation>Camera ID</translation>
    </message>
    <message>
        <source>IP</source>
        <translation>IP</translation>
    </message>
    <message>
        <source>ONVIF URL</source>
        <translation>ONVIF URL</translation>
    </message>
    <message>
        <source>The device list is full: at most %1 devices. Device [%2] was not added.</source>
        <translation>The device list is full: at most %1 devices. Device [%2] was not added.</translation>
    </message>
    <message>
        <source>Device [%1] has been added, the name is [%2].</source>
        <translation>Device [%1] has been added, the name is [%2].</translation>
    </message>
    <message>
        <source>Failed to add device,id:[%1]</source>
        <translation>Failed to add device,id:[%1]</translation>
    </message>
    <message>
        <source>Add device:</source>
        <translation>Add device:</translation>
    </message>
    <message>
        <source>Please select one or more devices to add!</source>
        <translation>Please select one or more devices to add!</translation>
    </message>
    <message>
        <source>Add device completed</source>
        <translation>Add device completed</translation>
    </message>
    <message>
        <source>Failed to add device (%1)</source>
        <translation>Failed to add device (%1)</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Adding the selected cameras...</source>
        <translation>Adding the selected cameras...</translation>
    </message>
</context>
<context>
    <name>QAlarmSearch</name>
    <message>
        <source>Alarm Log</source>
        <translation>Alarm Log</translation>
    </message>
    <message>
        <source>Device:</source>
        <translation>Device:</translation>
    </message>
    <message>
        <source>Start Time:</source>
        <translation>Start Time:</translation>
    </message>
    <message>
        <source>End Time:</source>
        <translation>End Time:</translation>
    </message>
    <message>
        <source>Search</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>No.</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>Device ID</source>
        <translation>Device ID</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Alarm Type</source>
        <translation>Alarm Type</translation>
    </message>
    <message>
        <source>External sensor alarm</source>
        <translation>External sensor alarm</translation>
    </message>
    <message>
        <source>Motion detect alarm</source>
        <translation>Motion detect alarm</translation>
    </message>
    <message>
        <source>IO Alarm</source>
        <translation>IO Alarm</translation>
    </message>
    <message>
        <source>Video block alarm</source>
        <translation>Video block alarm</translation>
    </message>
    <message>
        <source>Human detect alarm</source>
        <translation>Human detect alarm</translation>
    </message>
    <message>
        <source>Motion detection (fallback)</source>
        <translation>Motion detection (fallback)</translation>
    </message>
    <message>
        <source>Other alarm</source>
        <translation>Other alarm</translation>
    </message>
    <message>
        <source>Start time can not later than the end of time!</source>
        <translation>Start time can not later than the end of time!</translation>
    </message>
    <message>
        <source>Search time can not longer than 7 days!</source>
        <translation>Search time can not longer than 7 days!</translation>
    </message>
    <message>
        <source>Please select a device!</source>
        <translation>Please select a device!</translation>
    </message>
    <message>
        <source>Failed to query the alarm log on the device video.</source>
        <translation>Failed to query the alarm log on the device video.</translation>
    </message>
    <message>
        <source>Camera password not provided,please input.</source>
        <translation>Camera password not provided,please input.</translation>
    </message>
    <message>
        <source>Camera password is incorrect, please input the correct password</source>
        <translation>Camera password is incorrect, please input the correct password</translation>
    </message>
    <message>
        <source>The device did not answer, please search again.</source>
        <translation>The device did not answer, please search again.</translation>
    </message>
    <message>
        <source>Device has no alarm log !</source>
        <translation>Device has no alarm log !</translation>
    </message>
    <message>
        <source>Searching the alarm log...</source>
        <translation>Searching the alarm log...</translation>
    </message>
</context>
<context>
    <name>QConfigMgr</name>
    <message>
        <source>Config Management</source>
        <translation>Config Management</translation>
    </message>
    <message>
        <source>User Manager</source>
        <translation>User Manager</translation>
    </message>
    <message>
        <source>Config Storage</source>
        <translation>Config Storage</translation>
    </message>
    <message>
        <source>Log Manager</source>
        <translation>Log Manager</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Remove device:</source>
        <translation>Remove device:</translation>
    </message>
</context>
<context>
    <name>QDownload</name>
    <message>
        <source>Starting...</source>
        <translation>Starting...</translation>
    </message>
    <message>
        <source>Stopping the download...</source>
        <translation>Stopping the download...</translation>
    </message>
    <message>
        <source>Download Recordings</source>
        <translation>Download Recordings</translation>
    </message>
    <message>
        <source>No.</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>Size(MB)</source>
        <translation>Size(MB)</translation>
    </message>
    <message>
        <source>File name</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>Progress</translation>
    </message>
    <message>
        <source>All</source>
        <translation>All</translation>
    </message>
    <message>
        <source>Save to folder:</source>
        <translation>Save to folder:</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Browse</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Choose a Target Directory</source>
        <translation>Choose a Target Directory</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>The download folder (%1) cannot be written.</source>
        <translation>The download folder (%1) cannot be written.</translation>
    </message>
    <message>
        <source>Download failed, disk is full !</source>
        <translation>Download failed, disk is full !</translation>
    </message>
    <message>
        <source>It is downloading, are you sure you want to close?</source>
        <translation>It is downloading, are you sure you want to close?</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>Finished</source>
        <translation>Finished</translation>
    </message>
    <message>
        <source>no data from the camera</source>
        <translation>no data from the camera</translation>
    </message>
    <message>
        <source>the camera stopped sending</source>
        <translation>the camera stopped sending</translation>
    </message>
    <message>
        <source>cannot create %1 (%2)</source>
        <translation>cannot create %1 (%2)</translation>
    </message>
    <message>
        <source>cannot write %1 (%2)</source>
        <translation>cannot write %1 (%2)</translation>
    </message>
    <message>
        <source>the camera sent the file out of order</source>
        <translation>the camera sent the file out of order</translation>
    </message>
    <message>
        <source>conversion to MP4 failed, camera file kept as %1</source>
        <translation>conversion to MP4 failed, camera file kept as %1</translation>
    </message>
    <message>
        <source>the camera did not start the download (%1)</source>
        <translation>the camera did not start the download (%1)</translation>
    </message>
    <message>
        <source>an earlier download of this file is still ending</source>
        <translation>an earlier download of this file is still ending</translation>
    </message>
    <message>
        <source>unknown</source>
        <translation>unknown</translation>
    </message>
    <message>
        <source>Failed: %1</source>
        <translation>Failed: %1</translation>
    </message>
</context>
<context>
    <name>QLogMgr</name>
    <message>
        <source>Time</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>User</source>
        <translation>User</translation>
    </message>
    <message>
        <source>Content</source>
        <translation>Content</translation>
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
    <message>
        <source>The user store %1 cannot be read. Check that the file is readable by this user.</source>
        <translation>The user store %1 cannot be read. Check that the file is readable by this user.</translation>
    </message>
    <message>
        <source>The login settings could not be read and were reset. The old file was kept as %1.</source>
        <translation>The login settings could not be read and were reset. The old file was kept as %1.</translation>
    </message>
</context>
<context>
    <name>QManualDial</name>
    <message>
        <source>Manual</source>
        <translation>Manual</translation>
    </message>
    <message>
        <source>Camera ID</source>
        <translation>Camera ID</translation>
    </message>
    <message>
        <source>You can find Camera ID on the back of the camera.It is like A0000188.</source>
        <translation>You can find Camera ID on the back of the camera.It is like A0000188.</translation>
    </message>
    <message>
        <source>Camera Name</source>
        <translation>Camera Name</translation>
    </message>
    <message>
        <source>Name the Camera...</source>
        <translation>Name the Camera...</translation>
    </message>
    <message>
        <source>Camera Password</source>
        <translation>Camera Password</translation>
    </message>
    <message>
        <source>You can find the default password on the back of the camera.</source>
        <translation>You can find the default password on the back of the camera.</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>ID can not be empty!</source>
        <translation>ID can not be empty!</translation>
    </message>
    <message>
        <source>ID is not correct !</source>
        <translation>ID is not correct !</translation>
    </message>
    <message>
        <source>Device[%1] has been added, check [%2].</source>
        <translation>Device[%1] has been added, check [%2].</translation>
    </message>
    <message>
        <source>Please inupt Name.</source>
        <translation>Please inupt Name.</translation>
    </message>
    <message>
        <source>Please input password.</source>
        <translation>Please input password.</translation>
    </message>
    <message>
        <source>Unable to connect server (ID:%1) (errorno:%2)!</source>
        <translation>Unable to connect server (ID:%1) (errorno:%2)!</translation>
    </message>
    <message>
        <source>Camera %1 did not answer its lookup (errorno:%2). Check the ID; a camera with an older firmware may need a newer one, or the same relay node as this client.</source>
        <translation>Camera %1 did not answer its lookup (errorno:%2). Check the ID; a camera with an older firmware may need a newer one, or the same relay node as this client.</translation>
    </message>
    <message>
        <source>Unable to connect device(%1) (errorno:%2)!</source>
        <translation>Unable to connect device(%1) (errorno:%2)!</translation>
    </message>
    <message>
        <source>Password incorrect!</source>
        <translation>Password incorrect!</translation>
    </message>
    <message>
        <source>Manually add device(%1) successfully!</source>
        <translation>Manually add device(%1) successfully!</translation>
    </message>
    <message>
        <source>Checking the camera&apos;s password...</source>
        <translation>Checking the camera&apos;s password...</translation>
    </message>
</context>
<context>
    <name>QPasswd</name>
    <message>
        <source>Password</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>ID:</source>
        <translation>ID:</translation>
    </message>
    <message>
        <source>Default device ID can be found on the back of the camera</source>
        <translation>Default device ID can be found on the back of the camera</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Name the camera</source>
        <translation>Name the camera</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>Password:</translation>
    </message>
    <message>
        <source>Default device password can be found on the back of the camera</source>
        <translation>Default device password can be found on the back of the camera</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Property</source>
        <translation>Property</translation>
    </message>
    <message>
        <source>Please input password.</source>
        <translation>Please input password.</translation>
    </message>
</context>
<context>
    <name>QPasswdFrm</name>
    <message>
        <source>Device ID:</source>
        <translation>Device ID:</translation>
    </message>
    <message>
        <source>Device Name:</source>
        <translation>Device Name:</translation>
    </message>
    <message>
        <source>The device name...</source>
        <translation>The device name...</translation>
    </message>
    <message>
        <source>Old Password:</source>
        <translation>Old Password:</translation>
    </message>
    <message>
        <source>The original password...</source>
        <translation>The original password...</translation>
    </message>
    <message>
        <source>New Password:</source>
        <translation>New Password:</translation>
    </message>
    <message>
        <source>The new password consists of 6-30 characters (0-9,a-z,A-Z);
Special characters are not allowed.
The password must not begin with &quot;0&quot;.</source>
        <translation>The new password consists of 6-30 characters (0-9,a-z,A-Z);
Special characters are not allowed.
The password must not begin with &quot;0&quot;.</translation>
    </message>
    <message>
        <source>Confirm:</source>
        <translation>Confirm:</translation>
    </message>
    <message>
        <source>The confirm password must be the same with the new password.</source>
        <translation>The confirm password must be the same with the new password.</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Name can not be empty!</source>
        <translation>Name can not be empty!</translation>
    </message>
    <message>
        <source>Old password can not be empty!</source>
        <translation>Old password can not be empty!</translation>
    </message>
    <message>
        <source>New password can not be empty!</source>
        <translation>New password can not be empty!</translation>
    </message>
    <message>
        <source>New password can not be same with old password!</source>
        <translation>New password can not be same with old password!</translation>
    </message>
    <message>
        <source>New password must consists of 6-30 characters!</source>
        <translation>New password must consists of 6-30 characters!</translation>
    </message>
    <message>
        <source>New password must not begin with &apos;0&apos; !</source>
        <translation>New password must not begin with &apos;0&apos; !</translation>
    </message>
    <message>
        <source>Confirm password can not be empty!</source>
        <translation>Confirm password can not be empty!</translation>
    </message>
    <message>
        <source>New password can be same with confirm password!</source>
        <translation>New password can be same with confirm password!</translation>
    </message>
    <message>
        <source>Unable to connect device(%1) (errorno:%2)!</source>
        <translation>Unable to connect device(%1) (errorno:%2)!</translation>
    </message>
    <message>
        <source>Change device [%1] Password failed, Please enter the correct old password !</source>
        <translation>Change device [%1] Password failed, Please enter the correct old password !</translation>
    </message>
    <message>
        <source>Change Password:</source>
        <translation>Change Password:</translation>
    </message>
    <message>
        <source>Modify successful !</source>
        <translation>Modify successful !</translation>
    </message>
    <message>
        <source>Changing the camera&apos;s password...</source>
        <translation>Changing the camera&apos;s password...</translation>
    </message>
</context>
<context>
    <name>QPropertyDial</name>
    <message>
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Camera Editor</source>
        <translation>Camera Editor</translation>
    </message>
    <message>
        <source>Change password</source>
        <translation>Change password</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>QPtzCtrol</name>
    <message>
        <source>Zoom out</source>
        <translation>Zoom out</translation>
    </message>
    <message>
        <source>Zoom in</source>
        <translation>Zoom in</translation>
    </message>
    <message>
        <source>Speed</source>
        <translation>Speed</translation>
    </message>
    <message>
        <source>Presets</source>
        <translation>Presets</translation>
    </message>
    <message>
        <source>Go to</source>
        <translation>Go to</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>Save preset</source>
        <translation>Save preset</translation>
    </message>
    <message>
        <source>Name of the new preset:</source>
        <translation>Name of the new preset:</translation>
    </message>
    <message>
        <source>Remove preset</source>
        <translation>Remove preset</translation>
    </message>
    <message>
        <source>Remove the preset &quot;%1&quot;?</source>
        <translation>Remove the preset &quot;%1&quot;?</translation>
    </message>
</context>
<context>
    <name>QPtzFrame</name>
    <message>
        <source>Up</source>
        <translation>Up</translation>
    </message>
    <message>
        <source>Down</source>
        <translation>Down</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>Right</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>Left</translation>
    </message>
</context>
<context>
    <name>QRenameFrm</name>
    <message>
        <source>Device ID:</source>
        <translation>Device ID:</translation>
    </message>
    <message>
        <source>Device Name:</source>
        <translation>Device Name:</translation>
    </message>
    <message>
        <source>Name must be less than 32</source>
        <translation>Name must be less than 32</translation>
    </message>
    <message>
        <source>Device Password:</source>
        <translation>Device Password:</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Name can not be empty!</source>
        <translation>Name can not be empty!</translation>
    </message>
    <message>
        <source>Password can not be empty!</source>
        <translation>Password can not be empty!</translation>
    </message>
    <message>
        <source>Rename:</source>
        <translation>Rename:</translation>
    </message>
    <message>
        <source>Modify successful !</source>
        <translation>Modify successful !</translation>
    </message>
    <message>
        <source>The password the client uses for this camera.</source>
        <translation>The password the client uses for this camera.</translation>
    </message>
    <message>
        <source>The password the client uses for this camera: the camera&apos;s current password, of any length. To give the camera a new password (6-30 characters) use &quot;Change password&quot;.</source>
        <translation>The password the client uses for this camera: the camera&apos;s current password, of any length. To give the camera a new password (6-30 characters) use &quot;Change password&quot;.</translation>
    </message>
    <message>
        <source>The password the client uses for this camera: its ONVIF password, of any length. The camera&apos;s own password is changed on the camera&apos;s web page.</source>
        <translation>The password the client uses for this camera: its ONVIF password, of any length. The camera&apos;s own password is changed on the camera&apos;s web page.</translation>
    </message>
</context>
<context>
    <name>QTipWidget</name>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>QUserMgr</name>
    <message>
        <source>User Name:</source>
        <translation>User Name:</translation>
    </message>
    <message>
        <source>Old Password:</source>
        <translation>Old Password:</translation>
    </message>
    <message>
        <source>The original password...</source>
        <translation>The original password...</translation>
    </message>
    <message>
        <source>New Password:</source>
        <translation>New Password:</translation>
    </message>
    <message>
        <source>The new password consists of 1-31 characters (0-9,a-z,A-Z); 
Special characters are not allowed.</source>
        <translation>The new password consists of 1-31 characters (0-9,a-z,A-Z); 
Special characters are not allowed.</translation>
    </message>
    <message>
        <source>Confirm:</source>
        <translation>Confirm:</translation>
    </message>
    <message>
        <source>The confirm password is not identical as the new password.</source>
        <translation>The confirm password is not identical as the new password.</translation>
    </message>
    <message>
        <source>Confirm</source>
        <translation>Confirm</translation>
    </message>
    <message>
        <source>Change Password</source>
        <translation>Change Password</translation>
    </message>
    <message>
        <source>User name cannot be empty!</source>
        <translation>User name cannot be empty!</translation>
    </message>
    <message>
        <source>The old password cannot be empty!</source>
        <translation>The old password cannot be empty!</translation>
    </message>
    <message>
        <source>The new password cannot be empty!</source>
        <translation>The new password cannot be empty!</translation>
    </message>
    <message>
        <source>New password can not be same with old password!</source>
        <translation>New password can not be same with old password!</translation>
    </message>
    <message>
        <source>The confirm password cannot be empty!</source>
        <translation>The confirm password cannot be empty!</translation>
    </message>
    <message>
        <source>The confirm password is not identical as the new password. Please check.</source>
        <translation>The confirm password is not identical as the new password. Please check.</translation>
    </message>
    <message>
        <source>Change password successfully!</source>
        <translation>Change password successfully!</translation>
    </message>
    <message>
        <source>User name does not exist!</source>
        <translation>User name does not exist!</translation>
    </message>
    <message>
        <source>The orignal password incorrect.Please provide correct password.</source>
        <translation>The orignal password incorrect.Please provide correct password.</translation>
    </message>
    <message>
        <source>Unknown error!</source>
        <translation>Unknown error!</translation>
    </message>
</context>
<context>
    <name>QVideoHand</name>
    <message>
        <source>Record</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>Snapshot</source>
        <translation>Snapshot</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Recording</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>Manual recording can not be executed , as there is an alarm vieo recording under going.</source>
        <translation>Manual recording can not be executed , as there is an alarm vieo recording under going.</translation>
    </message>
    <message>
        <source>Stop recording</source>
        <translation>Stop recording</translation>
    </message>
    <message>
        <source>Alarm recording</source>
        <translation>Alarm recording</translation>
    </message>
    <message>
        <source>waiting for the camera</source>
        <translation>waiting for the camera</translation>
    </message>
</context>
<context>
    <name>QVideoHandPb</name>
    <message>
        <source>Fast backward</source>
        <translation>Fast backward</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Fast forward</source>
        <translation>Fast forward</translation>
    </message>
    <message>
        <source>Next frame</source>
        <translation>Next frame</translation>
    </message>
    <message>
        <source>Snapshot</source>
        <translation>Snapshot</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Play</translation>
    </message>
</context>
<context>
    <name>QVideoMgr</name>
    <message>
        <source>Storage Settings</source>
        <translation>Storage Settings</translation>
    </message>
    <message>
        <source>over write the disk when it is full.</source>
        <translation>over write the disk when it is full.</translation>
    </message>
    <message>
        <source>set save path name:</source>
        <translation>set save path name:</translation>
    </message>
    <message>
        <source>Alarm recording:</source>
        <translation>Alarm recording:</translation>
    </message>
    <message>
        <source>None</source>
        <translation>None</translation>
    </message>
    <message>
        <source>Every alarm</source>
        <translation>Every alarm</translation>
    </message>
    <message>
        <source>IO alarms only</source>
        <translation>IO alarms only</translation>
    </message>
    <message>
        <source>Motion detection only</source>
        <translation>Motion detection only</translation>
    </message>
    <message>
        <source>Snapshot save to</source>
        <translation>Snapshot save to</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>Browse</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message>
        <source> Local disk)</source>
        <translation> Local disk)</translation>
    </message>
    <message>
        <source> Removable disk)</source>
        <translation> Removable disk)</translation>
    </message>
    <message>
        <source> Unknown type)</source>
        <translation> Unknown type)</translation>
    </message>
    <message>
        <source>Failed to open the storage configuration file!</source>
        <translation>Failed to open the storage configuration file!</translation>
    </message>
    <message>
        <source>Save storage set successfully. It will take effect from next recording starts.</source>
        <translation>Save storage set successfully. It will take effect from next recording starts.</translation>
    </message>
    <message>
        <source>Select the folder</source>
        <translation>Select the folder</translation>
    </message>
    <message>
        <source>Storage</source>
        <translation>Storage</translation>
    </message>
    <message>
        <source>The storage settings could not be read and were reset to the defaults. The old file was kept as %1.</source>
        <translation>The storage settings could not be read and were reset to the defaults. The old file was kept as %1.</translation>
    </message>
</context>
<context>
    <name>QVideoOnly</name>
    <message>
        <source>Waiting for video...</source>
        <translation>Waiting for video...</translation>
    </message>
    <message>
        <source>The client will run in the background because a alarm video is under recording.Are you sure you want to close?</source>
        <translation>The client will run in the background because a alarm video is under recording.Are you sure you want to close?</translation>
    </message>
    <message>
        <source>A running record will be stopped after closing the client. Are you sure to close it?</source>
        <translation>A running record will be stopped after closing the client. Are you sure to close it?</translation>
    </message>
    <message>
        <source>Close the video</source>
        <translation>Close the video</translation>
    </message>
    <message>
        <source>%1 running record will be stopped after closing. Are you sure to close it?</source>
        <translation>%1 running record will be stopped after closing. Are you sure to close it?</translation>
    </message>
    <message>
        <source>Recording</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>Disk space is full, can&apos;t cover!!!</source>
        <translation>Disk space is full, can&apos;t cover!!!</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Closed all</source>
        <translation>Closed all</translation>
    </message>
    <message>
        <source>Snapshot</source>
        <translation>Snapshot</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>Hight definition</source>
        <translation>Hight definition</translation>
    </message>
    <message>
        <source>Standard definition</source>
        <translation>Standard definition</translation>
    </message>
    <message>
        <source>Choose stream by window size</source>
        <translation>Choose stream by window size</translation>
    </message>
    <message>
        <source>Keep aspect ratio</source>
        <translation>Keep aspect ratio</translation>
    </message>
    <message>
        <source>The oldest recordings in %1 were overwritten, but the disk is still full: another program fills it. Recording stopped.</source>
        <translation>The oldest recordings in %1 were overwritten, but the disk is still full: another program fills it. Recording stopped.</translation>
    </message>
    <message>
        <source>The record disk of %1 went away. Recording goes on on the next disk.</source>
        <translation>The record disk of %1 went away. Recording goes on on the next disk.</translation>
    </message>
    <message>
        <source>The record disk of %1 went away and no other record disk is left. Recording stopped.</source>
        <translation>The record disk of %1 went away and no other record disk is left. Recording stopped.</translation>
    </message>
    <message>
        <source>The record folder %1 cannot be written (read-only or no permission). Recording stopped.</source>
        <translation>The record folder %1 cannot be written (read-only or no permission). Recording stopped.</translation>
    </message>
    <message>
        <source>The recording file %1 could not be written. Recording stopped.</source>
        <translation>The recording file %1 could not be written. Recording stopped.</translation>
    </message>
    <message>
        <source>A recording file could not be created in %1 (error %2). Recording stopped.</source>
        <translation>A recording file could not be created in %1 (error %2). Recording stopped.</translation>
    </message>
</context>
<context>
    <name>QVideoPlay</name>
    <message>
        <source>No video</source>
        <translation>No video</translation>
    </message>
    <message>
        <source>Reconnecting...</source>
        <translation>Reconnecting...</translation>
    </message>
</context>
<context>
    <name>fileplay</name>
    <message>
        <source>Searching...</source>
        <translation>Searching...</translation>
    </message>
    <message>
        <source>Source:</source>
        <translation>Source:</translation>
    </message>
    <message>
        <source>Camera</source>
        <translation>Camera</translation>
    </message>
    <message>
        <source>PC</source>
        <translation>PC</translation>
    </message>
    <message>
        <source>Device:</source>
        <translation>Device:</translation>
    </message>
    <message>
        <source>Time:</source>
        <translation>Time:</translation>
    </message>
    <message>
        <source>Query</source>
        <translation>Query</translation>
    </message>
    <message>
        <source>Download</source>
        <translation>Download</translation>
    </message>
    <message>
        <source>All Devices</source>
        <translation>All Devices</translation>
    </message>
    <message>
        <source>Search Files</source>
        <translation>Search Files</translation>
    </message>
    <message>
        <source>Start time can not later than the end of time!</source>
        <translation>Start time can not later than the end of time!</translation>
    </message>
    <message>
        <source>Recordings Management</source>
        <translation>Recordings Management</translation>
    </message>
    <message>
        <source>There is not a valid storage configuration file,please set it up in the configurations menu.</source>
        <translation>There is not a valid storage configuration file,please set it up in the configurations menu.</translation>
    </message>
    <message>
        <source>No information of records in the configuration file!</source>
        <translation>No information of records in the configuration file!</translation>
    </message>
    <message>
        <source>Please select a device or check all of devices!</source>
        <translation>Please select a device or check all of devices!</translation>
    </message>
    <message>
        <source>Device has no records !</source>
        <translation>Device has no records !</translation>
    </message>
    <message>
        <source>Please select a device!</source>
        <translation>Please select a device!</translation>
    </message>
    <message>
        <source>Failed to query the recordings on the device video.</source>
        <translation>Failed to query the recordings on the device video.</translation>
    </message>
    <message>
        <source>This camera keeps no recordings the client can reach. What this computer recorded of it is found with the source &quot;PC&quot;.</source>
        <translation>This camera keeps no recordings the client can reach. What this computer recorded of it is found with the source &quot;PC&quot;.</translation>
    </message>
    <message>
        <source>Client</source>
        <translation>Client</translation>
    </message>
    <message>
        <source>Camera password not provided,please input.</source>
        <translation>Camera password not provided,please input.</translation>
    </message>
    <message>
        <source>Camera password is incorrect, please input the correct password</source>
        <translation>Camera password is incorrect, please input the correct password</translation>
    </message>
    <message>
        <source>Export to MP4</source>
        <translation>Export to MP4</translation>
    </message>
    <message>
        <source>The download folder (%1) cannot be written.</source>
        <translation>The download folder (%1) cannot be written.</translation>
    </message>
    <message>
        <source>Exporting %1</source>
        <translation>Exporting %1</translation>
    </message>
    <message>
        <source>Saved to %1</source>
        <translation>Saved to %1</translation>
    </message>
    <message>
        <source>Only H.264 recordings can be exported to MP4.</source>
        <translation>Only H.264 recordings can be exported to MP4.</translation>
    </message>
    <message>
        <source>Failed to export %1.</source>
        <translation>Failed to export %1.</translation>
    </message>
    <message>
        <source>The recording cannot be opened.</source>
        <translation>The recording cannot be opened.</translation>
    </message>
    <message>
        <source>The MP4 file cannot be written.</source>
        <translation>The MP4 file cannot be written.</translation>
    </message>
    <message>
        <source>The export was stopped.</source>
        <translation>The export was stopped.</translation>
    </message>
    <message>
        <source>The recording holds no video that can be played.</source>
        <translation>The recording holds no video that can be played.</translation>
    </message>
    <message>
        <source>The MP4 file does not hold the whole recording.</source>
        <translation>The MP4 file does not hold the whole recording.</translation>
    </message>
    <message>
        <source>The recording is damaged or cut short.</source>
        <translation>The recording is damaged or cut short.</translation>
    </message>
    <message>
        <source>The export failed.</source>
        <translation>The export failed.</translation>
    </message>
    <message>
        <source>Export to MP4 failed: %1 (%2)</source>
        <translation>Export to MP4 failed: %1 (%2)</translation>
    </message>
</context>
<context>
    <name>qmultivideopb</name>
    <message>
        <source>Double-click a recording to play it</source>
        <translation>Double-click a recording to play it</translation>
    </message>
</context>
<context>
    <name>qvideoonlypb</name>
    <message>
        <source>Snapshot</source>
        <translation>Snapshot</translation>
    </message>
    <message>
        <source>Snapshot saved to:</source>
        <translation>Snapshot saved to:</translation>
    </message>
    <message>
        <source>Failed to capture image,errorno:%1</source>
        <translation>Failed to capture image,errorno:%1</translation>
    </message>
    <message>
        <source>Keep aspect ratio</source>
        <translation>Keep aspect ratio</translation>
    </message>
</context>
<context>
    <name>realvideo</name>
    <message>
        <source>No.</source>
        <translation>No.</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>Alarm type</source>
        <translation>Alarm type</translation>
    </message>
    <message>
        <source>Camera</source>
        <translation>Camera</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Show</translation>
    </message>
    <message>
        <source>Hide</source>
        <translation>Hide</translation>
    </message>
    <message>
        <source>quit_trip</source>
        <translation>Press Esc to exit full screen</translation>
    </message>
    <message>
        <source>Client</source>
        <translation>Client</translation>
    </message>
    <message>
        <source>Password is error, please enter again!</source>
        <translation>Password is error, please enter again!</translation>
    </message>
    <message>
        <source>Preview(%1) failed !</source>
        <translation>Preview(%1) failed !</translation>
    </message>
    <message>
        <source>Video block alarm</source>
        <translation>Video block alarm</translation>
    </message>
    <message>
        <source>IO Alarm</source>
        <translation>IO Alarm</translation>
    </message>
    <message>
        <source>Motion Detection alarm</source>
        <translation>Motion Detection alarm</translation>
    </message>
    <message>
        <source>Disarm</source>
        <translation>Disarm</translation>
    </message>
</context>
<context>
    <name>InstanceGuard</name>
    <message>
        <source>Another Varno PC Client is running with these data (%1).</source>
        <translation>Another Varno PC Client is running with these data (%1).</translation>
    </message>
    <message>
        <source>Its window has been brought to the front.</source>
        <translation>Its window has been brought to the front.</translation>
    </message>
</context>
<context>
    <name>varno::live::PtzController</name>
    <message>
        <source>The camera is busy; the command was not sent.</source>
        <translation>The camera is busy; the command was not sent.</translation>
    </message>
    <message>
        <source>the camera does not answer</source>
        <translation>the camera does not answer</translation>
    </message>
    <message>
        <source>the camera refuses the password</source>
        <translation>the camera refuses the password</translation>
    </message>
    <message>
        <source>the camera refuses the command</source>
        <translation>the camera refuses the command</translation>
    </message>
    <message>
        <source>Pan/tilt/zoom of %1 failed: %2</source>
        <translation>Pan/tilt/zoom of %1 failed: %2</translation>
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
        <translation>Next frame</translation>
    </message>
    <message>
        <source>Slower</source>
        <translation>Slower</translation>
    </message>
    <message>
        <source>Faster</source>
        <translation>Faster</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>no recording</source>
        <translation>no recording</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Play</translation>
    </message>
</context>
<context>
    <name>varno::playback::TimelineWidget</name>
    <message>
        <source>Previous day</source>
        <translation>Previous day</translation>
    </message>
    <message>
        <source>Next day</source>
        <translation>Next day</translation>
    </message>
    <message>
        <source>Zoom out</source>
        <translation>Zoom out</translation>
    </message>
    <message>
        <source>Zoom in</source>
        <translation>Zoom in</translation>
    </message>
    <message>
        <source>Play in step</source>
        <translation>Play in step</translation>
    </message>
    <message>
        <source>Click camera names to pick up to four cameras, then play them on one clock</source>
        <translation>Click camera names to pick up to four cameras, then play them on one clock</translation>
    </message>
</context>
<context>
    <name>varno::playback::RecordingTable</name>
    <message>
        <source>Camera</source>
        <translation>Camera</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Length</source>
        <translation>Length</translation>
    </message>
    <message>
        <source>Type</source>
        <translation>Type</translation>
    </message>
    <message>
        <source>Size (MB)</source>
        <translation>Size (MB)</translation>
    </message>
    <message>
        <source>Source</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>File name</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>Manual</translation>
    </message>
    <message>
        <source>Motion</source>
        <translation>Motion</translation>
    </message>
    <message>
        <source>IO alarm</source>
        <translation>IO alarm</translation>
    </message>
    <message>
        <source>Other alarm</source>
        <translation>Other alarm</translation>
    </message>
    <message>
        <source>PC</source>
        <translation>PC</translation>
    </message>
</context>
</TS>
