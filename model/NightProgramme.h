// SPDX-License-Identifier: GPL-3.0-or-later
// The night programme: a list of steps, each "after M minutes from the start, glide over G
// minutes to preset P", that runs with every start of the window's sound and can be switched off
// without being lost. The command line gives its own steps (--then) in the same form.
//
// It is kept in the settings file in a group of its own, "Night", written at once when the user
// saves it: `enabled`, and one numbered entry per step with its `preset` (a shipped preset's
// English name or the user's name for one of their own), `minute` and `glide` (minutes, fractions
// allowed). A rewrite keeps what it does not understand: keys of the group or of a step it does
// not know are written back as they were read, and so is an entry that cannot be read (a missing
// or unreadable value, no preset, a step past the hundredth), which is left out with a note.
// Steps are kept in order of their minutes. A step naming a preset that no longer exists stays in
// the programme, is shown as such, and is skipped when the night runs, with a note.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <vector>

#include "synth/Night.h"

namespace brinesong {

class PresetBook;
class SettingsStore;

struct ProgrammeStep {
    double minute = 0.0;  // from the start of the sound
    double glideMinutes = 10.0;
    QString preset;       // as PresetBook::find takes it
    QVariantMap unknown;  // keys of the step's entry this program does not know, as read
};

// The steps as the renderer runs them: minutes from the start as frames, each preset's seven
// settings as the point it glides to. A step whose preset `presets` does not know is left out and
// its index added to `missing`.
Night nightOf(const std::vector<ProgrammeStep>& steps, const PresetBook& presets,
              std::vector<size_t>& missing);

// A night as it runs, for the window to follow and to say what comes next: the steps whose
// presets exist, in seconds from the night's first sound.
struct NightPlan {
    struct Step {
        double startSeconds = 0.0;
        double glideSeconds = 0.0;  // at least the renderer's shortest glide
        QString preset;             // as PresetBook::find takes it
        QString title;              // as the window shows it
    };
    std::vector<Step> steps;

    // The last step begun `seconds` into the night; -1 before the first.
    int stepAt(double seconds) const;
    // What comes next `seconds` into the night that began (its first sound) at `began`, seen at
    // `now`: "Storm → Steady surf at 23:45 (in 45 min)" from `current`, the title of what plays
    // now, or "Next: Steady surf at ..." without one; empty when no step lies ahead.
    QString nextText(double seconds, const QDateTime& began, const QDateTime& now,
                     const QString& current) const;
};

class NightProgramme {
public:
    static constexpr size_t kMostSteps = Night::kMostSteps;
    static constexpr double kDefaultGlideMinutes = 10.0;

    const std::vector<ProgrammeStep>& steps() const { return steps_; }
    // Replaces the steps, kept in order of their minutes (steps of the same minute in the order
    // given). False, and nothing changed, for more than kMostSteps, a minute or glide that is not
    // a number from 0 on, or a step naming no preset.
    bool setSteps(std::vector<ProgrammeStep> steps);

    // Whether the programme runs with every start; switched off, its steps are kept.
    bool enabled() const { return enabled_; }
    void setEnabled(bool enabled) { enabled_ = enabled; }

    // Whether `step` names a preset that `presets` no longer has: the window shows it as such.
    static bool presetMissing(const ProgrammeStep& step, const PresetBook& presets);
    // A preset of the user's was renamed: the steps that named it name it anew.
    void presetRenamed(const QString& from, const QString& to);

    // The night a start runs through: none when switched off; a step whose preset is missing is
    // skipped and said in a line added to `notes`.
    Night night(const PresetBook& presets, QStringList& notes) const;
    // The same night as the window follows it: none when switched off, no missing presets.
    NightPlan plan(const PresetBook& presets) const;

    // Reads the group from `store`; each value that cannot be read is left out and said in a line
    // added to `notes`.
    void load(const SettingsStore& store, QStringList& notes);
    // Replaces the group with the programme, then what load() left out or did not know, as read.
    void write(SettingsStore& store) const;
    // Writes the group and the file at once, as saving the programme does. False when the file
    // could not be written.
    bool save(SettingsStore& store) const;

private:
    std::vector<ProgrammeStep> steps_;
    bool enabled_ = true;
    QVariant enabledAsRead_;  // an `enabled` that could not be read, kept while left at its default
    QVariantMap unknown_;     // keys of the group that are no step's and not `enabled`, as read
    std::vector<QVariantMap> unreadable_;  // entries load() left out, as read
};

}  // namespace brinesong
