<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="en">
<context>
    <name>Brinesong</name>
    <message>
        <source>Brinesong Help</source>
        <translation>Brinesong Help</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>Brinesong</source>
        <translation>Brinesong</translation>
    </message>
    <message>
        <source>Start Brinesong</source>
        <translation>Start Brinesong</translation>
    </message>
    <message>
        <source>Volume</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>Schedule</source>
        <translation>Schedule</translation>
    </message>
    <message>
        <source>Start at</source>
        <translation>Start at</translation>
    </message>
    <message>
        <source>Stop after</source>
        <translation>Stop after</translation>
    </message>
    <message>
        <source>minutes</source>
        <translation>minutes</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>&amp;Playback</source>
        <translation>&amp;Playback</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>Preferences...</source>
        <translation>Preferences...</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>Start</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Preferences</source>
        <translation>Preferences</translation>
    </message>
    <message>
        <source>Light wave</source>
        <translation>Light wave</translation>
    </message>
    <message>
        <source>Heavy wave</source>
        <translation>Heavy wave</translation>
    </message>
    <message>
        <source>Boost sound level</source>
        <translation>Boost sound level</translation>
    </message>
    <message>
        <source>Amplitude generator</source>
        <translation>Amplitude generator</translation>
    </message>
    <message>
        <source>Ascent</source>
        <translation>Ascent</translation>
    </message>
    <message>
        <source>Descent</source>
        <translation>Descent</translation>
    </message>
    <message>
        <source>Wave interval</source>
        <translation>Wave interval</translation>
    </message>
    <message>
        <source>Output device</source>
        <translation>Output device</translation>
    </message>
    <message>
        <source>Restore Defaults</source>
        <translation>Restore Defaults</translation>
    </message>
    <message>
        <source>Length in minutes:</source>
        <translation>Length in minutes:</translation>
    </message>
    <message>
        <source>Export</source>
        <translation>Export</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>No output device</source>
        <translation>No output device</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Stop Brinesong</source>
        <translation>Stop Brinesong</translation>
    </message>
    <message>
        <source>Faild to save an AIFF file.</source>
        <translation>Failed to save an AIFF file.</translation>
    </message>
    <message>
        <source>Saving %1...</source>
        <translation>Saving %1...</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>DockMenu</source>
        <translation>DockMenu</translation>
    </message>
    <message>
        <source>Show Brinesong</source>
        <translation>Show Brinesong</translation>
    </message>
    <message>
        <source>Ocean surf</source>
        <translation>Ocean surf</translation>
    </message>
    <message>
        <source>Playing the sound of the surf</source>
        <translation>Playing the sound of the surf</translation>
    </message>
    <message>
        <source>The length must be a number of minutes (up to 400).</source>
        <translation>The length must be a number of minutes (up to 400).</translation>
    </message>
    <message>
        <source>%1 already exists.
Do you want to replace it?</source>
        <translation>%1 already exists.
Do you want to replace it?</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>No</source>
        <translation>No</translation>
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
    <message>
        <source>Fade the sound out gently over the last minutes before the stop</source>
        <translation>Fade the sound out gently over the last minutes before the stop</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>Wave Picture</source>
        <translation>Wave Picture</translation>
    </message>
    <message>
        <source>No fade-out</source>
        <translation>No fade-out</translation>
    </message>
    <message>
        <source>Fade out over %1 min</source>
        <translation>Fade out over %1 min</translation>
    </message>
    <message>
        <source>Left</source>
        <translation>Left</translation>
    </message>
    <message>
        <source>Right</source>
        <translation>Right</translation>
    </message>
    <message>
        <source>Seamless loop</source>
        <translation>Seamless loop</translation>
    </message>
    <message>
        <source>The end of the file flows into its start, so a player repeating it plays no seam</source>
        <translation>The end of the file flows into its start, so a player repeating it plays no seam</translation>
    </message>
    <message>
        <source>Failed to save the %1 file.</source>
        <translation>Failed to save the %1 file.</translation>
    </message>
    <message>
        <source>%1 files (%2)</source>
        <translation>%1 files (%2)</translation>
    </message>
    <message>
        <source>%1 · Settings will not be saved</source>
        <translation>%1 · Settings will not be saved</translation>
    </message>
    <message>
        <source>The settings cannot be saved: %1 cannot be written.</source>
        <translation>The settings cannot be saved: %1 cannot be written.</translation>
    </message>
    <message>
        <source>%1 is neither a file, a FIFO nor a device: nothing can be exported to it.</source>
        <translation>%1 is neither a file, a FIFO nor a device: nothing can be exported to it.</translation>
    </message>
    <message>
        <source>%2 is a FIFO or a device, and a %1 file cannot be written to one: its header is completed at the end, which needs a file that can seek.</source>
        <translation>%2 is a FIFO or a device, and a %1 file cannot be written to one: its header is completed at the end, which needs a file that can seek.</translation>
    </message>
    <message>
        <source>About Brinesong</source>
        <translation>About Brinesong</translation>
    </message>
    <message>
        <source>The sound of ocean surf, made as it plays.</source>
        <translation>The sound of ocean surf, made as it plays.</translation>
    </message>
    <message>
        <source>Licence: GNU GPL version 3 or later. It comes with no warranty.</source>
        <translation>Licence: GNU GPL version 3 or later. It comes with no warranty.</translation>
    </message>
    <message>
        <source>wave</source>
        <translation>wave</translation>
    </message>
    <message>
        <source>level heard (%1 to 0 dB)</source>
        <translation>level heard (%1 to 0 dB)</translation>
    </message>
    <message>
        <source>Export Sound File...</source>
        <translation>Export Sound File...</translation>
    </message>
    <message>
        <source>Export Sound File</source>
        <translation>Export Sound File</translation>
    </message>
    <message>
        <source>Set the length of the file in minutes (up to 400 minutes)</source>
        <translation>Set the length of the file in minutes (up to 400 minutes)</translation>
    </message>
    <message>
        <source>Help text</source>
        <translation>Help text</translation>
    </message>
    <message>
        <source>Starts the sound with a short fade-in; pressed again, fades it out and stops it</source>
        <translation>Starts the sound with a short fade-in; pressed again, fades it out and stops it</translation>
    </message>
    <message>
        <source>How loud the surf plays, in percent</source>
        <translation>How loud the surf plays, in percent</translation>
    </message>
    <message>
        <source>Starts the sound at the date and time beside it</source>
        <translation>Starts the sound at the date and time beside it</translation>
    </message>
    <message>
        <source>Start date</source>
        <translation>Start date</translation>
    </message>
    <message>
        <source>Start time</source>
        <translation>Start time</translation>
    </message>
    <message>
        <source>Stop after, minutes</source>
        <translation>Stop after, minutes</translation>
    </message>
    <message>
        <source>Fade-out</source>
        <translation>Fade-out</translation>
    </message>
    <message>
        <source>How loud the light waves are, from 0 to 1000 (tenths of a percent)</source>
        <translation>How loud the light waves are, from 0 to 1000 (tenths of a percent)</translation>
    </message>
    <message>
        <source>How loud the heavy waves are, from 0 to 1000 (tenths of a percent)</source>
        <translation>How loud the heavy waves are, from 0 to 1000 (tenths of a percent)</translation>
    </message>
    <message>
        <source>Plays both kinds of wave at twice the level; the loudest may clip</source>
        <translation>Plays both kinds of wave at twice the level; the loudest may clip</translation>
    </message>
    <message>
        <source>Makes the sound rise and fall in waves; off, it stays at one level and ascent, descent and wave interval do nothing</source>
        <translation>Makes the sound rise and fall in waves; off, it stays at one level and ascent, descent and wave interval do nothing</translation>
    </message>
    <message>
        <source>How fast each wave rises, from 0 to 1000 (tenths of a percent)</source>
        <translation>How fast each wave rises, from 0 to 1000 (tenths of a percent)</translation>
    </message>
    <message>
        <source>How fast each wave falls, from 0 to 1000 (tenths of a percent)</source>
        <translation>How fast each wave falls, from 0 to 1000 (tenths of a percent)</translation>
    </message>
    <message>
        <source>How far apart the waves come, from 0 to 1000 (tenths of a percent)</source>
        <translation>How far apart the waves come, from 0 to 1000 (tenths of a percent)</translation>
    </message>
    <message>
        <source>Sets the wave settings back to their defaults</source>
        <translation>Sets the wave settings back to their defaults</translation>
    </message>
    <message>
        <source>Export progress</source>
        <translation>Export progress</translation>
    </message>
    <message>
        <source>Picture of the waves</source>
        <translation>Picture of the waves</translation>
    </message>
    <message>
        <source>Keep the computer awake while playing or waiting to start</source>
        <translation>Keep the computer awake while playing or waiting to start</translation>
    </message>
    <message>
        <source>While the sound plays, or a ticked &quot;Start at&quot; waits for its time, the computer does not go to sleep; the screen may still blank</source>
        <translation>While the sound plays, or a ticked &quot;Start at&quot; waits for its time, the computer does not go to sleep; the screen may still blank</translation>
    </message>
    <message>
        <source>The start at %1 was missed while the computer slept</source>
        <translation>The start at %1 was missed while the computer slept</translation>
    </message>
    <message>
        <source>Waiting to start the sound of the surf at a set time</source>
        <translation>Waiting to start the sound of the surf at a set time</translation>
    </message>
    <message>
        <source>Preset</source>
        <translation>Preset</translation>
    </message>
    <message>
        <source>Sets the waves to a preset; marked as changed once a setting differs from it</source>
        <translation>Sets the waves to a preset; marked as changed once a setting differs from it</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Saves the current settings into the chosen preset of your own</source>
        <translation>Saves the current settings into the chosen preset of your own</translation>
    </message>
    <message>
        <source>Save As...</source>
        <translation>Save As...</translation>
    </message>
    <message>
        <source>Saves the current settings as a preset of your own, under a name you give</source>
        <translation>Saves the current settings as a preset of your own, under a name you give</translation>
    </message>
    <message>
        <source>Rename...</source>
        <translation>Rename...</translation>
    </message>
    <message>
        <source>Gives the chosen preset of your own a new name</source>
        <translation>Gives the chosen preset of your own a new name</translation>
    </message>
    <message>
        <source>Delete...</source>
        <translation>Delete...</translation>
    </message>
    <message>
        <source>Deletes the chosen preset of your own; the settings stay as they are</source>
        <translation>Deletes the chosen preset of your own; the settings stay as they are</translation>
    </message>
    <message>
        <source>Stop in %1 minutes</source>
        <translation>Stop in %1 minutes</translation>
    </message>
    <message>
        <source>Don&apos;t stop</source>
        <translation>Don&apos;t stop</translation>
    </message>
    <message>
        <source>%1 (changed)</source>
        <translation>%1 (changed)</translation>
    </message>
    <message>
        <source>Presets</source>
        <translation>Presets</translation>
    </message>
    <message>
        <source>Save Preset</source>
        <translation>Save Preset</translation>
    </message>
    <message>
        <source>Name of the preset:</source>
        <translation>Name of the preset:</translation>
    </message>
    <message>
        <source>Replace the preset &quot;%1&quot; with the current settings?</source>
        <translation>Replace the preset &quot;%1&quot; with the current settings?</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>Replace</translation>
    </message>
    <message>
        <source>Rename Preset</source>
        <translation>Rename Preset</translation>
    </message>
    <message>
        <source>New name of the preset:</source>
        <translation>New name of the preset:</translation>
    </message>
    <message>
        <source>Delete the preset &quot;%1&quot;?</source>
        <translation>Delete the preset &quot;%1&quot;?</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>No preset</source>
        <translation>No preset</translation>
    </message>
    <message>
        <source>Calm cove</source>
        <translation>Calm cove</translation>
    </message>
    <message>
        <source>Steady surf</source>
        <translation>Steady surf</translation>
    </message>
    <message>
        <source>Storm</source>
        <translation>Storm</translation>
    </message>
    <message>
        <source>Distant breakers</source>
        <translation>Distant breakers</translation>
    </message>
    <message>
        <source>Slow swell</source>
        <translation>Slow swell</translation>
    </message>
    <message>
        <source>A preset needs a name.</source>
        <translation>A preset needs a name.</translation>
    </message>
    <message>
        <source>&quot;%1&quot; is the name of a preset that comes with Brinesong.</source>
        <translation>&quot;%1&quot; is the name of a preset that comes with Brinesong.</translation>
    </message>
    <message>
        <source>There is already a preset named &quot;%1&quot;.</source>
        <translation>There is already a preset named &quot;%1&quot;.</translation>
    </message>
    <message>
        <source>Sleep Timer</source>
        <translation>Sleep Timer</translation>
    </message>
    <message>
        <source>Fade-in</source>
        <translation>Fade-in</translation>
    </message>
    <message>
        <source>Fade the sound in gently from silence over the first minutes after the start, to wake to</source>
        <translation>Fade the sound in gently from silence over the first minutes after the start, to wake to</translation>
    </message>
    <message>
        <source>No fade-in</source>
        <translation>No fade-in</translation>
    </message>
    <message>
        <source>Fade in over %1 min</source>
        <translation>Fade in over %1 min</translation>
    </message>
    <message>
        <source>Fading in, full level at %1</source>
        <translation>Fading in, full level at %1</translation>
    </message>
    <message>
        <source>Stops the sound the minutes beside it from the moment it is ticked, if it plays then</source>
        <translation>Stops the sound the minutes beside it from the moment it is ticked, if it plays then</translation>
    </message>
    <message>
        <source>Minutes before the stop, counted from the moment Stop after is ticked</source>
        <translation>Minutes before the stop, counted from the moment Stop after is ticked</translation>
    </message>
    <message>
        <source>%1 s</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1 min</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1 h</source>
        <translation>%1 h</translation>
    </message>
    <message>
        <source>%1 h %2 min</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>%1 d</source>
        <translation>%1 d</translation>
    </message>
    <message>
        <source>%1 d %2 h</source>
        <translation>%1 d %2 h</translation>
    </message>
    <message>
        <source>at %1</source>
        <translation>at %1</translation>
    </message>
    <message>
        <source>tomorrow at %1</source>
        <translation>tomorrow at %1</translation>
    </message>
    <message>
        <source>on %1 at %2</source>
        <translation>on %1 at %2</translation>
    </message>
    <message>
        <source>%1 (in %2)</source>
        <translation>%1 (in %2)</translation>
    </message>
    <message>
        <source>Starts %1</source>
        <translation>Starts %1</translation>
    </message>
    <message>
        <source>Stops %1</source>
        <translation>Stops %1</translation>
    </message>
    <message>
        <source>Fade-out begins %1, stops %2</source>
        <translation>Fade-out begins %1, stops %2</translation>
    </message>
    <message>
        <source>Fading out, stops %1</source>
        <translation>Fading out, stops %1</translation>
    </message>
    <message>
        <source>Every day</source>
        <translation>Every day</translation>
    </message>
    <message>
        <source>Start at this time every day: once the sound has started, the date moves to the next day and Start at stays ticked</source>
        <translation>Start at this time every day: once the sound has started, the date moves to the next day and Start at stays ticked</translation>
    </message>
    <message>
        <source>Start every day</source>
        <translation>Start every day</translation>
    </message>
    <message>
        <source>Keep playing when the window is closed</source>
        <translation>Keep playing when the window is closed</translation>
    </message>
    <message>
        <source>Where the desktop has a tray, closing the window while the sound plays leaves it playing; the tray icon brings the window back or quits</source>
        <translation>Where the desktop has a tray, closing the window while the sound plays leaves it playing; the tray icon brings the window back or quits</translation>
    </message>
    <message>
        <source>Where the desktop has a tray, closing the window while the sound plays leaves it playing in the tray</source>
        <translation>Where the desktop has a tray, closing the window while the sound plays leaves it playing in the tray</translation>
    </message>
    <message>
        <source>Start at login</source>
        <translation>Start at login</translation>
    </message>
    <message>
        <source>Starts Brinesong in the tray, without its window, each time you log in</source>
        <translation>Starts Brinesong in the tray, without its window, each time you log in</translation>
    </message>
    <message>
        <source>Brinesong cannot start at login: %1</source>
        <translation>Brinesong cannot start at login: %1</translation>
    </message>
    <message>
        <source>%1 cannot be removed: %2</source>
        <translation>%1 cannot be removed: %2</translation>
    </message>
    <message>
        <source>the program&apos;s path cannot be written into %1</source>
        <translation>the program&apos;s path cannot be written into %1</translation>
    </message>
    <message>
        <source>%1 cannot be written: its folder cannot be made</source>
        <translation>%1 cannot be written: its folder cannot be made</translation>
    </message>
    <message>
        <source>%1 cannot be written: %2</source>
        <translation>%1 cannot be written: %2</translation>
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
&lt;p&gt;Brinesong makes the sound of surf as it plays: nothing is recorded, every wave is new.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Start Brinesong&lt;/b&gt; starts the sound with a short fade-in; the same button, the Playback menu or Space stops it (Space works anywhere but in the date, time and minutes fields). Escape stops it too, once no list is open.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;The picture of the waves&lt;/b&gt; shows the last 30 seconds of each channel: the line is the wave, the area the level heard, from &amp;#8722;60 dB at the foot of each channel to 0 dB (full scale) at its head, and a band along its foot marks where the settings glide. It stands still while nothing plays, and each playback begins a little apart from the last. &lt;i&gt;View &amp;gt; Wave Picture&lt;/i&gt; hides it.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Preferences&lt;/b&gt; shape the waves while they play: the light and heavy wave levels, how fast each wave rises and falls, and how far apart the waves come. They also choose the output device.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Presets&lt;/b&gt; keep the wave settings under a name: choose one above the volume, in the preferences or in the tray icon&apos;s menu. Five come with Brinesong; &lt;i&gt;Save As...&lt;/i&gt; in the preferences keeps the current settings as a preset of your own, which you can save again, rename or delete. Once a setting differs from the chosen preset, it reads &lt;i&gt;(changed)&lt;/i&gt;; choosing it again brings its settings back. A preset chosen while the sound plays glides in over the &lt;i&gt;Change over&lt;/i&gt; set beside the presets (at once, 5 or 30 seconds, or 2 minutes); a single slider is always heard at once. &lt;i&gt;Wander&lt;/i&gt; lets the five wave settings stray slowly about their values, up to 50 points, over tens of minutes.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Night Programme&lt;/b&gt; (Playback menu, or the tray icon&apos;s menu) changes the sea through the night on its own: each step glides to a preset, beginning a number of minutes after the start and taking the minutes you give. It runs with every start, from the button, the schedule, the tray or the media keys, and goes on where it stood if the sound server comes back; untick it to keep the steps without running them. Changes are saved at once and count from the next start. The status line and the tray icon say what comes next; as a step begins, its preset becomes the current one. A step whose preset was deleted reads &lt;i&gt;(missing)&lt;/i&gt; and is skipped.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Schedule&lt;/b&gt;: tick &lt;i&gt;Start at&lt;/i&gt; to start at a date and time; the status line says when it comes. With &lt;i&gt;Every day&lt;/i&gt; it comes again each day at that time and stays ticked; without it, it comes once, and its date moves on to the next day. Tick &lt;i&gt;Stop after&lt;/i&gt; to stop the sound a number of minutes from the moment it is ticked, whether it plays yet or not; if nothing plays then, the box is only unticked. The status line says when it falls due. Beside it, a &lt;i&gt;fade-out&lt;/i&gt; lets the sound die away gently over its last minutes. Beside the start, a &lt;i&gt;fade-in&lt;/i&gt; wakes you gently: a scheduled start rises from silence over the minutes chosen, and the status line says when it reaches full level.&lt;/p&gt;
&lt;p&gt;&lt;b&gt;Export Sound File&lt;/b&gt; writes the sound to a file of up to 400 minutes, in one of five formats: AIFF, WAV, FLAC, Ogg Opus or MP3 (choose the file type, or type its extension). &lt;i&gt;Seamless loop&lt;/i&gt; makes a file whose end flows into its start, for a player to repeat without a seam.&lt;/p&gt;
&lt;p&gt;The &lt;b&gt;tray icon&lt;/b&gt; shows the window when clicked; its menu starts or stops the sound, chooses a preset, and sets a sleep timer: &lt;i&gt;Stop in 15, 30, 60 or 90 minutes&lt;/i&gt; ticks &lt;i&gt;Stop after&lt;/i&gt; with those minutes (and the chosen fade-out), &lt;i&gt;Don&apos;t stop&lt;/i&gt; unticks it. Media keys, the desktop&apos;s media controls and the launcher&apos;s &lt;i&gt;Play&lt;/i&gt; and &lt;i&gt;Stop&lt;/i&gt; start and stop the sound too. Where the desktop has a tray, closing the window while the sound plays leaves it playing there, unless &lt;i&gt;Keep playing when the window is closed&lt;/i&gt; is turned off in the preferences; &lt;i&gt;Start at login&lt;/i&gt; there starts Brinesong in the tray each time you log in. While it plays, and while a ticked &lt;i&gt;Start at&lt;/i&gt; waits for its time, the computer does not go to sleep, unless &lt;i&gt;Keep the computer awake while playing or waiting to start&lt;/i&gt; is turned off in the preferences. If the computer sleeps through the start all the same (a lid closed), the start still comes when it wakes less than 10 minutes late; later than that it is left out, and the status line says so.&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Night Programme...</source>
        <translation>Night Programme...</translation>
    </message>
    <message>
        <source>Night Programme</source>
        <translation>Night Programme</translation>
    </message>
    <message>
        <source>Each step glides the sea to a preset, a number of minutes after the sound starts. Changes count from the next start.</source>
        <translation>Each step glides the sea to a preset, a number of minutes after the sound starts. Changes count from the next start.</translation>
    </message>
    <message>
        <source>Run the night programme with every start</source>
        <translation>Run the night programme with every start</translation>
    </message>
    <message>
        <source>Off, the steps are kept but the sound stays as it is set</source>
        <translation>Off, the steps are kept but the sound stays as it is set</translation>
    </message>
    <message>
        <source>Steps of the night</source>
        <translation>Steps of the night</translation>
    </message>
    <message>
        <source>One row a step, in order of its minutes: after how many minutes it begins, how many minutes it glides, and the preset it glides to</source>
        <translation>One row a step, in order of its minutes: after how many minutes it begins, how many minutes it glides, and the preset it glides to</translation>
    </message>
    <message>
        <source>Add Step</source>
        <translation>Add Step</translation>
    </message>
    <message>
        <source>Adds a step after the last one</source>
        <translation>Adds a step after the last one</translation>
    </message>
    <message>
        <source>Change over</source>
        <translation>Change over</translation>
    </message>
    <message>
        <source>How long a preset chosen while the sound plays takes to glide in; moving a single slider is always heard at once</source>
        <translation>How long a preset chosen while the sound plays takes to glide in; moving a single slider is always heard at once</translation>
    </message>
    <message>
        <source>How long a preset chosen while the sound plays takes to glide in</source>
        <translation>How long a preset chosen while the sound plays takes to glide in</translation>
    </message>
    <message>
        <source>Wander</source>
        <translation>Wander</translation>
    </message>
    <message>
        <source>How far, in points from 0 to 50, the five wave settings stray about their values in the course of a night; 0 holds them still</source>
        <translation>How far, in points from 0 to 50, the five wave settings stray about their values in the course of a night; 0 holds them still</translation>
    </message>
    <message>
        <source>How far the five wave settings stray about their values in the course of a night, slowly, over tens of minutes; heard at once while the sound plays</source>
        <translation>How far the five wave settings stray about their values in the course of a night, slowly, over tens of minutes; heard at once while the sound plays</translation>
    </message>
    <message>
        <source>%1 cannot be written.</source>
        <translation>%1 cannot be written.</translation>
    </message>
    <message>
        <source>Next: %1 %2</source>
        <translation>Next: %1 %2</translation>
    </message>
    <message>
        <source>%1 → %2 %3</source>
        <translation>%1 → %2 %3</translation>
    </message>
    <message>
        <source>After (minutes)</source>
        <translation>After (minutes)</translation>
    </message>
    <message>
        <source>Glide (minutes)</source>
        <translation>Glide (minutes)</translation>
    </message>
    <message>
        <source>Step %1: after minutes</source>
        <translation>Step %1: after minutes</translation>
    </message>
    <message>
        <source>Minutes from the start of the sound at which the step begins</source>
        <translation>Minutes from the start of the sound at which the step begins</translation>
    </message>
    <message>
        <source>Step %1: glide minutes</source>
        <translation>Step %1: glide minutes</translation>
    </message>
    <message>
        <source>Minutes the sea takes to glide to the preset; 0 glides over a second</source>
        <translation>Minutes the sea takes to glide to the preset; 0 glides over a second</translation>
    </message>
    <message>
        <source>The preset the step glides to</source>
        <translation>The preset the step glides to</translation>
    </message>
    <message>
        <source>%1 (missing)</source>
        <translation>%1 (missing)</translation>
    </message>
    <message>
        <source>No preset has this name any more: the step is skipped</source>
        <translation>No preset has this name any more: the step is skipped</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>Remove step %1</source>
        <translation>Remove step %1</translation>
    </message>
    <message>
        <source>Step %1</source>
        <translation>Step %1</translation>
    </message>
    <message>
        <source>A step whose preset is missing is skipped.</source>
        <translation>A step whose preset is missing is skipped.</translation>
    </message>
    <message>
        <source>The night programme could not be saved: %1</source>
        <translation>The night programme could not be saved: %1</translation>
    </message>
    <message>
        <source>A night has at most %1 steps.</source>
        <translation>A night has at most %1 steps.</translation>
    </message>
    <message>
        <source>At once</source>
        <translation>At once</translation>
    </message>
    <message>
        <source>%1 seconds</source>
        <translation>%1 seconds</translation>
    </message>
    <message>
        <source>%1 minutes</source>
        <translation>%1 minutes</translation>
    </message>
    <message>
        <source>glide</source>
        <translation>glide</translation>
    </message>
    <message>
        <source>The line is the wave, the area the level heard, from %1 to 0 dB; a band along the foot marks where the settings glide</source>
        <translation>The line is the wave, the area the level heard, from %1 to 0 dB; a band along the foot marks where the settings glide</translation>
    </message>
    <message>
        <source>The last 30 seconds of each channel: the wave envelope as a line, the level as an area; a band along the foot where the settings glide</source>
        <translation>The last 30 seconds of each channel: the wave envelope as a line, the level as an area; a band along the foot where the settings glide</translation>
    </message>
    <message>
        <source>%1 is a folder; choose a name for the file.</source>
        <translation>%1 is a folder; choose a name for the file.</translation>
    </message>
    <message>
        <source>A preset&apos;s name cannot hold control characters, such as line breaks, tabs or marks that turn the direction of text.</source>
        <translation>A preset&apos;s name cannot hold control characters, such as line breaks, tabs or marks that turn the direction of text.</translation>
    </message>
    <message>
        <source>%1 is a block device (a disk or a partition): nothing is exported to one, as that would overwrite what it holds.</source>
        <translation>%1 is a block device (a disk or a partition): nothing is exported to one, as that would overwrite what it holds.</translation>
    </message>
    <message>
        <source>Quit Brinesong</source>
        <translation>Quit Brinesong</translation>
    </message>
    <message>
        <source>The settings cannot be saved: %1 cannot be written (%2).
If you quit now, the settings changed since the launch are lost.</source>
        <translation>The settings cannot be saved: %1 cannot be written (%2).
If you quit now, the settings changed since the launch are lost.</translation>
    </message>
    <message>
        <source>Quit Anyway</source>
        <translation>Quit Anyway</translation>
    </message>
    <message>
        <source>The presets cannot be saved: %1 cannot be written (%2). They stay as they were.</source>
        <translation>The presets cannot be saved: %1 cannot be written (%2). They stay as they were.</translation>
    </message>
    <message>
        <source>Some presets in the settings file cannot be read: they are left out here, and kept in the file as they are.</source>
        <translation>Some presets in the settings file cannot be read: they are left out here, and kept in the file as they are.</translation>
    </message>
    <message>
        <source>a folder stands in its place</source>
        <translation>a folder stands in its place</translation>
    </message>
    <message>
        <source>it is not a regular file</source>
        <translation>it is not a regular file</translation>
    </message>
    <message>
        <source>no scratch folder can be made: %1</source>
        <translation>no scratch folder can be made: %1</translation>
    </message>
    <message>
        <source>its new contents cannot be made in %1</source>
        <translation>its new contents cannot be made in %1</translation>
    </message>
</context>
</TS>
