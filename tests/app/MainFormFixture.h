#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "app/MainFormModel.h"
#include "config/SettingsStore.h"
#include "datasources/DataLink.h"
#include "datasources/DataLinkCatalogue.h"
#include "db/DbInterface.h"
#include "db/PackageStoreSchema.h"
#include "support/RecordingOperator.h"
#include "support/TestSupport.h"
#include "util/RunTargets.h"
#include "util/StatusFile.h"
#include "util/StopFlags.h"

// A form model on the embedded "(local)" server of a private home: the package store in msdb and
// a warehouse database `dw` with its dwm_data_link table. The temporary directory is private too.
// A form model of interactive mode: its run log shows message boxes.
struct InteractiveForm : MainFormModel {
    InteractiveForm() { Log.interactive = true; }
};

class FormModel : public ::testing::Test {
  protected:
    void SetUp() override {
        oldTmp_ = qgetenv("TMPDIR");
        QDir().mkpath(home.file("tmp"));
        qputenv("TMPDIR", home.file("tmp").toUtf8());
        tmp = QDir::tempPath() + '/';
        // Relative names (and Windows-looking ones, which are relative here) land in the home.
        oldCwd_ = QDir::currentPath();
        QDir::setCurrent(home.path());
        SetOperator(&op);
    }
    void TearDown() override {
        SetOperator(nullptr);
        StopFlags::StopRequested = false;
        StopFlags::RemoteStopRequested = false;
        RunTargets::Current().statusFile = (QString());
        qputenv("TMPDIR", oldTmp_);
        QDir::setCurrent(oldCwd_);
    }

    std::unique_ptr<DbConnection> open(const QString& database) {
        auto c = std::make_unique<DbConnection>();
        c->Describe(server, database, trusted, user, password);
        c->CreateMissingDatabase = true;
        c->Open();
        return c;
    }
    void storePackages(const QStringList& names) {
        std::unique_ptr<DbConnection> msdb = open("msdb");
        ASSERT_TRUE(msdb->Execute("DROP TABLE IF EXISTS sysdtspackages"));
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
        std::unique_ptr<DbConnection> w = open(dw);
        ASSERT_EQ(w->State(), 1) << w->ErrorText().toStdString();
        ASSERT_TRUE(CreateDataLinkTable(*w)) << w->ErrorText().toStdString();
        for (int type : types)
            ASSERT_TRUE(
                w->Execute("INSERT INTO dwm_data_link (model, source_name, Type, ds_server, "
                           "ds_directory) VALUES ('Sales', ?, ?, 'srv', '/data/')",
                           {QStringLiteral("Link%1").arg(type), type}));
    }
    QString column(const QString& sql) {
        std::unique_ptr<DbConnection> w = open(dw);
        DbRecordset rs;
        if (!rs.Open(sql, *w) || rs.IsEOF())
            return "<none>";
        return rs.Field(0).toString();
    }
    // A window filled as an operator would: servers, package chosen from the store, log file.
    void fill(MainFormModel& f, const QString& package = "Sales_Overall") {
        for (ServerConnectionModel* c : {&f.packageServerWidget, &f.warehouseServerWidget}) {
            c->ServerName = server;
            c->TrustedLogin = trusted;
            c->UserName = user;
            c->Password = password;
        }
        f.warehouseServerWidget.DatabaseName = dw;
        f.OpenModelList();
        f.ChooseModel(f.models.Items().indexOf(GetEtlModelName(package)));
        f.OpenPackageList();
        f.ChoosePackage(f.packages.Items().indexOf(package));
        f.SetLogFileText(home.file("run.log"));
    }

    testsupport::IsolatedHome home;
    RecordingOperator op;
    // What a form model given this view asks of its window, in order: "pointer 11", "page 0"...
    struct RecordingView : MainFormView {
        void SetMousePointer(int style) override { calls << QString("pointer %1").arg(style); }
        void ShowPage(int page) override { calls << QString("page %1").arg(page); }
        void FocusControl(const QString& name) override { calls << "focus " + name; }
        void OpenInTextEditor(const QString& path) override { calls << "edit " + path; }
        QStringList calls;
    } view;
    QString tmp;
    QString server = QStringLiteral("(local)");
    bool trusted = true;
    QString user, password;
    QString dw = QStringLiteral("DW");

  private:
    QByteArray oldTmp_;
    QString oldCwd_;
};
