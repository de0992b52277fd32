#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "util/UniqueFd.h"

class QFile;

// Whole-file and line-append writes used by every file the program produces.

// The lines of a text, split at CR LF, LF or a lone CR. An empty text is one empty line.
QStringList SplitLines(const QString& text);

// Appends every line of `text` to the file, each followed by CR LF, in one write to a file opened
// for appending (created when missing). Returns false, with `error` saying why, when the file
// could not be written or is a symbolic link (never followed).
bool AppendLines(const QString& path, const QString& text, QString* error = nullptr);

// A descriptor for appending to `path` (created 0644 when missing) as every append to a run log
// is opened: never through a symbolic link, never waiting for the reader of a pipe. Invalid on
// failure, with `error` saying why ("it is a symbolic link", or the system's).
UniqueFd OpenForAppend(const QString& path, QString* error = nullptr);

// The length of the valid UTF-8 sequence at `p` (1 for an ASCII byte), with its code point in
// `*code`; 0 when the bytes up to `end` begin no valid sequence (a stray or cut one, an overlong
// form, a surrogate, beyond U+10FFFF).
inline int Utf8SequenceAt(const unsigned char* p, const unsigned char* end, char32_t* code) {
    if (*p < 0x80) {
        *code = *p;
        return 1;
    }
    const int length = *p >= 0xC2 && *p <= 0xDF   ? 2
                       : *p >= 0xE0 && *p <= 0xEF ? 3
                       : *p >= 0xF0 && *p <= 0xF4 ? 4
                                                  : 0;
    if (length == 0 || end - p < length)
        return 0;
    char32_t c = length == 2 ? *p & 0x1F : length == 3 ? *p & 0x0F : *p & 0x07;
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        c = (c << 6) | (p[i] & 0x3F);
    }
    if ((length == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
        (length == 4 && (c < 0x10000 || c > 0x10FFFF)))
        return 0;
    *code = c;
    return length;
}

// Opens `file` on `path` for reading when it is a regular file, without waiting for the writer of
// a pipe: a pipe, a device or a directory would keep a reader waiting, or reading, for ever. False
// with the reason in `*error` ("it is not a regular file", or the system's).
bool OpenRegularFile(const QString& path, QFile& file, QString* error);

// Gives the unnamed file `fd` (opened with O_TMPFILE) the name `name` in the directory `dirFd`
// (AT_FDCWD for a path): through /proc/self/fd, or where /proc is not mounted through the
// descriptor itself, which only an administrator may do. False with errno set (EEXIST when the
// name is taken).
bool LinkUnnamedFile(int fd, int dirFd, const char* name);

// Replaces the whole file atomically: the new content is written to a file of the same directory
// that has no name yet, flushed to disk, named ".NAME.pendrill-new" and renamed over the target,
// then the directory itself is synced, so a reader sees either the old content or the new one,
// never a part. A kill leaves nothing behind, except in the moment between naming and renaming;
// a ".NAME.pendrill-new" left so (a regular file nobody holds) is removed by the next write of
// NAME. Writers of the same file at the same time take turns for the rename. When the directory
// refuses the temporary file or the rename (no write access to it, or a sticky directory) but the
// file exists and may be written, the file is written in place instead (truncated and filled), so
// it never keeps stale content. An existing file keeps its permissions, and its owner and group
// where this account may give them (root may); a new file gets `newFileMode` (octal, e.g. 0600)
// when it is not -1. A path that is a symbolic link is refused (false, "PATH is a symbolic link; it
// is not replaced"): the file it points to is never written. Returns false on any error, with the
// reason in `*error` when given; the old file is then untouched unless the in-place write itself
// failed.
bool WriteFileAtomically(const QString& path, const QByteArray& content, int newFileMode = -1,
                         QString* error = nullptr);

// The text of bytes written by another site: UTF-8, or Latin-1 (single-byte Windows sites) when
// the bytes do not decode as UTF-8 without a replacement character.
QString DecodeUtf8OrLatin1(const QByteArray& bytes);

// The text with every CR LF pair removed (nothing put in its place).
QString RemoveLineBreaks(const QString& text);

// Copies a file over another, replacing it the way WriteFileAtomically does (in place when only
// the file, not its directory, may be written). False on any error, with the reason in `*error`
// when given.
bool CopyFileReplacing(const QString& from, const QString& to, QString* error = nullptr);
