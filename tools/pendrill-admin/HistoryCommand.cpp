#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

#include "AdminCommands.h"
#include "rook/RookHistoryReader.h"
#include "rook/RookRepository.h"

namespace {

const char* const kHistoryUsage =
    "Usage: pendrill-admin history [--json] [--limit N]\n"
    "List the job-history records of the repository, newest first.\n"
    "  --json      print a JSON array with every stored field\n"
    "  --limit N   only the N newest records\n";

QString field(const QJsonObject& o, const char* name) {
    const QJsonValue v = o.value(QLatin1String(name));
    if (v.isDouble())
        return QString::number(v.toDouble());
    return v.toString();
}

void printRecord(const QJsonObject& o) {
    auto line = [](const QString& label, const QString& value) {
        if (!value.isEmpty())
            std::printf("  %-15s %s\n", label.toLocal8Bit().constData(),
                        value.toLocal8Bit().constData());
    };
    std::printf("#%s  %s  status %s  kind %s  %s\n", field(o, "Id").toLocal8Bit().constData(),
                field(o, "EndTime").toLocal8Bit().constData(),
                field(o, "Status").toLocal8Bit().constData(),
                field(o, "Kind").toLocal8Bit().constData(),
                field(o, "ApplicationName").toLocal8Bit().constData());
    line(QStringLiteral("Message"), field(o, "Message"));
    line(QStringLiteral("Job"), field(o, "JobIdentifier"));
    line(QStringLiteral("Started"), field(o, "StartTime"));
    const QString source = field(o, "SourceServer");
    if (!source.isEmpty() || !field(o, "SourcePath").isEmpty())
        line(QStringLiteral("Source"), QStringLiteral("%1 %2 %3 (user %4)")
                                           .arg(source, field(o, "SourceDatabase"),
                                                field(o, "SourcePath"), field(o, "SourceUser"))
                                           .simplified());
    const QString target = field(o, "TargetServer");
    if (!target.isEmpty() || !field(o, "TargetPath").isEmpty())
        line(QStringLiteral("Target"), QStringLiteral("%1 %2 %3 (user %4)")
                                           .arg(target, field(o, "TargetDatabase"),
                                                field(o, "TargetPath"), field(o, "TargetUser"))
                                           .simplified());
    line(QStringLiteral("Exception file"), field(o, "ExceptionFile"));
    line(QStringLiteral("Object"), field(o, "ObjectName"));
    if (!o.value(QLatin1String("Quantity")).isNull())
        line(QStringLiteral("Quantity"),
             (field(o, "Quantity") + ' ' + field(o, "QuantityUnit")).trimmed());
    const QJsonArray args = o.value(QLatin1String("Arguments")).toArray();
    if (!args.isEmpty())
        line(QStringLiteral("Object kind"), args.at(0).toString() + " " + args.at(1).toString());
    line(QStringLiteral("Run by"), field(o, "CurrentUserName") + '@' + field(o, "ComputerName"));
}

}  // namespace

int HistoryCommand(const QStringList& args) {
    bool json = false;
    int limit = -1;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--json")) {
            json = true;
        } else if (a == QLatin1String("--limit") && i + 1 < args.size()) {
            bool ok = false;
            limit = args.at(++i).toInt(&ok);
            if (!ok || limit < 0) {
                AdminError(QStringLiteral("--limit needs a number of records"));
                return 2;
            }
        } else if (a == QLatin1String("--help")) {
            std::fputs(kHistoryUsage, stdout);
            return 0;
        } else {
            AdminError(QStringLiteral("history: unexpected argument '%1'").arg(a));
            std::fputs(kHistoryUsage, stderr);
            return 2;
        }
    }
    QList<QJsonObject> records;
    QString error;
    if (!ReadJobHistory(records, error, limit)) {
        AdminError(QStringLiteral("cannot read the repository %1: %2")
                       .arg(RookRepository::CurrentLocation().path, error));
        return 1;
    }
    if (json) {
        QJsonArray array;
        for (const QJsonObject& o : records)
            array.append(o);
        std::fputs(QJsonDocument(array).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    }
    if (records.isEmpty())
        std::puts("No job-history records.");
    for (const QJsonObject& o : records)
        printRecord(o);
    return 0;
}
