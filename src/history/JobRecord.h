#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <array>

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

    void setSourceServer(const QString& v) { set("SourceServer", v); }
    void setSourcePath(const QString& v) { set("SourcePath", v); }
    void setSourceDatabase(const QString& v) { set("SourceDatabase", v); }
    void setSourceUser(const QString& v) { set("SourceUser", v); }
    void setTargetServer(const QString& v) { set("TargetServer", v); }
    void setTargetPath(const QString& v) { set("TargetPath", v); }
    void setTargetDatabase(const QString& v) { set("TargetDatabase", v); }
    void setTargetUser(const QString& v) { set("TargetUser", v); }
    void setExceptionFile(const QString& v) { set("ExceptionFile", v); }
    void setStartTime(const QDateTime& v) { set("StartTime", v); }
    void setEndTime(const QDateTime& v) { set("EndTime", v); }
    void setJobIdentifier(const QString& v) { set("JobIdentifier", v); }
    void setStatus(qint32 v) { set("Status", v); }
    void setMessage(const QString& v) { set("Message", v); }
    void setObjectName(const QString& v) { set("ObjectName", v); }
    void setQuantity(double v) { set("Quantity", v); }
    void setQuantityUnit(const QString& v) { set("QuantityUnit", v); }

    QString SourceServer() const { return text("SourceServer"); }
    QString SourcePath() const { return text("SourcePath"); }
    QString SourceDatabase() const { return text("SourceDatabase"); }
    QString SourceUser() const { return text("SourceUser"); }
    QString TargetServer() const { return text("TargetServer"); }
    QString TargetPath() const { return text("TargetPath"); }
    QString TargetDatabase() const { return text("TargetDatabase"); }
    QString TargetUser() const { return text("TargetUser"); }
    QString ExceptionFile() const { return text("ExceptionFile"); }
    QDateTime StartTime() const { return props_.value("StartTime").toDateTime(); }
    QDateTime EndTime() const { return props_.value("EndTime").toDateTime(); }
    QString JobIdentifier() const { return text("JobIdentifier"); }
    qint32 Status() const { return props_.value("Status").toInt(); }
    QString Message() const { return text("Message"); }
    QString ObjectName() const { return text("ObjectName"); }
    double Quantity() const { return props_.value("Quantity").toDouble(); }
    QString QuantityUnit() const { return text("QuantityUnit"); }

    // The account the program runs under, and this computer's host name.
    QString CurrentUserName() const;
    QString ComputerName() const;

    // Stores the record with its closing arguments. Storage errors do not reach the caller (the
    // job's outcome is already in the run log and the status file); they are said on standard
    // error. Returns whether the record was stored.
    bool Close(qint32 kind, const QString& applicationName,
               const CloseArguments& arguments = DefaultCloseArguments());

    // True once Close was called, whether or not the record could be stored.
    bool IsClosed() const { return closed_; }

    // Records a metadata file that arrived with remote data. Returns whether it was stored.
    bool ProcessMetadataFile(const QString& fileName);

    const QVariantMap& Properties() const { return props_; }

  private:
    void set(const char* name, const QVariant& v) { props_.insert(QString::fromLatin1(name), v); }
    QString text(const char* name) const {
        return props_.value(QString::fromLatin1(name)).toString();
    }
    QVariantMap props_;
    bool closed_ = false;
};
