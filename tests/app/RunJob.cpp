#include "RunJob.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QThread>

#include "config/PasswordScrambler.h"
#include "db/DbInterface.h"

namespace runjob {

using testsupport::ProcessResult;

QString PackageXml(const QString& name, const QString& steps, const QStringList& leaveOut) {
    QString xml = "<Package name=\"" + name + "\"><GlobalVariables>";
    for (const char* v :
         {"ExceptionFilePath", "DTSServer", "DTSServerTrustedLogin", "DTSServerLoginUserName",
          "DTSServerLoginPassword", "DestinationServer", "DestServerTrustedLogin",
          "DestServerLoginUserName", "DestServerLoginPassword", "DestServerDatabaseName", "JobID",
          "WriteCompletionStatusToNT", "OverwriteGlobalSettings"})
        if (!leaveOut.contains(v))
            xml +=
                QString("<GlobalVariable name=\"%1\" type=\"%2\"/>")
                    .arg(v, QString(v).contains(QRegularExpression("Trusted|[Ww]rite")) ? "boolean"
                                                                                        : "text");
    return xml +
           "</GlobalVariables><Connections><Connection name=\"Warehouse\" "
           "server=\"${DestinationServer}\" database=\"${DestServerDatabaseName}\" "
           "user=\"${DestServerLoginUserName}\" password=\"${DestServerLoginPassword}\" "
           "trusted=\"${DestServerTrustedLogin}\"/><Connection name=\"Files\" dataLink=\"Files\"/>"
           "</Connections><Steps>" +
           steps + "</Steps></Package>";
}

QString LoadFileSteps(const QString& file, int batchSize) {
    return QString(
               "<Step name=\"Create\"><ExecuteSql connection=\"Warehouse\"><Statement>CREATE TABLE "
               "IF NOT EXISTS loaded (id INTEGER, name TEXT)</Statement></ExecuteSql></Step>"
               "<Step name=\"Load\"><BulkInsert connection=\"Warehouse\" table=\"loaded\" "
               "fileConnection=\"Files\" file=\"%1\" delimiter=\";\" batchSize=\"%2\"><Column>id"
               "</Column><Column>name</Column></BulkInsert><Precedence step=\"Create\"/></Step>")
        .arg(file)
        .arg(batchSize);
}

QString FlatFileSection(const QString& model, const QString& name, const QString& directory) {
    return QString("[Data Source::%2]\nName=%2\nModelName=%1\nType=3\nDirectory=%3\n")
        .arg(model, name, directory);
}

bool Job::Admin(const QString& command, const QStringList& args, ProcessResult* result) const {
    const QStringList all =
        QStringList{command} + args + QStringList{"--server", "(local)", "--trusted"};
    const ProcessResult r = testsupport::runProgram("pendrill-admin", all);
    EXPECT_EQ(r.exitCode, 0) << all.join(' ').toStdString() << ": " << r.err.constData();
    if (result != nullptr)
        *result = r;
    return r.exitCode == 0;
}

bool Job::StorePackage(const QString& xml) const {
    static int counter = 0;
    const QString file = home_.file(QString("package%1.xml").arg(++counter));
    return testsupport::writeAll(file, xml.toUtf8()) && Admin("package", {"import", file});
}

bool Job::InitWarehouse() const {
    return Admin("datalink", {"init", "--database", "DW"});
}

bool Job::AddDataLink(const QString& model, const QString& name, const QStringList& fields) const {
    return Admin("datalink",
                 QStringList{"add", "--database", "DW", "--model", model, "--name", name} + fields);
}

QString Job::DataLinkDirectory(const QString& model) const {
    ProcessResult r;
    Admin("datalink", {"list", "--database", "DW", "--model", model, "--json"}, &r);
    return QJsonDocument::fromJson(r.out).array().at(0).toObject()["strDSDirectory"].toString();
}

namespace {

QVariant Query(const QString& sql, const QString& database, bool* ok) {
    DbConnection c;
    c.Describe("(local)", database, true, QString(), QString());
    QVariant value;
    *ok = c.Open();
    if (*ok) {
        QSqlQuery q(c.Database());
        *ok = q.exec(sql);
        if (*ok && q.next())
            value = q.value(0);
    }
    return value;
}

}  // namespace

int Job::Count(const QString& sql) const {
    bool ok = false;
    const QVariant v = Query(sql, "DW", &ok);
    return v.isValid() ? v.toInt() : -1;
}

bool Job::Exec(const QString& sql, const QString& database) const {
    bool ok = false;
    Query(sql, database, &ok);
    return ok;
}

QString Job::WriteConfig(const QString& fileName, const Config& c) const {
    const auto flag = [](bool b) { return QString(b ? "TRUE" : "FALSE"); };
    // Scrambled texts may begin or end with a blank or a quote: quoted, they read back unchanged.
    const auto login = [&](const QString& p) {
        return p + "NTAut=TRUE\r\n" + p + "User=\r\n" + p + "Pwd=\"" + EncryptPassword(QString()) +
               "\"\r\n";
    };
    const QString text = "[Package Info]\r\nPackage=" + c.package + "\r\nLogFile=" + c.logFile +
                         "\r\nLogFileDir=" + c.logDir +
                         "\r\nUseDefaultLogFileDir=FALSE\r\nTruncLogFile=" + flag(c.truncate) +
                         "\r\nWriteEvent=FALSE\r\n[DTS Server Info]\r\nDTSServer=" +
                         (c.dtsServer.isEmpty() ? "(local)" : c.dtsServer) + "\r\n" + login("DTS") +
                         "[Datawarehouse Server Info]\r\nDWServer=" +
                         (c.dwServer.isEmpty() ? "(local)" : c.dwServer) + "\r\n" + login("DW") +
                         "DWDB=" + c.database + "\r\n" + QString(c.extra).replace("\n", "\r\n");
    const QString path = home_.file(fileName);
    testsupport::writeAll(path, text.toUtf8());
    return path;
}

void Job::EmptyWarehouse(const QString& database) const {
    QDir().mkpath(home_.dataHome() + "/pendrill/servers/local");
    testsupport::writeAll(home_.dataHome() + "/pendrill/servers/local/" + database + ".db", "");
}

bool Job::Start(QProcess& p, const QStringList& args) const {
    p.setWorkingDirectory(home_.path());
    p.start(QString(PENDRILL_BIN_DIR) + "/pendrill", args);
    p.closeWriteChannel();
    return p.waitForStarted(10000);
}

ProcessResult Job::Pendrill(const QStringList& args, const QProcessEnvironment& env) const {
    ProcessResult r;
    QProcess p;
    p.setProcessEnvironment(env);
    Start(p, args);
    r.timedOut = !p.waitForFinished(60000);
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QJsonArray Job::History() const {
    return QJsonDocument::fromJson(
               testsupport::runProgram("pendrill-admin", {"history", "--json"}).out)
        .array();
}

bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QThread::msleep(20);
    return done();
}

QStringList LogLines(const QString& path) {
    return QString::fromUtf8(testsupport::readAll(path)).split("\r\n", Qt::SkipEmptyParts);
}

}  // namespace runjob
