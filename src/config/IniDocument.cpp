#include "config/IniDocument.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>
#include <optional>

#include "util/TextFiles.h"

namespace {

const QByteArray kUtf8Bom("\xEF\xBB\xBF");
const QByteArray kUtf16LeBom("\xFF\xFE");
const QByteArray kUtf16BeBom("\xFE\xFF");
const QByteArray kCrLf("\r\n");

// The text of a file that starts with a UTF-16 byte-order mark and is UTF-16 through to its end
// (an even length, no unpaired surrogate): one that is not would not be written back as it was
// read, so it is read byte by byte like any other file.
std::optional<QString> decodeUtf16(const QByteArray& bytes) {
    const bool le = bytes.startsWith(kUtf16LeBom);
    if ((!le && !bytes.startsWith(kUtf16BeBom)) || bytes.size() % 2 != 0)
        return std::nullopt;
    const auto kind = le ? QStringConverter::Utf16LE : QStringConverter::Utf16BE;
    QStringDecoder decoder(kind, QStringConverter::Flag::Stateless);
    const QByteArrayView body = QByteArrayView(bytes).sliced(2);
    QString text = decoder.decode(body);
    if (decoder.hasError())
        return std::nullopt;
    QStringEncoder encoder(kind, QStringConverter::Flag::Stateless);
    if (QByteArray(encoder.encode(text)) != body || QString::fromUtf8(text.toUtf8()) != text)
        return std::nullopt;
    return text;
}

bool isBlank(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x09 && u <= 0x0D) || u == 0x1A || u == 0x20;
}

QString trimRight(const QString& text) {
    qsizetype end = text.size();
    while (end > 0 && isBlank(text[end - 1]))
        --end;
    return text.left(end);
}

qsizetype skipBlanks(const QString& text, qsizetype from) {
    while (from < text.size() && isBlank(text[from]))
        ++from;
    return from;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

bool holdsLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

bool isValidSectionName(const QString& trimmed) {
    return !trimmed.isEmpty() && !holdsLineBreak(trimmed);
}

// A key name that, written as "name=value", reads back as that key.
bool isValidKeyName(const QString& trimmed) {
    return !trimmed.isEmpty() && !holdsLineBreak(trimmed) && !trimmed.contains(QLatin1Char('=')) &&
           !trimmed.startsWith(QLatin1Char(';')) && !trimmed.startsWith(QLatin1Char('['));
}

// A U+FEFF at the start of a line is text like any other (the file's own byte-order mark is
// taken off before lines are split), so it is not dropped as QString::fromUtf8 would.
QString decodeUtf8Line(const QByteArray& raw) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                       QStringConverter::Flag::ConvertInitialBom);
    return decoder.decode(raw);
}

QString stripQuotePair(const QString& value) {
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == QLatin1Char('"') || first == QLatin1Char('\'')) && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

// The value of a key line whose text after "=" (leading blanks skipped) is `stored`.
QString readText(const QString& stored) {
    return stripQuotePair(trimRight(stored));
}

}  // namespace

QString IniDocument::storedText(const QString& value) {
    const bool needsQuotes = TrimProfileBlanks(value) != value || stripQuotePair(value) != value;
    return needsQuotes ? QLatin1Char('"') + value + QLatin1Char('"') : value;
}

QString TrimProfileBlanks(const QString& text) {
    const qsizetype begin = skipBlanks(text, 0);
    return trimRight(text.mid(begin));
}

IniDocument IniDocument::fromBytes(const QByteArray& fileBytes) {
    IniDocument profile;
    QByteArray bytes = fileBytes;
    qsizetype pos = 0;
    std::optional<QString> utf16 = decodeUtf16(fileBytes);
    if (utf16) {
        // Held as UTF-8 lines like any other file; toBytes() gives back UTF-16.
        profile.bom_ = true;
        profile.encoding_ =
            fileBytes.startsWith(kUtf16LeBom) ? Encoding::Utf16LE : Encoding::Utf16BE;
        bytes = utf16->toUtf8();
    } else {
        profile.brokenUtf16_ = bytes.startsWith(kUtf16LeBom) || bytes.startsWith(kUtf16BeBom);
        if (bytes.startsWith(kUtf8Bom)) {
            profile.bom_ = true;
            pos = kUtf8Bom.size();
        }
        QStringDecoder check(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        const QString decoded = check.decode(QByteArrayView(bytes).sliced(pos));
        Q_UNUSED(decoded);
        profile.encoding_ = check.hasError() ? Encoding::Latin1 : Encoding::Utf8;
    }

    const qsizetype n = bytes.size();
    while (pos < n) {
        qsizetype end = pos;
        while (end < n && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        Line line;
        line.raw = bytes.mid(pos, end - pos);
        if (end < n) {
            const bool crLf = bytes[end] == '\r' && end + 1 < n && bytes[end + 1] == '\n';
            line.eol = bytes.mid(end, crLf ? 2 : 1);
        }
        line.text = profile.encoding_ == Encoding::Latin1 ? QString::fromLatin1(line.raw)
                                                          : decodeUtf8Line(line.raw);
        classify(line);
        pos = end + line.eol.size();
        profile.lines_.push_back(std::move(line));
    }
    return profile;
}

std::optional<IniDocument> IniDocument::load(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return IniDocument();
    // Only a regular file has an end.
    QFile file;
    if (!OpenRegularFile(path, file, nullptr) || file.size() > kMostBytes)
        return std::nullopt;
    const QByteArray bytes = file.read(kMostBytes + 1);
    if (file.error() != QFileDevice::NoError || bytes.size() > kMostBytes)
        return std::nullopt;
    return fromBytes(bytes);
}

QByteArray IniDocument::toBytes() const {
    QByteArray out;
    if (bom_ && !isUtf16())
        out += kUtf8Bom;
    for (const Line& line : lines_) {
        out += line.raw;
        out += line.eol;
    }
    if (!isUtf16())
        return out;
    QStringEncoder encoder(
        encoding_ == Encoding::Utf16LE ? QStringConverter::Utf16LE : QStringConverter::Utf16BE,
        QStringConverter::Flag::Stateless);
    return (encoding_ == Encoding::Utf16LE ? kUtf16LeBom : kUtf16BeBom) +
           QByteArray(encoder.encode(QString::fromUtf8(out)));
}

bool IniDocument::save(const QString& path, int newFileMode, QString* error) const {
    return WriteFileAtomically(path, toBytes(), newFileMode, error);
}

void IniDocument::classify(Line& line) {
    line.name.clear();
    line.valuePos = -1;
    const QString trimmed = TrimProfileBlanks(line.text);
    if (trimmed.isEmpty()) {
        line.kind = Kind::Blank;
    } else if (trimmed.front() == QLatin1Char('[') && trimmed.lastIndexOf(QLatin1Char(']')) > 0) {
        line.kind = Kind::Header;
        line.name = TrimProfileBlanks(trimmed.mid(1, trimmed.lastIndexOf(QLatin1Char(']')) - 1));
    } else if (trimmed.front() == QLatin1Char(';')) {
        line.kind = Kind::Comment;
    } else {
        line.kind = Kind::Key;
        const qsizetype eq = line.text.indexOf(QLatin1Char('='));
        if (eq < 0) {
            line.name = trimmed;
        } else {
            line.name = TrimProfileBlanks(line.text.left(eq));
            line.valuePos = skipBlanks(line.text, eq + 1);
        }
    }
}

std::optional<IniDocument::Span> IniDocument::findSection(const QString& trimmedName) const {
    const qsizetype count = static_cast<qsizetype>(lines_.size());
    auto nextHeader = [&](qsizetype from) {
        while (from < count && lines_[from].kind != Kind::Header)
            ++from;
        return from;
    };
    // The lines before the first header always form the first section, named "".
    if (trimmedName.isEmpty())
        return Span{-1, 0, nextHeader(0)};
    // One pass over the lines indexes every section, so that reading many keys of a long file
    // does not scan it once per key. Any edit drops the index.
    if (!indexed_) {
        sectionIndex_.clear();
        for (qsizetype i = nextHeader(0); i < count;) {
            const qsizetype end = nextHeader(i + 1);
            const QString folded = lines_[i].name.toCaseFolded();
            if (!sectionIndex_.contains(folded))
                sectionIndex_.insert(folded, Span{i, i + 1, end});
            i = end;
        }
        indexed_ = true;
    }
    const auto it = sectionIndex_.constFind(trimmedName.toCaseFolded());
    if (it == sectionIndex_.constEnd())
        return std::nullopt;
    return *it;
}

qsizetype IniDocument::findKey(const Span& span, const QString& trimmedKey) const {
    for (qsizetype i = span.begin; i < span.end; ++i) {
        if (lines_[i].kind == Kind::Key && sameName(lines_[i].name, trimmedKey))
            return i;
    }
    return -1;
}

QStringList IniDocument::sectionNames() const {
    QStringList names;
    QSet<QString> seen;
    for (const Line& line : lines_) {
        if (line.kind != Kind::Header || line.name.isEmpty())
            continue;
        if (!seen.contains(line.name.toCaseFolded())) {
            seen.insert(line.name.toCaseFolded());
            names << line.name;
        }
    }
    return names;
}

bool IniDocument::hasSection(const QString& section) const {
    return findSection(TrimProfileBlanks(section)).has_value();
}

QStringList IniDocument::keyNames(const QString& section) const {
    QStringList names;
    const auto span = findSection(TrimProfileBlanks(section));
    if (!span)
        return names;
    QSet<QString> seen;
    for (qsizetype i = span->begin; i < span->end; ++i) {
        const Line& line = lines_[i];
        if (line.kind != Kind::Key)
            continue;
        const QString folded = line.name.toCaseFolded();
        if (seen.contains(folded))
            continue;
        seen.insert(folded);
        // Only the first line of a name counts; when it has no "=", the key reads as absent.
        if (line.valuePos >= 0)
            names << line.name;
    }
    return names;
}

std::optional<QString> IniDocument::value(const QString& section, const QString& key) const {
    const auto span = findSection(TrimProfileBlanks(section));
    if (!span)
        return std::nullopt;
    const qsizetype index = findKey(*span, TrimProfileBlanks(key));
    if (index < 0 || lines_[index].valuePos < 0)
        return std::nullopt;
    const Line& line = lines_[index];
    return readText(line.text.mid(line.valuePos));
}

QByteArray IniDocument::encode(const QString& text) const {
    return encoding_ == Encoding::Latin1 ? text.toLatin1() : text.toUtf8();
}

void IniDocument::reencodeAsUtf8() {
    encoding_ = Encoding::Utf8;
    for (Line& line : lines_)
        line.raw = line.text.toUtf8();
    modified_ = true;
}

// A Latin-1 file that must take a character outside Latin-1 becomes a UTF-8 file: every line is
// re-encoded, so its text stays the same for every later reader.
void IniDocument::ensureEncodable(const QString& text) {
    if (encoding_ == Encoding::Latin1 &&
        std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; }))
        reencodeAsUtf8();
}

// Removing or replacing the lines that made a file invalid UTF-8 can leave bytes above 127 that
// a reader would now take as UTF-8, seeing other texts. Such a file is re-encoded as UTF-8 so
// that every line keeps its text.
void IniDocument::keepLatin1Texts() {
    if (encoding_ != Encoding::Latin1)
        return;
    QByteArray body;
    for (const Line& line : lines_)
        body += line.raw + line.eol;
    if (std::all_of(body.begin(), body.end(), [](char c) { return uchar(c) < 0x80; }))
        return;
    QStringDecoder check(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString decoded = check.decode(body);
    Q_UNUSED(decoded);
    if (!check.hasError())
        reencodeAsUtf8();
}

void IniDocument::changed() {
    modified_ = true;
    indexed_ = false;
}

void IniDocument::insertLine(qsizetype at, const QString& text) {
    // Only the last line can lack a terminator; a line after it needs one.
    if (at > 0 && lines_[at - 1].eol.isEmpty())
        lines_[at - 1].eol = kCrLf;
    Line line;
    line.text = text;
    line.raw = encode(text);
    line.eol = kCrLf;
    classify(line);
    lines_.insert(lines_.begin() + at, std::move(line));
    changed();
}

void IniDocument::replaceText(qsizetype index, const QString& text) {
    Line& line = lines_[index];
    line.text = text;
    line.raw = encode(text);
    classify(line);
    changed();
}

bool IniDocument::setValue(const QString& section, const QString& key, const QString& value) {
    const QString sectionName = TrimProfileBlanks(section);
    const QString keyName = TrimProfileBlanks(key);
    if (brokenUtf16_ || !isValidSectionName(sectionName) || !isValidKeyName(keyName) ||
        holdsLineBreak(value))
        return false;
    const QString newValue = storedText(value);

    const auto span = findSection(sectionName);
    if (!span) {
        ensureEncodable(sectionName + keyName + newValue);
        const qsizetype end = static_cast<qsizetype>(lines_.size());
        insertLine(end, QLatin1Char('[') + sectionName + QLatin1Char(']'));
        insertLine(end + 1, keyName + QLatin1Char('=') + newValue);
        return true;
    }

    const qsizetype index = findKey(*span, keyName);
    if (index >= 0) {
        const Line& line = lines_[index];
        // A value that already reads back the same (in quotes or not) is left as it stands.
        if (line.valuePos >= 0 && readText(line.text.mid(line.valuePos)) == value)
            return true;
        ensureEncodable(newValue);
        // The name as spelled in the file, and everything up to the value, stay as they are.
        const QString prefix = line.valuePos >= 0 ? line.text.left(line.valuePos)
                                                  : trimRight(line.text) + QLatin1Char('=');
        replaceText(index, prefix + newValue);
        keepLatin1Texts();
        return true;
    }

    qsizetype at = span->begin;
    for (qsizetype i = span->begin; i < span->end; ++i) {
        if (lines_[i].kind == Kind::Key)
            at = i + 1;
    }
    ensureEncodable(keyName + newValue);
    insertLine(at, keyName + QLatin1Char('=') + newValue);
    return true;
}

bool IniDocument::removeKey(const QString& section, const QString& key) {
    const QString sectionName = TrimProfileBlanks(section);
    const QString keyName = TrimProfileBlanks(key);
    if (brokenUtf16_ || sectionName.isEmpty() || keyName.isEmpty())
        return false;
    const auto span = findSection(sectionName);
    if (!span)
        return true;
    const qsizetype index = findKey(*span, keyName);
    if (index < 0)
        return true;
    lines_.erase(lines_.begin() + index);
    changed();
    keepLatin1Texts();
    return true;
}

bool IniDocument::removeSection(const QString& section) {
    const QString sectionName = TrimProfileBlanks(section);
    if (brokenUtf16_ || sectionName.isEmpty())
        return false;
    const auto span = findSection(sectionName);
    if (!span)
        return true;
    lines_.erase(lines_.begin() + span->header, lines_.begin() + span->end);
    changed();
    keepLatin1Texts();
    return true;
}
