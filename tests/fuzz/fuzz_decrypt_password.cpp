// libFuzzer target for the password scrambler.
//
// Any bytes, read as UTF-8 (how configuration files are read) and as Latin-1 (every code 0..255),
// must decrypt without fault into printable text of the length the input implies. The printable
// bytes of the input, used as a clear text, must survive an encrypt/decrypt round trip at the
// second given by the first byte.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "config/modCypher.h"

namespace {

bool IsPrintable(QChar ch) {
    return ch.unicode() >= 32 && ch.unicode() <= 126;
}

qsizetype PrintableCount(const QString& text) {
    qsizetype n = 0;
    for (QChar ch : text) {
        n += IsPrintable(ch) ? 1 : 0;
    }
    return n;
}

void CheckDecrypt(const QString& scrambled) {
    const QString clear = DecryptPassword(scrambled);
    const qsizetype inRange = PrintableCount(scrambled);
    if (clear.size() != (inRange >= 2 ? inRange - 2 : inRange) ||
        PrintableCount(clear) != clear.size()) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto* chars = reinterpret_cast<const char*>(data);
    const auto length = static_cast<qsizetype>(size);
    CheckDecrypt(QString::fromUtf8(chars, length));
    const QString latin1 = QString::fromLatin1(chars, length);
    CheckDecrypt(latin1);

    QString clear;
    for (QChar ch : latin1) {
        if (IsPrintable(ch)) {
            clear.append(ch);
        }
    }
    const int second = size > 0 ? data[0] % 60 : 0;
    const QString scrambled = EncryptPassword(clear, second);
    if (scrambled.size() != clear.size() + 2 || PrintableCount(scrambled) != scrambled.size() ||
        DecryptPassword(scrambled) != clear || EncryptPassword(latin1, second) != scrambled) {
        std::abort();
    }
    return 0;
}
