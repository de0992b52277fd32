#include <gtest/gtest.h>

#include <QString>
#include <string>

#include "config/PasswordScrambler.h"

namespace {

std::string S(const QString& text) {
    return text.toStdString();
}

QString Q(const char16_t* text) {
    return QString::fromUtf16(text);
}

QString PrintableOnly(QString text) {
    return text.removeIf([](QChar ch) { return ch.unicode() < 32 || ch.unicode() > 126; });
}

// Produced by an independent model of the generator and the scrambler. Characters outside 32..126
// draw no offset and are dropped.
struct EncryptCase {
    const char16_t* key;
    const char16_t* clear;
    int second;
    const char16_t* scrambled;
};
const EncryptCase kEncryptCases[] = {
    {u"QuietOwlSleeps", u"", 59, u"=4"},
    {u"QuietOwlSleeps", u"P@ss w0rd!~", 23, u":.*6?hw`k0j@'"},
    {u"QuietOwlSleeps", u"caf\351 \u20ac5 \377", 17, u"92=W2t-h"},
    {u"QuietOwlSleeps", u"\U0001f600ok", 8, u"83Ia"},
    {u"", u"secret", 37, u"RU{9oo\"\\"},
    {u"\u20ac", u"abc", 1, u"OOi6o"},
    // The 85th offset of this key is one where single-precision rounding matters.
    {u"!EH>",
     u"The quick brown fox jumps over the lazy dog; 0123456789 ~!@#$%^&*()_+{}|:<>? The quick "
     u"brown fox jumps over the lazy dog; 0123456789 ~!@#$%^&*()_+{}|:<>? ",
     12,
     u"Lg])uH~I]Of^vk+U7 "
     u"yUo[3x+KyQgvAt-/rPIi:w6@QLHc0~[R32Vz+q9RH(S,A}:HD+W!sHh|lRjM]$xS\\koHc.<SgQXj\"cd:~_uHF2J/"
     u"J~,,LgNz>%7Hc@3m(',hr^; tAt$vkM28Ri%~]JCd2%4sw`&y'"},
};

}  // namespace

// The vectors pin the seeds of their keys; these are the ones they cannot see.
TEST(Cypher, KeySeed) {
    EXPECT_EQ(KeySeed("ab"), 815360);
    EXPECT_EQ(KeySeed(QString(24, QChar(0xFF))), 672547452);
    EXPECT_EQ(KeySeed(Q(u"a\u20acb")), 2063504);
    EXPECT_EQ(KeySeed("a?b"), 2063504);
}

TEST(Cypher, Vectors) {
    EXPECT_EQ(S(EncryptPassword("", 0)), "8+");
    EXPECT_EQ(S(EncryptPassword("secret", 37)), ";2M[/g]]");
    for (const auto& c : kEncryptCases) {
        SCOPED_TRACE(S(Q(c.clear)));
        const QString scrambled = EncryptWithKey(Q(c.key), Q(c.clear), c.second);
        EXPECT_EQ(S(scrambled), S(Q(c.scrambled)));
        EXPECT_EQ(S(DecryptWithKey(Q(c.key), scrambled)), S(PrintableOnly(Q(c.clear))));
    }
    EXPECT_EQ(S(DecryptPassword("x")), "p");
    EXPECT_EQ(S(DecryptPassword("ab")), "");
    EXPECT_EQ(S(DecryptPassword(Q(u"a\011b\351c"))), "*");
    EXPECT_EQ(S(DecryptWithKey("other", "Hello, World!")), "~}vL!4T(Q}C");
}

// Texts made in different seconds differ only in the stamp, and all decrypt alike.
TEST(Cypher, RoundTripAtEverySecond) {
    QString allPrintable;
    for (char16_t c = 32; c <= 126; ++c)
        allPrintable.append(QChar(c));
    for (const QString& clear : {QString(), QString("pass word;=\"'\\"), allPrintable}) {
        const QString atZero = EncryptPassword(clear, 0);
        for (int second = 0; second < 60; ++second) {
            const QString scrambled = EncryptPassword(clear, second);
            ASSERT_EQ(scrambled.size(), clear.size() + 2);
            EXPECT_EQ(S(PrintableOnly(scrambled)), S(scrambled));
            EXPECT_EQ(scrambled.mid(2), atZero.mid(2));
            EXPECT_EQ(S(DecryptPassword(scrambled)), S(clear)) << second;
        }
    }
    EXPECT_EQ(EncryptPassword("x", 60), EncryptPassword("x", 0));
    EXPECT_EQ(EncryptPassword("x", -1), EncryptPassword("x", 59));
    // Without a second the clock stamps one.
    const QString now = EncryptPassword("secret");
    int second = 0;
    while (second < 60 && EncryptPassword("secret", second) != now)
        ++second;
    EXPECT_LT(second, 60) << S(now);
}

// Whatever a configuration file holds, decrypting yields printable text of the expected length.
TEST(Cypher, DecryptOfArbitraryTextIsTotal) {
    QString text;
    for (int i = 0; i < 3000; ++i) {
        const QString result = DecryptPassword(text);
        const qsizetype inRange = PrintableOnly(text).size();
        ASSERT_EQ(result.size(), inRange >= 2 ? inRange - 2 : inRange) << i;
        ASSERT_EQ(PrintableOnly(result), result);
        text.append(QChar(static_cast<char16_t>((i * 7919u + 13u) % 0x10000u)));
    }
}

TEST(Cypher, Rot13) {
    const QString clear = Q(u"abcmnzABCMNZ @[`{\u00e9\u00c9\t");
    const QString rotated = Q(u"nopzamNOPZAM @[`{\u00e9\u00c9\t");
    EXPECT_EQ(S(Rot13(clear)), S(rotated));
    EXPECT_EQ(S(Rot13(rotated)), S(clear));
}
