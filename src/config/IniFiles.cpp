#include "config/IniFiles.h"

#include <functional>

#include "config/IniDocument.h"
#include "util/Errors.h"
#include "util/FileLock.h"
#include "util/PrivateFiles.h"

namespace {

std::optional<IniDocument> loadProfile(const QString& file) {
    if (file.isEmpty())
        return std::nullopt;
    return IniDocument::load(file);
}

int editProfile(const QString& file, int newFileMode,
                const std::function<bool(IniDocument&)>& edit) {
    return EditIniFile(file, edit, IniContent::Plain, newFileMode) ? 1 : 0;
}

QString cutToLimit(QString text) {
    if (text.size() > kIniValueMaxChars) {
        text.truncate(kIniValueMaxChars);
        if (text.back().isHighSurrogate())
            text.chop(1);
    }
    return text;
}

}  // namespace

bool EditIniFile(const QString& file, const std::function<bool(IniDocument&)>& edit,
                 IniContent content, int newFileMode, QString* error) {
    if (file.isEmpty())
        return Fail(error, QStringLiteral("no file name"));
    FileLock lock;
    if (!lock.Lock(file, FileLock::Role::Write, kIniWriteLockWaitMs, error))
        return false;
    auto profile = IniDocument::load(file);
    if (!profile)
        return Fail(error, QStringLiteral("cannot read %1").arg(file));
    if (!edit(*profile))
        return false;
    if (!profile->isModified())
        return true;
    if (content == IniContent::Password) {
        newFileMode = kPrivateFileMode;
        // Tightened before the write: the replacement keeps the existing file's mode.
        if (!RestrictToOwner(file, error))
            return false;
    }
    return profile->save(file, newFileMode, error);
}

IniDocument ReadIniFile(const QString& file) {
    return loadProfile(file).value_or(IniDocument());
}

QString IniValueOf(const IniDocument& profile, const QString& section, const QString& key,
                   const QString& defaultValue) {
    if (const auto value = profile.value(section, key))
        return cutToLimit(*value);
    QString result = defaultValue;
    while (result.endsWith(QLatin1Char(' ')))
        result.chop(1);
    return cutToLimit(result);
}

QString ReadIniValue(const QString& section, const QString& key, const QString& defaultValue,
                     const QString& file) {
    return IniValueOf(ReadIniFile(file), section, key, defaultValue);
}

int WriteIniValue(const QString& section, const QString& key, const QString& value,
                  const QString& file, int newFileMode) {
    return editProfile(file, newFileMode,
                       [&](IniDocument& p) { return p.setValue(section, key, value); });
}

int DeleteIniKey(const QString& section, const QString& key, const QString& file) {
    return editProfile(file, -1, [&](IniDocument& p) { return p.removeKey(section, key); });
}

int DeleteIniSection(const QString& section, const QString& file) {
    return editProfile(file, -1, [&](IniDocument& p) { return p.removeSection(section); });
}

QStringList ReadIniSectionNames(const QString& file) {
    const auto profile = loadProfile(file);
    return profile ? profile->sectionNames() : QStringList();
}

QStringList ReadIniKeyNames(const QString& section, const QString& file) {
    const auto profile = loadProfile(file);
    return profile ? profile->keyNames(section) : QStringList();
}
