#pragma once

#include <QString>

class DbConnection;
class ChoiceList;

// Fills a drop-down list with the databases of a server, in name order. The text the list showed
// before stays selected when the server has a database of that name; otherwise no entry is
// selected. False, with the list untouched and the text in the connection's Errors(), when the
// query fails.
bool FillSQLDatabaseList(DbConnection& connection, ChoiceList& list);

// The same with the schemas of an (Oracle) server, in the order the server gives them.
bool FillOracleSchemaList(DbConnection& connection, ChoiceList& list);

// The position of the entry equal to `text` without regard to letter case, -1 when there is none.
short FindComboItem(const ChoiceList& list, const QString& text);
