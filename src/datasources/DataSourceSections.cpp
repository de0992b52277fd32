#include "datasources/DataSourceSections.h"

#include <limits>
#include <optional>

#include "config/IniDocument.h"
#include "config/IniFiles.h"
#include "config/PasswordScrambler.h"
#include "config/RunSettings.h"
#include "datasources/DataLinks.h"

namespace {

QString sectionOf(const DataLink& ds) {
    return QString::fromLatin1(RunSettings::DataSourceSectionPrefix) + ds.name;
}

// A decimal integer within [low, high], blanks around it allowed.
std::optional<int> integerIn(const QString& text, int low, int high) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok, 10);
    if (!ok || v < low || v > high)
        return std::nullopt;
    return v;
}

}  // namespace

void WriteDataSourceSections(const QString& file, const DataLinks& sources) {
    // Every key is set in one edit of the file, read under its write lock and then replaced
    // once: a configuration never holds half a section, a long list of sources does not mean
    // hundreds of rewrites, and a concurrent writer's change is kept. A key that a file line
    // cannot carry is left out, as a failed single write would be.
    bool passwords = false;
    for (const DataLink& ds : sources.All())
        passwords = passwords || !ds.password.isEmpty() || !ds.connectString.isEmpty() ||
                    !ds.ftpPassword.isEmpty();
    EditIniFile(
        file,
        [&](IniDocument& profile) {
            for (const DataLink& ds : sources.All()) {
                const QString section = sectionOf(ds);
                auto put = [&](const char* key, const QString& value) {
                    profile.setValue(section, QString::fromLatin1(key), value);
                };
                put("Name", ds.name);
                put("ModelName", ds.modelName);
                put("Type", QString::number(ds.etlType));
                put("Server", ds.server);
                put("Database", ds.database);
                put("TrustedLogin", RunSettings::BooleanText(ds.trustedLogin));
                put("User", ds.user);
                put("Password", EncryptPassword(ds.password));
                put("File", ds.file);
                put("Directory", ds.directory);
                put("ConnectString", EncryptPassword(ds.connectString));
                put("TransferData", QString::number(ds.transferData));
                put("FTPServer", ds.ftpServer);
                put("FTPUSer", ds.ftpUser);
                put("FTPPassword", EncryptPassword(ds.ftpPassword));
                put("RemoteDir", ds.remoteDirectory);
                put("PollDuration", QString::number(ds.pollDuration));
                put("PollInterval", QString::number(ds.pollInterval));
            }
            return true;
        },
        passwords ? IniContent::Password : IniContent::Plain, 0600);
}

void ReadDataSourceSections(const QString& file, DataLinks& sources) {
    // The file is read once, however many sources and keys are looked up in it.
    const IniDocument profile = ReadIniFile(file);
    for (DataLink& ds : sources.All()) {
        const QString section = sectionOf(ds);
        auto get = [&](const char* key, const char* defaultValue = "") {
            return IniValueOf(profile, section, QString::fromLatin1(key),
                              QString::fromLatin1(defaultValue));
        };
        const QString name = get("Name");
        if (name.isEmpty())
            continue;
        ds.name = name;
        const QString model = get("ModelName");
        const std::optional<int> type = integerIn(get("Type"), std::numeric_limits<int>::min(),
                                                  std::numeric_limits<int>::max());
        if (model != ds.modelName || !type || *type != ds.etlType)
            continue;
        // The program writes numbers only; a section holding anything else was edited by hand
        // and is left alone rather than half applied.
        const std::optional<int> transfer = integerIn(get("TransferData", "0"), -32768, 32767);
        const std::optional<int> duration = integerIn(get("PollDuration", "0"), -32768, 32767);
        const std::optional<int> interval = integerIn(get("PollInterval", "0"), -32768, 32767);
        if (!transfer || !duration || !interval)
            continue;
        ds.server = get("Server");
        ds.database = get("Database");
        ds.trustedLogin = RunSettings::ParseBoolean(get("TrustedLogin", "False"));
        ds.user = get("User");
        ds.password = DecryptPassword(get("Password"));
        ds.file = get("File");
        ds.directory = get("Directory");
        ds.connectString = DecryptPassword(get("ConnectString"));
        ds.transferData = static_cast<short>(*transfer);
        ds.ftpServer = get("FTPServer");
        ds.ftpUser = get("FTPUSer");
        ds.ftpPassword = DecryptPassword(get("FTPPassword"));
        ds.remoteDirectory = get("RemoteDir");
        ds.pollDuration = static_cast<short>(*duration);
        ds.pollInterval = static_cast<short>(*interval);
    }
}
