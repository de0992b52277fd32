#include <gtest/gtest.h>

#include <QList>
#include <QStringList>

#include "datasources/FlatFileLink.h"
#include "util/OperatorInterface.h"
#include "util/ProgramState.h"

namespace {

// Keeps the message boxes and pointer changes that core code shows.
struct RecordingOperator : OperatorInterface {
    QStringList boxes;
    QList<int> pointers;
    void ProcessPendingEvents() override {}
    void ShowMessageBox(const QString& text, int style, const QString& title) override {
        boxes << QStringLiteral("%1|%2|%3").arg(title).arg(style).arg(text);
    }
    void SetStatusText(const QString&) override {}
    void SetMousePointer(int style) override { pointers << style; }
};

struct OperatorScope {
    RecordingOperator op;
    bool wasConfigMode = ProgramState::StartInConfigMode;
    OperatorScope() {
        SetOperator(&op);
        ProgramState::StartInConfigMode = true;  // message boxes are shown
    }
    ~OperatorScope() {
        ProgramState::StartInConfigMode = wasConfigMode;
        SetOperator(nullptr);
        SetFtpCheckAccess({});
    }
};

}  // namespace

TEST(FlatFileLink, PollBoxValues) {
    const struct {
        const char* text;
        short value;
    } cases[] = {
        {"0123", 123},    {"", 0},    {"0", 0},    {"99999", 32767}, {"32767", 32767},
        {"32768", 32767}, {"15", 15}, {"12ab", 0}, {"abc", 0},       {"  ", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PollBoxValue(QString::fromLatin1(c.text)), c.value) << c.text;
}

TEST(FlatFileLink, PollBoxKeys) {
    for (char c = '0'; c <= '9'; ++c)
        EXPECT_TRUE(PollBoxAcceptsKey(QLatin1Char(c))) << c;
    EXPECT_TRUE(PollBoxAcceptsKey(QLatin1Char('\b')));
    for (char c : {'a', '-', '+', ' ', '.', ',', 'e', '\t'})
        EXPECT_FALSE(PollBoxAcceptsKey(QLatin1Char(c))) << int(c);
}

TEST(FlatFileLink, SourceDirectoryGetsItsSeparatorOnLeaving) {
    EXPECT_EQ(SourceDirectoryOnLeave(""), "") << "never the root directory";
    EXPECT_EQ(SourceDirectoryOnLeave("/data/in"), "/data/in/");
    EXPECT_EQ(SourceDirectoryOnLeave("/data/in/"), "/data/in/");
    EXPECT_EQ(SourceDirectoryOnLeave("C:\\data\\"), "C:\\data\\");
}

TEST(FlatFileLink, TestConnectionPassesTheBoxTexts) {
    OperatorScope scope;
    struct Call {
        QString server, file, dir;
        std::optional<QString> user, password;
    };
    QList<Call> calls;
    bool answer = false;
    SetFtpCheckAccess([&](const QString& server, const QString& file, const QString& dir,
                          const std::optional<QString>& user,
                          const std::optional<QString>& password) {
        calls << Call{server, file, dir, user, password};
        return answer;
    });

    // Empty user and password boxes pass no value: an anonymous login.
    EXPECT_FALSE(TestFtpConnection("ftp.example", "/in", "", ""));
    ASSERT_EQ(calls.size(), 1);
    EXPECT_EQ(calls[0].server, "ftp.example");
    EXPECT_EQ(calls[0].file, "status");
    EXPECT_EQ(calls[0].dir, "/in");
    EXPECT_FALSE(calls[0].user.has_value());
    EXPECT_FALSE(calls[0].password.has_value());
    EXPECT_TRUE(scope.op.boxes.isEmpty());  // failures are reported by the check itself
    EXPECT_EQ(scope.op.pointers,
              QList<int>({OperatorInterface::HourglassPointer, OperatorInterface::DefaultPointer}));

    answer = true;
    EXPECT_TRUE(TestFtpConnection("h", "", "loader", "pw"));
    EXPECT_EQ(calls[1].user, QString("loader"));
    EXPECT_EQ(calls[1].password, QString("pw"));
    EXPECT_EQ(scope.op.boxes, QStringList({"FTP check|64|Check operation succeeded! The user has "
                                           "read and write rights."}));
}

TEST(FlatFileLink, WithoutAnInstalledCheckTheTestReportsItIsNotAvailable) {
    OperatorScope scope;
    EXPECT_FALSE(TestFtpConnection("h", "", "", ""));
    EXPECT_EQ(scope.op.boxes,
              QStringList({"FTP check|48|FTP check is not available in this build."}));
}
