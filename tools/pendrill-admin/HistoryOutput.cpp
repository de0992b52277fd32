#include "HistoryOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "rook/RookHistoryReader.h"
#include "rook/RookTime.h"

namespace {

int column(const char* name) {
    return int(JobHistoryReader::Columns().indexOf(QLatin1String(name)));
}

bool isTimeColumn(const QString& name) {
    return name == QLatin1String("StartTime") || name == QLatin1String("EndTime");
}

QString localTime(const QString& stored) {
    const std::optional<qint64> secs = RookTime::StoredSeconds(stored);
    return secs ? RookTime::LocalText(*secs) : stored;
}

void appendJsonString(QByteArray& out, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    out += '"';
    const bool plain = std::none_of(utf8.begin(), utf8.end(), [](char c) {
        return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
    });
    if (plain) {
        out += utf8;
        out += '"';
        return;
    }
    for (const char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void appendJsonNumber(QByteArray& out, double d) {
    out += QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
}

void appendJsonValue(QByteArray& out, const QJsonValue& v) {
    switch (v.type()) {
        case QJsonValue::String:
            appendJsonString(out, v.toString());
            break;
        case QJsonValue::Double:
            appendJsonNumber(out, v.toDouble());
            break;
        case QJsonValue::Bool:
            out += v.toBool() ? "true" : "false";
            break;
        default:
            out += "null";
            break;
    }
}

void appendStored(QByteArray& out, const QString& name, const QVariant& v) {
    if (v.isNull()) {
        out += "null";
        return;
    }
    switch (v.typeId()) {
        case QMetaType::Int:
        case QMetaType::LongLong:
        case QMetaType::UInt:
        case QMetaType::ULongLong:
            out += QByteArray::number(v.toLongLong());
            break;
        case QMetaType::Double:
            appendJsonNumber(out, v.toDouble());
            break;
        default:
            appendJsonString(out, isTimeColumn(name) ? localTime(v.toString()) : v.toString());
    }
}

QByteArray argumentsJson(const QString& stored) {
    const QJsonArray a = QJsonDocument::fromJson(stored.toUtf8()).array();
    if (a.isEmpty())
        return "[\n        ]";
    QByteArray out = "[\n";
    for (qsizetype j = 0; j < a.size(); ++j) {
        out += "            ";
        appendJsonValue(out, a.at(j));
        out += j + 1 < a.size() ? ",\n" : "\n";
    }
    out += "        ]";
    return out;
}

QString text(const JobHistoryReader& r, int col) {
    const QVariant v = r.Value(col);
    if (v.typeId() == QMetaType::Double)
        return QString::number(v.toDouble(), 'g', 15);
    return v.toString();
}

QString statusText(const QVariant& v) {
    if (v.isNull())
        return QStringLiteral("status not set");
    const int code = v.toInt();
    const char* word = nullptr;
    switch (code) {
        case 0:
            word = "success";
            break;
        case 1:
            word = "not reachable";
            break;
        case 2:
            word = "not loaded";
            break;
        case 3:
            word = "failed";
            break;
        default:
            return QStringLiteral("status %1").arg(code);
    }
    return QStringLiteral("status %1 %2").arg(code).arg(QLatin1String(word));
}

}  // namespace

void HistoryJsonWriter::Begin() {
    std::fputs("[\n", stdout);
}

void HistoryJsonWriter::Write(const JobHistoryReader& reader) {
    static const QStringList& columns = JobHistoryReader::Columns();
    // The columns in the order QJsonObject keeps its keys.
    static const std::vector<int> order = [] {
        std::vector<int> o(size_t(columns.size()));
        for (size_t i = 0; i < o.size(); ++i)
            o[i] = int(i);
        std::sort(o.begin(), o.end(), [](int a, int b) { return columns.at(a) < columns.at(b); });
        return o;
    }();
    static const int arguments = column("Arguments");

    QByteArray out;
    out.reserve(2048);
    out += first_ ? "    {\n" : ",\n    {\n";
    first_ = false;
    for (size_t k = 0; k < order.size(); ++k) {
        const int i = order[k];
        out += "        \"";
        out += columns.at(i).toLatin1();
        out += "\": ";
        const QVariant v = reader.Value(i);
        if (i == arguments) {
            // Most records close with the same arguments: each text is laid out once.
            const QString stored = v.toString();
            if (stored != lastArguments_ || lastArgumentsJson_.isEmpty()) {
                lastArguments_ = stored;
                lastArgumentsJson_ = argumentsJson(stored);
            }
            out += lastArgumentsJson_;
        } else {
            appendStored(out, columns.at(i), v);
        }
        out += k + 1 < order.size() ? ",\n" : "\n";
    }
    out += "    }";
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
}

void HistoryJsonWriter::End() {
    std::fputs(first_ ? "]\n" : "\n]\n", stdout);
}

void PrintHistoryRecord(const JobHistoryReader& r) {
    static const int id = column("Id"), kind = column("Kind"), app = column("ApplicationName"),
                     status = column("Status"), end = column("EndTime"),
                     start = column("StartTime"), message = column("Message"),
                     job = column("JobIdentifier"), sourceServer = column("SourceServer"),
                     sourcePath = column("SourcePath"), sourceDb = column("SourceDatabase"),
                     sourceUser = column("SourceUser"), targetServer = column("TargetServer"),
                     targetPath = column("TargetPath"), targetDb = column("TargetDatabase"),
                     targetUser = column("TargetUser"), exception = column("ExceptionFile"),
                     object = column("ObjectName"), quantity = column("Quantity"),
                     unit = column("QuantityUnit"), user = column("CurrentUserName"),
                     computer = column("ComputerName"), arguments = column("Arguments");
    QByteArray out;
    out.reserve(512);
    auto line = [&out](const char* label, const QString& value) {
        if (value.isEmpty())
            return;
        char padded[24];
        std::snprintf(padded, sizeof padded, "  %-15s ", label);
        out += padded;
        out += value.toLocal8Bit();
        out += '\n';
    };
    out += QStringLiteral("#%1  %2  %3  kind %4  %5\n")
               .arg(text(r, id), RookTime::DisplayText(text(r, end)), statusText(r.Value(status)),
                    text(r, kind), text(r, app))
               .toLocal8Bit();
    line("Message", text(r, message));
    line("Job", text(r, job));
    line("Started", RookTime::DisplayText(text(r, start)));
    if (!text(r, sourceServer).isEmpty() || !text(r, sourcePath).isEmpty())
        line("Source", QStringLiteral("%1 %2 %3 (user %4)")
                           .arg(text(r, sourceServer), text(r, sourceDb), text(r, sourcePath),
                                text(r, sourceUser))
                           .simplified());
    if (!text(r, targetServer).isEmpty() || !text(r, targetPath).isEmpty())
        line("Target", QStringLiteral("%1 %2 %3 (user %4)")
                           .arg(text(r, targetServer), text(r, targetDb), text(r, targetPath),
                                text(r, targetUser))
                           .simplified());
    line("Exception file", text(r, exception));
    line("Object", text(r, object));
    if (!r.Value(quantity).isNull())
        line("Quantity", (text(r, quantity) + ' ' + text(r, unit)).trimmed());
    // The object kind and name: the first two closing arguments.
    const QString args = text(r, arguments);
    const QJsonArray kindAndName = QJsonDocument::fromJson(args.toUtf8()).array();
    if (!kindAndName.isEmpty())
        line("Object kind",
             kindAndName.at(0).toString() + QLatin1Char(' ') + kindAndName.at(1).toString());
    line("Run by", text(r, user) + QLatin1Char('@') + text(r, computer));
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
}
