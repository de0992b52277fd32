#include <gtest/gtest.h>

#include <tuple>

#include "datasources/DataLinkCatalogue.h"
#include "datasources/DataLinks.h"
#include "datasources/FieldConversions.h"

namespace {

const QVariant kNull = QVariant(QMetaType::fromType<QString>());

// Fields of the catalogue as stored by other tools: NULL, text, real numbers, beyond 16 bits.
TEST(FieldConversions, IntegerBooleanAndText) {
    const struct {
        QVariant value;
        short expected;
    } integers[] = {{kNull, 7},
                    {QVariant(), 7},
                    {QVariant(40000), 32767},
                    {QVariant(-40000), 32767},
                    {QVariant(-32768), -32768},
                    {QVariant(2.5), 2},
                    {QVariant(3.5), 4},
                    {QVariant(" 42 "), 42},
                    {QVariant("1e3"), 1000},
                    {QVariant("abc"), 7},
                    {QVariant(true), -1},
                    {QVariant(qlonglong(1) << 40), 32767}};
    for (const auto& c : integers)
        EXPECT_EQ(GetFieldInteger(c.value, 7), c.expected) << c.value.toString().toStdString();
    const struct {
        QVariant value;
        bool defaultValue, expected;
    } booleans[] = {{kNull, true, true},
                    {QVariant(0), true, false},
                    {QVariant(-1), false, true},
                    {QVariant(2), false, true},
                    {QVariant("TrUe"), false, true},
                    {QVariant("false"), true, false},
                    {QVariant("0"), true, false},
                    {QVariant("yes"), true, true}};
    for (const auto& c : booleans)
        EXPECT_EQ(GetFieldBoolean(c.value, c.defaultValue), c.expected)
            << c.value.toString().toStdString();

    EXPECT_EQ(GetFieldText(kNull, "d"), "d");
    EXPECT_EQ(GetFieldText(QVariant(""), "d"), "");
    EXPECT_EQ(GetFieldText(QVariant(true), ""), "True");
    EXPECT_EQ(FieldToLong(QVariant(40000)), 40000);
    for (const QVariant& v : {kNull, QVariant("three"), QVariant(qlonglong(1) << 40)})
        EXPECT_FALSE(FieldToLong(v)) << v.toString().toStdString();
}

TEST(EtlModelName, SuffixRules) {
    const struct {
        const char* package;
        const char* model;
        bool usesDataSources;
    } cases[] = {
        {"Sales_LoadDW", "Sales", false},
        {"Sales_ProcessTransformations", "Sales", true},
        {"SALES_overall", "SALES", true},
        {"Fin_loaddummies", "Fin", false},
        // "_Init" is tested before "_Upload", whatever comes first in the name.
        {"Fin_Upload_Init", "Fin_Upload", true},
        {"Fin_Init_CleanUpAll", "Fin_Init", false},
        {"_Init", "", false},
        {"NoSuffix", "", false},
        {"Hr_AlterTableDW_base", "Hr", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GetEtlModelName(c.package), c.model) << c.package;
        EXPECT_EQ(IsEtlModelPackage(c.package), c.usesDataSources) << c.package;
    }
}

// Add takes the poll duration before the interval and keeps 16 bits; names are exact, keys
// unique, items counted from 1.
TEST(DataSourceCollection, OrderKeysAndExactNames) {
    DataLinks c;
    auto add = [&](const QString& name, const QString& key = {}) {
        return c.Add("Sales", name, 1, "srv", "db", false, "u", "p", "", "", "", 70000, "", "", "",
                     "", 5, 6, key);
    };
    DataLink* first = add("Orders", "k1");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(std::tuple(first->pollDuration, first->pollInterval, first->transferData),
              std::tuple(short(5), short(6), static_cast<short>(70000)));
    add("orders");
    EXPECT_EQ(add("Dup", "k1"), nullptr) << "a key is used once";
    ASSERT_EQ(c.Count(), 2);
    EXPECT_EQ(std::tuple(c.Item(0), c.Item(1), c.Item(3), c.Item("k1")),
              std::tuple(nullptr, first, nullptr, first));
    EXPECT_EQ(c.FindByName("orders"), c.Item(2));
    EXPECT_EQ(c.FindByName("ORDERS"), nullptr);
    QStringList walked;
    for (const DataLink& ds : c.All())
        walked << ds.name;
    EXPECT_EQ(walked, QStringList({"Orders", "orders"}));
    c.Clear();
    EXPECT_EQ(c.Item("k1"), nullptr);
}

}  // namespace
