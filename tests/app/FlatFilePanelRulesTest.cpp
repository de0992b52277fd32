// The flat-file panel's rules below the widgets. Typing, pasting, leaving the directory box and
// the Test button against a real FTP site are tested with the panel (gui/FlatFilePanelTest,
// gui/FlatFileFtpCheckTest).

#include <gtest/gtest.h>

#include "app/FlatFilePanelRules.h"

namespace {

TEST(FlatFilePanelRules, PollBoxesAndSourceDirectory) {
    const struct {
        const char* text;
        short value;
    } cases[] = {{"0123", 123},    {"", 0},     {"32767", 32767}, {"32768", 32767},
                 {"99999", 32767}, {"12ab", 0}, {"abc", 0},       {"  ", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(PollBoxValue(QString::fromLatin1(c.text)), c.value) << c.text;
    for (char c : QByteArray("09\b"))
        EXPECT_TRUE(PollBoxAcceptsKey(QLatin1Char(c))) << int(c);
    for (char c : QByteArray("a-+ .,e\t"))
        EXPECT_FALSE(PollBoxAcceptsKey(QLatin1Char(c))) << int(c);
    EXPECT_EQ(SourceDirectoryOnLeave(""), "") << "never the root directory";
    EXPECT_EQ(SourceDirectoryOnLeave("/data/in/"), "/data/in/");
    EXPECT_EQ(SourceDirectoryOnLeave("C:\\data\\"), "C:\\data\\");
}

}  // namespace
