#include "datasources/DatabaseLists.h"

#include "datasources/ChoiceList.h"
#include "db/DbInterface.h"

namespace {

void refill(ChoiceList& list, const QStringList& names) {
    const QString typed = list.Text();
    list.Clear();
    for (const QString& n : names)
        list.AddItem(n);
    list.SetCurrentIndex(FindComboItem(list, typed));
}

}  // namespace

bool FillSQLDatabaseList(DbConnection& connection, ChoiceList& list) {
    QStringList names;
    if (!connection.ListDatabases(names))
        return false;
    refill(list, names);
    return true;
}

bool FillOracleSchemaList(DbConnection& connection, ChoiceList& list) {
    std::unique_ptr<DbRecordset> rs = connection.OpenSchema(17);
    if (!rs)
        return false;
    QStringList names;
    for (rs->MoveFirst(); !rs->IsEOF(); rs->MoveNext())
        names << rs->Field(QStringLiteral("SCHEMA_NAME")).toString();
    rs->Close();
    refill(list, names);
    return true;
}

short FindComboItem(const ChoiceList& list, const QString& text) {
    const int n = list.Count();
    for (int i = 0; i < n && i <= 32767; ++i)
        if (list.ItemText(i).compare(text, Qt::CaseInsensitive) == 0)
            return static_cast<short>(i);
    return -1;
}
