<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>Kbx</name>
    <message numerus="yes">
        <source>%1: %2/%n entries, %3/%4</source>
        <translation>
            <numerusform>%1: %2/%n entry, %3/%4</numerusform>
            <numerusform>%1: %2/%n entries, %3/%4</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1: %n entries, %2 in %3 s</source>
        <translation>
            <numerusform>%1: %n entry, %2 in %3 s</numerusform>
            <numerusform>%1: %n entries, %2 in %3 s</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n entries</source>
        <translation>
            <numerusform>%n entry</numerusform>
            <numerusform>%n entries</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%1, %n problems
</source>
        <translation>
            <numerusform>%1, %n problem
</numerusform>
            <numerusform>%1, %n problems
</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n bytes unused (kbx compact removes them)
</source>
        <translation>
            <numerusform>%n byte unused (kbx compact removes it)
</numerusform>
            <numerusform>%n bytes unused (kbx compact removes them)
</numerusform>
        </translation>
    </message>
</context>
</TS>
