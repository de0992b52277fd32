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
    Status Next(std::vector<BulkField>* fields, QString* reason);

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
    // Whether the bytes of a field of the last record stay valid while the reader is open (they
    // are in the file as it stands), not only until the next record.
    bool Lasting(const BulkField& field) const {
        return data_ != nullptr && field.text.data() >= data_ && field.text.data() < data_ + size_;
    }
    QString RecordText(Span span, int limit = 1000) const;

  private:
    struct Piece {
        bool scratch;
        qsizetype offset;
        qsizetype size;
        bool null;
    };

    void AppendField(qsizetype begin, qsizetype end, bool quoted, bool copied);
    // Replaces a field of a Latin-1 file that holds characters beyond ASCII by its UTF-8 text.
    void ConvertLatin1(Piece* piece);
    Status Malformed(QString* reason, const QString& text);
    // False, with the first field that is not valid UTF-8 named in `reason`, when the record
    // just read is not valid UTF-8 text.
    bool CheckUtf8(QString* reason) const;
    void SkipToLineEnd();
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
    std::string scratch_;
    std::vector<Piece> pieces_;
};
