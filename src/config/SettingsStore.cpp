#include "config/SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <functional>

#include "config/IniDocument.h"
#include "config/IniFiles.h"
#include "util/PrivateFiles.h"

namespace {

QString valueKey(const QString& valueName) {
    return TrimProfileBlanks(valueName).isEmpty() ? QStringLiteral("*") : valueName;
}

bool isSubkeyPath(const QString& section, const QString& keyPath) {
    return section.size() > keyPath.size() && section.startsWith(keyPath, Qt::CaseInsensitive) &&
           section[keyPath.size()] == QLatin1Char('\\');
}

bool keyExists(const IniDocument& store, const QString& keyPath) {
    if (keyPath.isEmpty())
        return false;
    if (store.hasSection(keyPath))
        return true;
    for (const QString& section : store.sectionNames()) {
        if (isSubkeyPath(section, keyPath))
            return true;
    }
    return false;
}

// Runs a read-modify-write of the store under its write lock. With `create`, a missing
// directory (0700) and file (0600) are created; without, a missing store fails. The file is
// written only when the edit changed it.
bool editStore(bool create, const std::function<bool(IniDocument&)>& edit,
               IniContent content = IniContent::Plain) {
    const QString path = RegistryFilePath();
    if (!create && !QFileInfo::exists(path))
        return false;
    if (!MakePrivateDirectory(QFileInfo(path).absolutePath()))
        return false;
    return EditIniFile(path, edit, content, kPrivateFileMode);
}

// A connection text with a password in it (an ODBC alias "...;PWD=secret").
bool holdsPassword(const QString& value) {
    static const QRegularExpression password(QStringLiteral("(^|[;:])\\s*(pwd|password)\\s*="),
                                             QRegularExpression::CaseInsensitiveOption);
    return password.match(value).hasMatch();
}

QString trimSpaces(const QString& text) {
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == QLatin1Char(' '))
        ++begin;
    while (end > begin && text[end - 1] == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

}  // namespace

QString RegistryFilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + "/.config";
    return base + QStringLiteral("/pendrill/registry.ini");
}

QString ReadRegistryValue(const QString& keyPath, const QString& valueName,
                          const QString& defaultValue) {
    if (TrimProfileBlanks(keyPath).isEmpty())
        return defaultValue;
    const auto store = IniDocument::load(RegistryFilePath());
    if (!store)
        return defaultValue;
    return store->value(keyPath, valueKey(valueName)).value_or(defaultValue);
}

bool WriteRegistryValue(const QString& keyPath, const QString& valueName, const QString& value) {
    if (TrimProfileBlanks(keyPath).isEmpty())
        return false;
    return editStore(
        true,
        [&](IniDocument& store) { return store.setValue(keyPath, valueKey(valueName), value); },
        holdsPassword(value) ? IniContent::Password : IniContent::Plain);
}

bool DeleteRegistryValue(const QString& keyPath, const QString& valueName) {
    if (TrimProfileBlanks(keyPath).isEmpty())
        return false;
    return editStore(false, [&](IniDocument& store) {
        return store.removeKey(keyPath, valueKey(valueName)) && store.isModified();
    });
}

bool DeleteRegistryKey(const QString& keyPath) {
    const QString path = TrimProfileBlanks(keyPath);
    if (path.isEmpty())
        return false;
    return editStore(false, [&](IniDocument& store) {
        if (!keyExists(store, path))
            return false;
        // Duplicate sections of one key are all removed, one at a time (first match first).
        for (bool again = true; again;) {
            again = false;
            for (const QString& section : store.sectionNames()) {
                if (section.compare(path, Qt::CaseInsensitive) == 0 ||
                    isSubkeyPath(section, path)) {
                    store.removeSection(section);
                    again = true;
                }
            }
        }
        return true;
    });
}

bool RegistryKeyExists(const QString& keyPath) {
    const auto store = IniDocument::load(RegistryFilePath());
    return store && keyExists(*store, TrimProfileBlanks(keyPath));
}

QStringList RegistryValueNames(const QString& keyPath) {
    if (TrimProfileBlanks(keyPath).isEmpty())
        return {};
    const auto store = IniDocument::load(RegistryFilePath());
    return store ? store->keyNames(keyPath) : QStringList();
}

void SettingsStore::SetCompany(const QString& company) {
    company_ = company.isEmpty() ? kDefaultCompany : trimSpaces(company);
}

void SettingsStore::SetHive(qint32) {
    hive_ = kHKeyLocalMachine;
}

void SettingsStore::SetAppName(const QString& appName) {
    appName_ = appName.isEmpty() ? kDefaultAppName : trimSpaces(appName);
}

QString SettingsStore::KeyPath(const QString& section) const {
    QString path = QStringLiteral("Software\\") + company_ + QLatin1Char('\\') + appName_;
    if (!section.isEmpty())
        path += QLatin1Char('\\') + section;
    return path;
}

bool SettingsStore::DeleteSetting(const QString& section, const QString& key) {
    if (!key.isEmpty())
        return DeleteRegistryValue(KeyPath(section), key);
    // The section's key is a subkey of the application's key; both must exist.
    if (section.isEmpty() || !RegistryKeyExists(KeyPath({})))
        return false;
    return DeleteRegistryKey(KeyPath(section));
}

QString SettingsStore::GetSetting(const QString& section, const QString& key,
                                  const QString& defaultValue) const {
    return ReadRegistryValue(KeyPath(section), key, defaultValue);
}

bool SettingsStore::SaveSetting(const QString& section, const QString& key,
                                const QString& setting) {
    return WriteRegistryValue(KeyPath(section), key, setting);
}
