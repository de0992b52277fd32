#pragma once

#include <QString>
#include <filesystem>

// Path-text helpers and existence tests. Local paths use '/'; the helpers that look for a
// separator accept '\' as well, so that paths written on Windows still split where expected.
// None of them reports an error.

// Appends the native separator '/' unless the text already ends in '/' or '\'; the empty text
// becomes "/". Changes the variable and returns its new value.
QString AddBackslash(QString& path);
// The same with '/', for texts that must end in a forward slash whatever the platform.
QString AddSlash(QString& path);
// The text after the last separator, trimmed; the whole text trimmed when there is none.
QString FileNameOfPath(const QString& path);
// The text up to and including the last separator; empty when there is none.
QString DirectoryOfPath(const QString& path);

// True when the length of the file can be read (a regular file that exists).
bool FileExists(const QString& path);
// True for an existing file or directory.
bool FileOrFolderExists(const QString& path);
// A directory lookup of the path: true when something matches. The last component may hold the
// wildcards '*' and '?'. A path ending in a separator is true when that directory exists.
bool PathExists(const QString& path);

// True when both texts name one file: the same device and inode when both exist (links and
// other spellings included), else the same absolute path once "." and ".." are resolved and the
// existing part of it is followed to its real location. Empty texts name no file.
bool SameFile(const QString& a, const QString& b);

// Deletes `path` when it is a file or a symbolic link (never what the link points to); a device,
// pipe, socket or directory of that name is left alone. True when nothing of that kind is left.
bool RemoveFileOrLink(const QString& path);

// Local file-system path of a text (for std::filesystem): its NameBytes.
std::filesystem::path ToFsPath(const QString& path);

// A file name or path as the system stores it (any bytes) in a text and back, without loss:
// valid UTF-8 becomes its characters, every other byte the lone surrogate U+DC80 to U+DCFF, which
// NameBytes turns back into that byte (a supplier's "Bestell\xfc.csv" in Latin-1 keeps its
// name). Shown or written as text, such a byte reads as a replacement character.
QString NameFromBytes(QByteArrayView bytes);
QByteArray NameBytes(QStringView name);

// Creates the directory with every missing parent; an existing directory is left alone and
// errors are swallowed.
void MakeDirectory(const QString& directory);

// The mode for a file created in the open directory `dirFd`: `requested` (the umask still applies
// when the file is created) without the read and write rights that the directory does not give
// to the same class of users, so a fetched file is never more open than the directory it lands in
// (a 0750 directory gets files of at most 0640). `requested` unchanged when the directory cannot
// be looked at.
unsigned ModeWithinDirectory(int dirFd, unsigned requested);
