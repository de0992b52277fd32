#include "HistoryOutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>

#include "JsonText.h"
#include "history/JobHistoryReader.h"
#include "history/TimeStamps.h"

namespace {

int column(const char* name) {
    return int(JobHistoryReader::Columns().indexOf(QLatin1String(name)));
}

// A stored text as one harmless piece of a listing line: any program of the repository may have
// written it, and a job id or file name with a line break or an escape sequence must not start a
// line of its own or steer the terminal. Control and format characters and line or paragraph
// separators are shown escaped: \n \r \t, \xHH, \uHHHH.
QString visible(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category cat = c.category();
        if (cat != QChar::Other_Control && cat != QChar::Other_Format &&
            cat != QChar::Separator_Line && cat != QChar::Separator_Paragraph) {
            out += c;
        } else if (c == QLatin1Char('\n')) {
            out += QLatin1String("\\n");
        } else if (c == QLatin1Char('\r')) {
            out += QLatin1String("\\r");
        } else if (c == QLatin1Char('\t')) {
            out += QLatin1String("\\t");
        } else if (c.unicode() < 0x100) {
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        } else {
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        }
    }
    return out;
}

// Appends `piece` to `out`: QByteArray's own append goes through its general insert, which
// costs more than the copy for the many short pieces of a record.
void appendPiece(QByteArray& out, QByteArrayView piece) {
    const qsizetype at = out.size();
    out.resize(at + piece.size());
    std::memcpy(out.data() + at, piece.data(), size_t(piece.size()));
}

QString FieldText(const JobHistoryReader& r, int col) {
    const QVariant v = r.Value(col);
    if (v.typeId() == QMetaType::Double)
        return QString::number(v.toDouble(), 'g', 15);
    return visible(v.toString());
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

HistoryJsonWriter::HistoryJsonWriter(FILE* out, bool lines) : out_(out), lines_(lines) {
    // The keys in the order a JSON object keeps them: sorted by their UTF-16 units.
    const QStringList& columns = JobHistoryReader::Columns();
    for (int i = 0; i < columns.size(); ++i)
        order_.append(i);
    std::sort(order_.begin(), order_.end(),
              [&columns](int a, int b) { return columns.at(a) < columns.at(b); });
    // What goes before each value: the comma after the value before it, the indent, the key.
    for (const int i : order_) {
        QByteArray key = keys_.isEmpty() ? QByteArray() : QByteArray(lines_ ? "," : ",\n");
        if (!lines_)
            key += "        ";
        JsonText::AppendString(key, columns.at(i));
        keys_.append(key + (lines_ ? ":" : ": "));
    }
    arguments_ = column("Arguments");
    buffer_.reserve(kFlushSize + 64 * 1024);
    startTime_ = column("StartTime");
    endTime_ = column("EndTime");
}

void HistoryJsonWriter::Begin() {
    if (!lines_)
        std::fputs("[\n", out_);
}

// An element of the indented array is laid out as the object alone, every line moved in by four
// blanks: its keys eight blanks in, the elements of Arguments twelve.
void HistoryJsonWriter::Write(const JobHistoryReader& reader) {
    if (!lines_)
        appendPiece(buffer_, first_ ? "    {\n" : ",\n    {\n");
    else
        buffer_ += '{';
    first_ = false;
    for (qsizetype k = 0; k < order_.size(); ++k) {
        const int i = order_.at(k);
        appendPiece(buffer_, keys_.at(k));
        const RowCursor::Kind kind = reader.FieldKind(i);
        if (i == arguments_) {
            // Runs mostly close with the same arguments: written once, then copied.
            const QByteArrayView stored =
                kind == RowCursor::Kind::Text ? reader.Utf8(i) : QByteArrayView();
            if (stored.isNull() || stored != argumentsStored_ || argumentsJson_.isNull()) {
                // Copied first: reading the field as UTF-16 frees the stored bytes.
                argumentsStored_ = stored.toByteArray();
                const QString text = reader.Field(i).toString();
                argumentsJson_ = QByteArray("");
                JsonText::AppendJsonValue(
                    argumentsJson_, QJsonDocument::fromJson(text.toUtf8()).array(), 2, lines_);
            }
            appendPiece(buffer_, argumentsJson_);
        } else if (kind == RowCursor::Kind::Null) {
            appendPiece(buffer_, "null");
        } else if (kind == RowCursor::Kind::Text && i != startTime_ && i != endTime_ &&
                   JsonText::AppendUtf8String(buffer_, reader.Utf8(i))) {
            // written as stored: the bytes were UTF-8
        } else if (kind == RowCursor::Kind::Integer) {
            const qint64 n = reader.Integer(i);
            constexpr qint64 exact = qint64(1) << 53;  // QJsonValue keeps these whole
            if (n > -exact && n < exact) {
                char digits[24];
                buffer_.append(digits,
                               std::to_chars(digits, digits + sizeof digits, n).ptr - digits);
            } else {
                JsonText::AppendJsonValue(buffer_, QJsonValue(n), 2, lines_);
            }
        } else {
            const QVariant v = reader.Field(i);
            if (v.isNull())
                buffer_ += "null";
            else if (v.typeId() == QMetaType::QString)
                JsonText::AppendString(buffer_, v.toString());
            else
                JsonText::AppendJsonValue(buffer_, QJsonValue::fromVariant(v), 2, lines_);
        }
    }
    appendPiece(buffer_, lines_ ? "}\n" : "\n    }");
    // Written in large pieces: one write a record cost more than the records' text.
    if (buffer_.size() >= kFlushSize)
        flush();
}

void HistoryJsonWriter::flush() {
    std::fwrite(buffer_.constData(), 1, size_t(buffer_.size()), out_);
    buffer_.resize(0);
}

void HistoryJsonWriter::End() {
    flush();
    if (!lines_)
        std::fputs(first_ ? "]\n" : "\n]\n", out_);
}

void PrintHistoryRecord(const JobHistoryReader& r, FILE* to) {
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
                     computer = column("ComputerName"), arguments = column("Arguments"),
                     exitStatus = column("exitStatus"), duration = column("durationSeconds");
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
               .arg(FieldText(r, id), TimeStamps::DisplayText(FieldText(r, end)),
                    statusText(r.Value(status)), FieldText(r, kind), FieldText(r, app))
               .toLocal8Bit();
    line("Message", FieldText(r, message));
    line("Job", FieldText(r, job));
    line("Started", TimeStamps::DisplayText(FieldText(r, start)));
    if (!FieldText(r, sourceServer).isEmpty() || !FieldText(r, sourcePath).isEmpty())
        line("Source", QStringLiteral("%1 %2 %3 (user %4)")
                           .arg(FieldText(r, sourceServer), FieldText(r, sourceDb),
                                FieldText(r, sourcePath), FieldText(r, sourceUser))
                           .simplified());
    if (!FieldText(r, targetServer).isEmpty() || !FieldText(r, targetPath).isEmpty())
        line("Target", QStringLiteral("%1 %2 %3 (user %4)")
                           .arg(FieldText(r, targetServer), FieldText(r, targetDb),
                                FieldText(r, targetPath), FieldText(r, targetUser))
                           .simplified());
    line("Exception file", FieldText(r, exception));
    line("Object", FieldText(r, object));
    if (!r.Value(quantity).isNull())
        line("Quantity", (FieldText(r, quantity) + ' ' + FieldText(r, unit)).trimmed());
    // The object kind and name: the first two closing arguments.
    const QString args = FieldText(r, arguments);
    const QJsonArray kindAndName = QJsonDocument::fromJson(args.toUtf8()).array();
    if (!kindAndName.isEmpty())
        line("Object kind", visible(kindAndName.at(0).toString() + QLatin1Char(' ') +
                                    kindAndName.at(1).toString()));
    line("Run by", FieldText(r, user) + QLatin1Char('@') + FieldText(r, computer));
    // Stored beside the records of Pendrill's own runs.
    line("Exit status", FieldText(r, exitStatus));
    if (!r.Value(duration).isNull())
        line("Duration", FieldText(r, duration) + QStringLiteral(" s"));
    std::fwrite(out.constData(), 1, size_t(out.size()), to);
}
