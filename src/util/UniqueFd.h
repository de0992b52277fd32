#pragma once

#include <unistd.h>

// A file descriptor that is closed with its owner.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    // Closes the descriptor held so far (a failed close of it goes unnoticed) and takes `other`'s.
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = other.release();
        }
        return *this;
    }
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Hands the descriptor over to a new owner (a QFile told to close it); -1 left here.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    // Closes now; false when the close reported an error (data not written).
    bool reset() {
        const bool ok = fd_ < 0 || ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

  private:
    int fd_;
};
