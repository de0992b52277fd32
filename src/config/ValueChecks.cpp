#include "config/ValueChecks.h"

#include <algorithm>
#include <initializer_list>

#include "config/IniFiles.h"
#include "config/PasswordScrambler.h"
#include "config/RunSettings.h"

namespace {

qsizetype firstControl(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text.at(i).category() == QChar::Other_Control)
            return i;
    return -1;
}

// "U+001B at position 4": a character named without printing it.
QString described(const QString& text, qsizetype at) {
    const QString code =
        QString::number(text.at(at).unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'));
    return QStringLiteral("U+%1 at position %2").arg(code).arg(at + 1);
}

bool isKey(const QString& key, const char* name) {
    return key.trimmed().compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

bool isAnyKey(const QString& key, std::initializer_list<const char*> names) {
    return std::any_of(names.begin(), names.end(), [&](const char* n) { return isKey(key, n); });
}

bool isSection(const QString& section, const char* name) {
    return section.trimmed().compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
}

bool isDataSourceSection(const QString& section) {
    return section.trimmed().startsWith(QLatin1String(RunSettings::DataSourceSectionPrefix),
                                        Qt::CaseInsensitive);
}

bool isBooleanKey(const QString& section, const QString& key) {
    if (isDataSourceSection(section))
        return isKey(key, "TrustedLogin");
    if (isSection(section, RunSettings::PackageSection))
        return isAnyKey(key, {"UseDefaultLogFileDir", "TruncLogFile", "WriteEvent"});
    if (isSection(section, RunSettings::DTSSection))
        return isKey(key, "DTSNTAut");
    if (isSection(section, RunSettings::DWSection))
        return isKey(key, "DWNTAut");
    return false;
}

}  // namespace

QString NameRefusal(const QString& what, const QString& name) {
    if (name.trimmed().isEmpty())
        return QStringLiteral("a %1 must not be empty").arg(what);
    if (const qsizetype at = firstControl(name); at >= 0)
        return QStringLiteral("a %1 must not hold control characters (%2)")
            .arg(what, described(name, at));
    return QString();
}

QString NumberRefusal(const QString& what, const QString& text, int min, int max, int* value) {
    bool ok = false;
    const qlonglong n = text.trimmed().toLongLong(&ok);
    if (!ok || n < min || n > max) {
        const QString shown = firstControl(text) >= 0 ? QStringLiteral("that") : text;
        return QStringLiteral("%1 needs a whole number from %2 to %3, not '%4'")
            .arg(what)
            .arg(min)
            .arg(max)
            .arg(shown);
    }
    if (value != nullptr)
        *value = static_cast<int>(n);
    return QString();
}

QString ScrambledValueRefusal(const QString& what, const QString& clearText) {
    const qsizetype at = FirstDroppedCharacter(clearText);
    if (at < 0)
        return QString();
    return QStringLiteral(
               "%1 is stored scrambled, which keeps only the printable ASCII characters (codes "
               "32 to 126); the value holds %2, which would be lost")
        .arg(what, described(clearText, at));
}

QString ConfigValueRefusal(const QString& section, const QString& key, const QString& value) {
    if (const qsizetype at = firstControl(section); at >= 0)
        return QStringLiteral("a section name must not hold control characters (%1)")
            .arg(described(section, at));
    if (const qsizetype at = firstControl(key); at >= 0)
        return QStringLiteral("a key name must not hold control characters (%1)")
            .arg(described(key, at));
    const QString prefix = QString::fromLatin1(RunSettings::DataSourceSectionPrefix);
    const bool dataSource = section.trimmed().startsWith(prefix, Qt::CaseInsensitive);
    if (dataSource && section.trimmed().size() == prefix.size())
        return QStringLiteral("a data-source section needs a data-link name after '%1'")
            .arg(prefix);
    const QString keyName = key.trimmed();
    if (const qsizetype at = firstControl(value); at >= 0)
        return QStringLiteral("the value of %1 must not hold control characters (%2)")
            .arg(keyName, described(value, at));
    qsizetype stored = value.size();
    if (RunSettings::IsScrambledKey(section, key)) {
        if (QString why = ScrambledValueRefusal(keyName, value); !why.isEmpty())
            return why;
        stored += 2;  // the second stamp
    }
    if (stored > kIniValueMaxChars)
        return QStringLiteral("the value of %1 is %2 characters long; a reader returns at most %3")
            .arg(keyName)
            .arg(value.size())
            .arg(kIniValueMaxChars - (stored - value.size()));
    if (dataSource) {
        for (const char* number : {"Type", "TransferData", "PollInterval", "PollDuration"})
            if (isKey(key, number))
                return NumberRefusal(keyName, value, 0, kDataLinkNumberMax);
    }
    // Read as false only when it spells FALSE: "no", "0" or "off" would read as true.
    if (isBooleanKey(section, key) && value.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) &&
        value.compare(QLatin1String("FALSE"), Qt::CaseInsensitive))
        return QStringLiteral("%1 takes TRUE or FALSE (in any letter case), not '%2'")
            .arg(keyName, value);
    return QString();
}

QString ConfigKeyRefusal(const QString& section, const QString& key) {
    bool known = false;
    if (isDataSourceSection(section))
        known = isAnyKey(
            key, {"Name", "ModelName", "Type", "Server", "Database", "TrustedLogin", "User",
                  "Password", "File", "Directory", "ConnectString", "TransferData", "FTPServer",
                  "FTPUSer", "FTPPassword", "RemoteDir", "PollDuration", "PollInterval"});
    else if (isSection(section, RunSettings::PackageSection))
        known = isAnyKey(key, {"Package", "LogFile", "LogFileDir", "UseDefaultLogFileDir",
                               "TruncLogFile", "WriteEvent"});
    else if (isSection(section, RunSettings::DTSSection))
        known = isAnyKey(key, {"DTSServer", "DTSNTAut", "DTSUser", "DTSPwd"});
    else if (isSection(section, RunSettings::DWSection))
        known = isAnyKey(key, {"DWServer", "DWNTAut", "DWUser", "DWPwd", "DWDB"});
    else
        return QStringLiteral("Pendrill reads no section '%1'").arg(section.trimmed());
    if (known)
        return QString();
    return QStringLiteral("Pendrill reads no key '%1' in section '%2'")
        .arg(key.trimmed(), section.trimmed());
}
