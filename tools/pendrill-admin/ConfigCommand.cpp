#include <QFileInfo>
#include <cstdio>

#include "AdminCommands.h"
#include "config/ExecDTSPackage.h"
#include "config/PrivateProfile.h"
#include "config/modCypher.h"
#include "config/modIniFilesUtils.h"

namespace {

const char* const kConfigUsage =
    "Usage: pendrill-admin config show FILE [--show-passwords]\n"
    "       pendrill-admin config get FILE SECTION KEY\n"
    "       pendrill-admin config set FILE SECTION KEY VALUE\n"
    "Read and write a run configuration file (.etl).\n"
    "  show   the fixed sections and the data-source sections as Pendrill reads them;\n"
    "         passwords as ******** unless --show-passwords\n"
    "  get    print one value; scrambled keys are printed in clear\n"
    "  set    write one value; scrambled keys (DTSPwd, DWPwd, and Password, ConnectString,\n"
    "         FTPPassword in data-source sections) are given in clear and stored scrambled.\n"
    "         A new file is created readable by its owner only.\n";

// The keys of a data-source section in their written order, with the default used on reading.
const struct {
    const char* key;
    const char* defaultValue;
} kDataSourceKeys[] = {
    {"Name", ""},          {"ModelName", ""},         {"Type", ""},          {"Server", ""},
    {"Database", ""},      {"TrustedLogin", "False"}, {"User", ""},          {"Password", ""},
    {"File", ""},          {"Directory", ""},         {"ConnectString", ""}, {"TransferData", "0"},
    {"FTPServer", ""},     {"FTPUSer", ""},           {"FTPPassword", ""},   {"RemoteDir", ""},
    {"PollDuration", "0"}, {"PollInterval", "0"},
};

void printLine(const QString& text) {
    std::printf("%s\n", text.toLocal8Bit().constData());
}

QString shown(const QString& section, const QString& key, const QString& clear, bool reveal) {
    if (!ExecDTSPackage::IsScrambledKey(section, key) || reveal)
        return clear;
    return clear.isEmpty() ? QString() : QStringLiteral("********");
}

int show(const QString& file, bool reveal) {
    ExecDTSPackage s;
    s.PendrillConfigFile = file;
    if (!s.ReadConfigFile()) {
        AdminError(QStringLiteral("cannot read %1: no such file").arg(file));
        return 1;
    }
    const auto b = ExecDTSPackage::BooleanText;
    const QString pkg = QString::fromLatin1(ExecDTSPackage::PackageSection);
    const QString dts = QString::fromLatin1(ExecDTSPackage::DTSSection);
    const QString dw = QString::fromLatin1(ExecDTSPackage::DWSection);
    printLine('[' + pkg + ']');
    printLine("Package=" + s.DTSPackageName);
    printLine("LogFile=" + s.ExceptionLogFile);
    printLine("LogFileDir=" + s.LogFileDir);
    printLine("UseDefaultLogFileDir=" + b(s.UseDefaultLogFileDir));
    printLine("TruncLogFile=" + b(s.TruncateExceptionLogFile));
    printLine("WriteEvent=" + b(s.WriteCompletionStatusToNT));
    printLine(QString());
    printLine('[' + dts + ']');
    printLine("DTSServer=" + s.DTSServer);
    printLine("DTSNTAut=" + b(s.DTSServerTrustedLogin));
    printLine("DTSUser=" + s.DTSLoginUserName);
    printLine("DTSPwd=" + shown(dts, "DTSPwd", s.DTSLoginPassword, reveal));
    printLine(QString());
    printLine('[' + dw + ']');
    printLine("DWServer=" + s.DWServer);
    printLine("DWNTAut=" + b(s.DWServerTrustedLogin));
    printLine("DWUser=" + s.DWServerLoginUserName);
    printLine("DWPwd=" + shown(dw, "DWPwd", s.DWServerLoginPassword, reveal));
    printLine("DWDB=" + s.DWDatabaseName);

    const std::optional<PrivateProfile> profile = PrivateProfile::load(file);
    if (!profile)
        return 0;
    for (const QString& section : profile->sectionNames()) {
        if (!section.startsWith(QLatin1String(ExecDTSPackage::DataSourceSectionPrefix),
                                Qt::CaseInsensitive))
            continue;
        printLine(QString());
        printLine('[' + section + ']');
        for (const auto& k : kDataSourceKeys) {
            const QString key = QString::fromLatin1(k.key);
            QString value = ReadIniValue(section, key, QString::fromLatin1(k.defaultValue), file);
            if (key == QLatin1String("TrustedLogin"))
                value = b(ExecDTSPackage::ParseBoolean(value));
            else if (ExecDTSPackage::IsScrambledKey(section, key))
                value = shown(section, key, DecryptPassword(value), reveal);
            printLine(key + '=' + value);
        }
    }
    return 0;
}

int get(const QString& file, const QString& section, const QString& key) {
    const std::optional<PrivateProfile> profile = PrivateProfile::load(file);
    if (!profile || !QFileInfo::exists(file)) {
        AdminError(QStringLiteral("cannot read %1").arg(file));
        return 1;
    }
    if (!profile->value(section, key)) {
        AdminError(QStringLiteral("%1: no key '%2' in section '%3'").arg(file, key, section));
        return 1;
    }
    QString value = ReadIniValue(section, key, QString(), file);
    if (ExecDTSPackage::IsScrambledKey(section, key))
        value = DecryptPassword(value);
    printLine(value);
    return 0;
}

int set(const QString& file, const QString& section, const QString& key, const QString& value) {
    std::optional<PrivateProfile> profile = PrivateProfile::load(file);
    if (!profile) {
        AdminError(QStringLiteral("cannot read %1").arg(file));
        return 1;
    }
    const QString stored =
        ExecDTSPackage::IsScrambledKey(section, key) ? EncryptPassword(value) : value;
    if (!profile->setValue(section, key, stored)) {
        AdminError(
            QStringLiteral("a section or key name must not be empty or hold a line break, "
                           "'=' or a leading ';' or '['; a value must not hold a line "
                           "break"));
        return 2;
    }
    if (!profile->save(file, 0600)) {
        AdminError(QStringLiteral("cannot write %1").arg(file));
        return 1;
    }
    return 0;
}

}  // namespace

int ConfigCommand(const QStringList& args) {
    const QString verb = args.value(0);
    if (verb == QLatin1String("--help") || verb == QLatin1String("help")) {
        std::fputs(kConfigUsage, stdout);
        return 0;
    }
    if (verb == QLatin1String("show") && (args.size() == 2 || args.size() == 3)) {
        const bool reveal = args.size() == 3;
        if (reveal && args.at(2) != QLatin1String("--show-passwords")) {
            std::fputs(kConfigUsage, stderr);
            return 2;
        }
        return show(args.at(1), reveal);
    }
    if (verb == QLatin1String("get") && args.size() == 4)
        return get(args[1], args[2], args[3]);
    if (verb == QLatin1String("set") && args.size() == 5)
        return set(args[1], args[2], args[3], args[4]);
    std::fputs(kConfigUsage, stderr);
    return 2;
}
