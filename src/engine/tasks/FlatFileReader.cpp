#include "engine/tasks/FlatFileReader.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "db/PlainCsvRecord.h"
#include "util/Errors.h"
#include "util/TextFiles.h"

namespace {

bool ValidUtf8(const unsigned char* s, size_t n) {
    size_t i = 0;
    while (i < n) {
        if (i + 8 <= n) {  // eight ASCII bytes at a time
            uint64_t word;
            std::memcpy(&word, s + i, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        char32_t code = 0;
        const int length = Utf8SequenceAt(s + i, s + n, &code);
        if (length == 0)
            return false;
        i += static_cast<size_t>(length);
    }
    return true;
}

enum : unsigned { kHighBytes = 1, kCrOrNul = 2, kQuotes = 4 };

// Which of these kinds of byte `s` holds: bytes beyond ASCII, carriage returns or NUL bytes,
// `quote` characters.
unsigned ByteKinds(const char* s, size_t n, char quote) {
    unsigned found = 0;
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128(), cr = _mm_set1_epi8('\r'), q = _mm_set1_epi8(quote);
    __m128i high = zero, crOrNul = zero, quotes = zero;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        high = _mm_or_si128(high, v);
        crOrNul =
            _mm_or_si128(crOrNul, _mm_or_si128(_mm_cmpeq_epi8(v, cr), _mm_cmpeq_epi8(v, zero)));
        quotes = _mm_or_si128(quotes, _mm_cmpeq_epi8(v, q));
    }
    found |= (_mm_movemask_epi8(high) ? kHighBytes : 0u) |
             (_mm_movemask_epi8(crOrNul) ? kCrOrNul : 0u) |
             (_mm_movemask_epi8(quotes) ? kQuotes : 0u);
#endif
    for (; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c >= 0x80)
            found |= kHighBytes;
        else if (c == '\r' || c == 0)
            found |= kCrOrNul;
        else if (c == static_cast<unsigned char>(quote))
            found |= kQuotes;
    }
    return found;
}

bool HasHighBytes(const char* s, qsizetype n) {
    for (qsizetype i = 0; i < n; ++i) {
        if (static_cast<unsigned char>(s[i]) >= 0x80)
            return true;
    }
    return false;
}

}  // namespace

bool FlatFileReader::Open(const QString& path, QString* error) {
    QString why;
    if (!OpenRegularFile(path, file_, &why))
        return Fail(error, QStringLiteral("Can not open file '%1': %2").arg(path, why));
    size_ = file_.size();
    if (size_ > 0) {
        if (uchar* mapped = file_.map(0, size_)) {
            data_ = reinterpret_cast<const char*>(mapped);
        } else {
            owned_ = file_.readAll();
            data_ = owned_.constData();
            size_ = owned_.size();
        }
    }
    pos_ = 0;
    line_ = 1;
    if (format_.codePage == CodePage::Utf8 && size_ >= 3 &&
        std::memcmp(data_, "\xEF\xBB\xBF", 3) == 0)
        pos_ = 3;
    return true;
}

void FlatFileReader::AppendField(qsizetype begin, qsizetype end, bool quoted, bool made) {
    if (format_.codePage == CodePage::Latin1) {
        const char* text = (made ? scratch_.data() : data_) + begin;
        if (HasHighBytes(text, end - begin)) {
            const qsizetype size = end - begin;
            begin = ConvertLatin1(text, size);
            end = static_cast<qsizetype>(scratch_.size());
            made = true;
        }
    }
    if (made) {  // pointed at once the record is whole: scratch_ may still move
        madeFields_.push_back(out_->size() - first_);
        madeText_.push_back({begin, end - begin});
        out_->emplace_back();
        return;
    }
    out_->push_back(BulkField{QByteArrayView(data_ + begin, end - begin), !quoted && end == begin});
}

qsizetype FlatFileReader::ConvertLatin1(const char* text, qsizetype size) {
    // Each byte is the character of that code; copied out as UTF-8.
    std::string converted;
    converted.reserve(static_cast<size_t>(size) * 2);
    for (qsizetype i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            converted += static_cast<char>(c);
        } else {
            converted += static_cast<char>(0xC0 | (c >> 6));
            converted += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    const qsizetype offset = static_cast<qsizetype>(scratch_.size());
    scratch_ += converted;
    return offset;
}

bool FlatFileReader::CheckUtf8(QString* reason) const {
    // ASCII delimiters, quotes and line ends are never part of a longer UTF-8 sequence, so a
    // record is then valid text as a whole exactly when each of its fields is; only a record that
    // is not valid is looked at field by field, to name the first field that is not. A delimiter
    // or quote beyond ASCII (a package allows none) could cut a valid sequence into invalid
    // fields, so then every field is looked at.
    const bool asciiMarks = static_cast<unsigned char>(format_.delimiter) < 0x80 &&
                            static_cast<unsigned char>(format_.quote) < 0x80;
    if (asciiMarks && ValidUtf8(reinterpret_cast<const unsigned char*>(data_ + recordBegin_),
                                static_cast<size_t>(pos_ - recordBegin_)))
        return true;
    for (size_t i = first_; i < out_->size(); ++i) {
        const QByteArrayView text = (*out_)[i].text;
        if (!ValidUtf8(reinterpret_cast<const unsigned char*>(text.data()),
                       static_cast<size_t>(text.size()))) {
            *reason = QStringLiteral("field %1 is not valid UTF-8 text").arg(i - first_ + 1);
            return false;
        }
    }
    return true;
}

bool FlatFileReader::CheckRecord(unsigned found, QString* reason) {
    const char* bytes = data_ + recordBegin_;
    const qsizetype size = recordEnd_ - recordBegin_;
    if (format_.codePage != CodePage::Utf8)
        return true;
    if ((found & kHighBytes) != 0 && !CheckUtf8(reason))
        return false;
    plain_ = format_.quote != '\0' && size > 0 && bytes[size - 1] == '\n' &&
             !(size >= 2 && bytes[0] == '\\' && bytes[1] == '.');
    // A carriage return only as the CR of a CR LF line end, and no NUL.
    if (plain_ && (found & kCrOrNul) != 0)
        plain_ = size >= 2 && bytes[size - 2] == '\r' &&
                 std::count(bytes, bytes + size, '\r') == 1 &&
                 std::memchr(bytes, 0, static_cast<size_t>(size)) == nullptr;
    // A quote character that no quoted field took stands inside an unquoted field.
    if (plain_ && (found & kQuotes) != 0)
        plain_ = std::count(bytes, bytes + size, format_.quote) == quotesTaken_;
    return true;
}

FlatFileReader::Status FlatFileReader::Malformed(QString* reason, const QString& text) {
    out_->resize(first_);
    madeFields_.clear();
    recordEnd_ = pos_;
    *reason = text;
    return Status::Malformed;
}

qsizetype FlatFileReader::FieldEnd(qsizetype at) const {
    // Eight bytes at a time: a byte equal to the delimiter or a line feed is a zero byte of the
    // word xor-ed with that byte repeated, and the lowest zero byte is found exactly.
    constexpr uint64_t ones = 0x0101010101010101ULL, highs = 0x8080808080808080ULL;
    const uint64_t delimiters = ones * static_cast<unsigned char>(format_.delimiter);
    const uint64_t feeds = ones * static_cast<unsigned char>('\n');
    // Only on little-endian machines: there the lowest zero byte is also the first in memory.
    for (; std::endian::native == std::endian::little && at + 8 <= size_; at += 8) {
        uint64_t word;
        std::memcpy(&word, data_ + at, 8);
        const uint64_t a = word ^ delimiters, b = word ^ feeds;
        const uint64_t hits = (((a - ones) & ~a) | ((b - ones) & ~b)) & highs;
        if (hits != 0)
            return at + (std::countr_zero(hits) >> 3);
    }
    while (at < size_ && data_[at] != format_.delimiter && data_[at] != '\n')
        ++at;
    return at;
}

void FlatFileReader::SkipToLineEnd() {
    const void* hit = std::memchr(data_ + pos_, '\n', static_cast<size_t>(size_ - pos_));
    if (!hit) {
        pos_ = size_;
        return;
    }
    pos_ = static_cast<const char*>(hit) - data_ + 1;
    ++line_;
}

bool FlatFileReader::ReadFast(unsigned* kinds) {
#if defined(__SSE2__)
    // Sixteen bytes at a time: the delimiters, line feeds and quote characters among them are the
    // set bits of one mask, taken in order; the other bytes that matter only say something is
    // there.
    const char delimiter = format_.delimiter, quote = format_.quote;
    const __m128i delimiters = _mm_set1_epi8(delimiter), feeds = _mm_set1_epi8('\n'),
                  quotes = _mm_set1_epi8(quote), returns = _mm_set1_epi8('\r'),
                  zero = _mm_setzero_si128();
    unsigned found = 0;
    qsizetype fieldBegin = pos_;
    qsizetype opened = -1, closed = -1;  // the quotes of the current field, when quoted
    qsizetype skip = -1;                 // the second quote of a doubled one
    bool doubled = false;                // the current field holds a doubled quote
    const bool utf8 = format_.codePage == CodePage::Utf8;
    auto append = [&](qsizetype begin, qsizetype end, bool quoted) {
        if (utf8)  // the text as it stands in the file
            out_->push_back(
                BulkField{QByteArrayView(data_ + begin, end - begin), !quoted && end == begin});
        else
            AppendField(begin, end, quoted, false);
    };
    for (qsizetype at = pos_; at + 16 <= size_; at += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data_ + at));
        unsigned marks = static_cast<unsigned>(_mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, delimiters), _mm_cmpeq_epi8(v, feeds)),
                         _mm_cmpeq_epi8(v, quotes))));
        const unsigned crOrNul = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, returns), _mm_cmpeq_epi8(v, zero))));
        const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
        for (; marks != 0; marks &= marks - 1) {
            const qsizetype mark = at + std::countr_zero(marks);
            const char c = data_[mark];
            if (mark == skip)  // the second quote of a doubled one
                continue;
            if (opened >= 0) {  // in a quoted field, a delimiter is text; a line feed is left
                                // to the general way (it counts lines)
                if (c == '\n')
                    break;
                if (c == quote && mark + 1 < size_ && data_[mark + 1] == quote) {
                    skip = mark + 1;
                    doubled = true;
                } else if (c == quote) {
                    closed = mark;
                    opened = -1;
                }
                continue;
            }
            if (c == '\n' || c == delimiter) {
                qsizetype begin = fieldBegin, end = mark;
                const bool quoted = closed >= 0;
                if (quoted) {  // the closing quote ends the field (before CR LF at the end)
                    if (mark != closed + 1 &&
                        !(c == '\n' && mark == closed + 2 && data_[closed + 1] == '\r'))
                        break;  // text after the closing quote
                    begin = fieldBegin + 1;
                    end = closed;
                    closed = -1;
                } else if (c == '\n' && end > fieldBegin && data_[end - 1] == '\r') {
                    --end;
                }
                if (doubled) {  // its text without the doubled quotes, made
                    const qsizetype made = static_cast<qsizetype>(scratch_.size());
                    AppendUndoubled(QByteArrayView(data_ + begin, end - begin), quote, &scratch_);
                    AppendField(made, static_cast<qsizetype>(scratch_.size()), true, true);
                    doubled = false;
                } else {
                    append(begin, end, quoted);
                }
                if (c == '\n') {
                    const unsigned upTo = (2u << (mark - at)) - 1;  // the bytes of this record
                    found |= ((crOrNul & upTo) != 0 ? kCrOrNul : 0u) |
                             ((high & upTo) != 0 ? kHighBytes : 0u);
                    pos_ = mark + 1;
                    ++line_;
                    *kinds = found;
                    return true;
                }
                fieldBegin = mark + 1;
                continue;
            }
            // A quote character opens a field that begins with it; anywhere else it is left to
            // the general way.
            if (quote == '\0' || mark != fieldBegin || closed >= 0)
                break;
            opened = mark;
        }
        if (marks != 0)
            break;
        found |= (crOrNul != 0 ? kCrOrNul : 0u) | (high != 0 ? kHighBytes : 0u);
    }
    // The general way reads the record: the end of the file is near, or the record has what only
    // it reads.
    out_->resize(first_);
    madeFields_.clear();
    madeText_.clear();
    scratch_.clear();
#else
    (void)kinds;
#endif
    return false;
}

bool FlatFileReader::SkipEmptyLines() {
    while (pos_ < size_) {
        if (data_[pos_] == '\n') {
            ++pos_;
            ++line_;
        } else if (data_[pos_] == '\r' && pos_ + 1 < size_ && data_[pos_ + 1] == '\n') {
            pos_ += 2;
            ++line_;
        } else {
            break;
        }
    }
    return pos_ < size_;
}

bool FlatFileReader::ValidText(const char* text, qsizetype size) {
    return ValidUtf8(reinterpret_cast<const unsigned char*>(text), static_cast<size_t>(size));
}

FlatFileReader::Status FlatFileReader::Skim(std::vector<BulkField>* fields, int* count,
                                            bool* skimmed, QString* reason) {
    *skimmed = false;
    reason->clear();
    if (!SkipEmptyLines())
        return Status::End;
    const qsizetype begin = pos_;
    if (SkimPlain(count)) {
        recordBegin_ = begin;
        recordEnd_ = pos_;
        recordLine_ = line_++;
        plain_ = true;
        madeFields_.clear();
        *skimmed = true;
        return Status::Record;
    }
    const size_t first = fields->size();
    const Status status = Read(fields, reason);
    *count = static_cast<int>(fields->size() - first);
    return status;
}

FlatFileReader::Status FlatFileReader::Read(std::vector<BulkField>* fields, QString* reason) {
    out_ = fields;
    first_ = fields->size();
    madeFields_.clear();
    madeText_.clear();
    quotesTaken_ = 0;
    scratch_.clear();
    reason->clear();
    plain_ = false;
    if (!SkipEmptyLines())
        return Status::End;
    recordBegin_ = pos_;
    recordLine_ = line_;
    const char delimiter = format_.delimiter;
    const char quote = format_.quote;
    unsigned kinds = 0;
    if (!ReadFast(&kinds)) {
        for (;;) {
            if (quote != '\0' && pos_ < size_ && data_[pos_] == quote) {
                ++pos_;
                qsizetype segment = pos_;
                const qsizetype scratchStart = static_cast<qsizetype>(scratch_.size());
                bool copied = false;
                quotesTaken_ += 2;
                qsizetype fieldBegin = pos_, fieldEnd = pos_;
                for (;;) {
                    const void* hit =
                        std::memchr(data_ + pos_, quote, static_cast<size_t>(size_ - pos_));
                    const qsizetype at = hit ? static_cast<const char*>(hit) - data_ : size_;
                    line_ += std::count(data_ + pos_, data_ + at, '\n');
                    if (!hit) {
                        pos_ = size_;
                        return Malformed(reason, QStringLiteral("a quoted field is not closed"));
                    }
                    if (at + 1 < size_ && data_[at + 1] == quote) {
                        scratch_.append(data_ + segment, static_cast<size_t>(at + 1 - segment));
                        pos_ = at + 2;
                        segment = pos_;
                        copied = true;
                        quotesTaken_ += 2;
                        continue;
                    }
                    if (copied) {
                        scratch_.append(data_ + segment, static_cast<size_t>(at - segment));
                        fieldBegin = scratchStart;
                        fieldEnd = static_cast<qsizetype>(scratch_.size());
                    } else {
                        fieldBegin = segment;
                        fieldEnd = at;
                    }
                    pos_ = at + 1;
                    break;
                }
                AppendField(fieldBegin, fieldEnd, true, copied);
                if (pos_ >= size_)
                    break;
                const char c = data_[pos_];
                if (c == delimiter) {
                    ++pos_;
                    continue;
                }
                if (c == '\n') {
                    ++pos_;
                    ++line_;
                    break;
                }
                if (c == '\r' && pos_ + 1 < size_ && data_[pos_ + 1] == '\n') {
                    pos_ += 2;
                    ++line_;
                    break;
                }
                const int field = static_cast<int>(out_->size() - first_);
                SkipToLineEnd();
                return Malformed(
                    reason,
                    QStringLiteral("text follows the closing quote of field %1").arg(field));
            }

            const qsizetype at = FieldEnd(pos_);
            qsizetype end = at;
            if ((at >= size_ || data_[at] == '\n') && end > pos_ && data_[end - 1] == '\r')
                --end;
            AppendField(pos_, end, false, false);
            if (at >= size_) {
                pos_ = size_;
                break;
            }
            pos_ = at + 1;
            if (data_[at] == '\n') {
                ++line_;
                break;
            }
        }
        kinds = ByteKinds(data_ + recordBegin_, static_cast<size_t>(pos_ - recordBegin_), quote);
    }
    recordEnd_ = pos_;
    for (size_t i = 0; i < madeFields_.size(); ++i)
        (*out_)[first_ + madeFields_[i]].text =
            QByteArrayView(scratch_.data() + madeText_[i].first, madeText_[i].second);
    if (!CheckRecord(kinds, reason)) {
        out_->resize(first_);
        madeFields_.clear();
        return Status::Malformed;
    }
    return Status::Record;
}

QString FlatFileReader::RecordText(Span span, int limit) const {
    qsizetype end = span.end;
    while (end > span.begin && (data_[end - 1] == '\n' || data_[end - 1] == '\r'))
        --end;
    const qsizetype size = std::min<qsizetype>(end - span.begin, qsizetype(limit) * 4);
    QString text = format_.codePage == CodePage::Latin1
                       ? QString::fromLatin1(data_ + span.begin, size)
                       : QString::fromUtf8(data_ + span.begin, size);
    if (text.size() > limit)
        text.truncate(limit);
    return text;
}
