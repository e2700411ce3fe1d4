<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>Brinesong</name>
    <message>
        <source>Faild to save an AIFF file.</source>
        <translation>Failed to save an AIFF file.</translation>
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
        <source>DockMenu</source>
        <translation>DockMenu</translation>
    </message>
    <message>
        <source>Start Brinesong</source>
        <translation>Start Brinesong</translation>
    </message>
    <message>
        <source>Stop Brinesong</source>
        <translation>Stop Brinesong</translation>
    </message>
    <message>
        <source>Stops in %1</source>
        <translation>Stops in %1</translation>
    </message>
    <message>
        <source>Export AIFF File</source>
        <translation>Export AIFF File</translation>
    </message>
    <message>
        <source>AIFF files (*.aif *.aiff)</source>
        <translation>AIFF files (*.aif *.aiff)</translation>
    </message>
    <message>
        <source>Saving %1...</source>
        <translation>Saving %1...</translation>
    </message>
    <message>
        <source>Set the length of AIFF file in minutes (up to 400 minutes)</source>
        <translation>Set the length of AIFF file in minutes (up to 400 minutes)</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>No output device</source>
        <translation>No output device</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Stopped</translation>
    </message>
    <message>
        <source>Playing</source>
        <translation>Playing</translation>
    </message>
    <message>
        <source>Waiting for the sound server</source>
        <translation>Waiting for the sound server</translation>
    </message>
    <message>
        <source>Cannot play: %1</source>
        <translation>Cannot play: %1</translation>
    </message>
    <message>
        <source>What is happening with the sound</source>
        <translation>What is happening with the sound</translation>
    </message>
</context>
</TS>
