// SPDX-License-Identifier: GPL-3.0-or-later
// Presets: named sets of the seven wave settings (the volume belongs to the room, not to a preset).
// The ones that come with the program are compiled in and cannot be changed; the user's own are
// kept in the settings file, in the group "Presets", and written with the other settings at quit.
//
// A shipped preset is known by its English name, in the settings file and on the command line,
// whatever language the window shows it in; its translated names are accepted wherever a name is
// typed. No two presets share a name, compared without regard to case, shipped names in every
// language the program speaks included, so a typed name always means one preset.
//
// In the file each of the user's presets is a numbered group holding its name as a value, so a
// name may hold any character a value can ("/", "=", "[", "#", spaces, any script); only line
// breaks and other control characters are refused, the marks that turn the direction of text
// included, as `--list-presets` prints one name a line and a name reaches terminals and titles.
// The percentages are kept as whole numbers, as the other settings are. An entry that cannot be
// read (a missing or unreadable value, a value out of range, no name, a name already taken) is
// left out with a note and written back as it was, so nothing is lost; so are the keys of an entry
// or of the group that this program does not know. The group's "size" (which an array written by
// other means carries) is written anew with the number of entries, where the file had one.
//
// Reading, finding and checking a name take time in proportion to the number of presets, not its
// square: the user's names are indexed by their case-folded form.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <vector>

namespace brinesong {

class PlaybackEngine;
class Preferences;
class SettingsStore;

// The seven wave settings, in percent and as switches.
struct WaveValues {
    double lightWave = 0.0;
    double heavyWave = 0.0;
    double ascent = 0.0;
    double descent = 0.0;
    double waveInterval = 0.0;
    bool boostSoundLevel = false;
    bool amplitudeGenerator = true;

    static WaveValues of(const Preferences& preferences);
    // Through the model's setters.
    void applyTo(Preferences& preferences) const;
    // Alike as the settings file keeps them: the percentages truncated to whole numbers, which
    // is also what the panel's texts show.
    bool sameAs(const WaveValues& other) const;
};

struct Preset {
    QString name;  // a shipped preset's English name; the user's name for their own
    WaveValues values;
    bool shipped = false;
    // Keys of the preset's entry in the file that this program does not know, as read.
    QVariantMap unknown;

    // The name as the window shows it: a shipped preset's in the user's language.
    QString title() const;
    // Every name a typed name is taken as: a shipped preset's in every language the program
    // speaks, English first; the user's own name for one of theirs.
    QStringList names() const;
    // The title as the choice shows the current preset: marked "(changed)" once the wave settings
    // `now` differ from its values.
    QString markedTitle(const WaveValues& now) const;
};

// Changes the sea to `values` while it may be playing: a playback glides from the settings heard
// to them over `changeOverSeconds` (the saved "Change over"; 0: at once, over the 40 ms any
// change takes), and a night's steps after it glide on from there. Every way of choosing a preset
// comes here.
void changeSeaTo(const WaveValues& values, Preferences& preferences, PlaybackEngine& engine,
                 double changeOverSeconds);

// The presets that come with the program, in the order they are offered.
const std::vector<Preset>& shippedPresets();

// A name as menus, pop-ups, titles and messages show it: a long one shortened in its middle to
// "beginning…end", so that a name of any length fits the screen; a short one as it is.
QString elidedName(const QString& name);

class PresetBook {
public:
    // The shipped presets, then the user's, in the order they were made.
    std::vector<Preset> all() const;
    const std::vector<Preset>& userPresets() const { return user_; }

    // The preset `name` stands for: a shipped one by its English or translated name, else one of
    // the user's; case does not count. None when there is no such preset.
    const Preset* find(const QString& name) const;

    // Why `name` (trimmed) cannot be given to one of the user's presets, in a sentence; empty
    // when it can. The preset named `renaming` does not count as taking its own name.
    QString nameRefusal(const QString& name, const QString& renaming = QString()) const;

    // The user's own presets, each under a name nameRefusal allows: a new one, or new values for
    // the one of that name. False (and nothing changed) when the name is refused.
    bool save(const QString& name, const WaveValues& values);
    // False when `name` is no preset of the user's or `newName` is refused.
    bool rename(const QString& name, const QString& newName);
    bool remove(const QString& name);

    // Reads the group "Presets" of `store`; each entry that cannot be read is left out and said in
    // a line added to `notes`.
    void load(const SettingsStore& store, QStringList& notes);
    // Replaces the group with the user's presets, then the entries load() left out, as they were.
    void write(SettingsStore& store) const;

private:
    // nameRefusal's sentence, in the user's language or, for a note on standard error, English.
    QString refusal(const QString& name, const QString& renaming, bool translated) const;
    // The user's preset of that name, in any case; none when there is none.
    const Preset* findUsers(const QString& name) const;
    void reindex();

    std::vector<Preset> user_;
    QHash<QString, size_t> index_;         // user_'s positions by case-folded name
    std::vector<QVariantMap> unreadable_;  // entries left out at load, kept to be written back
    QVariantMap groupValues_;              // values of the group itself, not of an entry, as read
    bool sized_ = false;                   // the group held a "size"
};

}  // namespace brinesong
