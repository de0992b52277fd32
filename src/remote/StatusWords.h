#pragma once

#include <QString>

// The words of a remote site's status file, tried in this order against the beginning of its
// first line (case-sensitive): "ready" 2, "running" 1, "exchange_ready" 1, "idle" 1, "error" 0,
// "stop" 0; anything else 1.
namespace RemoteStatus {
inline constexpr short Failed = 0;
inline constexpr short KeepPolling = 1;
inline constexpr short Ready = 2;
}  // namespace RemoteStatus

// The code of a status text: 2 ready, 1 keep polling, 0 give up.
short StatusCodeOf(const QString& text);
