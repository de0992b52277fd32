#pragma once

#include <QString>
#include <functional>

// Files and directories for their owner only. Pendrill's own stores (settings store, job-history
// repository, embedded servers), the log directories it creates and every file that holds a
// password are created with these modes whatever the umask: 0700 for a directory, 0600 for a
// file.

inline constexpr int kPrivateDirectoryMode = 0700;
inline constexpr int kPrivateFileMode = 0600;

// Creates the directory with every missing parent; each directory created here gets mode 0700.
// An existing directory keeps its mode. False, with the reason in `*error`, when the directory
// does not exist afterwards.
bool MakePrivateDirectory(const QString& directory, QString* error = nullptr);

// Creates an empty file with mode 0600 when there is none, so that a library that creates the
// file itself (SQLite, which gives its journal files the database file's mode) finds it private.
// An existing file is left alone. False, with the reason in `*error`, when it cannot be created.
bool CreatePrivateFile(const QString& path, QString* error = nullptr);

// For an existing file that is about to receive a password: when its group or others may read
// or write it, sets its mode to 0600 and reports that through PrivateFileNotice. True when the
// file is private afterwards (or does not exist yet); false, with the reason in `*error`, when
// its mode could not be changed.
bool RestrictToOwner(const QString& path, QString* error = nullptr);

// Says that a file's mode was tightened: through RunTargets::Current().privateFileNotice (the
// window's run log and status bar), by default one line "<program>: TEXT" on standard error.
void PrivateFileNotice(const QString& text);
