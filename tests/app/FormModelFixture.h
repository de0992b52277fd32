#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "app/frmRunnerMain.h"
#include "datasources/DbInterface.h"
#include "datasources/cDataSource.h"
#include "datasources/modDBConnection.h"
#include "datasources/modDataLinkInfo.h"
#include "platform/PackageStoreSchema.h"
#include "support/TestSupport.h"
#include "util/KelmStatusFile.h"
#include "util/OperatorInterface.h"
#include "util/ProgramState.h"

// Everything the form model asks of the person in front of it, in order.
class RecordingOperator : public OperatorInterface {
  public:
    void ProcessPendingEvents() override {}
    void ShowMessageBox(const QString& text, int style, const QString& title) override {
        boxes << QStringLiteral("%1|%2|%3").arg(style).arg(title, text);
    }
    void SetStatusText(const QString& text) override { status = text; }
    void SetMousePointer(int style) override { pointers << style; }
    void ShowMainWindowPage(int page) override { pages << page; }
    void SetFocusTo(const QString& control) override { focus << control; }
    void UnloadAllForms() override { ++unloads; }
    void OpenInTextEditor(const QString& path) override { opened << path; }

    QStringList boxes, focus, opened;
    QList<int> pointers, pages;
    QString status;
    int unloads = 0;
};

// A form model on the embedded "(local)" server of a private home: the package store in msdb and
// a warehouse database "DW" with its dwm_data_link table. The temporary directory is private too.
class FormModel : public ::testing::Test {
  protected:
    void SetUp() override {
        oldTmp_ = qgetenv("TMPDIR");
        QDir().mkpath(home.file("tmp"));
        qputenv("TMPDIR", home.file("tmp").toUtf8());
        tmp = QDir::tempPath() + '/';
        SetOperator(&op);
        ProgramState::StartInConfigMode = true;
    }
    void TearDown() override {
        SetOperator(nullptr);
        ProgramState::StartInConfigMode = false;
        ProgramState::StopRequested = false;
        ProgramState::RemoteStopRequested = false;
        SetStatusFile(QString());
        ReleaseDataSources();
        ReleaseDWConnection();
        qputenv("TMPDIR", oldTmp_);
    }

    std::unique_ptr<DbConnection> open(const QString& database) {
        auto c = std::make_unique<DbConnection>();
        c->Provider = "sqloledb";
        c->SetProperty("Data Source", "(local)");
        c->SetProperty("Initial Catalog", database);
        c->SetProperty("Integrated Security", "SSPI");
        c->CreateMissingDatabase = true;
        c->Open();
        return c;
    }
    void storePackages(const QStringList& names) {
        std::unique_ptr<DbConnection> msdb = open("msdb");
        ASSERT_TRUE(EnsurePackageStore(*msdb)) << msdb->ErrorText().toStdString();
        for (const QString& name : names)
            ASSERT_TRUE(msdb->Execute(
                "INSERT INTO sysdtspackages (name, id, versionid, description, createdate, owner, "
                "packagedata) VALUES (?, ?, ?, '', '2024-01-01 10:00:00', 'etl', '<package/>')",
                {name, "{" + name + "}", "{v" + name + "}"}))
                << msdb->ErrorText().toStdString();
    }
    // The warehouse with a data link of each of the given types for the model "Sales".
    void makeWarehouse(const QList<int>& types = {1, 3, 2, 6}) {
        std::unique_ptr<DbConnection> dw = open("DW");
        ASSERT_EQ(dw->State(), 1) << dw->ErrorText().toStdString();
        ASSERT_TRUE(CreateDataLinkTable(*dw)) << dw->ErrorText().toStdString();
        for (int type : types)
            ASSERT_TRUE(
                dw->Execute("INSERT INTO dwm_data_link (model, source_name, Type, ds_server, "
                            "ds_directory) VALUES ('Sales', ?, ?, 'srv', '/data/')",
                            {QStringLiteral("Link%1").arg(type), type}));
    }
    QString column(const QString& sql) {
        std::unique_ptr<DbConnection> dw = open("DW");
        DbRecordset rs;
        if (!rs.Open(sql, *dw) || rs.IsEOF())
            return "<none>";
        return rs.Field(0).toString();
    }
    // A window filled as an operator would: servers, package chosen from the store, log file.
    void fill(frmRunnerMain& f, const QString& package = "Sales_Overall") {
        f.uRookConnectDTS.ServerName = "(local)";
        f.uRookConnectDTS.TrustedLogin = true;
        f.uRookConnectDW.ServerName = "(local)";
        f.uRookConnectDW.TrustedLogin = true;
        f.uRookConnectDW.DatabaseName = "DW";
        f.OpenModelList();
        f.ChooseModel(f.cmbETLModel.Items().indexOf(GetEtlModelName(package)));
        f.OpenPackageList();
        f.ChoosePackage(f.cmbETLPackage.Items().indexOf(package));
        f.SetLogFileText(home.file("run.log"));
    }

    testsupport::IsolatedHome home;
    RecordingOperator op;
    QString tmp;

  private:
    QByteArray oldTmp_;
};
