// Looking through a plain record without taking it apart (FlatFileReader::Skim): a bulk load that
// sends such records to the server as they stand needs only to know where each ends, how many
// fields it has and that the server reads it as those fields.

#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/tasks/FlatFileReader.h"

bool FlatFileReader::SkimPlain(int* count) {
#if defined(__SSE2__)
    const char delimiter = format_.delimiter, quote = format_.quote;
    // (A delimiter or quote beyond ASCII could cut a UTF-8 sequence: such a file is read by Read.)
    if (quote == '\0' || format_.codePage != CodePage::Utf8 ||
        static_cast<unsigned char>(delimiter) >= 0x80 || static_cast<unsigned char>(quote) >= 0x80)
        return false;
    if (pos_ + 1 < size_ && data_[pos_] == '\\' && data_[pos_ + 1] == '.')
        return false;  // "\." begins the line that ends the server's data
    // Sixteen bytes at a time: the delimiters, line feeds, quote characters, carriage returns and
    // NUL bytes among them are the set bits of one mask, taken in order; anything unusual leaves
    // the record to Read.
    const __m128i delimiters = _mm_set1_epi8(delimiter), feeds = _mm_set1_epi8('\n'),
                  quotes = _mm_set1_epi8(quote), returns = _mm_set1_epi8('\r'),
                  zero = _mm_setzero_si128();
    int fields = 1;
    bool high = false;                 // bytes beyond ASCII: the record is checked as UTF-8
    bool quoted = false;               // inside a quoted field
    qsizetype fieldBegin = pos_;       // where the current field begins
    qsizetype closed = -1, skip = -1;  // its closing quote; the second quote of a doubled one
    for (qsizetype at = pos_; at + 16 <= size_; at += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data_ + at));
        unsigned marks = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(v, delimiters), _mm_cmpeq_epi8(v, feeds)),
            _mm_or_si128(_mm_cmpeq_epi8(v, quotes),
                         _mm_or_si128(_mm_cmpeq_epi8(v, returns), _mm_cmpeq_epi8(v, zero))))));
        high = high || _mm_movemask_epi8(v) != 0;
        for (; marks != 0; marks &= marks - 1) {
            const qsizetype mark = at + std::countr_zero(marks);
            const char c = data_[mark];
            if (mark == skip)
                continue;
            if (quoted) {  // a delimiter is text; a line break or NUL is left to Read
                if (c == quote && mark + 1 < size_ && data_[mark + 1] == quote) {
                    skip = mark + 1;
                } else if (c == quote) {
                    quoted = false;
                    closed = mark;
                } else if (c != delimiter) {
                    return false;
                }
                continue;
            }
            if (closed >= 0) {  // only the field's end may follow its closing quote
                if (mark != closed + 1)
                    return false;
                closed = -1;
            }
            if (c == delimiter) {
                ++fields;
                fieldBegin = mark + 1;
            } else if (c == '\n') {
                const qsizetype begin = pos_, end = mark + 1;
                if (high && !ValidText(data_ + begin, end - begin))
                    return false;
                pos_ = end;
                *count = fields;
                return true;
            } else if (c == quote) {
                if (mark != fieldBegin)  // a quote character inside an unquoted field
                    return false;
                quoted = true;
            } else if (c != '\r' || mark + 1 >= size_ || data_[mark + 1] != '\n') {
                return false;  // a NUL, or a carriage return that does not end the line
            }
        }
    }
#else
    (void)count;
#endif
    return false;
}
