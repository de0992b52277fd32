#include "config/RunSettings.h"

#include <QFileInfo>

#include "config/IniDocument.h"
#include "config/IniFiles.h"
#include "config/PasswordScrambler.h"
#include "util/FileUtils.h"

QString RunSettings::BooleanText(bool value) {
    return value ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
}

bool RunSettings::ParseBoolean(const QString& text) {
    return text.toUpper() != QLatin1String("FALSE");
}

bool RunSettings::IsScrambledKey(const QString& section, const QString& key) {
    const QString k = key.trimmed();
    auto is = [&](const char* name) {
        return k.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };
    if (section.trimmed().startsWith(QLatin1String(DataSourceSectionPrefix), Qt::CaseInsensitive))
        return is("Password") || is("ConnectString") || is("FTPPassword");
    return is("DTSPwd") || is("DWPwd");
}

bool RunSettings::ReadConfigFile() {
    if (!FileExists(PendrillConfigFile) ||
        QFileInfo(PendrillConfigFile).size() > IniDocument::kMostBytes)
        return false;
    ReadConfig(ReadIniFile(PendrillConfigFile));
    return true;
}

void RunSettings::ReadConfig(const IniDocument& profile) {
    const QString pkg = QString::fromLatin1(PackageSection);
    const QString dts = QString::fromLatin1(DTSSection);
    const QString dw = QString::fromLatin1(DWSection);
    auto text = [&](const QString& section, const char* key) {
        return IniValueOf(profile, section, QString::fromLatin1(key), QString());
    };
    auto boolean = [&](const QString& section, const char* key) {
        return ParseBoolean(
            IniValueOf(profile, section, QString::fromLatin1(key), QStringLiteral("False")));
    };
    DTSPackageName = text(pkg, "Package");
    ExceptionLogFile = text(pkg, "LogFile");
    LogFileDir = text(pkg, "LogFileDir");
    UseDefaultLogFileDir = boolean(pkg, "UseDefaultLogFileDir");
    TruncateExceptionLogFile = boolean(pkg, "TruncLogFile");
    WriteCompletionStatusToNT = boolean(pkg, "WriteEvent");
    DTSServer = text(dts, "DTSServer");
    DTSServerTrustedLogin = boolean(dts, "DTSNTAut");
    DTSLoginUserName = text(dts, "DTSUser");
    DTSLoginPassword = DecryptPassword(text(dts, "DTSPwd"));
    DWServer = text(dw, "DWServer");
    DWServerTrustedLogin = boolean(dw, "DWNTAut");
    DWServerLoginUserName = text(dw, "DWUser");
    DWServerLoginPassword = DecryptPassword(text(dw, "DWPwd"));
    DWDatabaseName = text(dw, "DWDB");
}

bool RunSettings::WriteConfigFile(bool* written) {
    if (written != nullptr)
        *written = false;
    if (PendrillConfigFile.isEmpty())
        return false;
    // All fifteen keys are set in one in-memory edit of the file, read under its write lock, and
    // the file is replaced once: a crash never leaves a configuration with only some of its keys
    // updated, and a concurrent writer's change is kept.
    const QString pkg = QString::fromLatin1(PackageSection);
    const QString dts = QString::fromLatin1(DTSSection);
    const QString dw = QString::fromLatin1(DWSection);
    bool ok = true;
    const bool saved = EditIniFile(
        PendrillConfigFile,
        [&](IniDocument& profile) {
            auto set = [&](const QString& section, const char* key, const QString& value) {
                ok = profile.setValue(section, QString::fromLatin1(key), value) && ok;
            };
            set(pkg, "Package", DTSPackageName);
            set(pkg, "LogFile", ExceptionLogFile);
            set(pkg, "LogFileDir", LogFileDir);
            set(pkg, "UseDefaultLogFileDir", BooleanText(UseDefaultLogFileDir));
            set(pkg, "TruncLogFile", BooleanText(TruncateExceptionLogFile));
            set(pkg, "WriteEvent", BooleanText(WriteCompletionStatusToNT));
            set(dts, "DTSServer", DTSServer);
            set(dts, "DTSNTAut", BooleanText(DTSServerTrustedLogin));
            set(dts, "DTSUser", DTSLoginUserName);
            set(dts, "DTSPwd", EncryptPassword(DTSLoginPassword));
            set(dw, "DWServer", DWServer);
            set(dw, "DWNTAut", BooleanText(DWServerTrustedLogin));
            set(dw, "DWUser", DWServerLoginUserName);
            set(dw, "DWPwd", EncryptPassword(DWServerLoginPassword));
            set(dw, "DWDB", DWDatabaseName);
            return true;
        },
        DTSLoginPassword.isEmpty() && DWServerLoginPassword.isEmpty() ? IniContent::Plain
                                                                      : IniContent::Password,
        0600);
    if (written != nullptr)
        *written = saved;
    return saved && ok;
}
