#include "app/DataLinkPanelRules.h"

#include <QFile>
#include <QStringDecoder>

#include "datasources/DataLink.h"

void ClearFieldsForPanel(MainFormModel::DataLinkPanel panel, DataLink& source) {
    using P = MainFormModel::DataLinkPanel;
    switch (panel) {
        case P::SQLServer:
            source.file.clear();
            source.directory.clear();
            source.connectString.clear();
            break;
        case P::Access:
        case P::Excel:
            source.server.clear();
            source.trustedLogin = false;
            source.database.clear();
            source.directory.clear();
            source.connectString.clear();
            break;
        case P::Oracle:
            source.trustedLogin = false;
            source.connectString.clear();
            source.directory.clear();
            source.file.clear();
            break;
        case P::XMLFiles:
            source.server.clear();
            source.trustedLogin = false;
            source.database.clear();
            source.connectString.clear();
            source.user.clear();
            source.password.clear();
            break;
        case P::None:
        case P::FlatFile:
        case P::UDL:
            break;
    }
}

QString AddProviderVersion(const QString& connectText) {
    static const char* const kProviders[] = {"MSDASQL", "MSDAORA", "SQLOLEDB"};
    QString text = connectText;
    for (const char* provider : kProviders) {
        const QString prefix = QStringLiteral("Provider=%1;").arg(QLatin1String(provider));
        if (text.startsWith(prefix, Qt::CaseSensitive))
            text = QStringLiteral("Provider=%1.1;").arg(QLatin1String(provider)) +
                   text.mid(prefix.size());
    }
    return text;
}

bool ParseDataLinkText(const QByteArray& bytes, QString& connectText) {
    connectText.clear();
    QString text;
    if (bytes.startsWith("\xFF\xFE")) {
        text = QStringDecoder(QStringDecoder::Utf16LE)(bytes.mid(2));
    } else if (bytes.startsWith("\xFE\xFF")) {
        text = QStringDecoder(QStringDecoder::Utf16BE)(bytes.mid(2));
    } else if (bytes.startsWith("\xEF\xBB\xBF")) {
        text = QString::fromUtf8(bytes.mid(3));
    } else {
        text = QString::fromUtf8(bytes);
    }
    const QStringList lines = text.split(QLatin1Char('\n'));
    bool inHeader = false;
    for (QString line : lines) {
        line = line.trimmed();
        if (!inHeader) {
            inHeader = line.compare(QStringLiteral("[oledb]"), Qt::CaseInsensitive) == 0;
            continue;
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')))
            return false;
        connectText = line;
        return true;
    }
    return false;
}

bool ReadDataLinkFile(const QString& path, QString& connectText) {
    connectText.clear();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return ParseDataLinkText(file.readAll(), connectText);
}

QList<QPair<QString, QString>> SplitConnectText(const QString& connectText) {
    QList<QPair<QString, QString>> pairs;
    QString part;
    bool quoted = false;
    auto flush = [&] {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        const QString name = (eq < 0 ? part : part.left(eq)).trimmed();
        QString value = eq < 0 ? QString() : part.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
            value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        if (!name.isEmpty())
            pairs.append({name, value});
        part.clear();
    };
    for (const QChar c : connectText) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (c == QLatin1Char(';') && !quoted)
            flush();
        else
            part += c;
    }
    flush();
    return pairs;
}

QString JoinConnectText(const QList<QPair<QString, QString>>& pairs) {
    QStringList parts;
    for (const auto& [name, value] : pairs) {
        if (name.trimmed().isEmpty())
            continue;
        const bool quote = value.contains(QLatin1Char(';')) || value.startsWith(QLatin1Char(' '));
        parts << name.trimmed() + QLatin1Char('=') +
                     (quote ? QLatin1Char('"') + value + QLatin1Char('"') : value);
    }
    return parts.join(QLatin1Char(';'));
}

QString InvalidConnectInfoText() {
    return QStringLiteral(
        "Connect string information in UDL is invalid.\r\n"
        "Cleared Universal Data Link property info.");
}
