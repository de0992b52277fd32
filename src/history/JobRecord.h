#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <array>

namespace Repository {
class Connection;
}

// One job-history record of the repository. Properties are set one by one while a job runs;
// Close stores the record with its closing arguments. A property never set is stored as null; a
// text property set to a null QString is stored as the empty text, like any other set value.
class JobRecord {
  public:
    // Positions 3 to 28 of Close: texts, 32-bit integers and (19 to 21) doubles.
    using CloseArguments = std::array<QVariant, 26>;
    // "Missing" everywhere but 16 (99), 19-21 (2.0, 2.0, -1.0) and 27-28 (0, 0).
    static CloseArguments DefaultCloseArguments();
    // The defaults with position 3 (object kind) and 4 (object name) set.
    static CloseArguments CloseArgumentsFor(const QString& kind, const QString& name);

    // The property names in their stored order.
    static const QStringList& PropertyNames();

    void setSourceServer(const QString& v) { Put("SourceServer", v); }
    void setSourcePath(const QString& v) { Put("SourcePath", v); }
    void setSourceDatabase(const QString& v) { Put("SourceDatabase", v); }
    void setSourceUser(const QString& v) { Put("SourceUser", v); }
    void setTargetServer(const QString& v) { Put("TargetServer", v); }
    void setTargetPath(const QString& v) { Put("TargetPath", v); }
    void setTargetDatabase(const QString& v) { Put("TargetDatabase", v); }
    void setTargetUser(const QString& v) { Put("TargetUser", v); }
    void setExceptionFile(const QString& v) { Put("ExceptionFile", v); }
    void setStartTime(const QDateTime& v) { Put("StartTime", v); }
    void setEndTime(const QDateTime& v) { Put("EndTime", v); }
    void setJobIdentifier(const QString& v) { Put("JobIdentifier", v); }
    void setStatus(qint32 v) { Put("Status", v); }
    void setMessage(const QString& v) { Put("Message", v); }
    void setObjectName(const QString& v) { Put("ObjectName", v); }
    void setQuantity(double v) { Put("Quantity", v); }
    void setQuantityUnit(const QString& v) { Put("QuantityUnit", v); }

    QString SourceServer() const { return TextOf("SourceServer"); }
    QString SourcePath() const { return TextOf("SourcePath"); }
    QString SourceDatabase() const { return TextOf("SourceDatabase"); }
    QString SourceUser() const { return TextOf("SourceUser"); }
    QString TargetServer() const { return TextOf("TargetServer"); }
    QString TargetPath() const { return TextOf("TargetPath"); }
    QString TargetDatabase() const { return TextOf("TargetDatabase"); }
    QString TargetUser() const { return TextOf("TargetUser"); }
    QString ExceptionFile() const { return TextOf("ExceptionFile"); }
    QDateTime StartTime() const { return props_.value("StartTime").toDateTime(); }
    QDateTime EndTime() const { return props_.value("EndTime").toDateTime(); }
    QString JobIdentifier() const { return TextOf("JobIdentifier"); }
    qint32 Status() const { return props_.value("Status").toInt(); }
    QString Message() const { return TextOf("Message"); }
    QString ObjectName() const { return TextOf("ObjectName"); }
    double Quantity() const { return props_.value("Quantity").toDouble(); }
    QString QuantityUnit() const { return TextOf("QuantityUnit"); }

    // The account the program runs under, and this computer's host name.
    QString CurrentUserName() const;
    QString ComputerName() const;

    // Stores the record with its closing arguments. Storage errors do not reach the caller (the
    // job's outcome is already in the run log and the status file); they are said on standard
    // error. Returns whether the record was stored.
    bool Close(qint32 kind, const QString& applicationName,
               const CloseArguments& arguments = DefaultCloseArguments());
    // The same, into a repository already open (one that stores many records keeps it open).
    bool Close(Repository::Connection& repository, qint32 kind, const QString& applicationName,
               const CloseArguments& arguments = DefaultCloseArguments());

    // Stores beside the stored record how Pendrill's own run ended: its exit status and the
    // seconds since this record was made. False (said on standard error when the repository
    // cannot take it) when the record was not stored.
    bool StoreOutcome(int exitStatus);

    // True once Close was called, whether or not the record could be stored.
    bool IsClosed() const { return closed_; }

    // Records a metadata file that arrived with remote data. Returns whether it was stored.
    bool ProcessMetadataFile(const QString& fileName);

    const QVariantMap& Properties() const { return props_; }

  private:
    void Put(const char* name, const QVariant& v) { props_.insert(QString::fromLatin1(name), v); }
    QString TextOf(const char* name) const {
        return props_.value(QString::fromLatin1(name)).toString();
    }
    QVariantMap props_;
    bool closed_ = false;
    QVariant storedKey_;  // the Id of the stored record
    QElapsedTimer age_{[] {
        QElapsedTimer t;
        t.start();
        return t;
    }()};
};
