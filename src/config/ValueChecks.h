#pragma once

#include <QString>

// Checks of values before they are stored, so that what is written is what every reader gets
// back: nothing dropped, cut or wrapped silently. Each returns the reason in one line of words
// (never echoing control characters), or the empty text when the value can be stored.

// The largest number a 16-bit field of a data link keeps (Type, TransferData, PollInterval,
// PollDuration); larger ones read back as this value.
inline constexpr int kDataLinkNumberMax = 32767;

// `name` as the name of a server, database, model or data link (`what`: "database name", ...):
// refused when empty or blank, or when it holds a control character (line break, tab, escape).
QString NameRefusal(const QString& what, const QString& name);

// `text` as a whole number from `min` to `max` for `what` (an option or key name). On success
// `*value` (when given) receives the number.
QString NumberRefusal(const QString& what, const QString& text, int min, int max,
                      int* value = nullptr);

// A clear password for `what` (a key name): refused when a character would be dropped by the
// scrambler (only codes 32 to 126 take part).
QString ScrambledValueRefusal(const QString& what, const QString& clearText);

// `value` for `key` in `section` of a run configuration file, given in clear: control
// characters in the names or the value, a scrambled key's dropped characters, a text longer than
// a reader returns (counting what the scrambler adds), a data-source section without a data-link
// name, the numbers of a data-source section outside 0..32767, and a boolean key's value other
// than TRUE or FALSE in some letter case (every other text reads as true).
QString ConfigValueRefusal(const QString& section, const QString& key, const QString& value);

// `key` in `section` as a key Pendrill reads from a run configuration file: the keys of the three
// fixed sections, and those of a "Data Source::<name>" section. Refused otherwise (a misspelt
// name would be stored and never read).
QString ConfigKeyRefusal(const QString& section, const QString& key);
