#pragma once

#include <QString>

class IniDocument;

// The settings of one run and its package, and their configuration file (.etl). Loading and
// executing the package is PackageRun (src/dts/), the remote data of a run FetchModelRemoteData
// (src/remote/).
class RunSettings {
  public:
    QString DTSPackageName;
    QString DTSServer;
    bool DTSServerTrustedLogin = false;
    QString DTSLoginUserName;
    QString DTSLoginPassword;
    QString ExceptionLogFile;
    QString LogFileDir;
    bool UseDefaultLogFileDir = false;
    bool TruncateExceptionLogFile = false;
    QString JobID;
    bool WriteCompletionStatusToNT = false;
    bool DWServerTrustedLogin = false;
    QString DWServer;
    QString DWServerLoginUserName;
    QString DWServerLoginPassword;
    QString DWDatabaseName;
    QString PendrillConfigFile;
    bool RunFromUI = false;

    // Reads the three fixed sections of PendrillConfigFile. False, with no setting changed, when
    // the file does not exist.
    bool ReadConfigFile();
    // Reads the three fixed sections from a file already read; absent keys give their defaults.
    void ReadConfig(const IniDocument& profile);
    // Writes the three fixed sections to PendrillConfigFile (the "Data Source::" sections are
    // written by the caller, see DataSourceSections.h). False when the name is empty, the file
    // could not be written, or a value cannot be held by a file line (the file is then written
    // without it). `written`, when given, says whether the file was replaced. A new file is
    // readable by its owner only (it holds scrambled passwords); an existing file keeps its mode.
    bool WriteConfigFile(bool* written = nullptr);

    // Section and key names of the configuration file.
    static constexpr const char* PackageSection = "Package Info";
    static constexpr const char* DTSSection = "DTS Server Info";
    static constexpr const char* DWSection = "Datawarehouse Server Info";

    // "TRUE"/"FALSE", and the read rule: false only for "FALSE" in any letter case.
    static QString BooleanText(bool value);
    static bool ParseBoolean(const QString& text);

    // Keys whose values the file holds scrambled: "DTSPwd" and "DWPwd", and in the
    // "Data Source::" sections "Password", "ConnectString" and "FTPPassword".
    static bool IsScrambledKey(const QString& section, const QString& key);
    static constexpr const char* DataSourceSectionPrefix = "Data Source::";
};
