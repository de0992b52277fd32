#pragma once

#include <QString>
#include <cerrno>
#include <cstring>

// The convention for a call that can fail: it returns false (or an empty value) and, when the
// caller passed a non-null `QString* error`, says why there. SetError is the one place that
// checks the pointer; `return Fail(error, text);` ends a function on a failure.

inline void SetError(QString* error, const QString& text) {
    if (error != nullptr)
        *error = text;
}

inline bool Fail(QString* error, const QString& text) {
    SetError(error, text);
    return false;
}

// The system's text for an error number (`errno` when none is given), for the reasons above.
inline QString ErrnoText(int code = errno) {
    return QString::fromLocal8Bit(std::strerror(code));
}
