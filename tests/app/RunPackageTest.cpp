// RunPackage in the program itself, with a package that stands in for the engine: the outcomes a
// real package cannot easily produce (steps that cannot be read, a stop between steps), the
// pointer and button states around a run, and the header date whatever the locale.

#include <gtest/gtest.h>

#include <QLocale>

#include "app/ExitCodes.h"
#include "app/frmRunnerMain.h"
#include "dts/DtsPackage.h"
#include "rook/RookJobHistory.h"
#include "support/TestSupport.h"
#include "util/KelmStatusFile.h"
#include "util/OperatorInterface.h"
#include "util/ProgramState.h"

using testsupport::readAll;

namespace {

struct Behaviour {
    bool loads = true;
    bool stepsReadable = true;
    bool stepFails = false;
    bool stopDuringExecution = false;  // the operator's Close while the package runs
};

class FakePackage : public DtsPackage {
  public:
    explicit FakePackage(const Behaviour& b) : b_(b) {}
    bool LoadFromSQLServer(const QString&, const QString&, const QString&, int, const QString&,
                           const QString&, const QString&, const QString& name, QString*) override {
        name_ = name;
        return b_.loads;
    }
    bool HasGlobalVariable(const QString&) const override { return true; }
    QVariant GlobalVariableValue(const QString&) const override { return QString(); }
    bool SetGlobalVariableValue(const QString&, const QVariant&) override { return true; }
    bool Execute(QString*) override {
        if (b_.stopDuringExecution)
            ProgramState::StopRequested = true;
        return true;
    }
    int StepCount() const override { return 1; }
    std::optional<DtsStep> StepItem(int) const override {
        if (!b_.stepsReadable)
            return std::nullopt;
        return DtsStep{QStringLiteral("Step one"), DTSStepExecStat_Completed,
                       b_.stepFails ? DTSStepExecResult_Failure : DTSStepExecResult_Success};
    }
    QString Name() const override { return name_; }
    void UnInitialize() override {}

  private:
    Behaviour b_;
    QString name_;
};

class PointerLog : public HeadlessOperator {
  public:
    void SetMousePointer(int style) override { pointers << style; }
    QList<int> pointers;
};

}  // namespace

TEST(RunPackage, OutcomesOfTheExecution) {
    struct Case {
        const char* name;
        Behaviour behaviour;
        int exit;
        QString lastLine;  // the run log's last line
        int history;
        QString message;
    };
    const QString loadError =
        "Error: DTS package loading error\r\nCan not load DTS Package from SQL Server : F_LoadDW";
    const Case cases[] = {
        {"success", {}, ExitOk, "Executed successfully.", 0, ""},
        {"not loaded",
         {false, true, false, false},
         ExitNotLoaded,
         "Can not load DTS Package from SQL Server : F_LoadDW",
         2,
         "DTS Package loading error: Can not load DTS Package from SQL Server : F_LoadDW"},
        {"failed without a reason",
         {true, false, false, false},
         ExitExecutionFailed,
         "Execution of DTS package 'F_LoadDW' failed.",
         3,
         "Execution of DTS package 'F_LoadDW' failed."},
        {"failed step",
         {true, true, true, false},
         ExitExecutionFailed,
         "Step one in 'F_LoadDW' failed.",
         3,
         "Error: DTS package execute errorStep one in 'F_LoadDW' failed."},
        {"stopped",
         {true, true, true, true},
         ExitStopped,
         "Execution stopped by the user",
         3,
         "Execution stopped by the user"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::IsolatedHome home;
        PointerLog op;
        SetOperator(&op);
        SetStatusFile(home.file("status"));
        const Behaviour behaviour = c.behaviour;
        SetPackage2Factory([behaviour] { return std::make_unique<FakePackage>(behaviour); });
        {
            frmRunnerMain form;
            form.uRookConnectDTS.ServerName = "(local)";
            form.cmbETLPackage.SetText("F_LoadDW");
            form.SetLogFileText(home.file("run.log"));
            form.txtLogFilesDir = home.file("logs/");
            form.uRookConnectDW.ServerName = "(local)";
            form.uRookConnectDW.DatabaseName = "DW";
            form.RunPackage();

            EXPECT_EQ(form.RunExitStatus, c.exit);
            EXPECT_EQ(readAll(home.file("status")), c.exit == 0 ? "ok\r\n" : "failure\r\n");
            const QStringList log =
                QString::fromUtf8(readAll(home.file("run.log"))).split("\r\n", Qt::SkipEmptyParts);
            ASSERT_FALSE(log.isEmpty());
            EXPECT_EQ(log.last(), c.lastLine);
            EXPECT_FALSE(log.join('\n').contains("Pendrill Config file"))
                << "no configuration file, no header line for it";
            EXPECT_EQ(form.JobHistory().Status(), c.history);
            EXPECT_EQ(form.JobHistory().Message(), c.message);
            EXPECT_FALSE(form.Running);
            EXPECT_TRUE(form.Enabled.cmdExecute && form.Enabled.cmdSave);
            EXPECT_EQ(op.pointers, QList<int>({OperatorInterface::ArrowHourglassPointer,
                                               OperatorInterface::DefaultPointer}));
        }
        SetPackage2Factory(nullptr);
        SetStatusFile(QString());
        SetOperator(nullptr);
        ProgramState::StopRequested = false;
        ProgramState::RemoteStopRequested = false;
    }
}

TEST(RunPackage, HeaderDateIsEnglishWhateverTheLocale) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const struct {
        QDate date;
        const char* text;
    } cases[] = {
        {QDate(2026, 12, 6), "Sunday, Dec 6 2026"},
        {QDate(2027, 1, 15), "Friday, Jan 15 2027"},
        {QDate(2028, 2, 29), "Tuesday, Feb 29 2028"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(frmRunnerMain::RunHeaderDate(c.date), c.text);
    QLocale::setDefault(before);
}
