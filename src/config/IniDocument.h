#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

// An INI ("private-profile") file held in memory, with the lookup rules of the Win32
// GetPrivateProfileString / WritePrivateProfileString calls and an editor that changes only the
// lines it must.
//
// Reading:
// - a line ends at CR LF, LF or a lone CR; every line is trimmed of blanks (TAB, LF, VT, FF, CR,
//   ^Z and space); blank lines carry nothing;
// - "[name]" is a section header (the name runs to the last "]" and is trimmed, anything after
//   that "]" is ignored); a "[" line without "]" is an ordinary line;
// - a line starting with ";" is a comment;
// - any other line is a key line, split at its first "=": the name trimmed, the value trimmed;
//   a key line without "=" exists but has no value;
// - lines before the first header form the unnamed section "";
// - section and key names compare without regard to case; the first of duplicate sections, and
//   the first of duplicate keys within it, is the one that counts;
// - a value wrapped in a matching pair of " or ' is returned without the pair.
//
// Writing keeps every value whole: a value the reader would change (one with a blank at either
// end, or one wrapped in a matching pair of quotes) is written wrapped in double quotes, which the
// reader takes off again.
//
// Text is UTF-8 (a leading byte-order mark is kept); a file that starts with a UTF-16 byte-order
// mark (little- or big-endian, as Windows editors save "Unicode" text) is UTF-16 and is written
// back as UTF-16 in the same byte order with its mark; content that is not valid UTF-8 is taken as
// Latin-1. When the file is written back, every line that was not edited keeps its bytes, with one
// exception that keeps texts instead: a Latin-1 file is re-encoded as UTF-8 as a whole when an
// edit needs a character outside Latin-1, or when an edit leaves it valid UTF-8 while it still
// holds bytes above 127 (which a reader would otherwise take for UTF-8).
class IniDocument {
  public:
    // The largest file load() reads. A configuration is a few kilobytes; one of many megabytes
    // is no configuration, and its lines would take about a hundred times their size in memory.
    static constexpr qint64 kMostBytes = qint64(16) << 20;

    enum class Encoding { Utf8, Latin1, Utf16LE, Utf16BE };

    // An empty profile (a missing or zero-length file).
    IniDocument() = default;
    static IniDocument fromBytes(const QByteArray& bytes);

    // Reads a file. A missing file gives an empty profile; nullopt when the path exists but cannot
    // be read (no permission) or is no regular file (a directory, a FIFO, a device, which could
    // block or never end), so that a writer never replaces what it could not see.
    static std::optional<IniDocument> load(const QString& path);

    // The file content, with the untouched lines byte for byte as they were read.
    QByteArray toBytes() const;
    // Replaces the file atomically with toBytes(); a new file gets `newFileMode` when it is not -1.
    // False on failure, with the reason in `*error`.
    bool save(const QString& path, int newFileMode = -1, QString* error = nullptr) const;

    Encoding encoding() const { return encoding_; }
    // True for a file that starts with a UTF-16 byte-order mark but is not UTF-16 to its end
    // (an odd length, an unpaired surrogate): it is read byte by byte and never edited.
    bool isBrokenUtf16() const { return brokenUtf16_; }
    // True once an edit changed the content.
    bool isModified() const { return modified_; }

    // Section names in file order, each once (first spelling), the unnamed section left out.
    QStringList sectionNames() const;
    bool hasSection(const QString& section) const;
    // Names of the keys that have a value, in file order, each once; comments and key lines
    // without "=" are left out.
    QStringList keyNames(const QString& section) const;
    // The value of a key with quotes stripped, not cut to any length; nullopt when the section or
    // the key is absent or the key line has no "=".
    std::optional<QString> value(const QString& section, const QString& key) const;

    // Sets a key. An existing key (first match) keeps its spelling and the text up to its value;
    // a new key goes after the last key line of the section, a new section at the end of the file.
    // The value is written as storedText(value). Writes nothing when the key already reads as
    // `value`.
    // False, with nothing changed, for texts a file line cannot carry: a section or key name that
    // is empty or holds a line break, a key name that holds "=" or starts with ";" or "[", a value
    // that holds a line break.
    bool setValue(const QString& section, const QString& key, const QString& value);
    // Removes the first line of the key. False when the names cannot be valid (see setValue);
    // removing an absent key succeeds and changes nothing.
    bool removeKey(const QString& section, const QString& key);
    // Removes the first section of that name: its header and every line up to the next header.
    // An absent section succeeds and changes nothing; an empty name is refused.
    bool removeSection(const QString& section);

    // The text written after "=" for a value: the value itself, or the value in double quotes when
    // reading it bare would lose blanks at its ends or a surrounding pair of quotes.
    static QString storedText(const QString& value);

  private:
    enum class Kind { Blank, Comment, Header, Key };
    struct Line {
        QByteArray raw;  // bytes of the line without its terminator
        QByteArray eol;  // "\r\n", "\n", "\r", or empty on a last line without one
        QString text;    // decoded content
        Kind kind = Kind::Blank;
        QString name;             // section name of a header, key name of a key line
        qsizetype valuePos = -1;  // start of the value in `text`; -1 when the line has no "="
    };
    struct Span {
        qsizetype header = -1;  // index of the header line, -1 for the unnamed section
        qsizetype begin = 0;    // first line after the header
        qsizetype end = 0;      // one past the last line of the section
    };

    static void classify(Line& line);
    std::optional<Span> findSection(const QString& trimmedName) const;
    qsizetype findKey(const Span& span, const QString& trimmedKey) const;
    QByteArray encode(const QString& text) const;
    void reencodeAsUtf8();
    void ensureEncodable(const QString& text);
    void keepLatin1Texts();
    void insertLine(qsizetype at, const QString& text);
    void replaceText(qsizetype index, const QString& text);
    void changed();

    bool isUtf16() const {
        return encoding_ == Encoding::Utf16LE || encoding_ == Encoding::Utf16BE;
    }

    // Lines hold UTF-8 bytes in a UTF-16 file too; toBytes() converts them back.
    std::vector<Line> lines_;
    Encoding encoding_ = Encoding::Utf8;
    bool bom_ = false;
    // An edit could make such a file read as UTF-16, with other texts.
    bool brokenUtf16_ = false;
    bool modified_ = false;
    // The first section of each name, by case-folded name; built on the first lookup after a
    // change (so a profile is not to be read from two threads at once).
    mutable QHash<QString, Span> sectionIndex_;
    mutable bool indexed_ = false;
};

// Trims the characters the private-profile calls treat as blanks: TAB, LF, VT, FF, CR, ^Z, space.
QString TrimProfileBlanks(const QString& text);
