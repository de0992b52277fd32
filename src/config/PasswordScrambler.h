#pragma once

#include <QString>
#include <cstdint>

// Keyed, reversible scrambling of passwords for the run configuration file, and the ROT13
// letter rotation used for the password columns of the data-link catalogue. Neither is
// cryptography: the scrambling key is a fixed text built into the program.
//
// Only characters with codes 32 to 126 take part in scrambling. Every other character (control
// characters, anything outside ASCII) is dropped in both directions and draws no offset, so a
// clear text made of printable ASCII round-trips exactly and any other text comes back without
// its other characters. A scrambled text is 2 + (number of those characters of the clear text)
// long, made only of codes 32 to 126; its first two characters carry the second of the minute at
// which it was made.
//
// Every call prepares its own generator from the key, so no call depends on an earlier one.
// None of these functions fails.

// Scrambles with the built-in key, stamping the current local second of the minute.
QString EncryptPassword(const QString& clearText);
// The same with a given second of the minute (0..59; other values are taken modulo 60).
QString EncryptPassword(const QString& clearText, int second);
// Unscrambles a text made by EncryptPassword. Any text is accepted; one that was not made by
// EncryptPassword decodes to other characters.
QString DecryptPassword(const QString& scrambledText);

QString EncryptWithKey(const QString& key, const QString& clearText);
QString EncryptWithKey(const QString& key, const QString& clearText, int second);
// A decoded text of 2 or more characters loses its first two (the second stamp); a shorter one
// is returned as decoded.
QString DecryptWithKey(const QString& key, const QString& scrambledText);

// The 32-bit seed the generator is reseeded with for a key. Characters of the key count by
// their single-byte code; one without such a code counts as '?'.
std::int32_t KeySeed(const QString& key);

// The position of the first character of `clearText` that scrambling drops (a code outside 32 to
// 126), or -1 when the whole text takes part and round-trips exactly.
qsizetype FirstDroppedCharacter(const QString& clearText);

// Rotates ASCII letters by 13 places, keeping their case; everything else is unchanged.
// Applying it twice gives back the original text.
QString Rot13(const QString& text);
