#include "config/PasswordScrambler.h"

#include <QTime>

#include "config/BasicRandom.h"

namespace {

const QString kFixedKey = QStringLiteral("QuietOwlSleeps");

constexpr char16_t kFirstCode = 32;
constexpr char16_t kLastCode = 126;
constexpr int kCodeRange = 95;  // codes 32..126
constexpr int kOffsetRange = 96;

bool TakesPart(QChar ch) {
    return ch.unicode() >= kFirstCode && ch.unicode() <= kLastCode;
}

// The generator as both directions prepare it: restarted by Rnd(-1), then reseeded from the
// key. The seed is passed to Randomize as a double, exactly like a 32-bit integer would be.
BasicRandom PreparedGenerator(const QString& key) {
    BasicRandom rnd;
    rnd.Rnd(-1.0f);
    rnd.Randomize(static_cast<double>(KeySeed(key)));
    return rnd;
}

QString SecondStamp(int second) {
    const int s = ((second % 60) + 60) % 60;
    return QString::number(s).rightJustified(2, u'0');
}

}  // namespace

qsizetype FirstDroppedCharacter(const QString& clearText) {
    for (qsizetype i = 0; i < clearText.size(); ++i)
        if (!TakesPart(clearText.at(i)))
            return i;
    return -1;
}

std::int32_t KeySeed(const QString& key) {
    std::uint32_t h = 0;
    unsigned a = 0;
    unsigned b = 0;
    for (QChar ch : key) {
        const std::uint32_t c = ch.unicode() <= 0xFF ? ch.unicode() : u'?';
        h ^= (c << a) ^ (c << b);
        a = (a + 7) % 19;
        b = (b + 13) % 23;
    }
    // c < 2^8 and shifts < 23 keep every product below 2^31, so h is a non-negative int32.
    return static_cast<std::int32_t>(h);
}

QString EncryptWithKey(const QString& key, const QString& clearText, int second) {
    const QString work = SecondStamp(second) + clearText;
    BasicRandom rnd = PreparedGenerator(key);
    QString result;
    result.reserve(work.size());
    for (QChar ch : work) {
        if (!TakesPart(ch)) {
            continue;
        }
        const int c = ch.unicode() - kFirstCode;
        const int r = rnd.NextOffset(kOffsetRange);
        result.append(QChar(static_cast<char16_t>((c + r) % kCodeRange + kFirstCode)));
    }
    return result;
}

QString EncryptWithKey(const QString& key, const QString& clearText) {
    return EncryptWithKey(key, clearText, QTime::currentTime().second());
}

QString DecryptWithKey(const QString& key, const QString& scrambledText) {
    BasicRandom rnd = PreparedGenerator(key);
    QString result;
    result.reserve(scrambledText.size());
    for (QChar ch : scrambledText) {
        if (!TakesPart(ch)) {
            continue;
        }
        const int d = (ch.unicode() - kFirstCode) - rnd.NextOffset(kOffsetRange);
        int rem = d % kCodeRange;
        if (rem < 0) {
            rem += kCodeRange;
        }
        result.append(QChar(static_cast<char16_t>(rem + kFirstCode)));
    }
    if (result.size() >= 2) {
        result.remove(0, 2);
    }
    return result;
}

QString EncryptPassword(const QString& clearText) {
    return EncryptWithKey(kFixedKey, clearText);
}

QString EncryptPassword(const QString& clearText, int second) {
    return EncryptWithKey(kFixedKey, clearText, second);
}

QString DecryptPassword(const QString& scrambledText) {
    return DecryptWithKey(kFixedKey, scrambledText);
}

QString Rot13(const QString& text) {
    QString result = text;
    for (QChar& ch : result) {
        const char16_t c = ch.unicode();
        if (c >= u'a' && c <= u'z') {
            ch = QChar(static_cast<char16_t>((c - u'a' + 13) % 26 + u'a'));
        } else if (c >= u'A' && c <= u'Z') {
            ch = QChar(static_cast<char16_t>((c - u'A' + 13) % 26 + u'A'));
        }
    }
    return result;
}
