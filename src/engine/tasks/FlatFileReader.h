#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <algorithm>
#include <string>
#include <vector>

#include "db/BulkRowSink.h"
#include "engine/PackageDocument.h"

// Reads the records of a delimited flat file. Fields are separated by a one-byte delimiter and
// may be enclosed in the quote character, inside which delimiters, line breaks and doubled quote
// characters stand for themselves. Records end with LF or CR LF; empty lines are skipped. The
// text is handed out as UTF-8: a Latin-1 file is converted, a UTF-8 file is checked (and a byte
// order mark at its start dropped). The file is mapped into memory, not read line by line.
class FlatFileReader {
  public:
    struct Format {
        char delimiter = ',';
        char quote = '"';  // '\0': no quoting
        CodePage codePage = CodePage::Utf8;
    };

    enum class Status { Record, Malformed, End };

    explicit FlatFileReader(const Format& format) : format_(format) {}

    bool Open(const QString& path, QString* error);

    // The next record. Record: `fields` holds it. Malformed: `reason` says what is wrong and the
    // reader has moved past the record. End: no more records.
    Status Next(std::vector<BulkField>* fields, QString* reason) {
        fields->clear();
        return Read(fields, reason);
    }
    // The same, the record's fields appended to `fields` (which keeps what it held before them).
    Status Read(std::vector<BulkField>* fields, QString* reason);
    // The next record as Read reads it, except that a plain record (Plain) is only looked
    // through, not taken apart: `*skimmed` is set, `*count` is the number of its fields and
    // `fields` stays as it was (its fields are had again from its bytes by SplitPlainRecord). Any
    // other record is read by Read, its fields appended to `fields` and counted in `*count`.
    Status Skim(std::vector<BulkField>* fields, int* count, bool* skimmed, QString* reason);
    // Of the fields of the last record, the ones (counted from its first field) whose text the
    // reader made (a quoted field with doubled quotes, a converted code page): it is valid only
    // until the next record. The text of the others stays in the file while the reader is open.
    const std::vector<size_t>& MadeFields() const { return madeFields_; }

    // The record that begins at `offset` (where RecordSpan put a record read earlier), as Next
    // reads it; reading goes on from there.
    Status ReadAt(qsizetype offset, std::vector<BulkField>* fields, QString* reason) {
        pos_ = std::clamp<qsizetype>(offset, 0, size_);
        return Next(fields, reason);
    }

    // The line on which the last record began (1-based).
    qint64 RecordLine() const { return recordLine_; }
    // The raw text of the last record, decoded as far as possible, at most `limit` characters.
    QString RecordText(int limit = 1000) const { return RecordText(RecordSpan(), limit); }

    // Where the last record lies in the file, so that its text can be had later (from any
    // thread: the file's bytes do not change while the reader is open).
    struct Span {
        qsizetype begin = 0;
        qsizetype end = 0;
    };
    Span RecordSpan() const { return {recordBegin_, recordEnd_}; }
    QString RecordText(Span span, int limit = 1000) const;
    // The file's bytes of `span`.
    QByteArrayView Bytes(Span span) const {
        return QByteArrayView(data_ + span.begin, span.end - span.begin);
    }

    // Whether the last record, as its bytes stand in the file (Bytes(RecordSpan())), is a CSV
    // record that reads as the same fields for a reader of the CSV rules every database follows
    // (PostgreSQL's COPY in CSV form with this delimiter and quote, in data whose lines end as
    // this one does): UTF-8 text that ends with a line feed or CR LF, holds no other carriage
    // return, no NUL byte, no quote character inside an unquoted field, and does not begin with
    // the "\." that ends such data. Never for a file without a quote character or in Latin-1.
    bool Plain() const { return plain_; }

  private:
    // Appends the field at `begin`..`end` of the file, or of scratch_ when `made`.
    void AppendField(qsizetype begin, qsizetype end, bool quoted, bool made);
    // The UTF-8 text of the Latin-1 text at `text`, appended to scratch_; its offset there.
    qsizetype ConvertLatin1(const char* text, qsizetype size);
    Status Malformed(QString* reason, const QString& text);
    // False, with the first field that is not valid UTF-8 named in `reason`, when the record
    // just read is not valid UTF-8 text.
    bool CheckUtf8(QString* reason) const;
    // Looks at the record just read, of which `kinds` tells the kinds of byte it holds: checks its
    // text and finds whether it is plain.
    bool CheckRecord(unsigned kinds, QString* reason);
    // Reads the fields of a record the fast way: one whose quoted fields hold no line feed, and
    // whose other fields no quote character. False, having read nothing, for
    // any other record.
    bool ReadFast(unsigned* kinds);
    void SkipToLineEnd();
    // Moves past the empty lines at the reading position, counting them; false at the end of the
    // file.
    bool SkipEmptyLines();
    // Looks through the record at the reading position and moves past it when it is plain,
    // with its number of fields in `*count`; false, having moved nowhere, for any other record
    // (or one near the end of the file).
    bool SkimPlain(int* count);
    static bool ValidText(const char* text, qsizetype size);
    // Where the unquoted field that begins at `at` ends: the next delimiter or line feed, or the
    // end of the file.
    qsizetype FieldEnd(qsizetype at) const;

    Format format_;
    QFile file_;
    QByteArray owned_;
    const char* data_ = nullptr;
    qsizetype size_ = 0;
    qsizetype pos_ = 0;
    qint64 line_ = 1;
    qint64 recordLine_ = 0;
    qsizetype recordBegin_ = 0;
    qsizetype recordEnd_ = 0;
    bool plain_ = false;
    std::string scratch_;
    // While a record is read: where its fields go, the first of them, the text of made fields in
    // scratch_, and the quote characters that quoted fields took.
    std::vector<BulkField>* out_ = nullptr;
    size_t first_ = 0;
    std::vector<size_t> madeFields_;
    std::vector<std::pair<qsizetype, qsizetype>> madeText_;  // offset, size in scratch_
    qsizetype quotesTaken_ = 0;
};
