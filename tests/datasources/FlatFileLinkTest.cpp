// The flat-file panel's rules below the widgets. Typing, pasting and leaving the directory box
// are tested with the panel (gui/FlatFilePanelTest), the check against a real FTP site with the
// transfer (remote/FtpTest).

#include <gtest/gtest.h>

#include "datasources/FlatFileLink.h"
#include "support/RecordingOperator.h"
#include "util/StopFlags.h"

namespace {

TEST(FlatFileLink, PollBoxesAndSourceDirectory) {
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

// The check reports its own failures; a build without a check is reported here.
TEST(FlatFileLink, TestConnectionWithoutACheck) {
    RecordingOperator op;
    SetOperator(&op);
    StopFlags::StartInConfigMode = true;  // message boxes are shown
    EXPECT_FALSE(TestFtpConnection("h", "", "", ""));
    SetFtpCheckAccess([&](const QString&, const QString&, const QString&,
                          const std::optional<QString>&,
                          const std::optional<QString>&) { return false; });
    EXPECT_FALSE(TestFtpConnection("h", "/in", "", ""));
    StopFlags::StartInConfigMode = false;
    SetOperator(nullptr);
    SetFtpCheckAccess({});
    EXPECT_EQ(op.boxes, QStringList({"48|FTP check|FTP check is not available in this build."}));
    const int wait = OperatorInterface::HourglassPointer, done = OperatorInterface::DefaultPointer;
    EXPECT_EQ(op.pointers, QList<int>({wait, done, wait, done}));
}

}  // namespace
