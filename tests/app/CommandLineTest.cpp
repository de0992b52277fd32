#include <gtest/gtest.h>

#include "app/RunnerMain.h"
#include "app/frmRunnerMain.h"
#include "rook/RookHistoryReader.h"
#include "rook/RookJobHistory.h"
#include "support/TestSupport.h"

TEST(CommandLine, NoArgumentsIsInteractive) {
    for (const QStringList& args : {QStringList{}, QStringList{""}, QStringList{"", ""}}) {
        const StartupValues v = ParseCommandLine(args);
        EXPECT_TRUE(v.StartInConfigMode) << args.size() << " empty words are no arguments";
        EXPECT_FALSE(v.CommandLineGiven);
        EXPECT_EQ(v.JobId, "0");
    }
    EXPECT_FALSE(ParseCommandLine({"", "-statusfile", "s"}).StartInConfigMode);
}

// The record's JobIdentifier as the command line gives it: "0" and a missing value are the
// empty text (never NULL), anything else is kept.
TEST(CommandLine, JobIdentifierInTheRecord) {
    testsupport::IsolatedHome home;
    const struct {
        QStringList args;
        const char* recorded;
    } cases[] = {
        {{"-configfile", "a.etl", "-job_id"}, ""},
        {{"-job_id", "0", "-configfile", "a.etl"}, ""},
        {{"-configfile", "a.etl"}, ""},
        {{"-job_id", "00"}, "00"},
        {{"-job_id", "42"}, "42"},
    };
    for (const auto& c : cases) {
        const QString trace = c.args.join(' ');
        const StartupValues v = ParseCommandLine(c.args);
        EXPECT_FALSE(v.JobId.isNull()) << trace.toStdString();
        frmRunnerMain form;
        form.JobID = v.JobId;
        RookJobHistory record;
        form.SetJobHistory(&record);
        form.FillJobHistoryOpeningFields();
        ASSERT_TRUE(record.Close(4, "Pendrill"));
        QList<QJsonObject> records;
        QString error;
        ASSERT_TRUE(ReadJobHistory(records, error, 1)) << error.toStdString();
        const QJsonValue id = records.at(0).value("JobIdentifier");
        EXPECT_TRUE(id.isString()) << trace.toStdString() << " is recorded as a text, not NULL";
        EXPECT_EQ(id.toString(), c.recorded) << trace.toStdString();
    }
}

TEST(CommandLine, OptionsAnyCaseValuesUnchanged) {
    const StartupValues v =
        ParseCommandLine({"-CONFIGFILE", "/srv/My Configs/Sales.ETL", "-StatusFile", "/tmp/S",
                          "--logfile", "/tmp/L", "-JOB_ID", "42"});
    EXPECT_EQ(v.ConfigFile, "/srv/My Configs/Sales.ETL");
    EXPECT_EQ(v.StatusFile, "/tmp/S");
    EXPECT_EQ(v.LogFile, "/tmp/L");
    EXPECT_EQ(v.JobId, "42");
    EXPECT_TRUE(v.CommandLineGiven);
    EXPECT_FALSE(v.StartInConfigMode) << "arguments mean an unattended run";
    EXPECT_FALSE(v.HelpRequested);
}

TEST(CommandLine, ValuesMayStartWithHyphenAndLastOptionHasEmptyValue) {
    StartupValues v = ParseCommandLine({"-logfile", "-statusfile", "/tmp/s"});
    EXPECT_EQ(v.LogFile, "-statusfile") << "a value is taken even when it starts with '-'";
    EXPECT_EQ(v.StatusFile, "/tmp/s") << "and is read as an option of its own as well";

    v = ParseCommandLine({"-statusfile", "/tmp/s", "-configfile"});
    EXPECT_EQ(v.ConfigFile, "");
    EXPECT_TRUE(v.CommandLineGiven);

    v = ParseCommandLine({"-configfile", "a", "-configfile", "b"});
    EXPECT_EQ(v.ConfigFile, "b") << "a later occurrence wins";
}

TEST(CommandLine, UnknownWordsAloneAreUnattendedWithoutCommandLine) {
    const StartupValues v = ParseCommandLine({"nightly", "-verbose", "yes"});
    EXPECT_FALSE(v.StartInConfigMode);
    EXPECT_FALSE(v.CommandLineGiven);
    EXPECT_EQ(v.ConfigFile, "");
}

TEST(CommandLine, HelpAndJobConfigurationModes) {
    for (const char* help : {"-help", "-HELP", "-?", "--help"}) {
        const StartupValues v = ParseCommandLine({"-configfile", "x.etl", help});
        EXPECT_TRUE(v.HelpRequested) << help;
    }
    EXPECT_TRUE(ParseCommandLine({"--help"}).LinuxHelp);
    EXPECT_FALSE(ParseCommandLine({"-help"}).LinuxHelp);
    EXPECT_TRUE(ParseCommandLine({"--version"}).ShowVersion);

    const StartupValues v = ParseCommandLine({"-config", "/tmp/job.cfg"});
    EXPECT_EQ(v.JobConfigFile, "/tmp/job.cfg");
    EXPECT_TRUE(v.StartInConfigMode);
    EXPECT_TRUE(v.StartInRookJobConfigMode);
}

TEST(CommandLine, OnlyFiftyArgumentsAreRead) {
    QStringList args;
    for (int i = 0; i < 24; ++i)
        args << "-x"
             << "y";
    args << "-job_id"
         << "7";  // arguments 49 and 50
    args << "-configfile"
         << "ignored.etl";  // 51 and 52
    StartupValues v = ParseCommandLine(args);
    EXPECT_EQ(v.JobId, "7");
    EXPECT_EQ(v.ConfigFile, "");

    args = QStringList();
    for (int i = 0; i < 49; ++i)
        args << "w";
    args << "-logfile"
         << "beyond";  // the option is argument 50, its value the 51st
    v = ParseCommandLine(args);
    EXPECT_EQ(v.LogFile, "");
    EXPECT_TRUE(v.CommandLineGiven);
}
