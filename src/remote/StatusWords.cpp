#include "remote/StatusWords.h"

#include <array>

namespace {

struct StatusWord {
    const char* word;
    short code;
};
constexpr std::array<StatusWord, 6> kStatusWords = {{
    {"ready", RemoteStatus::Ready},
    {"running", RemoteStatus::KeepPolling},
    {"exchange_ready", RemoteStatus::KeepPolling},
    {"idle", RemoteStatus::KeepPolling},
    {"error", RemoteStatus::Failed},
    {"stop", RemoteStatus::Failed},
}};

}  // namespace

short StatusCodeOf(const QString& text) {
    for (const StatusWord& s : kStatusWords) {
        if (text.startsWith(QLatin1String(s.word), Qt::CaseSensitive))
            return s.code;
    }
    return RemoteStatus::KeepPolling;
}
