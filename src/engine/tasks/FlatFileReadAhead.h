#pragma once

#include <QString>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "db/BulkRowSink.h"
#include "engine/tasks/FlatFileReader.h"

// The records of an open flat file, read ahead on a thread of its own so that reading the file
// and storing its rows keep two cores busy. They are handed out one at a time in the file's
// order, each as the reader itself gives it. The reader must stay open while this object lives
// and is not to be used meanwhile.
class FlatFileReadAhead {
  public:
    explicit FlatFileReadAhead(FlatFileReader& reader);
    ~FlatFileReadAhead();  // stops the reading thread
    FlatFileReadAhead(const FlatFileReadAhead&) = delete;
    FlatFileReadAhead& operator=(const FlatFileReadAhead&) = delete;

    // The next record, as FlatFileReader::Next gives it: on Record `fields` points at its
    // `count` fields, valid until the next call; on Malformed `reason` says what is wrong.
    FlatFileReader::Status Next(const BulkField** fields, int* count, QString* reason);
    // From the next records read on, a plain record is only looked through
    // (FlatFileReader::Skim): Next gives it with its `count` and null `fields`; PlainRecord has
    // its bytes, from which SplitPlainRecord takes its fields. `false` takes them apart again.
    void SkimPlainRecords(bool skim = true) { skimming_.store(skim, std::memory_order_relaxed); }

    // The line on which the last record began (1-based), and its raw text.
    qint64 RecordLine() const;
    QString RecordText() const;
    FlatFileReader::Span RecordSpan() const {
        return record_ ? record_->span : FlatFileReader::Span{};
    }
    // The bytes of the last record in the file when it is plain CSV (FlatFileReader::Plain),
    // else empty. They stay valid while the reader is open.
    QByteArrayView PlainRecord() const {
        return record_ && record_->plain ? reader_.Bytes(record_->span) : QByteArrayView();
    }

  private:
    struct Record {
        FlatFileReader::Status status;
        qint64 line;
        FlatFileReader::Span span;
        int firstField;  // -1: skimmed, no fields taken
        int fieldCount;
        bool plain;
        QString reason;
    };
    // Records read in one go. A field points into the file, or into `bytes` when the reader
    // made its text (a quoted field with doubled quotes, a converted code page).
    struct Run {
        std::vector<Record> records;
        std::vector<BulkField> fields;
        std::vector<std::pair<size_t, size_t>> copied;  // field, offset of its bytes in `bytes`
        std::string bytes;
        bool last = false;  // the end of the file follows
    };

    void ReadFile(FlatFileReader* reader);
    void Fill(FlatFileReader* reader, Run* run) const;

    const FlatFileReader& reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<Run>> filled_;  // read, not handed out yet
    std::vector<std::unique_ptr<Run>> spare_;  // handed out, to be filled again
    bool stopping_ = false;
    std::atomic<bool> skimming_{false};
    std::unique_ptr<Run> current_;
    size_t next_ = 0;  // index of the next record of current_
    const Record* record_ = nullptr;
    std::thread thread_;
};
