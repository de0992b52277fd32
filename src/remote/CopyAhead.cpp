#include "remote/CopyAhead.h"

CopyAhead::CopyAhead(std::vector<QString> sources, int dirFd, WriteBehind& writeBehind)
    : sources_(std::move(sources)),
      dirFd_(dirFd),
      writeBehind_(writeBehind),
      done_(sources_.size()) {
    for (size_t i = 0; i < std::min(kThreads, sources_.size()); ++i)
        threads_.emplace_back([this] { run(); });
}

CopyAhead::~CopyAhead() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_)
        thread.join();
}

CopyAhead::Copy CopyAhead::TakeNext() {
    std::unique_lock<std::mutex> lock(mutex_);
    const size_t index = taken_;
    changed_.wait(lock, [&] { return done_[index].has_value(); });
    Copy copy = std::move(*done_[index]);
    done_[index].reset();
    ++taken_;
    lock.unlock();
    changed_.notify_all();  // a thread may start the next copy
    return copy;
}

void CopyAhead::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] {
            return stop_ || started_ >= sources_.size() || started_ < taken_ + kAhead;
        });
        if (stop_ || started_ >= sources_.size())
            return;
        const size_t index = started_++;
        lock.unlock();
        Copy copy;
        copy.start = QDateTime::currentDateTimeUtc();
        copy.ok = CopyToUnnamed(sources_[index], dirFd_, copy.file, copy.bytes, writeBehind_, stop_,
                                &copy.reason);
        copy.end = QDateTime::currentDateTimeUtc();
        lock.lock();
        done_[index] = std::move(copy);
        changed_.notify_all();
    }
}
