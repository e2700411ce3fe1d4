// SPDX-License-Identifier: GPL-3.0-or-later
#include "NightProgramme.h"

#include <algorithm>
#include <cmath>

#include "model/Presets.h"
#include "model/ScheduleTexts.h"
#include "platform/Localization.h"
#include "platform/SettingsStore.h"

namespace brinesong {

namespace {

const QString kGroup = QStringLiteral("Night");
const QString kEnabled = QStringLiteral("enabled");
const QString kPreset = QStringLiteral("preset");
const QString kMinute = QStringLiteral("minute");
const QString kGlide = QStringLiteral("glide");

// Minutes as a value holds them: a number from 0 on.
bool readMinutes(const QVariant& value, double& out) {
    bool ok = false;
    const double minutes = SettingsStore::textOf(value).trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(minutes) || minutes < 0.0) {
        return false;
    }
    out = minutes;
    return true;
}

bool readsAsMinutes(double minutes) {
    return std::isfinite(minutes) && minutes >= 0.0;
}

int64_t framesOf(double minutes) {
    const double frames = std::round(minutes * 60.0 * 44100.0);
    return static_cast<int64_t>(std::min(frames, std::ldexp(1.0, 62)));
}

}  // namespace

Night nightOf(const std::vector<ProgrammeStep>& steps, const PresetBook& presets,
              std::vector<size_t>& missing) {
    std::vector<NightStep> night;
    for (size_t i = 0; i < steps.size(); ++i) {
        const ProgrammeStep& step = steps[i];
        const Preset* preset = presets.find(step.preset);
        if (!preset) {
            missing.push_back(i);
            continue;
        }
        const WaveValues& v = preset->values;
        night.push_back({framesOf(step.minute), framesOf(step.glideMinutes),
                         NightPoint::of(v.lightWave, v.heavyWave, v.ascent, v.descent,
                                        v.waveInterval, v.boostSoundLevel, v.amplitudeGenerator)});
    }
    return Night(std::move(night));
}

bool NightProgramme::setSteps(std::vector<ProgrammeStep> steps) {
    if (steps.size() > kMostSteps ||
        !std::all_of(steps.begin(), steps.end(), [](const ProgrammeStep& step) {
            return readsAsMinutes(step.minute) && readsAsMinutes(step.glideMinutes) &&
                   !step.preset.trimmed().isEmpty();
        })) {
        return false;
    }
    std::stable_sort(
        steps.begin(), steps.end(),
        [](const ProgrammeStep& a, const ProgrammeStep& b) { return a.minute < b.minute; });
    steps_ = std::move(steps);
    return true;
}

bool NightProgramme::presetMissing(const ProgrammeStep& step, const PresetBook& presets) {
    return presets.find(step.preset) == nullptr;
}

void NightProgramme::presetRenamed(const QString& from, const QString& to) {
    for (ProgrammeStep& step : steps_) {
        if (step.preset.trimmed().compare(from.trimmed(), Qt::CaseInsensitive) == 0) {
            step.preset = to.trimmed();
        }
    }
}

Night NightProgramme::night(const PresetBook& presets, QStringList& notes) const {
    if (!enabled_) {
        return Night();
    }
    std::vector<size_t> missing;
    Night night = nightOf(steps_, presets, missing);
    for (const size_t i : missing) {
        notes << QStringLiteral(
                     "the step of the night at minute %1 names the preset '%2', which "
                     "no longer exists; it is skipped")
                     .arg(steps_[i].minute)
                     .arg(steps_[i].preset);
    }
    return night;
}

NightPlan NightProgramme::plan(const PresetBook& presets) const {
    NightPlan plan;
    if (!enabled_) {
        return plan;
    }
    const double shortest = static_cast<double>(Night::kShortestGlideFrames) / 44100.0;
    for (const ProgrammeStep& step : steps_) {
        if (const Preset* preset = presets.find(step.preset)) {
            plan.steps.push_back({step.minute * 60.0, std::max(step.glideMinutes * 60.0, shortest),
                                  preset->name, preset->title()});
        }
    }
    return plan;
}

int NightPlan::stepAt(double seconds) const {
    int at = -1;
    while (at + 1 < static_cast<int>(steps.size()) && steps[at + 1].startSeconds <= seconds) {
        ++at;
    }
    return at;
}

QString NightPlan::nextText(double seconds, const QDateTime& began, const QDateTime& now,
                            const QString& current) const {
    const size_t next = static_cast<size_t>(stepAt(seconds) + 1);
    if (next >= steps.size()) {
        return {};
    }
    // To the nearest second: a step reckoned at 23:44:59.9 comes at 23:45.
    QDateTime at = began.addMSecs(std::llround(steps[next].startSeconds * 1000.0));
    at = at.addMSecs(at.time().msec() >= 500 ? 1000 - at.time().msec() : -at.time().msec());
    const QString when = whenText(now, at);
    if (current.isEmpty()) {
        return Texts::tr("Next: %1 %2").arg(steps[next].title, when);
    }
    return Texts::tr("%1 → %2 %3").arg(current, steps[next].title, when);
}

void NightProgramme::load(const SettingsStore& store, QStringList& notes) {
    steps_.clear();
    enabled_ = true;
    enabledAsRead_ = QVariant();
    unreadable_.clear();
    SettingsStore::Entries entries = store.entriesUnder(kGroup);
    unknown_ = std::move(entries.groupValues);
    const QString file = store.fileName();
    if (unknown_.contains(kEnabled)) {
        const QVariant stored = unknown_.take(kEnabled);
        const QString value = SettingsStore::textOf(stored).trimmed().toLower();
        if (value == QLatin1String("true") || value == QLatin1String("1")) {
            enabled_ = true;
        } else if (value == QLatin1String("false") || value == QLatin1String("0")) {
            enabled_ = false;
        } else {
            enabledAsRead_ = stored;
            notes << QStringLiteral("%1/%2 in %3 is '%4', not true or false; the night runs")
                         .arg(kGroup, kEnabled, file, SettingsStore::textOf(stored));
        }
    }

    std::vector<std::pair<ProgrammeStep, const QVariantMap*>> read;
    for (const SettingsStore::Entry& item : entries.entries) {
        const QString& entry = item.name;
        const QVariantMap& values = item.values;
        const auto leaveOut = [&](const QString& why) {
            notes << QStringLiteral("the step %1/%2 in %3 is left out: %4")
                         .arg(kGroup, entry, file, why);
            unreadable_.push_back(values);
        };
        ProgrammeStep step;
        step.preset = SettingsStore::textOf(values.value(kPreset)).trimmed();
        if (step.preset.isEmpty()) {
            leaveOut(QStringLiteral("it names no preset"));
            continue;
        }
        if (!values.contains(kMinute)) {
            leaveOut(QStringLiteral("minute is missing"));
            continue;
        }
        if (!readMinutes(values.value(kMinute), step.minute)) {
            leaveOut(QStringLiteral("minute is '%1', not a number of minutes, 0 or more")
                         .arg(SettingsStore::textOf(values.value(kMinute))));
            continue;
        }
        step.glideMinutes = kDefaultGlideMinutes;
        if (values.contains(kGlide) && !readMinutes(values.value(kGlide), step.glideMinutes)) {
            leaveOut(QStringLiteral("glide is '%1', not a number of minutes, 0 or more")
                         .arg(SettingsStore::textOf(values.value(kGlide))));
            continue;
        }
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            if (it.key() != kPreset && it.key() != kMinute && it.key() != kGlide) {
                step.unknown.insert(it.key(), it.value());
            }
        }
        read.emplace_back(std::move(step), &values);
    }
    std::stable_sort(read.begin(), read.end(),
                     [](const auto& a, const auto& b) { return a.first.minute < b.first.minute; });
    for (auto& [step, values] : read) {
        if (steps_.size() == kMostSteps) {
            notes << QStringLiteral(
                         "the step of the night at minute %1 in %2 is left out: a night "
                         "has at most %3 steps")
                         .arg(step.minute)
                         .arg(file)
                         .arg(kMostSteps);
            unreadable_.push_back(*values);
            continue;
        }
        steps_.push_back(std::move(step));
    }
}

void NightProgramme::write(SettingsStore& store) const {
    store.removeGroup(kGroup);
    if (steps_.empty() && enabled_ && !enabledAsRead_.isValid() && unknown_.isEmpty() &&
        unreadable_.empty()) {
        return;  // nothing of a night: the file keeps no group for it
    }
    const QString group = kGroup + QLatin1Char('/');
    if (enabledAsRead_.isValid() && enabled_) {
        store.setObject(enabledAsRead_, group + kEnabled);
    } else {
        store.setBool(enabled_, group + kEnabled);
    }
    int number = 0;
    for (const ProgrammeStep& step : steps_) {
        const QString entry = group + QString::number(++number) + QLatin1Char('/');
        store.setString(step.preset, entry + kPreset);
        store.setObject(step.minute, entry + kMinute);
        store.setObject(step.glideMinutes, entry + kGlide);
        for (auto it = step.unknown.cbegin(); it != step.unknown.cend(); ++it) {
            store.setObject(it.value(), entry + it.key());
        }
    }
    for (const QVariantMap& values : unreadable_) {
        const QString entry = group + QString::number(++number) + QLatin1Char('/');
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            store.setObject(it.value(), entry + it.key());
        }
    }
    for (auto it = unknown_.cbegin(); it != unknown_.cend(); ++it) {
        store.setObject(it.value(), group + it.key());
    }
}

bool NightProgramme::save(SettingsStore& store) const {
    // The group now, the rest of the file as the last quit left it, the file replaced whole.
    return store.rewrite([this](SettingsStore& file) { write(file); }).isEmpty();
}

}  // namespace brinesong
