<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>Brinesong</name>
    <message>
        <source>Faild to save an AIFF file.</source>
        <translation>Failed to save an AIFF file.</translation>
    </message>
</context>
</TS>
