<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de" sourcelanguage="en">
<context>
    <name>Brinesong</name>
    <message>
        <source>Brinesong Help</source>
        <translation>Brinesong-Hilfe</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>Brinesong</source>
        <translation>Brinesong</translation>
    </message>
    <message>
        <source>Start Brinesong</source>
        <translation>Brandung starten</translation>
    </message>
    <message>
        <source>Volume</source>
        <translation>Lautstärke</translation>
    </message>
    <message>
        <source>Schedule</source>
        <translation>Zeitplan</translation>
    </message>
    <message>
        <source>Start at</source>
        <translation>Starten um</translation>
    </message>
    <message>
        <source>Stop after</source>
        <translation>Anhalten nach</translation>
    </message>
    <message>
        <source>minutes</source>
        <translation>Minuten</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message>
        <source>&amp;Playback</source>
        <translation>&amp;Wiedergabe</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message>
        <source>Preferences...</source>
        <translation>Einstellungen …</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Starten</translation>
    </message>
    <message>
        <source>Preferences</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Light wave</source>
        <translation>Leichte Welle</translation>
    </message>
    <message>
        <source>Heavy wave</source>
        <translation>Schwere Welle</translation>
    </message>
    <message>
        <source>Boost sound level</source>
        <translation>Pegel anheben</translation>
    </message>
    <message>
        <source>Amplitude generator</source>
        <translation>Amplitudengenerator</translation>
    </message>
    <message>
        <source>Ascent</source>
        <translation>Anstieg</translation>
    </message>
    <message>
        <source>Descent</source>
        <translation>Abfall</translation>
    </message>
    <message>
        <source>Wave interval</source>
        <translation>Wellenabstand</translation>
    </message>
    <message>
        <source>Output device</source>
        <translation>Ausgabegerät</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Standardwerte</translation>
    </message>
    <message>
        <source>Length in minutes:</source>
        <translation>Länge in Minuten:</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Exportieren</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>No output device</source>
        <translation>Kein Ausgabegerät</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Anhalten</translation>
    </message>
    <message>
        <source>Stop Brinesong</source>
        <translation>Brandung anhalten</translation>
    </message>
    <message>
        <source>Faild to save an AIFF file.</source>
        <translation>Die AIFF-Datei konnte nicht gespeichert werden.</translation>
    </message>
    <message>
        <source>Saving %1...</source>
        <translation>%1 wird gespeichert …</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>DockMenu</source>
        <translation>Dock-Menü</translation>
    </message>
    <message>
        <source>Show Brinesong</source>
        <translation>Brinesong zeigen</translation>
    </message>
    <message>
        <source>Ocean surf</source>
        <translation>Meeresbrandung</translation>
    </message>
    <message>
        <source>Playing the sound of the surf</source>
        <translation>Spielt das Rauschen der Brandung</translation>
    </message>
    <message>
        <source>The length must be a number of minutes (up to 400).</source>
        <translation>Die Länge muss eine Anzahl Minuten sein (bis zu 400).</translation>
    </message>
    <message>
        <source>%1 already exists.
Do you want to replace it?</source>
        <translation>%1 existiert bereits.
Möchten Sie die Datei ersetzen?</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Ja</translation>
    </message>
    <message>
        <source>No</source>
        <translation>Nein</translation>
    </message>
    <message>
        <source>What is happening with the sound</source>
        <translation>Was mit dem Klang gerade geschieht</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Angehalten</translation>
    </message>
    <message>
        <source>Playing</source>
        <translation>Wiedergabe läuft</translation>
    </message>
    <message>
        <source>Waiting for the sound server</source>
        <translation>Warten auf den Soundserver</translation>
    </message>
    <message>
        <source>Cannot play: %1</source>
        <translation>Wiedergabe nicht möglich: %1</translation>
    </message>
    <message>
        <source>Fade the sound out gently over the last minutes before the stop</source>
        <translation>Den Klang in den letzten Minuten vor dem Anhalten sanft ausblenden</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Ansicht</translation>
    </message>
    <message>
        <source>Wave Picture</source>
        <translation>Wellenbild</translation>
    </message>
    <message>
        <source>No fade-out</source>
        <translation>Ohne Ausblenden</translation>
    </message>
    <message>
        <source>Fade out over %1 min</source>
        <translation>Über %1 Min. ausblenden</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>Links</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>Rechts</translation>
    </message>
    <message>
        <source>Seamless loop</source>
        <translation>Nahtlose Schleife</translation>
    </message>
    <message>
        <source>The end of the file flows into its start, so a player repeating it plays no seam</source>
        <translation>Das Ende der Datei geht in ihren Anfang über, so dass ein Player, der sie wiederholt, keinen Übergang hören lässt</translation>
    </message>
    <message>
        <source>Failed to save the %1 file.</source>
        <translation>Die %1-Datei konnte nicht gesichert werden.</translation>
    </message>
    <message>
        <source>%1 files (%2)</source>
        <translation>%1-Dateien (%2)</translation>
    </message>
    <message>
        <source>%1 · Settings will not be saved</source>
        <translation>%1 · Einstellungen werden nicht gespeichert</translation>
    </message>
    <message>
        <source>The settings cannot be saved: %1 cannot be written.</source>
        <translation>Die Einstellungen können nicht gespeichert werden: %1 kann nicht geschrieben werden.</translation>
    </message>
    <message>
        <source>%1 is neither a file, a FIFO nor a device: nothing can be exported to it.</source>
        <translation>%1 ist weder eine Datei noch ein FIFO noch ein Gerät: Dorthin kann nichts exportiert werden.</translation>
    </message>
    <message>
        <source>%2 is a FIFO or a device, and a %1 file cannot be written to one: its header is completed at the end, which needs a file that can seek.</source>
        <translation>%2 ist ein FIFO oder ein Gerät, und eine %1-Datei kann nicht dorthin geschrieben werden: Ihr Kopf wird erst am Ende vervollständigt, wozu eine Datei nötig ist, in der man springen kann.</translation>
    </message>
    <message>
        <source>About Brinesong</source>
        <translation>Über Brinesong</translation>
    </message>
    <message>
        <source>The sound of ocean surf, made as it plays.</source>
        <translation>Das Rauschen der Meeresbrandung, erzeugt, während es erklingt.</translation>
    </message>
    <message>
        <source>Licence: GNU GPL version 3 or later. It comes with no warranty.</source>
        <translation>Lizenz: GNU GPL Version 3 oder später. Ohne jede Gewährleistung.</translation>
    </message>
    <message>
        <source>wave</source>
        <translation>Welle</translation>
    </message>
    <message>
        <source>level heard (%1 to 0 dB)</source>
        <translation>gehörter Pegel (%1 bis 0 dB)</translation>
    </message>
    <message>
        <source>Export Sound File...</source>
        <translation>Klangdatei exportieren …</translation>
    </message>
    <message>
        <source>Export Sound File</source>
        <translation>Klangdatei exportieren</translation>
    </message>
    <message>
        <source>Set the length of the file in minutes (up to 400 minutes)</source>
        <translation>Länge der Datei in Minuten festlegen (bis zu 400 Minuten)</translation>
    </message>
    <message>
        <source>Help text</source>
        <translation>Hilfetext</translation>
    </message>
    <message>
        <source>Starts the sound with a short fade-in; pressed again, fades it out and stops it</source>
        <translation>Startet die Brandung mit kurzem Einblenden; erneut gedrückt, blendet sie aus und hält sie an</translation>
    </message>
    <message>
        <source>How loud the surf plays, in percent</source>
        <translation>Wie laut die Brandung spielt, in Prozent</translation>
    </message>
    <message>
        <source>Starts the sound at the date and time beside it</source>
        <translation>Startet die Brandung am Datum und zur Uhrzeit daneben</translation>
    </message>
    <message>
        <source>Start date</source>
        <translation>Startdatum</translation>
    </message>
    <message>
        <source>Start time</source>
        <translation>Startzeit</translation>
    </message>
    <message>
        <source>Stop after, minutes</source>
        <translation>Anhalten nach, Minuten</translation>
    </message>
    <message>
        <source>Fade-out</source>
        <translation>Ausblenden</translation>
    </message>
    <message>
        <source>How loud the light waves are, from 0 to 1000 (tenths of a percent)</source>
        <translation>Wie laut die leichten Wellen sind, von 0 bis 1000 (Zehntelprozent)</translation>
    </message>
    <message>
        <source>How loud the heavy waves are, from 0 to 1000 (tenths of a percent)</source>
        <translation>Wie laut die schweren Wellen sind, von 0 bis 1000 (Zehntelprozent)</translation>
    </message>
    <message>
        <source>Plays both kinds of wave at twice the level; the loudest may clip</source>
        <translation>Spielt beide Wellenarten mit doppeltem Pegel; die lautesten können übersteuern</translation>
    </message>
    <message>
        <source>Makes the sound rise and fall in waves; off, it stays at one level and ascent, descent and wave interval do nothing</source>
        <translation>Lässt die Brandung in Wellen steigen und fallen; aus, bleibt sie auf einem Pegel, und Anstieg, Abfall und Wellenabstand wirken nicht</translation>
    </message>
    <message>
        <source>How fast each wave rises, from 0 to 1000 (tenths of a percent)</source>
        <translation>Wie schnell jede Welle steigt, von 0 bis 1000 (Zehntelprozent)</translation>
    </message>
    <message>
        <source>How fast each wave falls, from 0 to 1000 (tenths of a percent)</source>
        <translation>Wie schnell jede Welle fällt, von 0 bis 1000 (Zehntelprozent)</translation>
    </message>
    <message>
        <source>How far apart the waves come, from 0 to 1000 (tenths of a percent)</source>
        <translation>Wie weit die Wellen auseinander kommen, von 0 bis 1000 (Zehntelprozent)</translation>
    </message>
    <message>
        <source>Sets the wave settings back to their defaults</source>
        <translation>Setzt die Welleneinstellungen auf ihre Standardwerte zurück</translation>
    </message>
    <message>
        <source>Export progress</source>
        <translation>Exportfortschritt</translation>
    </message>
    <message>
        <source>Picture of the waves</source>
        <translation>Bild der Wellen</translation>
    </message>
    <message>
        <source>Keep the computer awake while playing or waiting to start</source>
        <translation>Computer während der Wiedergabe und bis zum geplanten Start wach halten</translation>
    </message>
    <message>
        <source>While the sound plays, or a ticked &quot;Start at&quot; waits for its time, the computer does not go to sleep; the screen may still blank</source>
        <translation>Während die Brandung spielt oder ein angekreuztes „Starten um“ auf seine Zeit wartet, geht der Computer nicht in den Ruhezustand; der Bildschirm darf sich trotzdem abschalten</translation>
    </message>
    <message>
        <source>The start at %1 was missed while the computer slept</source>
        <translation>Der Start um %1 wurde verpasst, während der Computer schlief</translation>
    </message>
    <message>
        <source>Waiting to start the sound of the surf at a set time</source>
        <translation>Wartet darauf, das Rauschen der Brandung zur eingestellten Zeit zu starten</translation>
    </message>
    <message>
        <source>Preset</source>
        <translation>Voreinstellung</translation>
    </message>
    <message>
        <source>Sets the waves to a preset; marked as changed once a setting differs from it</source>
        <translation>Stellt die Wellen nach einer Voreinstellung ein; als geändert markiert, sobald eine Einstellung von ihr abweicht</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Speichern</translation>
    </message>
    <message>
        <source>Saves the current settings into the chosen preset of your own</source>
        <translation>Speichert die aktuellen Einstellungen in der gewählten eigenen Voreinstellung</translation>
    </message>
    <message>
        <source>Save As...</source>
        <translation>Speichern unter …</translation>
    </message>
    <message>
        <source>Saves the current settings as a preset of your own, under a name you give</source>
        <translation>Speichert die aktuellen Einstellungen als eigene Voreinstellung unter einem Namen Ihrer Wahl</translation>
    </message>
    <message>
        <source>Rename...</source>
        <translation>Umbenennen …</translation>
    </message>
    <message>
        <source>Gives the chosen preset of your own a new name</source>
        <translation>Gibt der gewählten eigenen Voreinstellung einen neuen Namen</translation>
    </message>
    <message>
        <source>Delete...</source>
        <translation>Löschen …</translation>
    </message>
    <message>
        <source>Deletes the chosen preset of your own; the settings stay as they are</source>
        <translation>Löscht die gewählte eigene Voreinstellung; die Einstellungen bleiben, wie sie sind</translation>
    </message>
    <message>
        <source>Stop in %1 minutes</source>
        <translation>In %1 Minuten anhalten</translation>
    </message>
    <message>
        <source>Don&apos;t stop</source>
        <translation>Nicht anhalten</translation>
    </message>
    <message>
        <source>%1 (changed)</source>
        <translation>%1 (geändert)</translation>
    </message>
    <message>
        <source>Presets</source>
        <translation>Voreinstellungen</translation>
    </message>
    <message>
        <source>Save Preset</source>
        <translation>Voreinstellung speichern</translation>
    </message>
    <message>
        <source>Name of the preset:</source>
        <translation>Name der Voreinstellung:</translation>
    </message>
    <message>
        <source>Replace the preset &quot;%1&quot; with the current settings?</source>
        <translation>Die Voreinstellung „%1“ durch die aktuellen Einstellungen ersetzen?</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>Ersetzen</translation>
    </message>
    <message>
        <source>Rename Preset</source>
        <translation>Voreinstellung umbenennen</translation>
    </message>
    <message>
        <source>New name of the preset:</source>
        <translation>Neuer Name der Voreinstellung:</translation>
    </message>
    <message>
        <source>Delete the preset &quot;%1&quot;?</source>
        <translation>Die Voreinstellung „%1“ löschen?</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Löschen</translation>
    </message>
    <message>
        <source>No preset</source>
        <translation>Keine Voreinstellung</translation>
    </message>
    <message>
        <source>Calm cove</source>
        <translation>Ruhige Bucht</translation>
    </message>
    <message>
        <source>Steady surf</source>
        <translation>Gleichmäßige Brandung</translation>
    </message>
    <message>
        <source>Storm</source>
        <translation>Sturm</translation>
    </message>
    <message>
        <source>Distant breakers</source>
        <translation>Ferne Brecher</translation>
    </message>
    <message>
        <source>Slow swell</source>
        <translation>Langsame Dünung</translation>
    </message>
    <message>
        <source>A preset needs a name.</source>
        <translation>Eine Voreinstellung braucht einen Namen.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is the name of a preset that comes with Brinesong.</source>
        <translation>„%1“ ist der Name einer Voreinstellung, die Brinesong mitbringt.</translation>
    </message>
    <message>
        <source>There is already a preset named &quot;%1&quot;.</source>
        <translation>Es gibt bereits eine Voreinstellung namens „%1“.</translation>
    </message>
    <message>
        <source>Sleep Timer</source>
        <translation>Sleep-Timer</translation>
    </message>
    <message>
        <source>Fade-in</source>
        <translation>Einblenden</translation>
    </message>
    <message>
        <source>Fade the sound in gently from silence over the first minutes after the start, to wake to</source>
        <translation>Den Klang in den ersten Minuten nach dem Start sanft aus der Stille einblenden, zum Aufwachen</translation>
    </message>
    <message>
        <source>No fade-in</source>
        <translation>Ohne Einblenden</translation>
    </message>
    <message>
        <source>Fade in over %1 min</source>
        <translation>Über %1 Min. einblenden</translation>
    </message>
    <message>
        <source>Fading in, full level at %1</source>
        <translation>Blendet ein, volle Lautstärke um %1</translation>
    </message>
    <message>
        <source>Stops the sound the minutes beside it from the moment it is ticked, if it plays then</source>
        <translation>Hält die Brandung die Minuten daneben ab dem Moment des Ankreuzens an, falls sie dann spielt</translation>
    </message>
    <message>
        <source>Minutes before the stop, counted from the moment Stop after is ticked</source>
        <translation>Minuten bis zum Anhalten, gezählt ab dem Moment, in dem „Anhalten nach“ angekreuzt wird</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 Min.</translation>
    </message>
    <message>
        <source>%1 h</source>
        <translation>%1 Std.</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 Std. %2 Min.</translation>
    </message>
    <message>
        <source>%1 d</source>
        <translation>%1 Tg.</translation>
    </message>
    <message>
        <source>%1 d %2 h</source>
        <translation>%1 Tg. %2 Std.</translation>
    </message>
    <message>
        <source>at %1</source>
        <translation>um %1</translation>
    </message>
    <message>
        <source>tomorrow at %1</source>
        <translation>morgen um %1</translation>
    </message>
    <message>
        <source>on %1 at %2</source>
        <translation>am %1 um %2</translation>
    </message>
    <message>
        <source>%1 (in %2)</source>
        <translation>%1 (in %2)</translation>
    </message>
    <message>
        <source>Starts %1</source>
        <translation>Startet %1</translation>
    </message>
    <message>
        <source>Stops %1</source>
        <translation>Anhalten %1</translation>
    </message>
    <message>
        <source>Fade-out begins %1, stops %2</source>
        <translation>Ausblenden ab %1, Anhalten %2</translation>
    </message>
    <message>
        <source>Fading out, stops %1</source>
        <translation>Blendet aus, Anhalten %1</translation>
    </message>
    <message>
        <source>Every day</source>
        <translation>Jeden Tag</translation>
    </message>
    <message>
        <source>Start at this time every day: once the sound has started, the date moves to the next day and Start at stays ticked</source>
        <translation>Jeden Tag zu dieser Uhrzeit starten: Nach dem Start rückt das Datum auf den nächsten Tag vor, und „Starten um“ bleibt angekreuzt</translation>
    </message>
    <message>
        <source>Start every day</source>
        <translation>Jeden Tag starten</translation>
    </message>
    <message>
        <source>Keep playing when the window is closed</source>
        <translation>Weiterspielen, wenn das Fenster geschlossen wird</translation>
    </message>
    <message>
        <source>Where the desktop has a tray, closing the window while the sound plays leaves it playing; the tray icon brings the window back or quits</source>
        <translation>Wo der Desktop ein Benachrichtigungsfeld hat, spielt der Klang weiter, wenn das Fenster während der Wiedergabe geschlossen wird; das Symbol im Benachrichtigungsfeld holt das Fenster zurück oder beendet das Programm</translation>
    </message>
    <message>
        <source>Where the desktop has a tray, closing the window while the sound plays leaves it playing in the tray</source>
        <translation>Wo der Desktop ein Benachrichtigungsfeld hat, spielt der Klang nach dem Schließen des Fensters während der Wiedergabe im Benachrichtigungsfeld weiter</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>Bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>Starts Brinesong in the tray, without its window, each time you log in</source>
        <translation>Startet Brinesong bei jeder Anmeldung im Benachrichtigungsfeld, ohne sein Fenster</translation>
    </message>
    <message>
        <source>Brinesong cannot start at login: %1</source>
        <translation>Brinesong kann nicht bei der Anmeldung starten: %1</translation>
    </message>
    <message>
        <source>%1 cannot be removed: %2</source>
        <translation>%1 kann nicht entfernt werden: %2</translation>
    </message>
    <message>
        <source>the program&apos;s path cannot be written into %1</source>
        <translation>der Pfad des Programms kann nicht in %1 geschrieben werden</translation>
    </message>
    <message>
        <source>%1 cannot be written: its folder cannot be made</source>
        <translation>%1 kann nicht geschrieben werden: sein Ordner kann nicht angelegt werden</translation>
    </message>
    <message>
        <source>%1 cannot be written: %2</source>
        <translation>%1 kann nicht geschrieben werden: %2</translation>
    </message>
    <message>
        <source>&lt;h3&gt;Brinesong&lt;/h3&gt;
&lt;p&gt;Brinesong makes the sound of surf as it plays: nothing is recorded, every wave is new.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Start Brinesong&lt;/b&gt; starts the sound with a short fade-in; the same button, the Playback menu or Space stops it (Space works anywhere but in the date, time and minutes fields). Escape stops it too, once no list is open.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;The picture of the waves&lt;/b&gt; shows the last 30 seconds of each channel: the line is the wave, the area the level heard, from &amp;#8722;60 dB at the foot of each channel to 0 dB (full scale) at its head, and a band along its foot marks where the settings glide. It stands still while nothing plays, and each playback begins a little apart from the last. &lt;i&gt;View &amp;gt; Wave Picture&lt;/i&gt; hides it.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Preferences&lt;/b&gt; shape the waves while they play: the light and heavy wave levels, how fast each wave rises and falls, and how far apart the waves come. They also choose the output device.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Presets&lt;/b&gt; keep the wave settings under a name: choose one above the volume, in the preferences or in the tray icon&apos;s menu. Five come with Brinesong; &lt;i&gt;Save As...&lt;/i&gt; in the preferences keeps the current settings as a preset of your own, which you can save again, rename or delete. Once a setting differs from the chosen preset, it reads &lt;i&gt;(changed)&lt;/i&gt;; choosing it again brings its settings back. A preset chosen while the sound plays glides in over the &lt;i&gt;Change over&lt;/i&gt; set beside the presets (at once, 5 or 30 seconds, or 2 minutes); a single slider is always heard at once. &lt;i&gt;Wander&lt;/i&gt; lets the five wave settings stray slowly about their values, up to 50 points, over tens of minutes.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Night Programme&lt;/b&gt; (Playback menu, or the tray icon&apos;s menu) changes the sea through the night on its own: each step glides to a preset, beginning a number of minutes after the start and taking the minutes you give. It runs with every start, from the button, the schedule, the tray or the media keys, and goes on where it stood if the sound server comes back; untick it to keep the steps without running them. Changes are saved at once and count from the next start. The status line and the tray icon say what comes next; as a step begins, its preset becomes the current one. A step whose preset was deleted reads &lt;i&gt;(missing)&lt;/i&gt; and is skipped.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Schedule&lt;/b&gt;: tick &lt;i&gt;Start at&lt;/i&gt; to start at a date and time; the status line says when it comes. With &lt;i&gt;Every day&lt;/i&gt; it comes again each day at that time and stays ticked; without it, it comes once, and its date moves on to the next day. Tick &lt;i&gt;Stop after&lt;/i&gt; to stop the sound a number of minutes from the moment it is ticked, whether it plays yet or not; if nothing plays then, the box is only unticked. The status line says when it falls due. Beside it, a &lt;i&gt;fade-out&lt;/i&gt; lets the sound die away gently over its last minutes. Beside the start, a &lt;i&gt;fade-in&lt;/i&gt; wakes you gently: a scheduled start rises from silence over the minutes chosen, and the status line says when it reaches full level.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Export Sound File&lt;/b&gt; writes the sound to a file of up to 400 minutes, in one of five formats: AIFF, WAV, FLAC, Ogg Opus or MP3 (choose the file type, or type its extension). &lt;i&gt;Seamless loop&lt;/i&gt; makes a file whose end flows into its start, for a player to repeat without a seam.&lt;/p&gt;
&lt;p&gt;The &lt;b&gt;tray icon&lt;/b&gt; shows the window when clicked; its menu starts or stops the sound, chooses a preset, and sets a sleep timer: &lt;i&gt;Stop in 15, 30, 60 or 90 minutes&lt;/i&gt; ticks &lt;i&gt;Stop after&lt;/i&gt; with those minutes (and the chosen fade-out), &lt;i&gt;Don&apos;t stop&lt;/i&gt; unticks it. Media keys, the desktop&apos;s media controls and the launcher&apos;s &lt;i&gt;Play&lt;/i&gt; and &lt;i&gt;Stop&lt;/i&gt; start and stop the sound too. Where the desktop has a tray, closing the window while the sound plays leaves it playing there, unless &lt;i&gt;Keep playing when the window is closed&lt;/i&gt; is turned off in the preferences; &lt;i&gt;Start at login&lt;/i&gt; there starts Brinesong in the tray each time you log in. While it plays, and while a ticked &lt;i&gt;Start at&lt;/i&gt; waits for its time, the computer does not go to sleep, unless &lt;i&gt;Keep the computer awake while playing or waiting to start&lt;/i&gt; is turned off in the preferences. If the computer sleeps through the start all the same (a lid closed), the start still comes when it wakes less than 10 minutes late; later than that it is left out, and the status line says so.&lt;/p&gt;</source>
        <translation>&lt;h3&gt;Brinesong&lt;/h3&gt;
&lt;p&gt;Brinesong erzeugt das Rauschen der Brandung, während es spielt: Nichts ist aufgenommen, jede Welle ist neu.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Brandung starten&lt;/b&gt; startet den Klang mit einem kurzen Einblenden; dieselbe Taste, das Menü Wiedergabe oder die Leertaste hält ihn an (die Leertaste wirkt überall außer in den Feldern für Datum, Uhrzeit und Minuten). Auch die Escape-Taste hält ihn an, sobald keine Liste offen ist.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Das Wellenbild&lt;/b&gt; zeigt die letzten 30 Sekunden jedes Kanals: Die Linie ist die Welle, die Fläche der gehörte Pegel, von &amp;#8722;60 dB am Fuß jedes Kanals bis 0 dB (Vollaussteuerung) an seinem Kopf, und ein Band an seinem Fuß zeigt, wo die Einstellungen gleiten. Es steht still, solange nichts spielt, und jede Wiedergabe beginnt ein wenig abgesetzt von der vorigen. &lt;i&gt;Ansicht &amp;gt; Wellenbild&lt;/i&gt; blendet es aus.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Einstellungen&lt;/b&gt; formen die Wellen, während sie spielen: die Stärke der leichten und der schweren Wellen, wie schnell jede Welle steigt und fällt und wie weit die Wellen auseinander kommen. Dort wird auch das Ausgabegerät gewählt.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Voreinstellungen&lt;/b&gt; bewahren die Welleneinstellungen unter einem Namen auf: Wählen Sie eine über der Lautstärke, in den Einstellungen oder im Menü des Symbols im Benachrichtigungsfeld. Fünf bringt Brinesong mit; &lt;i&gt;Speichern unter …&lt;/i&gt; in den Einstellungen bewahrt die aktuellen Einstellungen als eigene Voreinstellung auf, die Sie erneut speichern, umbenennen oder löschen können. Sobald eine Einstellung von der gewählten Voreinstellung abweicht, steht &lt;i&gt;(geändert)&lt;/i&gt; dabei; wählen Sie sie erneut, kehren ihre Einstellungen zurück. Eine Voreinstellung, die Sie wählen, während der Klang spielt, gleitet über den &lt;i&gt;Übergang&lt;/i&gt; herein, der neben den Voreinstellungen eingestellt wird (sofort, 5 oder 30 Sekunden oder 2 Minuten); ein einzelner Regler ist immer sofort zu hören. &lt;i&gt;Wandern&lt;/i&gt; lässt die fünf Welleneinstellungen langsam um ihre Werte schweifen, um bis zu 50 Punkte, über Dutzende von Minuten.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Nachtprogramm&lt;/b&gt; (Menü Wiedergabe oder das Menü des Symbols im Benachrichtigungsfeld) verändert das Meer im Lauf der Nacht von selbst: Jeder Schritt gleitet zu einer Voreinstellung, beginnt eine Anzahl Minuten nach dem Start und dauert die Minuten, die Sie angeben. Es läuft bei jedem Start, ob über die Taste, den Zeitplan, das Benachrichtigungsfeld oder die Medientasten, und geht dort weiter, wo es stand, wenn der Soundserver zurückkommt; nehmen Sie das Häkchen weg, bleiben die Schritte erhalten, ohne zu laufen. Änderungen werden sofort gespeichert und gelten ab dem nächsten Start. Die Statuszeile und das Symbol im Benachrichtigungsfeld sagen, was als Nächstes kommt; sobald ein Schritt beginnt, wird seine Voreinstellung die aktuelle. Ein Schritt, dessen Voreinstellung gelöscht wurde, zeigt &lt;i&gt;(fehlt)&lt;/i&gt; und wird übersprungen.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Zeitplan&lt;/b&gt;: Kreuzen Sie &lt;i&gt;Starten um&lt;/i&gt; an, um zu einem Datum und einer Uhrzeit zu starten; die Statuszeile sagt, wann. Mit &lt;i&gt;Jeden Tag&lt;/i&gt; kommt der Start jeden Tag zu dieser Uhrzeit wieder und bleibt angekreuzt; ohne kommt er einmal, und sein Datum rückt auf den nächsten Tag vor. Kreuzen Sie &lt;i&gt;Anhalten nach&lt;/i&gt; an, um den Klang eine Anzahl Minuten ab dem Moment des Ankreuzens anzuhalten, ob er schon spielt oder nicht; spielt dann nichts, wird nur das Kreuz weggenommen. Die Statuszeile sagt, wann es so weit ist. Daneben lässt das &lt;i&gt;Ausblenden&lt;/i&gt; den Klang über seine letzten Minuten sanft verklingen. Neben dem Start weckt Sie das &lt;i&gt;Einblenden&lt;/i&gt; sanft: ein geplanter Start steigt über die gewählten Minuten aus der Stille an, und die Statuszeile sagt, wann die volle Lautstärke erreicht ist.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Klangdatei exportieren&lt;/b&gt; schreibt den Klang in eine Datei von bis zu 400 Minuten, in einem von fünf Formaten: AIFF, WAV, FLAC, Ogg Opus oder MP3 (wählen Sie den Dateityp oder geben Sie seine Endung ein). &lt;i&gt;Nahtlose Schleife&lt;/i&gt; macht eine Datei, deren Ende in ihren Anfang übergeht, sodass ein Player sie ohne Naht wiederholen kann.&lt;/p&gt;
&lt;p&gt;Ein Klick auf das &lt;b&gt;Symbol im Benachrichtigungsfeld&lt;/b&gt; zeigt das Fenster; sein Menü startet oder stoppt den Klang, wählt eine Voreinstellung und stellt einen Sleep-Timer: &lt;i&gt;In 15, 30, 60 oder 90 Minuten anhalten&lt;/i&gt; kreuzt &lt;i&gt;Anhalten nach&lt;/i&gt; mit diesen Minuten (und dem gewählten Ausblenden) an, &lt;i&gt;Nicht anhalten&lt;/i&gt; nimmt das Kreuz weg. Medientasten, die Mediensteuerung des Desktops und die Aktionen &lt;i&gt;Abspielen&lt;/i&gt; und &lt;i&gt;Anhalten&lt;/i&gt; des Starters starten und stoppen den Klang ebenfalls. Wo der Desktop ein Benachrichtigungsfeld hat, spielt der Klang dort weiter, wenn das Fenster während der Wiedergabe geschlossen wird, es sei denn, &lt;i&gt;Weiterspielen, wenn das Fenster geschlossen wird&lt;/i&gt; ist in den Einstellungen ausgeschaltet; &lt;i&gt;Bei der Anmeldung starten&lt;/i&gt; startet Brinesong bei jeder Anmeldung im Benachrichtigungsfeld. Während er spielt und solange ein angekreuztes &lt;i&gt;Starten um&lt;/i&gt; auf seine Zeit wartet, geht der Computer nicht in den Ruhezustand, es sei denn, &lt;i&gt;Computer während der Wiedergabe und bis zum geplanten Start wach halten&lt;/i&gt; ist in den Einstellungen ausgeschaltet. Schläft der Computer trotzdem über den Start hinweg (ein zugeklappter Deckel), kommt der Start noch, wenn er weniger als 10 Minuten zu spät aufwacht; später entfällt er, und die Statuszeile sagt es.&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Night Programme...</source>
        <translation>Nachtprogramm …</translation>
    </message>
    <message>
        <source>Night Programme</source>
        <translation>Nachtprogramm</translation>
    </message>
    <message>
        <source>Each step glides the sea to a preset, a number of minutes after the sound starts. Changes count from the next start.</source>
        <translation>Jeder Schritt lässt das Meer zu einer Voreinstellung gleiten, eine Anzahl Minuten nach dem Start des Klangs. Änderungen gelten ab dem nächsten Start.</translation>
    </message>
    <message>
        <source>Run the night programme with every start</source>
        <translation>Nachtprogramm bei jedem Start ausführen</translation>
    </message>
    <message>
        <source>Off, the steps are kept but the sound stays as it is set</source>
        <translation>Ausgeschaltet bleiben die Schritte erhalten, aber der Klang bleibt, wie er eingestellt ist</translation>
    </message>
    <message>
        <source>Steps of the night</source>
        <translation>Schritte der Nacht</translation>
    </message>
    <message>
        <source>One row a step, in order of its minutes: after how many minutes it begins, how many minutes it glides, and the preset it glides to</source>
        <translation>Eine Zeile je Schritt, nach Minuten geordnet: nach wie vielen Minuten er beginnt, wie viele Minuten er gleitet und zu welcher Voreinstellung</translation>
    </message>
    <message>
        <source>Add Step</source>
        <translation>Schritt hinzufügen</translation>
    </message>
    <message>
        <source>Adds a step after the last one</source>
        <translation>Fügt einen Schritt nach dem letzten hinzu</translation>
    </message>
    <message>
        <source>Change over</source>
        <translation>Übergang</translation>
    </message>
    <message>
        <source>How long a preset chosen while the sound plays takes to glide in; moving a single slider is always heard at once</source>
        <translation>Wie lange eine Voreinstellung, die während der Wiedergabe gewählt wird, zum Hereingleiten braucht; ein einzelner verschobener Regler ist immer sofort zu hören</translation>
    </message>
    <message>
        <source>How long a preset chosen while the sound plays takes to glide in</source>
        <translation>Wie lange eine Voreinstellung, die während der Wiedergabe gewählt wird, zum Hereingleiten braucht</translation>
    </message>
    <message>
        <source>Wander</source>
        <translation>Wandern</translation>
    </message>
    <message>
        <source>How far, in points from 0 to 50, the five wave settings stray about their values in the course of a night; 0 holds them still</source>
        <translation>Wie weit die fünf Welleneinstellungen im Lauf einer Nacht um ihre Werte schweifen, in Punkten von 0 bis 50; 0 hält sie fest</translation>
    </message>
    <message>
        <source>How far the five wave settings stray about their values in the course of a night, slowly, over tens of minutes; heard at once while the sound plays</source>
        <translation>Wie weit die fünf Welleneinstellungen im Lauf einer Nacht um ihre Werte schweifen, langsam, über Dutzende von Minuten; während der Wiedergabe sofort zu hören</translation>
    </message>
    <message>
        <source>%1 cannot be written.</source>
        <translation>%1 kann nicht geschrieben werden.</translation>
    </message>
    <message>
        <source>Next: %1 %2</source>
        <translation>Als Nächstes: %1 %2</translation>
    </message>
    <message>
        <source>%1 → %2 %3</source>
        <translation>%1 → %2 %3</translation>
    </message>
    <message>
        <source>After (minutes)</source>
        <translation>Nach (Minuten)</translation>
    </message>
    <message>
        <source>Glide (minutes)</source>
        <translation>Gleiten (Minuten)</translation>
    </message>
    <message>
        <source>Step %1: after minutes</source>
        <translation>Schritt %1: nach Minuten</translation>
    </message>
    <message>
        <source>Minutes from the start of the sound at which the step begins</source>
        <translation>Minuten ab dem Start des Klangs, nach denen der Schritt beginnt</translation>
    </message>
    <message>
        <source>Step %1: glide minutes</source>
        <translation>Schritt %1: Übergangsminuten</translation>
    </message>
    <message>
        <source>Minutes the sea takes to glide to the preset; 0 glides over a second</source>
        <translation>Minuten, die das Meer zum Gleiten zur Voreinstellung braucht; 0 gleitet über eine Sekunde</translation>
    </message>
    <message>
        <source>The preset the step glides to</source>
        <translation>Die Voreinstellung, zu der der Schritt gleitet</translation>
    </message>
    <message>
        <source>%1 (missing)</source>
        <translation>%1 (fehlt)</translation>
    </message>
    <message>
        <source>No preset has this name any more: the step is skipped</source>
        <translation>Keine Voreinstellung trägt mehr diesen Namen: Der Schritt wird übersprungen</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Entfernen</translation>
    </message>
    <message>
        <source>Remove step %1</source>
        <translation>Schritt %1 entfernen</translation>
    </message>
    <message>
        <source>Step %1</source>
        <translation>Schritt %1</translation>
    </message>
    <message>
        <source>A step whose preset is missing is skipped.</source>
        <translation>Ein Schritt, dessen Voreinstellung fehlt, wird übersprungen.</translation>
    </message>
    <message>
        <source>The night programme could not be saved: %1</source>
        <translation>Das Nachtprogramm konnte nicht gespeichert werden: %1</translation>
    </message>
    <message>
        <source>A night has at most %1 steps.</source>
        <translation>Eine Nacht hat höchstens %1 Schritte.</translation>
    </message>
    <message>
        <source>At once</source>
        <translation>Sofort</translation>
    </message>
    <message>
        <source>%1 seconds</source>
        <translation>%1 Sekunden</translation>
    </message>
    <message>
        <source>%1 minutes</source>
        <translation>%1 Minuten</translation>
    </message>
    <message>
        <source>glide</source>
        <translation>Gleiten</translation>
    </message>
    <message>
        <source>The line is the wave, the area the level heard, from %1 to 0 dB; a band along the foot marks where the settings glide</source>
        <translation>Die Linie ist die Welle, die Fläche der gehörte Pegel, von %1 bis 0 dB; ein Band am Fuß zeigt, wo die Einstellungen gleiten</translation>
    </message>
    <message>
        <source>The last 30 seconds of each channel: the wave envelope as a line, the level as an area; a band along the foot where the settings glide</source>
        <translation>Die letzten 30 Sekunden jedes Kanals: die Wellenhüllkurve als Linie, der Pegel als Fläche; ein Band am Fuß, wo die Einstellungen gleiten</translation>
    </message>
    <message>
        <source>%1 is a folder; choose a name for the file.</source>
        <translation>%1 ist ein Ordner; wählen Sie einen Namen für die Datei.</translation>
    </message>
    <message>
        <source>A preset&apos;s name cannot hold control characters, such as line breaks, tabs or marks that turn the direction of text.</source>
        <translation>Der Name einer Voreinstellung kann keine Steuerzeichen enthalten, etwa Zeilenumbrüche, Tabulatoren oder Zeichen, die die Schreibrichtung umkehren.</translation>
    </message>
    <message>
        <source>%1 is a block device (a disk or a partition): nothing is exported to one, as that would overwrite what it holds.</source>
        <translation>%1 ist ein blockorientiertes Gerät (ein Datenträger oder eine Partition): Dorthin wird nichts exportiert, denn das würde seinen Inhalt überschreiben.</translation>
    </message>
    <message>
        <source>Quit Brinesong</source>
        <translation>Brinesong beenden</translation>
    </message>
    <message>
        <source>The settings cannot be saved: %1 cannot be written (%2).
If you quit now, the settings changed since the launch are lost.</source>
        <translation>Die Einstellungen können nicht gesichert werden: %1 kann nicht geschrieben werden (%2).
Wenn Sie jetzt beenden, gehen die seit dem Start geänderten Einstellungen verloren.</translation>
    </message>
    <message>
        <source>Quit Anyway</source>
        <translation>Trotzdem beenden</translation>
    </message>
    <message>
        <source>The presets cannot be saved: %1 cannot be written (%2). They stay as they were.</source>
        <translation>Die Voreinstellungen können nicht gesichert werden: %1 kann nicht geschrieben werden (%2). Sie bleiben, wie sie waren.</translation>
    </message>
    <message>
        <source>Some presets in the settings file cannot be read: they are left out here, and kept in the file as they are.</source>
        <translation>Einige Voreinstellungen in der Einstellungsdatei können nicht gelesen werden: Sie fehlen hier und bleiben in der Datei, wie sie sind.</translation>
    </message>
    <message>
        <source>a folder stands in its place</source>
        <translation>an ihrer Stelle steht ein Ordner</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>sie ist keine gewöhnliche Datei</translation>
    </message>
    <message>
        <source>no scratch folder can be made: %1</source>
        <translation>kein Arbeitsordner kann angelegt werden: %1</translation>
    </message>
    <message>
        <source>its new contents cannot be made in %1</source>
        <translation>ihr neuer Inhalt kann nicht in %1 erstellt werden</translation>
    </message>
</context>
</TS>
