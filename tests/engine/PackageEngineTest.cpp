#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <thread>

#include "engine/PackageEngine.h"
#include "support/TestSupport.h"
#include "util/StopFlags.h"

using testsupport::readAll;
using testsupport::StillRunning;

namespace {

// A package of run-program steps; `steps` are <Step> elements.
QByteArray Package(const QString& steps, const QString& logDir, bool event = false) {
    return QStringLiteral(
               "<Package name=\"Pkg\"><GlobalVariables>"
               "<GlobalVariable name=\"ExceptionFilePath\">%2</GlobalVariable>"
               "<GlobalVariable name=\"WriteCompletionStatusToNT\" type=\"boolean\">%3"
               "</GlobalVariable>"
               "<GlobalVariable name=\"Word\">hello world</GlobalVariable>"
               "</GlobalVariables><Connections><Connection name=\"DW\" server=\"s\"/>"
               "</Connections><Steps>%1</Steps></Package>")
        .arg(steps, logDir, event ? "true" : "false")
        .toUtf8();
}

QString Step(const QString& name, bool ok, const QString& after = {}, const QString& on = "success",
             bool disabled = false) {
    QString s = QStringLiteral("<Step name=\"%1\"%3><RunProgram program=\"%2\"/>")
                    .arg(name, ok ? "true" : "false", disabled ? " disabled=\"true\"" : "");
    for (const QString& a : after.split(',', Qt::SkipEmptyParts))
        s += QStringLiteral("<Precedence step=\"%1\" on=\"%2\"/>").arg(a, on);
    return s + "</Step>";
}

// Waits up to 3 s for the program whose id a step wrote to `dir`/child.pid to end.
void ExpectChildEnded(const QTemporaryDir& dir, const char* what) {
    const pid_t child = readAll(dir.filePath("child.pid")).trimmed().toInt();
    ASSERT_GT(child, 0);
    QElapsedTimer reaped;
    reaped.start();
    while (StillRunning(child) && reaped.elapsed() < 3000)
        QThread::msleep(20);
    EXPECT_FALSE(StillRunning(child)) << "the program's child outlived " << what;
    ::kill(child, SIGKILL);
}

// "name:status/result" for every step.
QString Outcome(const EnginePackage& p) {
    QStringList parts;
    for (int i = 1; i <= p.StepCount(); ++i) {
        const DtsStep s = *p.StepItem(i);
        parts
            << QStringLiteral("%1:%2/%3").arg(s.Name).arg(s.ExecutionStatus).arg(s.ExecutionResult);
    }
    return parts.join(' ');
}

TEST(PackageEngine, PrecedenceDecidesWhichStepsRunAndTheCompletionEvent) {
    QTemporaryDir dir;
    // A fails. B waits for A's success (stays waiting), C for its failure (runs and fails),
    // D follows C on completion (runs), E follows B (never runs), F is disabled, G follows F.
    const QString steps = Step("A", false) + Step("B", true, "A") +
                          Step("C", false, "A", "failure") + Step("D", true, "C", "completion") +
                          Step("E", true, "B", "completion") +
                          Step("F", true, {}, "success", true) +
                          Step("G", true, "F", "completion") + Step("H", true, "D,C", "completion");
    QStringList events;
    PackageServices services = DefaultPackageServices();
    services.completionEvent = [&events](bool failed, const QString& t) {
        events << (failed ? "ERR " : "OK ") + t;
    };
    EnginePackage p(services);
    QString error;
    ASSERT_TRUE(p.LoadFromDocument(Package(steps, dir.path()), &error)) << error.toStdString();
    ASSERT_TRUE(p.Execute());
    EXPECT_EQ(Outcome(p), "A:4/1 B:1/0 C:4/1 D:4/0 E:1/0 F:3/0 G:1/0 H:4/0");
    EXPECT_TRUE(events.isEmpty()) << "no event unless asked for";

    // Running again starts from fresh states.
    ASSERT_TRUE(p.SetGlobalVariableValue("WriteCompletionStatusToNT", true));
    ASSERT_TRUE(p.Execute());
    EXPECT_EQ(Outcome(p), "A:4/1 B:1/0 C:4/1 D:4/0 E:1/0 F:3/0 G:1/0 H:4/0");
    ASSERT_EQ(events.size(), 1);
    EXPECT_TRUE(events[0].startsWith("ERR Package 'Pkg' completed with failures"));
}

TEST(PackageEngine, StepsRunInDocumentOrderAsSoonAsAllowed) {
    QTemporaryDir dir;
    const QString out = dir.filePath("order");
    auto echo = [&](const QString& name, const QString& after) {
        return QStringLiteral(
                   "<Step name=\"%1\"><RunProgram program=\"sh\"><Argument>-c"
                   "</Argument><Argument>echo %1 &gt;&gt; '%2'</Argument>"
                   "</RunProgram>%3</Step>")
            .arg(name, out, after.isEmpty() ? QString() : "<Precedence step=\"" + after + "\"/>");
    };
    EnginePackage p;
    ASSERT_TRUE(p.LoadFromDocument(
        Package(echo("Late", "Mid") + echo("First", "") + echo("Mid", "First") + echo("Other", ""),
                dir.path()),
        nullptr));
    ASSERT_TRUE(p.Execute());
    EXPECT_EQ(readAll(out), "First\nMid\nLate\nOther\n");
}

TEST(PackageEngine, StepResultsArgumentsExitCodesTimeoutAndOutput) {
    QTemporaryDir dir;
    const QString steps =
        "<Step name=\"Args\"><RunProgram program=\"sh\" successExitCode=\"3\">"
        "<Argument>-c</Argument><Argument>printf '%s|' \"$@\"; exit 3</Argument>"
        "<Argument>zero</Argument><Argument>${Word}</Argument><Argument>a 'b' \"c\"</Argument>"
        "</RunProgram></Step>"
        "<Step name=\"Exit0\"><RunProgram program=\"true\" successExitCode=\"3\"/></Step>"
        "<Step name=\"Slow\"><RunProgram program=\"sh\" timeout=\"1\" "
        "workingDirectory=\"${ExceptionFilePath}\"><Argument>-c</Argument>"
        "<Argument>sleep 20 &amp; echo $! &gt; child.pid; wait</Argument></RunProgram></Step>"
        "<Step name=\"Missing\"><RunProgram program=\"/no/such/program\"/></Step>"
        "<Step name=\"Quiet\"><RunProgram program=\"true\"/></Step>"
        "<Step name=\"Sql\"><ExecuteSql connection=\"DW\"><Statement>SELECT 1</Statement>"
        "</ExecuteSql></Step>"
        "<Step name=\"Copy\"><CopyRows source=\"DW\" destination=\"DW\" table=\"t\">"
        "<Query>SELECT 1</Query></CopyRows></Step>";
    testsupport::IsolatedHome home;  // no server "s"
    EnginePackage p;
    ASSERT_TRUE(p.LoadFromDocument(Package(steps, dir.path()), nullptr));
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(p.Execute());
    EXPECT_LT(t.elapsed(), 10000) << "the time-out kills the program";
    EXPECT_EQ(Outcome(p), "Args:4/0 Exit0:4/1 Slow:4/1 Missing:4/1 Quiet:4/0 Sql:4/1 Copy:4/1");
    EXPECT_EQ(readAll(dir.filePath("Pkg_Args_output.log")), "hello world|a 'b' \"c\"|");
    EXPECT_FALSE(QFile::exists(dir.filePath("Pkg_Quiet_output.log")));

    const QString log = QString::fromUtf8(readAll(dir.filePath("Pkg.log")));
    const QStringList lines = log.split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 15) << log.toStdString();
    EXPECT_TRUE(lines[1].contains(QRegularExpression(
        "Step 'Args' succeeded\\. Duration \\d+\\.\\d{3} s, rows affected 0\\.$")));
    EXPECT_TRUE(lines[3].contains("Step 'Exit0' failed.") && lines[3].contains("exit code 0"));
    EXPECT_TRUE(lines[5].endsWith("did not end within 1 second")) << lines[5].toStdString();
    EXPECT_TRUE(
        lines.last().endsWith("completed with failures: 2 steps succeeded, 5 failed, 0 not run."))
        << lines.last().toStdString();

    ExpectChildEnded(dir, "the time-out");
    EXPECT_EQ(log.count("Cannot connect to 'DW'"), 2);

    QString error;
    EXPECT_FALSE(p.LoadFromSQLServer("srv", "", "", 256, "", "", "", "Pkg", &error));
    EXPECT_TRUE(error.contains("srv")) << error.toStdString();
}

// A termination signal ends a program without a time-out, and what it started, within a second.
TEST(PackageEngine, TerminationEndsAProgramAndItsChildren) {
    QTemporaryDir dir;
    const QString steps =
        "<Step name=\"Wait\"><RunProgram program=\"sh\" workingDirectory=\"${ExceptionFilePath}\">"
        "<Argument>-c</Argument><Argument>sleep 20 &amp; echo $! &gt; child.pid; wait</Argument>"
        "</RunProgram></Step>";
    EnginePackage p;
    ASSERT_TRUE(p.LoadFromDocument(Package(steps, dir.path()), nullptr));
    std::thread signal([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        StopFlags::TerminationSignalled = true;
    });
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(p.Execute());
    signal.join();
    StopFlags::TerminationSignalled = false;
    EXPECT_LT(t.elapsed(), 5000) << "ended by the signal, not by the 20 s sleep";
    EXPECT_EQ(Outcome(p), "Wait:4/1");
    EXPECT_TRUE(readAll(dir.filePath("Pkg.log")).contains("was asked to stop"));
    ExpectChildEnded(dir, "the stop");
}

}  // namespace
