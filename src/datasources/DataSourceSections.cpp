#include "datasources/DataSourceSections.h"

#include <limits>
#include <optional>

#include "config/RunSettings.h"
#include "config/IniDocument.h"
#include "config/PasswordScrambler.h"
#include "config/IniFiles.h"
#include "datasources/DataLinks.h"
#include "datasources/DataLinkCatalogue.h"

namespace {

QString sectionOf(const DataLink& ds) {
    return QString::fromLatin1(RunSettings::DataSourceSectionPrefix) + ds.strName;
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

void WriteDataSourceSections(const QString& file) {
    DataLinks* sources = LoadedDataSources();
    if (sources == nullptr)
        return;
    // Every key is set in one edit of the file, read under its write lock and then replaced
    // once: a configuration never holds half a section, a long list of sources does not mean
    // hundreds of rewrites, and a concurrent writer's change is kept. A key that a file line
    // cannot carry is left out, as a failed single write would be.
    bool passwords = false;
    for (const DataLink& ds : *sources)
        passwords = passwords || !ds.strDSPassword.isEmpty() || !ds.strDSConnectString.isEmpty() ||
                    !ds.strFTPPassword.isEmpty();
    EditIniFile(
        file,
        [&](IniDocument& profile) {
            for (const DataLink& ds : *sources) {
                const QString section = sectionOf(ds);
                auto put = [&](const char* key, const QString& value) {
                    profile.setValue(section, QString::fromLatin1(key), value);
                };
                put("Name", ds.strName);
                put("ModelName", ds.strModelName);
                put("Type", QString::number(ds.etlType));
                put("Server", ds.strDSServer);
                put("Database", ds.strDSDatabase);
                put("TrustedLogin", RunSettings::BooleanText(ds.blnDSTrustedLogin));
                put("User", ds.strDSUser);
                put("Password", EncryptPassword(ds.strDSPassword));
                put("File", ds.strDSFile);
                put("Directory", ds.strDSDirectory);
                put("ConnectString", EncryptPassword(ds.strDSConnectString));
                put("TransferData", QString::number(ds.intTransferData));
                put("FTPServer", ds.strFTPServer);
                put("FTPUSer", ds.strFTPUser);
                put("FTPPassword", EncryptPassword(ds.strFTPPassword));
                put("RemoteDir", ds.strRemoteDir);
                put("PollDuration", QString::number(ds.intPollDuration));
                put("PollInterval", QString::number(ds.intPollInterval));
            }
            return true;
        },
        passwords ? IniContent::Password : IniContent::Plain, 0600);
}

void ReadDataSourceSections(const QString& file) {
    if (DataLinks* sources = LoadedDataSources())
        ReadDataSourceSections(file, *sources);
}

void ReadDataSourceSections(const QString& file, DataLinks& sources) {
    // The file is read once, however many sources and keys are looked up in it.
    const IniDocument profile = ReadIniFile(file);
    for (DataLink& ds : sources) {
        const QString section = sectionOf(ds);
        auto get = [&](const char* key, const char* defaultValue = "") {
            return IniValueOf(profile, section, QString::fromLatin1(key),
                              QString::fromLatin1(defaultValue));
        };
        const QString name = get("Name");
        if (name.isEmpty())
            continue;
        ds.strName = name;
        const QString model = get("ModelName");
        const std::optional<int> type = integerIn(get("Type"), std::numeric_limits<int>::min(),
                                                  std::numeric_limits<int>::max());
        if (model != ds.strModelName || !type || *type != ds.etlType)
            continue;
        // The program writes numbers only; a section holding anything else was edited by hand
        // and is left alone rather than half applied.
        const std::optional<int> transfer = integerIn(get("TransferData", "0"), -32768, 32767);
        const std::optional<int> duration = integerIn(get("PollDuration", "0"), -32768, 32767);
        const std::optional<int> interval = integerIn(get("PollInterval", "0"), -32768, 32767);
        if (!transfer || !duration || !interval)
            continue;
        ds.strDSServer = get("Server");
        ds.strDSDatabase = get("Database");
        ds.blnDSTrustedLogin = RunSettings::ParseBoolean(get("TrustedLogin", "False"));
        ds.strDSUser = get("User");
        ds.strDSPassword = DecryptPassword(get("Password"));
        ds.strDSFile = get("File");
        ds.strDSDirectory = get("Directory");
        ds.strDSConnectString = DecryptPassword(get("ConnectString"));
        ds.intTransferData = static_cast<short>(*transfer);
        ds.strFTPServer = get("FTPServer");
        ds.strFTPUser = get("FTPUSer");
        ds.strFTPPassword = DecryptPassword(get("FTPPassword"));
        ds.strRemoteDir = get("RemoteDir");
        ds.intPollDuration = static_cast<short>(*duration);
        ds.intPollInterval = static_cast<short>(*interval);
    }
}
