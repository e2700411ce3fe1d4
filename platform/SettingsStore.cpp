// SPDX-License-Identifier: GPL-3.0-or-later
#include "SettingsStore.h"

#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryDir>
#include <cmath>
#include <limits>
#include <map>

#include "platform/Localization.h"

namespace brinesong {

namespace {

// Opens the file for reading, or says why it cannot be read; no reason when there is no file.
bool openToRead(QFile& file, QString& failure) {
    const QFileInfo info(file.fileName());
    if (!info.exists()) {
        return false;
    }
    if (info.isDir()) {
        failure = Texts::tr("a folder stands in its place");
        return false;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        failure = file.errorString();
        return false;
    }
    return true;
}

// The file's bytes, or why they cannot be read; none and no reason when there is no file.
QByteArray readWhole(const QString& path, QString& failure) {
    QFile file(path);
    if (!openToRead(file, failure)) {
        return {};
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        failure = file.errorString();
    }
    return bytes;
}

}  // namespace

SettingsStore::SettingsStore()
    : settings_(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                            QStringLiteral("Kelvane"),
                                            QStringLiteral("Brinesong"))) {
    QFile file(fileName());
    openToRead(file, readFailure_);
}

SettingsStore::SettingsStore(const QString& path)
    : settings_(std::make_unique<QSettings>(path, QSettings::IniFormat)) {
    QFile file(fileName());
    openToRead(file, readFailure_);
}

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

QString SettingsStore::textOf(const QVariant& value) {
    if (value.typeId() == QMetaType::QStringList) {
        return value.toStringList().join(QStringLiteral(", "));
    }
    return value.toString();
}

SettingsStore::Entries SettingsStore::entriesUnder(const QString& group) const {
    Entries read;
    std::map<std::pair<qlonglong, QString>, QVariantMap> byNumber;
    settings_->beginGroup(group);
    for (const QString& path : settings_->allKeys()) {
        const QVariant value = settings_->value(path);
        const qsizetype slash = path.indexOf(QLatin1Char('/'));
        if (slash < 0) {
            read.groupValues.insert(path, value);
            continue;
        }
        const QString entry = path.left(slash);
        bool numbered = false;
        const qlonglong number = entry.toLongLong(&numbered);
        byNumber[{numbered ? number : std::numeric_limits<qlonglong>::max(), entry}].insert(
            path.mid(slash + 1), value);
    }
    settings_->endGroup();
    read.entries.reserve(byNumber.size());
    for (auto& [id, values] : byNumber) {
        read.entries.push_back({id.second, std::move(values)});
    }
    return read;
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
    // The INI file's keys nest, and removing "a" takes "a/b" with it: such a key is not the
    // program's, whoever wrote it, and stays. The reader parses a section only when it is asked
    // for a key of it: asking for "a" parses [General], where a hand-written "a/b" may stand, and
    // the group's keys then come from there and from a section [a].
    settings_->contains(key);
    QVariantMap below;
    settings_->beginGroup(key);
    for (const QString& child : settings_->allKeys()) {
        below.insert(child, settings_->value(child));
    }
    settings_->endGroup();
    settings_->remove(key);
    for (auto it = below.cbegin(); it != below.cend(); ++it) {
        settings_->setValue(key + QLatin1Char('/') + it.key(), it.value());
    }
}

void SettingsStore::removeGroup(const QString& group) {
    settings_->remove(group);
}

bool SettingsStore::isWritable() const {
    // QSettings opens an existing file for reading and writing, else tries a file beside it; it
    // then replaces the file through a new one in the same folder.
    const QString folder = QFileInfo(settings_->fileName()).absolutePath();
    return settings_->isWritable() &&
           ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

QString SettingsStore::rewrite(const std::function<void(SettingsStore& file)>& changes) {
    // The file the name stands for, where a link points to one: the link stays.
    const QFileInfo named(fileName());
    const QString path = !named.isSymLink()                    ? named.absoluteFilePath()
                         : named.canonicalFilePath().isEmpty() ? named.symLinkTarget()
                                                               : named.canonicalFilePath();
    const QFileInfo info(path);
    if (info.exists() && !info.isDir() && !info.isFile()) {
        // A device or a FIFO would be replaced by a file of its name.
        return Texts::tr("it is not a regular file");
    }
    QString failure;
    const QByteArray onDisk = readWhole(path, failure);
    if (!failure.isEmpty()) {
        return failure;  // what cannot be read is not replaced
    }
    // The settings store writes only files: the new contents are made in a copy of the file where
    // a full or read-only disk of the user's does not reach, then written over the file at once.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        return Texts::tr("no scratch folder can be made: %1").arg(scratch.errorString());
    }
    const QString copyPath = scratch.filePath(QStringLiteral("Brinesong.ini"));
    {
        QFile copy(copyPath);
        if (!copy.open(QIODevice::WriteOnly) || copy.write(onDisk) != onDisk.size() ||
            !copy.flush()) {
            return copy.errorString();
        }
    }
    {
        SettingsStore copy(copyPath);
        changes(copy);
        if (!copy.synchronize()) {
            return Texts::tr("its new contents cannot be made in %1").arg(scratch.path());
        }
    }
    QString unused;
    const QByteArray contents = readWhole(copyPath, unused);
    QDir().mkpath(info.absolutePath());  // as the first write of a new user's settings needs
    QSaveFile file(path);
    // Unbuffered: a buffered write that fails as the file is committed is not seen by the commit,
    // which would then rename a truncated file over the settings (Qt 6.4).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return file.errorString();
    }
    if (file.write(contents) != contents.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    return file.commit() ? QString() : file.errorString();
}

bool SettingsStore::synchronize() {
    settings_->sync();
    // A format error is sticky: it tells that the file read at launch was damaged, not that
    // this write failed. Only an access error is a failed write.
    return settings_->status() != QSettings::AccessError;
}

}  // namespace brinesong
