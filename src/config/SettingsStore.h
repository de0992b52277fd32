#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

// The persistent settings store that stands in for the registry: one private-profile file,
// RegistryFilePath(), whose section names are registry key paths and whose keys are value names,
// e.g.
//
//   [Software\Tessaly\Pendrill\Pendrill]
//   LastUsedConfigFile=/home/op/runs/nightly.etl
//
// Key paths and value names compare without regard to case. The value name "*" is the key's
// default (unnamed) value; an empty value name means the same. A key exists when it has a section
// or when one of its subkeys has. Values come back exactly as stored: values with blanks or quotes
// at their ends are written in quotes, and reads are not cut to any length. A value cannot hold a
// line break. Changes replace the file atomically under its write lock (registry.ini.lock), so
// concurrent programs do not lose each other's writes.

// `$XDG_CONFIG_HOME/pendrill/registry.ini`, `~/.config/pendrill/registry.ini` when
// XDG_CONFIG_HOME is unset, empty or not absolute.
QString RegistryFilePath();

// The value, or `defaultValue` when the key, the value or the file is absent or unreadable.
QString ReadRegistryValue(const QString& keyPath, const QString& valueName,
                          const QString& defaultValue = {});
// Creates the key (and the store's directory, mode 0700, and file, mode 0600) as needed and sets
// the value. False when the store cannot be written, the key path is empty or a text cannot be
// stored.
bool WriteRegistryValue(const QString& keyPath, const QString& valueName, const QString& value);
// False when the value did not exist or the store could not be written.
bool DeleteRegistryValue(const QString& keyPath, const QString& valueName);
// Deletes the key with all its values and subkeys. False when it did not exist or the store could
// not be written.
bool DeleteRegistryKey(const QString& keyPath);
bool RegistryKeyExists(const QString& keyPath);
// The value names of the key in the order they were stored ("*" for the default value).
QStringList RegistryValueNames(const QString& keyPath);

// Settings organised as company, application, section and key. A section lives in the key
// "Software\<Company>\<AppName>\<section>"; a key of a section is a value of that key.
class SettingsStore {
  public:
    // HKEY_LOCAL_MACHINE as the 32-bit handle value.
    static constexpr qint32 kHKeyLocalMachine = static_cast<qint32>(0x80000002u);
    static inline const QString kDefaultCompany = QStringLiteral("Tessaly");
    static inline const QString kDefaultAppName = QStringLiteral("Pendrill");

    SettingsStore() = default;

    QString Company() const { return company_; }
    // Stored without surrounding spaces; the empty text restores kDefaultCompany. (A text of
    // spaces only is not empty, so it stores an empty company.)
    void SetCompany(const QString& company);
    qint32 Hive() const { return hive_; }
    // The root is always HKEY_LOCAL_MACHINE, whatever the argument.
    void SetHive(qint32 hive);
    QString AppName() const { return appName_; }
    // As SetCompany, with kDefaultAppName.
    void SetAppName(const QString& appName);

    // Deletes the value `key` of the section, or the whole section when `key` is empty. True on
    // success; false when the section or the value did not exist.
    bool DeleteSetting(const QString& section, const QString& key = {});
    // The value, or `defaultValue` when it cannot be read.
    QString GetSetting(const QString& section, const QString& key,
                       const QString& defaultValue = {}) const;
    // True when the value was written.
    bool SaveSetting(const QString& section, const QString& key, const QString& setting);

  private:
    QString KeyPath(const QString& section) const;

    QString company_ = kDefaultCompany;
    qint32 hive_ = kHKeyLocalMachine;
    QString appName_ = kDefaultAppName;
};
