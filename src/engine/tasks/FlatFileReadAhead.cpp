#include "engine/tasks/FlatFileReadAhead.h"

namespace {

// How much is read ahead: runs of records, handed over whole, so that the two threads meet once
// a run and not once a record.
constexpr int kRuns = 4;
constexpr size_t kRunRecords = 4096;
constexpr size_t kRunBytes = 1 << 20;

}  // namespace

FlatFileReadAhead::FlatFileReadAhead(FlatFileReader& reader) : reader_(reader) {
    for (int i = 0; i < kRuns; ++i)
        spare_.push_back(std::make_unique<Run>());
    thread_ = std::thread([this, &reader] { ReadFile(&reader); });
}

FlatFileReadAhead::~FlatFileReadAhead() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void FlatFileReadAhead::ReadFile(FlatFileReader* reader) {
    for (;;) {
        std::unique_ptr<Run> run;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || !spare_.empty(); });
            if (stopping_)
                return;
            run = std::move(spare_.back());
            spare_.pop_back();
        }
        Fill(reader, run.get());
        const bool last = run->last;
        {
            std::lock_guard lock(mutex_);
            filled_.push_back(std::move(run));
        }
        changed_.notify_all();
        if (last)
            return;
    }
}

void FlatFileReadAhead::Fill(FlatFileReader* reader, Run* run) const {
    run->records.clear();
    run->fields.clear();
    run->copied.clear();
    run->bytes.clear();
    run->last = false;
    QString reason;
    while (run->records.size() < kRunRecords && run->bytes.size() < kRunBytes) {
        const size_t first = run->fields.size();
        int count = 0;
        bool skimmed = false;
        const FlatFileReader::Status status =
            skimming_.load(std::memory_order_relaxed)
                ? reader->Skim(&run->fields, &count, &skimmed, &reason)
                : reader->Read(&run->fields, &reason);
        if (status == FlatFileReader::Status::End) {
            run->last = true;
            break;
        }
        Record record{status,
                      reader->RecordLine(),
                      reader->RecordSpan(),
                      skimmed ? -1 : static_cast<int>(first),
                      skimmed ? count : static_cast<int>(run->fields.size() - first),
                      reader->Plain(),
                      QString()};
        if (status == FlatFileReader::Status::Malformed)
            record.reason = reason;
        for (const size_t made : reader->MadeFields()) {  // kept beside the run
            const BulkField& f = run->fields[first + made];
            run->copied.push_back({first + made, run->bytes.size()});
            run->bytes.append(f.text.data(), static_cast<size_t>(f.text.size()));
        }
        run->records.push_back(std::move(record));
    }
    // The copied bytes are where they stay only now that the run is full.
    for (const auto& [field, offset] : run->copied) {
        BulkField& f = run->fields[field];
        f.text = QByteArrayView(run->bytes.data() + offset, f.text.size());
    }
}

FlatFileReader::Status FlatFileReadAhead::Next(const BulkField** fields, int* count,
                                               QString* reason) {
    while (!current_ || next_ >= current_->records.size()) {
        if (current_ && current_->last) {
            record_ = nullptr;
            return FlatFileReader::Status::End;
        }
        std::unique_lock lock(mutex_);
        if (current_) {
            spare_.push_back(std::move(current_));
            changed_.notify_all();
        }
        changed_.wait(lock, [this] { return !filled_.empty(); });
        current_ = std::move(filled_.front());
        filled_.pop_front();
        next_ = 0;
    }
    record_ = &current_->records[next_++];
    if (record_->status == FlatFileReader::Status::Malformed) {
        *reason = record_->reason;
        return record_->status;
    }
    *fields = record_->firstField < 0 ? nullptr : current_->fields.data() + record_->firstField;
    *count = record_->fieldCount;
    return record_->status;
}

qint64 FlatFileReadAhead::RecordLine() const {
    return record_ ? record_->line : 0;
}

QString FlatFileReadAhead::RecordText() const {
    return record_ ? reader_.RecordText(record_->span) : QString();
}
