#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "config/IniDocument.h"

// Private-profile (INI) file access with the results of the Win32 calls
// GetPrivateProfileStringA / WritePrivateProfileStringA. The rules of the file format are those of
// IniDocument (config/IniDocument.h). Every call reads the file afresh; every change
// replaces the file atomically and leaves all other lines byte for byte as they were.

// The longest value a read returns, in characters (a 2,048-character buffer less its terminator).
inline constexpr qsizetype kIniValueMaxChars = 2047;

// The value of `key` in `section` (names trimmed, compared without regard to case), without a
// surrounding pair of quotes and cut to kIniValueMaxChars. A key present with an empty value gives
// the empty text. An absent key, section or file, a key line without "=", or an unreadable file
// gives `defaultValue` less its trailing spaces.
QString ReadIniValue(const QString& section, const QString& key, const QString& defaultValue,
                     const QString& file);

// The file as the reads of this module see it, read once: a missing or unreadable file, or an
// empty name, gives an empty profile.
IniDocument ReadIniFile(const QString& file);
// What ReadIniValue gives, taken from a file already read (for reading many keys of one file).
QString IniValueOf(const IniDocument& profile, const QString& section, const QString& key,
                   const QString& defaultValue);

// How long a writer waits for another writer of the same file, in milliseconds.
inline constexpr int kIniWriteLockWaitMs = 30000;

// What a write puts into a file: a file that receives a password is created 0600, and an
// existing one that others may read is set to 0600 (PrivateFileNotice says so).
enum class IniContent { Plain, Password };

// One read-change-replace of a private-profile file under its write lock (util/FileLock.h): the
// file is read afresh while the lock is held, `edit` changes it, and the file is replaced
// atomically when the edit changed anything; concurrent writers of one file never lose each
// other's changes. A new file gets `newFileMode` when it is not -1 (0600 for IniContent::Password
// whatever is given). False when the lock cannot be had, the file cannot be read or replaced, or
// `edit` returns false (the file is then left as it was), with the reason in `*error` where
// there is one.
bool EditIniFile(const QString& file, const std::function<bool(IniDocument&)>& edit,
                 IniContent content = IniContent::Plain, int newFileMode = -1,
                 QString* error = nullptr);

// Sets `key` in `section` to `value`, creating the file, the section or the key as needed; a new
// file gets `newFileMode` (e.g. 0600) when it is not -1. A value with a blank at either end, or
// wrapped in a pair of quotes, is written in double quotes so that ReadIniValue gives it back
// whole. Returns non-zero on success, 0 when the file cannot be read or replaced, or when a name
// or the value cannot be carried by a file line (empty names, line breaks, a key name with "=" or
// starting with ";" or
// "["); the file is then left as it was.
int WriteIniValue(const QString& section, const QString& key, const QString& value,
                  const QString& file, int newFileMode = -1);

// Every change below is one EditIniFile.

// Deletes the first line of `key` in `section`. Non-zero on success, an absent key included.
int DeleteIniKey(const QString& section, const QString& key, const QString& file);

// Deletes the first section named `section`: its header and every line up to the next header.
// Non-zero on success, an absent section included.
int DeleteIniSection(const QString& section, const QString& file);

// The section names of the file in file order, each once; empty for a missing file.
QStringList ReadIniSectionNames(const QString& file);

// The names of the keys of `section` that have a value, in file order, each once.
QStringList ReadIniKeyNames(const QString& section, const QString& file);
