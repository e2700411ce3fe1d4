// SPDX-License-Identifier: GPL-3.0-or-later
#include "Presets.h"

#include <QCoreApplication>
#include <QDir>
#include <QTranslator>
#include <algorithm>
#include <memory>
#include <tuple>

#include "audio/PlaybackEngine.h"
#include "platform/Localization.h"
#include "platform/SettingsStore.h"
#include "synth/Preferences.h"

namespace brinesong {

namespace {

const QString kGroup = QStringLiteral("Presets");
const QString kName = QStringLiteral("name");
const QString kSize = QStringLiteral("size");  // an array's length, as QSettings writes arrays
const char* const kPercentKeys[] = {"lightWave", "heavyWave", "ascent", "descent", "waveInterval"};
const char* const kSwitchKeys[] = {"boostSoundLevel", "amplitudeGenerator"};

// Each designed by measuring five-minute exports (the README gives their intent): the envelope's
// peaks per minute, the level, and the part of the sound above 500 Hz (the light, pink noise)
// against the part below (the heavy, brown noise) tell them apart.
struct ShippedPreset {
    const char* name;
    WaveValues values;
};
const ShippedPreset kShipped[] = {
    // Small waves lapping often in a sheltered bay: quiet, more hiss than rumble.
    {QT_TRANSLATE_NOOP("Brinesong", "Calm cove"), {50, 35, 70, 70, 5, false, true}},
    // The regular waves of an open beach, close to the program's defaults.
    {QT_TRANSLATE_NOOP("Brinesong", "Steady surf"), {75, 100, 50, 50, 45, false, true}},
    // Loud, fast, crowded waves at twice the level.
    {QT_TRANSLATE_NOOP("Brinesong", "Storm"), {100, 100, 100, 85, 0, true, true}},
    // Surf heard from far off: the hiss lost on the way, the rumble rising and ebbing slowly.
    {QT_TRANSLATE_NOOP("Brinesong", "Distant breakers"), {15, 85, 30, 20, 55, false, true}},
    // Long, rare, slow waves with long rests between them.
    {QT_TRANSLATE_NOOP("Brinesong", "Slow swell"), {40, 100, 0, 0, 100, false, true}},
};

// The form in which names are compared: case does not count.
QString folded(const QString& name) {
    return name.trimmed().toCaseFolded();
}

// A shipped preset's names in every language the program carries, English first.
QStringList namesInEveryLanguage(const QString& english) {
    // The tables built into the program, loaded once beside the one the window uses.
    static const std::vector<std::shared_ptr<QTranslator>> tables = [] {
        std::vector<std::shared_ptr<QTranslator>> loaded;
        const QDir folder(QStringLiteral(":/i18n"));
        for (const QString& file :
             folder.entryList({QStringLiteral("brinesong_*.qm")}, QDir::Files)) {
            auto table = std::make_shared<QTranslator>();
            if (table->load(folder.filePath(file))) {
                loaded.push_back(std::move(table));
            }
        }
        return loaded;
    }();
    QStringList names{english};
    const QByteArray key = english.toUtf8();
    for (const auto& table : tables) {
        const QString name = table->translate("Brinesong", key.constData());
        if (!name.isEmpty() && !names.contains(name, Qt::CaseInsensitive)) {
            names << name;
        }
    }
    const QString shown = QCoreApplication::translate("Brinesong", key.constData());
    if (!names.contains(shown, Qt::CaseInsensitive)) {
        names << shown;
    }
    return names;
}

// Every name of the shipped presets, in every language the program carries, folded: the position
// of the preset each stands for.
const QHash<QString, size_t>& shippedNames() {
    static const QHash<QString, size_t> names = [] {
        QHash<QString, size_t> byName;
        const std::vector<Preset>& presets = shippedPresets();
        for (size_t i = 0; i < presets.size(); ++i) {
            for (const QString& name : namesInEveryLanguage(presets[i].name)) {
                byName.insert(folded(name), i);
            }
        }
        return byName;
    }();
    return names;
}

// A character that moves a terminal's cursor, rings it, starts an escape sequence, breaks a line,
// or turns the direction of the text after it (embeddings, overrides and isolates).
bool isControl(QChar c) {
    const char16_t u = c.unicode();
    return c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
           c == QChar::ParagraphSeparator || (u >= 0x202A && u <= 0x202E) ||
           (u >= 0x2066 && u <= 0x2069);
}

bool hasControlCharacter(const QString& name) {
    return std::any_of(name.begin(), name.end(), isControl);
}

// A value read from the file as a note may quote it: its control characters written as "\u{1b}",
// so a hand-made value cannot rewrite the terminal the note reaches.
QString printable(const QString& value) {
    QString shown;
    for (const QChar c : value) {
        if (isControl(c)) {
            shown += QStringLiteral("\\u{%1}").arg(int(c.unicode()), 0, 16);
        } else {
            shown += c;
        }
    }
    return shown;
}

bool isKnownKey(const QString& key) {
    return key == kName ||
           std::any_of(std::begin(kPercentKeys), std::end(kPercentKeys),
                       [&key](const char* known) { return key == QLatin1String(known); }) ||
           std::any_of(std::begin(kSwitchKeys), std::end(kSwitchKeys),
                       [&key](const char* known) { return key == QLatin1String(known); });
}

}  // namespace

WaveValues WaveValues::of(const Preferences& preferences) {
    return {
        preferences.lightWave(),         preferences.heavyWave(),    preferences.ascent(),
        preferences.descent(),           preferences.waveInterval(), preferences.boostSoundLevel(),
        preferences.amplitudeGenerator()};
}

void WaveValues::applyTo(Preferences& preferences) const {
    preferences.setLightWave(lightWave);
    preferences.setHeavyWave(heavyWave);
    preferences.setAscent(ascent);
    preferences.setDescent(descent);
    preferences.setWaveInterval(waveInterval);
    preferences.setBoostSoundLevel(boostSoundLevel);
    preferences.setAmplitudeGenerator(amplitudeGenerator);
}

bool WaveValues::sameAs(const WaveValues& other) const {
    const auto whole = [](const WaveValues& v) {
        return std::tuple(static_cast<int>(v.lightWave), static_cast<int>(v.heavyWave),
                          static_cast<int>(v.ascent), static_cast<int>(v.descent),
                          static_cast<int>(v.waveInterval), v.boostSoundLevel,
                          v.amplitudeGenerator);
    };
    return whole(*this) == whole(other);
}

QString Preset::title() const {
    return shipped ? QCoreApplication::translate("Brinesong", name.toUtf8().constData()) : name;
}

QStringList Preset::names() const {
    return shipped ? namesInEveryLanguage(name) : QStringList{name};
}

QString Preset::markedTitle(const WaveValues& now) const {
    const QString shown = elidedName(title());
    return values.sameAs(now) ? shown : Texts::tr("%1 (changed)").arg(shown);
}

void changeSeaTo(const WaveValues& values, Preferences& preferences, PlaybackEngine& engine,
                 double changeOverSeconds) {
    engine.glideSettings(changeOverSeconds);
    values.applyTo(preferences);
    engine.soundChanged();
}

const std::vector<Preset>& shippedPresets() {
    static const std::vector<Preset> presets = [] {
        std::vector<Preset> list;
        for (const ShippedPreset& preset : kShipped) {
            list.push_back({QString::fromLatin1(preset.name), preset.values, true, {}});
        }
        return list;
    }();
    return presets;
}

QString elidedName(const QString& name) {
    // About as wide as the shipped names' pop-up at its widest, in most fonts and scripts.
    constexpr qsizetype kHead = 32;
    constexpr qsizetype kTail = 15;
    if (name.size() <= kHead + kTail + 1) {
        return name;
    }
    // Never half a character: a pair of surrogates stays whole on either side of the cut.
    const qsizetype head = name.at(kHead - 1).isHighSurrogate() ? kHead - 1 : kHead;
    qsizetype tail = name.size() - kTail;
    if (name.at(tail).isLowSurrogate()) {
        ++tail;
    }
    return name.left(head) + QChar(0x2026) + name.mid(tail);
}

std::vector<Preset> PresetBook::all() const {
    std::vector<Preset> list = shippedPresets();
    list.insert(list.end(), user_.begin(), user_.end());
    return list;
}

const Preset* PresetBook::find(const QString& name) const {
    const QString wanted = folded(name);
    if (const auto shipped = shippedNames().constFind(wanted); shipped != shippedNames().cend()) {
        return &shippedPresets()[*shipped];
    }
    return findUsers(wanted);
}

const Preset* PresetBook::findUsers(const QString& name) const {
    const auto at = index_.constFind(folded(name));
    return at == index_.cend() ? nullptr : &user_[*at];
}

void PresetBook::reindex() {
    index_.clear();
    for (size_t i = 0; i < user_.size(); ++i) {
        index_.insert(folded(user_[i].name), i);
    }
}

QString PresetBook::nameRefusal(const QString& name, const QString& renaming) const {
    return refusal(name, renaming, true);
}

QString PresetBook::refusal(const QString& name, const QString& renaming, bool translated) const {
    const auto say = [translated](const char* english) {
        return translated ? QCoreApplication::translate("Brinesong", english)
                          : QString::fromUtf8(english);
    };
    const QString wanted = name.trimmed();
    if (wanted.isEmpty()) {
        return say(QT_TRANSLATE_NOOP("Brinesong", "A preset needs a name."));
    }
    if (hasControlCharacter(wanted)) {
        return say(
            QT_TRANSLATE_NOOP("Brinesong",
                              "A preset's name cannot hold control characters, such as "
                              "line breaks, tabs or marks that turn the direction of text."));
    }
    const Preset* taken = find(wanted);
    if (taken && taken->shipped) {
        return say(QT_TRANSLATE_NOOP("Brinesong",
                                     "\"%1\" is the name of a preset that comes with Brinesong."))
            .arg(translated ? taken->title() : taken->name);
    }
    if (taken && folded(taken->name) != folded(renaming)) {
        return say(QT_TRANSLATE_NOOP("Brinesong", "There is already a preset named \"%1\"."))
            .arg(elidedName(taken->name));
    }
    return {};
}

bool PresetBook::save(const QString& name, const WaveValues& values) {
    const QString wanted = name.trimmed();
    if (const auto at = index_.constFind(folded(wanted)); at != index_.cend()) {
        user_[*at].values = values;
        return true;
    }
    if (!nameRefusal(wanted).isEmpty()) {
        return false;
    }
    index_.insert(folded(wanted), user_.size());
    user_.push_back({wanted, values, false, {}});
    return true;
}

bool PresetBook::rename(const QString& name, const QString& newName) {
    const auto at = index_.constFind(folded(name));
    if (at == index_.cend() || !nameRefusal(newName, user_[*at].name).isEmpty()) {
        return false;
    }
    const size_t position = *at;
    index_.erase(at);
    user_[position].name = newName.trimmed();
    index_.insert(folded(newName), position);
    return true;
}

bool PresetBook::remove(const QString& name) {
    const auto at = index_.constFind(folded(name));
    if (at == index_.cend()) {
        return false;
    }
    user_.erase(user_.begin() + qsizetype(*at));
    reindex();
    return true;
}

void PresetBook::load(const SettingsStore& store, QStringList& notes) {
    user_.clear();
    index_.clear();
    unreadable_.clear();
    SettingsStore::Entries read = store.entriesUnder(kGroup);
    // The size an array carries is written anew.
    sized_ = read.groupValues.remove(kSize) > 0;
    groupValues_ = std::move(read.groupValues);
    for (const SettingsStore::Entry& entry : read.entries) {
        const QVariantMap& values = entry.values;
        const auto leaveOut = [&](const QString& why) {
            notes << QStringLiteral("the preset %1/%2 in %3 is left out: %4")
                         .arg(kGroup, printable(entry.name), store.fileName(), why);
            unreadable_.push_back(values);
        };
        const QString name = SettingsStore::textOf(values.value(kName)).trimmed();
        if (name.isEmpty()) {
            leaveOut(QStringLiteral("it has no name"));
            continue;
        }
        Preset preset{name, {}, false, {}};
        QString problem;
        double* percents[] = {&preset.values.lightWave, &preset.values.heavyWave,
                              &preset.values.ascent, &preset.values.descent,
                              &preset.values.waveInterval};
        for (size_t i = 0; i < std::size(kPercentKeys) && problem.isEmpty(); ++i) {
            const QString key = QString::fromLatin1(kPercentKeys[i]);
            const QString stored = SettingsStore::textOf(values.value(key)).trimmed();
            bool ok = false;
            const double percent = stored.toDouble(&ok);
            if (!values.contains(key)) {
                problem = QStringLiteral("%1 is missing").arg(key);
            } else if (!ok || !(percent >= 0.0 && percent <= 100.0)) {
                problem = QStringLiteral("%1 is '%2', not a percentage from 0 to 100")
                              .arg(key, printable(stored));
            } else {
                *percents[i] = percent;
            }
        }
        bool* switches[] = {&preset.values.boostSoundLevel, &preset.values.amplitudeGenerator};
        for (size_t i = 0; i < std::size(kSwitchKeys) && problem.isEmpty(); ++i) {
            const QString key = QString::fromLatin1(kSwitchKeys[i]);
            const QString stored = SettingsStore::textOf(values.value(key)).trimmed().toLower();
            if (!values.contains(key)) {
                problem = QStringLiteral("%1 is missing").arg(key);
            } else if (stored == QLatin1String("true") || stored == QLatin1String("1")) {
                *switches[i] = true;
            } else if (stored == QLatin1String("false") || stored == QLatin1String("0")) {
                *switches[i] = false;
            } else {
                problem =
                    QStringLiteral("%1 is '%2', not true or false").arg(key, printable(stored));
            }
        }
        if (problem.isEmpty()) {
            problem = refusal(name, QString(), false);
        }
        if (!problem.isEmpty()) {
            leaveOut(problem);
            continue;
        }
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            if (!isKnownKey(it.key())) {
                preset.unknown.insert(it.key(), it.value());
            }
        }
        index_.insert(folded(preset.name), user_.size());
        user_.push_back(std::move(preset));
    }
}

void PresetBook::write(SettingsStore& store) const {
    store.removeGroup(kGroup);
    int number = 0;
    for (const Preset& preset : user_) {
        const QString entry = QStringLiteral("%1/%2/").arg(kGroup).arg(++number);
        const WaveValues& v = preset.values;
        store.setString(preset.name, entry + kName);
        const double percents[] = {v.lightWave, v.heavyWave, v.ascent, v.descent, v.waveInterval};
        for (size_t i = 0; i < std::size(kPercentKeys); ++i) {
            store.setInteger(static_cast<int>(percents[i]),
                             entry + QString::fromLatin1(kPercentKeys[i]));
        }
        store.setBool(v.boostSoundLevel, entry + QString::fromLatin1(kSwitchKeys[0]));
        store.setBool(v.amplitudeGenerator, entry + QString::fromLatin1(kSwitchKeys[1]));
        for (auto it = preset.unknown.cbegin(); it != preset.unknown.cend(); ++it) {
            store.setObject(it.value(), entry + it.key());
        }
    }
    for (const QVariantMap& values : unreadable_) {
        const QString entry = QStringLiteral("%1/%2/").arg(kGroup).arg(++number);
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            store.setObject(it.value(), entry + it.key());
        }
    }
    for (auto it = groupValues_.cbegin(); it != groupValues_.cend(); ++it) {
        store.setObject(it.value(), kGroup + QLatin1Char('/') + it.key());
    }
    if (sized_) {
        store.setInteger(number, kGroup + QLatin1Char('/') + kSize);
    }
}

}  // namespace brinesong
