// RunPackage in the program itself, with a package that stands in for the engine: outcomes a
// stored package cannot produce (steps that cannot be read, a stop while it executes), the pointer
// and buttons around a run, and the header date whatever the locale.

#include <gtest/gtest.h>

#include <QLocale>

#include "app/ExitCodes.h"
#include "app/frmRunnerMain.h"
#include "rook/RookJobHistory.h"
#include "support/FakePackage.h"
#include "support/RecordingOperator.h"
#include "support/TestSupport.h"
#include "util/OperatorInterface.h"
#include "util/ProgramState.h"

TEST(RunPackage, FailuresTheEngineCannotShow) {
    const struct {
        bool readable, stop;
        int exit;
        QString message;  // last run-log line and the record's message
    } cases[] = {
        {false, false, ExitExecutionFailed, "Execution of DTS package 'F_LoadDW' failed."},
        {true, true, ExitStopped, "Execution stopped by the user"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message.toStdString());
        testsupport::IsolatedHome home;
        RecordingOperator op;
        FakeRecord record;
        for (const char* name : kRunVariables)
            record.values.insert(name, QString());
        SetOperator(&op);
        {
            frmRunnerMain form;  // no configuration file: the header has no line for one
            form.Settings.PackageFactory = [&] {
                auto p = std::make_unique<FakePackage>(&record);
                p->name = "F_LoadDW";
                p->steps = {{"One", DTSStepExecStat_Completed, DTSStepExecResult_Failure}};
                p->unreadableStep = c.readable ? 0 : 1;
                if (c.stop)  // the operator's Close while the package runs
                    p->onExecute = [] { ProgramState::StopRequested = true; };
                return p;
            };
            form.uRookConnectDTS.ServerName = "(local)";
            form.cmbETLPackage.SetText("F_LoadDW");
            form.SetLogFileText(home.file("run.log"));
            form.RunPackage();
            const QString log = QString::fromUtf8(testsupport::readAll(home.file("run.log")));
            EXPECT_TRUE(log.endsWith("\r\n" + c.message + "\r\n")) << log.toStdString();
            EXPECT_FALSE(log.contains("Pendrill Config file"));
            EXPECT_EQ(form.RunExitStatus, c.exit);
            EXPECT_EQ(form.JobHistory().Status(), 3);
            EXPECT_EQ(form.JobHistory().Message(), c.message);
            EXPECT_FALSE(form.Running);
            EXPECT_TRUE(form.Enabled.cmdExecute && form.Enabled.cmdSave);
            EXPECT_EQ(op.pointers, QList<int>({OperatorInterface::ArrowHourglassPointer,
                                               OperatorInterface::DefaultPointer}));
        }
        SetOperator(nullptr);
        ProgramState::StopRequested = false;
        ProgramState::RemoteStopRequested = false;
    }
}

TEST(RunPackage, HeaderDateIsEnglishWhateverTheLocale) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(frmRunnerMain::RunHeaderDate(QDate(2026, 12, 6)), "Sunday, Dec 6 2026");
    EXPECT_EQ(frmRunnerMain::RunHeaderDate(QDate(2028, 2, 29)), "Tuesday, Feb 29 2028");
    QLocale::setDefault(before);
}
