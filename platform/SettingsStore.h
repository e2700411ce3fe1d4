// SPDX-License-Identifier: GPL-3.0-or-later
// The per-user settings store: an INI file at the XDG config location (organisation "Kelvane",
// application "Brinesong") behind a volatile layer of registered defaults that is never written.
//
// Typed getters fall back to the registered default when a key is absent or its stored text does
// not read as the type asked for (for a number, also when it reads as NaN or infinity). Writes
// reach the disk only at `synchronize` or `rewrite`, which replace the file as a whole, so a crash
// never leaves it half-written.
#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <vector>

namespace brinesong {

class SettingsStore {
public:
    // The user's store at its standard location.
    SettingsStore();
    // A store kept in the INI file at `path` (tests, tools).
    explicit SettingsStore(const QString& path);
    ~SettingsStore();

    QString fileName() const;
    // Why the file could not be read when this store was made (it is unreadable, or a folder
    // stands in its place); empty when it was read, or is not there yet.
    QString readFailure() const { return readFailure_; }

    void registerDefaults(const QVariantMap& defaults);

    // The value the user's own store holds for `key`; registered defaults do not count.
    bool hasStoredValue(const QString& key) const;

    // The stored value, else the registered default, else an invalid variant.
    QVariant objectForKey(const QString& key) const;
    float floatForKey(const QString& key) const;
    int integerForKey(const QString& key) const;
    bool boolForKey(const QString& key) const;
    QString stringForKey(const QString& key) const;  // empty when absent
    // A value read from the store as text: a hand-written value with a comma reads as a list,
    // given back joined as it was written.
    static QString textOf(const QVariant& value);
    // What the user's store holds under `group`, read as an array of entries ("group/3/key") as
    // the presets and the night programme are: each entry's values by their keys, in the order of
    // the entries' numbers (hand-made names after them), and the group's own values apart.
    struct Entry {
        QString name;  // "3", or what a hand-made file calls it
        QVariantMap values;
    };
    struct Entries {
        std::vector<Entry> entries;
        QVariantMap groupValues;
    };
    Entries entriesUnder(const QString& group) const;

    void setFloat(float value, const QString& key);
    void setInteger(int value, const QString& key);
    void setBool(bool value, const QString& key);
    void setString(const QString& value, const QString& key);
    // A value as it was read (objectForKey), written back unchanged.
    void setObject(const QVariant& value, const QString& key);
    // Removes the value at `key`; keys nested below it ("key/...") stay.
    void removeObjectForKey(const QString& key);
    // Removes `group` whole: its own value and every key below it.
    void removeGroup(const QString& group);

    // Writes pending changes to disk; false when the file could not be written (a damaged file
    // read earlier does not count: it is replaced whole).
    bool synchronize();

    // Whether `synchronize` can write the file: false when it is read-only or unreadable, a
    // folder stands in its place, or the folder it is replaced in cannot be written. Creates the
    // file's folder when it is missing, as the first write would.
    bool isWritable() const;

    // Writes the file now: `changes` is given the file as it stands on disk (not as this store read
    // it), sets or removes the keys it writes (whole groups, as a rule), and the result replaces
    // the file whole, through a new file renamed over it. Every key `changes` leaves alone stays as
    // it is on disk, so settings written only at quit stay as the last quit left them. Returns why
    // the file could not be written (the system's reason), empty when it was; a failure leaves
    // the file as it was. What this store reads is unchanged by it.
    QString rewrite(const std::function<void(SettingsStore& file)>& changes);

private:
    std::unique_ptr<QSettings> settings_;
    QVariantMap defaults_;
    QString readFailure_;
};

}  // namespace brinesong
