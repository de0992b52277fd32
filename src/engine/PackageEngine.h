#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

#include "db/BulkRowSink.h"
#include "dts/DtsPackage.h"
#include "engine/PackageDocument.h"
#include "engine/tasks/PackageTasks.h"

// What the engine needs from outside: the database layer (data links, row sinks, the package
// store) and the system log. The defaults read data links from dwm_data_link of the warehouse
// (DataLinkResolver.h), load documents from the server's package store (PackageStore.h) and
// write the completion event with syslog(3).
struct PackageServices {
    // The warehouse a data link is read from: the values of DestinationServer,
    // DestServerDatabaseName and the DestServer login variables.
    struct Warehouse {
        QString packageName;  // the package whose model's data links are read
        QString server;
        QString database;
        QString user;
        QString password;
        bool trusted = false;
    };

    // Fills `connection` from the dwm_data_link row named `dataLink` of the package's model.
    std::function<bool(const QString& dataLink, const Warehouse& warehouse,
                       ResolvedConnection* connection, QString* error)>
        resolveDataLink;
    // A sink storing rows into a table of a database connection.
    std::function<std::unique_ptr<BulkRowSink>(const ResolvedConnection& connection,
                                               const QString& table, QString* error)>
        openBulkSink;
    // The document stored under `packageName` (newest version) on the server.
    std::function<bool(const QString& server, const QString& user, const QString& password,
                       bool trusted, const QString& packageName, QByteArray* document,
                       QString* error)>
        loadDocument;
    // The completion event: `failed` tells success from failure.
    std::function<void(bool failed, const QString& text)> completionEvent;
};

PackageServices DefaultPackageServices();

// The package engine: a package document executed step by step, one step at a time, in the
// order its precedence constraints allow.
class EnginePackage : public DtsPackage {
  public:
    explicit EnginePackage(PackageServices services = DefaultPackageServices());
    ~EnginePackage() override;

    bool LoadFromSQLServer(const QString& server, const QString& user, const QString& password,
                           int flags, const QString& packagePassword, const QString& packageGuid,
                           const QString& versionGuid, const QString& packageName,
                           QString* error) override;
    // Reads a document directly; false with the validation errors, one per line, in `error`.
    bool LoadFromDocument(const QByteArray& xml, QString* error);

    bool HasGlobalVariable(const QString& name) const override;
    QVariant GlobalVariableValue(const QString& name) const override;
    bool SetGlobalVariableValue(const QString& name, const QVariant& value) override;

    bool Execute(QString* error = nullptr) override;

    int StepCount() const override { return static_cast<int>(steps_.size()); }
    std::optional<DtsStep> StepItem(int index) const override;
    QString Name() const override { return document_.name; }
    void UnInitialize() override;

    const PackageDocument& Document() const { return document_; }

  private:
    bool ResolveConnection(const QString& name, ResolvedConnection* out, QString* error) const;
    QString Expand(const QString& text) const;
    QString VariableText(const QString& name) const;
    bool Runnable(size_t index) const;
    void Log(const QString& logFile, const QString& text) const;

    PackageServices services_;
    PackageDocument document_;
    bool loaded_ = false;
    std::vector<QVariant> values_;  // parallel to document_.variables
    std::vector<DtsStep> steps_;    // parallel to document_.steps
};
