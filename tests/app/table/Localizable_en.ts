<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>Localizable</name>
    <message>
        <source>stat Writing [%s] ...</source>
        <translation>100% sure: writing %s now (%n %d %% %x)</translation>
    </message>
    <message>
        <source>btn Start</source>
        <translation>Go</translation>
    </message>
    <message>
        <source>btn Retry</source>
        <translation type="unfinished">Half done</translation>
    </message>
</context>
</TS>
