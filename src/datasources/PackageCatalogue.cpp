#include "datasources/PackageCatalogue.h"

#include "datasources/ChoiceList.h"
#include "datasources/DataLinkCatalogue.h"
#include "datasources/WarehouseConnection.h"
#include "db/DbInterface.h"
#include "db/PackageStoreSchema.h"

bool PackageCatalogue::RetrievePackages() {
    lastError_.clear();
    DbConnection c;
    c.ConnectionTimeout = 20;
    c.Describe(server, QString::fromLatin1(PackageStoreDatabase), trustedLogin, user, password);
    if (!c.Open() || c.State() != 1) {
        lastError_ = c.ErrorText();
        return false;
    }
    DbRecordset rs;
    if (!rs.Open(QStringLiteral("SELECT DISTINCT name FROM %1")
                     .arg(QString::fromLatin1(PackageStoreTable)),
                 c)) {
        lastError_ = rs.LastError();
        return false;
    }
    rs.MoveFirst();
    // An empty store has no first row to move to.
    if (rs.IsEOF())
        return false;
    for (; !rs.IsEOF(); rs.MoveNext()) {
        const QString name = rs.Field(0).toString();
        packages_ << name;
        AddETLModel(name);
    }
    rs.Close();
    c.Close();
    return true;
}

void PackageCatalogue::AddETLModel(const QString& packageName) {
    const QString model = GetEtlModelName(packageName);
    if (!models_.contains(model, Qt::CaseInsensitive))
        models_ << model;
}

void PackageCatalogue::FillComboBoxWithETLModels(ChoiceList& comboBox) const {
    comboBox.Clear();
    for (const QString& m : models_)
        if (!m.isEmpty())
            comboBox.AddItem(m);
}

void PackageCatalogue::FillComboBoxWithPackageFromETLModel(ChoiceList& comboBox,
                                                           const QString& model) const {
    comboBox.Clear();
    for (const QString& p : packages_) {
        const QString m = GetEtlModelName(p);
        if (!m.isEmpty() && m == model && !p.endsWith(QLatin1String("_base")))
            comboBox.AddItem(p);
    }
}
