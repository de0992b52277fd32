#include <gtest/gtest.h>

#include <QFile>

#include "app/RunPreparation.h"
#include "app/Startup.h"
#include "history/JobRecord.h"
#include "support/TestSupport.h"

namespace {

// What the command line gives: -configfile|-statusfile|-logfile|-job_id|-config|flags, the flags
// G (an option was recognised), I (interactive), J (job-configuration mode), H (usage text),
// L (--help), V (--version); then " unknown:" and the unknown options when there are any.
QString parsed(const QStringList& args) {
    const StartupValues v = ParseCommandLine(args);
    QString flags;
    for (const auto& [set, letter] :
         {std::pair{v.CommandLineGiven, 'G'}, std::pair{v.StartInConfigMode, 'I'},
          std::pair{v.JobConfigMode, 'J'}, std::pair{v.HelpRequested, 'H'},
          std::pair{v.LinuxHelp, 'L'}, std::pair{v.ShowVersion, 'V'}})
        if (set)
            flags += letter;
    QString text =
        QStringList{v.ConfigFile, v.StatusFile, v.LogFile, v.JobId, v.JobConfigFile, flags}.join(
            '|');
    if (!v.OpenFile.isEmpty())
        text += " open:" + v.OpenFile;
    if (!v.UnknownOptions.isEmpty())
        text += " unknown:" + v.UnknownOptions.join(',');
    return text;
}

}  // namespace

TEST(CommandLine, Parsing) {
    const struct {
        QStringList args;
        const char* parsed;
    } cases[] = {
        // No arguments, or only empty ones: interactive.
        {{}, "|||0||I"},
        {{"", ""}, "|||0||I"},
        {{"", "-statusfile", "s"}, "|s||0||G"},
        // Options in any case, values unchanged: an unattended run.
        {{"-CONFIGFILE", "/srv/My Configs/Sales.ETL", "-StatusFile", "/tmp/S", "--logfile",
          "/tmp/L", "-JOB_ID", "42"},
         "/srv/My Configs/Sales.ETL|/tmp/S|/tmp/L|42||G"},
        // A value is taken even when it starts with '-', and is read as an option of its own too.
        {{"-logfile", "-statusfile", "/tmp/s"}, "|/tmp/s|-statusfile|0||G"},
        {{"-statusfile", "/tmp/s", "-configfile"}, "|/tmp/s||0||G"},
        {{"-configfile", "a", "-configfile", "b"}, "b|||0||G"},
        // Unknown words alone: unattended, without a command line. Unknown options are named,
        // but not a value of a known option that happens to start with '-'.
        {{"nightly", "-verbose", "yes"}, "|||0|| unknown:-verbose"},
        {{"-configfle", "x.etl", "-job_id", "-1"}, "|||-1||G unknown:-configfle"},
        {{"-h"}, "|||0||GL"},
        {{"-configfile", "x.etl", "-help"}, "x.etl|||0||GH"},
        {{"-configfile", "x.etl", "-?"}, "x.etl|||0||GH"},
        {{"-configfile", "x.etl", "--help"}, "x.etl|||0||GHL"},
        {{"--version"}, "|||0||V"},
        {{"-config", "/tmp/job.cfg"}, "|||0|/tmp/job.cfg|GIJ"},
        // The desktop entry's command: the window with a file, as without options.
        {{"-open", "/home/op/Sales Load.etl"}, "|||0||I open:/home/op/Sales Load.etl"},
        {{"-OPEN", ""}, "|||0||I"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parsed(c.args).toStdString(), c.parsed) << c.args.join(' ').toStdString();
}

// The record's JobIdentifier as the command line gives it: "0" and a missing value are the
// empty text, anything else is kept.
TEST(CommandLine, JobIdentifierInTheRecord) {
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
        RunSettings settings;
        settings.JobID = ParseCommandLine(c.args).JobId;
        JobRecord record;
        FillRecordOpeningFields(record, settings);
        EXPECT_EQ(record.JobIdentifier(), c.recorded) << c.args.join(' ').toStdString();
    }
}

TEST(CommandLine, OnlyFiftyArgumentsAreRead) {
    QStringList args;
    for (int i = 0; i < 24; ++i)
        args += {"-x", "y"};
    // Arguments 49 and 50 are read, 51 and 52 are not.
    EXPECT_EQ(parsed(args + QStringList{"-job_id", "7", "-configfile", "ignored.etl"}),
              "|||7||G unknown:" + QStringList(24, "-x").join(','));
    // The option is argument 50, its value the 51st.
    EXPECT_EQ(parsed(QStringList(49, "w") + QStringList{"-logfile", "beyond"}), "|||0||G");
}

// A command line that names one file for two purposes is refused: by device and inode for files
// that exist (a link, another spelling), by path for files that do not exist yet.
TEST(CommandLine, FilesNamedTwiceAreRefused) {
    testsupport::IsolatedHome home;
    const QString cfg = home.file("job.etl");
    testsupport::writeAll(cfg, "");
    QFile::link(cfg, home.file("link.etl"));
    const struct {
        QStringList args;
        const char* refusedOption;  // nullptr: accepted
    } cases[] = {
        {{"-configfile", cfg, "-statusfile", home.file("link.etl")}, "-statusfile"},
        {{"-configfile", cfg, "-logfile", home.path() + "/./job.etl"}, "-logfile"},
        {{"-statusfile", home.file("new"), "-logfile", home.file("sub/../new")}, "-logfile"},
        {{"-configfile", cfg, "-SummaryFile", home.file("link.etl")}, "-summaryfile"},
        {{"-statusfile", home.file("s"), "--summaryfile", home.file("./s")}, "-summaryfile"},
        {{"-configfile", cfg, "-statusfile", home.file("status"), "-logfile", home.file("log")},
         nullptr},
        {{"-configfile", home.file("absent.etl"), "-logfile", home.file("absent.log")}, nullptr},
    };
    for (const auto& c : cases) {
        const QString says = ConflictingFiles(ParseCommandLine(c.args));
        if (c.refusedOption == nullptr) {
            EXPECT_EQ(says, "") << c.args.join(' ').toStdString();
        } else {
            EXPECT_TRUE(says.startsWith(c.refusedOption)) << says.toStdString();
        }
    }
}
