#pragma once

#include <QString>

class DbConnection;

// The data-link catalogue: one row per data source of an ETL model.
inline constexpr const char* DataLinkTable = "dwm_data_link";

// One data source ("data link") of an ETL model: a row of dwm_data_link. A new record has empty
// texts, zero numbers and false booleans. Passwords are held in clear; the catalogue stores them
// ROT13-rotated.
class DataLink {
  public:
    // Kinds of data source (etlType).
    enum Type : qint32 {
        SqlServer = 1,
        FlatFiles = 3,
        Excel = 4,
        Access = 5,
        Oracle = 6,
        OracleTested = 7,
        FlatFiles2 = 8,
        UniversalDataLink = 9,
        XmlFile = 10,
    };
    // Ways remote data is fetched (transferData); any other value fetches nothing.
    static constexpr short TransferFtp = 1;
    static constexpr short TransferShare = 2;

    QString modelName;               // model
    QString name;                    // source_name
    qint32 etlType = 0;              // Type
    QString server;                  // ds_server
    QString database;                // ds_database
    bool trustedLogin = false;       // ds_trusted_login
    QString user;                    // ds_user
    QString password;                // ds_password (ROT13 in the table)
    QString file;                    // ds_file
    QString directory;               // ds_directory
    QString connectString;           // ds_connect_string
    short transferData = 0;          // transfer_data
    QString ftpServer;               // ftp_server
    QString ftpUser;                 // ftp_user
    QString ftpPassword;             // ftp_password (ROT13 in the table)
    QString remoteDirectory;         // remote_directory
    short pollInterval = 0;          // poll_interval
    short pollDuration = 0;          // poll_duration
    bool remoteDataHandled = false;  // not stored: remote data dealt with in this run

    // Writes the fields to the row of (modelName, name) over the data-warehouse connection given;
    // never inserts a row and never changes model, source_name or Type. A flat-file source
    // (type 3) first gets its directory, and with FTP or share transfer its remote directory,
    // ended by a separator; the record keeps those changes even when the write fails. False with
    // `error` set when there is no such row or the database refuses.
    bool Save(DbConnection& connection, QString* error = nullptr);

    // Reads the row of (modelName, dataSourceName) into the record, with the conversions of the
    // collection load. False with `error` set when there is no such row, its Type is not a number,
    // or the query fails; the record is then unchanged.
    bool Load(DbConnection& connection, const QString& modelName, const QString& dataSourceName,
              QString* error = nullptr);
};
