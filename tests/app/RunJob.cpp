#include "RunJob.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QJsonDocument>
#include <QProcess>
#include <QSqlQuery>

#include "config/modCypher.h"
#include "datasources/DbInterface.h"

namespace runjob {

using testsupport::ProcessResult;

QStringList Server::AdminLogin() const {
    if (trusted)
        return {QStringLiteral("--trusted")};
    return {QStringLiteral("--user"), user, QStringLiteral("--password"), password};
}

QString PackageXml(const QString& name, const QString& steps, const QStringList& leaveOut) {
    static const char* const variables[][2] = {
        {"ExceptionFilePath", "text"},
        {"DTSServer", "text"},
        {"DTSServerTrustedLogin", "boolean"},
        {"DTSServerLoginUserName", "text"},
        {"DTSServerLoginPassword", "text"},
        {"DestinationServer", "text"},
        {"DestServerTrustedLogin", "boolean"},
        {"DestServerLoginUserName", "text"},
        {"DestServerLoginPassword", "text"},
        {"DestServerDatabaseName", "text"},
        {"JobID", "text"},
        {"WriteCompletionStatusToNT", "boolean"},
        {"OverwriteGlobalSettings", "boolean"},
    };
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Package name=\"") +
                  name + QStringLiteral("\">\n<GlobalVariables>\n");
    for (const auto& v : variables)
        if (!leaveOut.contains(QLatin1String(v[0])))
            xml += QStringLiteral("<GlobalVariable name=\"%1\" type=\"%2\"/>\n")
                       .arg(QLatin1String(v[0]), QLatin1String(v[1]));
    xml += QStringLiteral(
        "</GlobalVariables>\n<Connections>\n"
        "<Connection name=\"Warehouse\" server=\"${DestinationServer}\" "
        "database=\"${DestServerDatabaseName}\" user=\"${DestServerLoginUserName}\" "
        "password=\"${DestServerLoginPassword}\" trusted=\"${DestServerTrustedLogin}\"/>\n"
        "<Connection name=\"Files\" dataLink=\"Files\"/>\n"
        "</Connections>\n<Steps>\n");
    return xml + steps + QStringLiteral("</Steps>\n</Package>\n");
}

QString LoadFileSteps(const QString& file, const QString& table, int batchSize) {
    return QStringLiteral(
               "<Step name=\"Create\"><ExecuteSql connection=\"Warehouse\"><Statement>"
               "CREATE TABLE IF NOT EXISTS %2 (id INTEGER, name TEXT)</Statement></ExecuteSql>"
               "</Step>\n"
               "<Step name=\"Load\"><BulkInsert connection=\"Warehouse\" table=\"%2\" "
               "fileConnection=\"Files\" file=\"%1\" delimiter=\";\" batchSize=\"%3\">"
               "<Column>id</Column><Column>name</Column></BulkInsert>"
               "<Precedence step=\"Create\"/></Step>\n")
        .arg(file, table)
        .arg(batchSize);
}

Job::Job(testsupport::IsolatedHome& home, Server server)
    : home_(home), server_(std::move(server)) {}

ProcessResult Job::Admin(const QStringList& args) const {
    return testsupport::runProgram(QStringLiteral("pendrill-admin"), args);
}

bool Job::StorePackage(const QString& xml) const {
    static int counter = 0;
    const QString file = home_.file(QStringLiteral("package%1.xml").arg(++counter));
    testsupport::writeAll(file, xml.toUtf8());
    const ProcessResult r = Admin(QStringList{"package", "import", file, "--server", server_.name} +
                                  server_.AdminLogin());
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    return r.exitCode == 0;
}

bool Job::InitWarehouse(const QString& database) const {
    const ProcessResult r =
        Admin(QStringList{"datalink", "init", "--server", server_.name, "--database", database} +
              server_.AdminLogin());
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    return r.exitCode == 0;
}

bool Job::AddDataLink(const QString& model, const QString& name, const QStringList& fields,
                      const QString& database) const {
    const ProcessResult r =
        Admin(QStringList{"datalink", "add", "--server", server_.name, "--database", database,
                          "--model", model, "--name", name} +
              fields + server_.AdminLogin());
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    return r.exitCode == 0;
}

QJsonArray Job::DataLinks(const QString& model, const QString& database) const {
    const ProcessResult r = Admin(QStringList{"datalink", "list", "--server", server_.name,
                                              "--database", database, "--model", model, "--json"} +
                                  server_.AdminLogin());
    return QJsonDocument::fromJson(r.out).array();
}

namespace {

// Runs the query on the warehouse (or another database of the job's server) and returns the first
// column of its first row; an invalid value when it fails or gives no row.
QVariant Query(const Server& server, const QString& sql, const QString& database, bool* ok) {
    DbConnection c;
    c.Provider = QStringLiteral("sqloledb");
    c.SetProperty(QStringLiteral("Data Source"), server.name);
    c.SetProperty(QStringLiteral("Initial Catalog"), database);
    if (server.trusted) {
        c.SetProperty(QStringLiteral("Integrated Security"), QStringLiteral("SSPI"));
    } else {
        c.SetProperty(QStringLiteral("User ID"), server.user);
        c.SetProperty(QStringLiteral("Password"), server.password);
    }
    *ok = false;
    if (!c.Open())
        return QVariant();
    QVariant value;
    {
        QSqlQuery q(c.Database());
        *ok = q.exec(sql);
        if (*ok && q.next())
            value = q.value(0);
    }
    c.Close();
    return value;
}

}  // namespace

int Job::Count(const QString& sql, const QString& database) const {
    bool ok = false;
    const QVariant v = Query(server_, sql, database, &ok);
    return v.isValid() ? v.toInt() : -1;
}

bool Job::Exec(const QString& sql, const QString& database) const {
    bool ok = false;
    Query(server_, sql, database, &ok);
    return ok;
}

QString Job::WriteConfig(const QString& fileName, const Config& c) const {
    const QString b = QStringLiteral("TRUE"), f = QStringLiteral("FALSE");
    QStringList lines = {
        QStringLiteral("[Package Info]"),
        QStringLiteral("Package=") + c.package,
        QStringLiteral("LogFile=") + c.logFile,
        QStringLiteral("LogFileDir=") + c.logDir,
        QStringLiteral("UseDefaultLogFileDir=FALSE"),
        QStringLiteral("TruncLogFile=") + (c.truncate ? b : f),
        QStringLiteral("WriteEvent=FALSE"),
        QStringLiteral("[DTS Server Info]"),
        QStringLiteral("DTSServer=") + server_.name,
        QStringLiteral("DTSNTAut=") + (server_.trusted ? b : f),
        QStringLiteral("DTSUser=") + server_.user,
        QStringLiteral("DTSPwd=") + EncryptPassword(server_.password),
        QStringLiteral("[Datawarehouse Server Info]"),
        QStringLiteral("DWServer=") + (c.dwServer.isEmpty() ? server_.name : c.dwServer),
        QStringLiteral("DWNTAut=") + (server_.trusted ? b : f),
        QStringLiteral("DWUser=") + server_.user,
        QStringLiteral("DWPwd=") + EncryptPassword(server_.password),
        QStringLiteral("DWDB=") + c.database,
    };
    if (!c.extra.isEmpty())
        lines << c.extra.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString path = home_.file(fileName);
    testsupport::writeAll(path, lines.join(QStringLiteral("\r\n")).toUtf8() + "\r\n");
    return path;
}

QString Job::FlatFileSection(const QString& model, const QString& name, const QString& directory,
                             int transfer) {
    return QStringLiteral(
               "[Data Source::%2]\nName=%2\nModelName=%1\nType=3\nTrustedLogin=FALSE\n"
               "Directory=%3\nTransferData=%4\nRemoteDir=/remote/in/\nPollDuration=0\n"
               "PollInterval=0\n")
        .arg(model, name, directory)
        .arg(transfer);
}

ProcessResult Job::Pendrill(const QStringList& args, const QProcessEnvironment& env,
                            int timeoutMs) const {
    ProcessResult r;
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(PENDRILL_BIN_DIR) + QStringLiteral("/pendrill"), args);
    if (!p.waitForStarted(10000))
        return r;
    p.closeWriteChannel();
    if (!p.waitForFinished(timeoutMs)) {
        r.timedOut = true;
        p.kill();
        p.waitForFinished();
    }
    r.crashed = p.exitStatus() == QProcess::CrashExit;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

QJsonArray Job::History() const {
    const ProcessResult r = Admin({QStringLiteral("history"), QStringLiteral("--json")});
    return QJsonDocument::fromJson(r.out).array();
}

QStringList LogLines(const QString& path) {
    QStringList lines = QString::fromUtf8(testsupport::readAll(path)).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

}  // namespace runjob
