#include "config/modIniFilesUtils.h"

#include <functional>

#include "config/PrivateProfile.h"

namespace {

std::optional<PrivateProfile> loadProfile(const QString& file) {
    if (file.isEmpty())
        return std::nullopt;
    return PrivateProfile::load(file);
}

// Loads the file, applies the edit and writes the file back when the edit changed anything.
int editProfile(const QString& file, int newFileMode,
                const std::function<bool(PrivateProfile&)>& edit) {
    auto profile = loadProfile(file);
    if (!profile || !edit(*profile))
        return 0;
    if (!profile->isModified())
        return 1;
    return profile->save(file, newFileMode) ? 1 : 0;
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

PrivateProfile ReadIniFile(const QString& file) {
    return loadProfile(file).value_or(PrivateProfile());
}

QString IniValueOf(const PrivateProfile& profile, const QString& section, const QString& key,
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
                       [&](PrivateProfile& p) { return p.setValue(section, key, value); });
}

int DeleteIniKey(const QString& section, const QString& key, const QString& file) {
    return editProfile(file, -1, [&](PrivateProfile& p) { return p.removeKey(section, key); });
}

int DeleteIniSection(const QString& section, const QString& file) {
    return editProfile(file, -1, [&](PrivateProfile& p) { return p.removeSection(section); });
}

QStringList ReadIniSectionNames(const QString& file) {
    const auto profile = loadProfile(file);
    return profile ? profile->sectionNames() : QStringList();
}

QStringList ReadIniKeyNames(const QString& section, const QString& file) {
    const auto profile = loadProfile(file);
    return profile ? profile->keyNames(section) : QStringList();
}
