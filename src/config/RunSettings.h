#pragma once

#include <QString>
#include <functional>
#include <memory>

class DtsPackage;
class IniDocument;
class DataLink;
class DataLinks;

// The settings of one run and its package. This part holds the settings and their configuration
// file (.etl); loading and executing the package are added by the package engine.
class RunSettings {
  public:
    // Defined with the package half (src/dts/), where the package type is complete.
    RunSettings();
    ~RunSettings();
    RunSettings(RunSettings&&) noexcept;
    RunSettings& operator=(RunSettings&&) noexcept;

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

    const QString& LastError() const { return lastError_; }

    // Reads the three fixed sections of PendrillConfigFile. False, with no setting changed, when
    // the file does not exist.
    bool ReadConfigFile();
    // Reads the three fixed sections from a file already read; absent keys give their defaults.
    void ReadConfig(const IniDocument& profile);
    // Writes the three fixed sections to PendrillConfigFile, then the data-source sections. False
    // when the name is empty or the file could not be written. A new file is readable by its
    // owner only (it holds scrambled passwords); an existing file keeps its mode.
    bool WriteConfigFile();

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

    // What WriteConfigFile writes after the fixed sections: the data-source layer installs the
    // writer of the "Data Source::" sections of its loaded collection (this layer does not know
    // the data sources). Nothing is written while none is installed.
    using SectionsWriter = std::function<void(const QString& file)>;
    static void SetDataSourceSectionsWriter(SectionsWriter writer);

    // Makes the package object LoadPackage fills. The programs install the package engine's
    // CreatePackage2 (src/engine/PackageFactory.h); without a factory no package can be loaded.
    std::function<std::unique_ptr<DtsPackage>()> PackageFactory;

    // Package operations (src/dts/ExecDTSPackagePackage.cpp, src/dts/LogMerge.cpp).
    bool LoadPackage();
    bool ExecPackage();
    QString GetGlobalVariableValuesAsString() const;
    void MergeLogFiles();
    bool CheckStepResults();
    static QString ConvertBulkLoadLog(const QString& fileName, const QString& directory);

    // Remote data of the package's ETL model (src/remote/): the data of every data source with
    // FTP or share transfer is waited for and copied before the package runs. True when every
    // fetch succeeded, also when there was nothing to fetch.
    bool HandleRemoteData();

  protected:
    QString lastError_;
    static SectionsWriter& dataSourceSectionsWriter();

    // Empties the exception file (when asked) and clears the log directory of the files a package
    // writes there. False, with the reason in `*error`, for a log directory that must not be
    // cleared: "/", the account's home, or the directory of the configuration file, the status
    // file or the run log.
    bool PrepareLogFiles(QString* error);
    void ReleasePackage();
    // The loaded package, owned until ExecPackage ends; and what the merge works on, remembered
    // when the package was loaded.
    std::unique_ptr<DtsPackage> package_;
    QString loadedPackageName_;
    QString loadedExceptionFile_;
    QString loadedLogDir_;

  private:
    // Marks every data source that reads the same remote directory as `ds` (same transfer type,
    // same FTP server for FTP, remote directories equal but for one trailing separator) as
    // handled, and points it at `ds`'s local directory.
    static void MarkSiblingsHandled(const DataLink& ds, DataLinks& collection);
    // The text without one trailing '\' or '/'.
    static QString stripSL(const QString& text);
};
