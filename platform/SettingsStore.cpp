// SPDX-License-Identifier: GPL-3.0-or-later
#include "SettingsStore.h"

#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cmath>

namespace brinesong {

SettingsStore::SettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QStringLiteral("Kelvane"),
                                            QStringLiteral("Brinesong"))) {}

SettingsStore::SettingsStore(const QString& path)
    : settings_(std::make_unique<QSettings>(path, QSettings::IniFormat)) {}

SettingsStore::~SettingsStore() = default;

QString SettingsStore::fileName() const {
    return settings_->fileName();
}

void SettingsStore::registerDefaults(const QVariantMap& defaults) {
    for (auto it = defaults.cbegin(); it != defaults.cend(); ++it) {
        defaults_.insert(it.key(), it.value());
    }
}

bool SettingsStore::hasStoredValue(const QString& key) const {
    return settings_->contains(key);
}

QVariant SettingsStore::objectForKey(const QString& key) const {
    if (settings_->contains(key)) {
        return settings_->value(key);
    }
    return defaults_.value(key);
}

float SettingsStore::floatForKey(const QString& key) const {
    bool ok = false;
    const float value = settings_->value(key).toFloat(&ok);
    // "nan" and "inf" read as numbers, but no setting can use them: they count as absent.
    return ok && std::isfinite(value) ? value : defaults_.value(key).toFloat();
}

int SettingsStore::integerForKey(const QString& key) const {
    bool ok = false;
    const int value = settings_->value(key).toInt(&ok);
    return ok ? value : defaults_.value(key).toInt();
}

bool SettingsStore::boolForKey(const QString& key) const {
    const QVariant stored = settings_->value(key);
    if (stored.isValid()) {
        const QString text = stored.toString().trimmed().toLower();
        if (text == QLatin1String("true") || text == QLatin1String("1")) {
            return true;
        }
        if (text == QLatin1String("false") || text == QLatin1String("0")) {
            return false;
        }
    }
    return defaults_.value(key).toBool();
}

QString SettingsStore::stringForKey(const QString& key) const {
    return objectForKey(key).toString();
}

QStringList SettingsStore::keysUnder(const QString& group) const {
    QStringList keys;
    settings_->beginGroup(group);
    for (const QString& key : settings_->allKeys()) {
        keys << group + QLatin1Char('/') + key;
    }
    settings_->endGroup();
    return keys;
}

void SettingsStore::setFloat(float value, const QString& key) {
    settings_->setValue(key, value);
}

void SettingsStore::setInteger(int value, const QString& key) {
    settings_->setValue(key, value);
}

void SettingsStore::setBool(bool value, const QString& key) {
    settings_->setValue(key, value);
}

void SettingsStore::setString(const QString& value, const QString& key) {
    settings_->setValue(key, value);
}

void SettingsStore::setObject(const QVariant& value, const QString& key) {
    settings_->setValue(key, value);
}

void SettingsStore::removeObjectForKey(const QString& key) {
    settings_->remove(key);
}

bool SettingsStore::isWritable() const {
    // QSettings opens an existing file for reading and writing, else tries a file beside it; it
    // then replaces the file through a new one in the same folder.
    const QString folder = QFileInfo(settings_->fileName()).absolutePath();
    return settings_->isWritable() &&
           ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

bool SettingsStore::synchronize() {
    settings_->sync();
    // A format error is sticky: it tells that the file read at launch was damaged, not that
    // this write failed. Only an access error is a failed write.
    return settings_->status() != QSettings::AccessError;
}

}  // namespace brinesong
