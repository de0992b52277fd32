#include <gtest/gtest.h>

#include <vector>

#include "db/postgres/CopyText.h"

namespace {

struct Field {
    QByteArray text;
    bool null = false;
};

bool append(QByteArray& buffer, const std::vector<Field>& row, QString* reason) {
    std::vector<BulkField> fields;
    for (const Field& f : row)
        fields.push_back({QByteArrayView(f.text), f.null});
    return AppendCopyRow(buffer, fields.data(), static_cast<int>(fields.size()), reason);
}

struct Case {
    const char* what;
    std::vector<Field> row;
    QByteArray encoded;
};

}  // namespace

// Each row is written as COPY expects it and reads back to the same fields.
TEST(CopyText, RowsEncodeAndDecodeAgain) {
    const Case cases[] = {
        {"plain", {{"1"}, {"abc"}}, "1\tabc\n"},
        {"escapes",
         {{"tab\there"}, {"back\\slash"}, {"cr\rlf\n"}},
         "tab\\there\tback\\\\slash\tcr\\rlf\\n\n"},
        {"null and empty differ", {{"", true}, {""}, {"\\N"}}, "\\N\t\t\\\\N\n"},
        {"one empty field", {{""}}, "\n"},
        {"utf-8 passes as it is", {{"K\xc3\xb6ln"}}, "K\xc3\xb6ln\n"},
    };
    for (const Case& c : cases) {
        QByteArray buffer = "before\n";
        QString reason;
        ASSERT_TRUE(append(buffer, c.row, &reason)) << c.what;
        EXPECT_EQ(buffer, "before\n" + c.encoded) << c.what;
        std::vector<bool> nulls;
        const std::vector<QByteArray> back = DecodeCopyRow(c.encoded, nulls);
        ASSERT_EQ(back.size(), c.row.size()) << c.what;
        for (size_t i = 0; i < back.size(); ++i) {
            EXPECT_EQ(nulls[i], c.row[i].null) << c.what << " field " << i;
            if (!c.row[i].null) {
                EXPECT_EQ(back[i], c.row[i].text) << c.what << " field " << i;
            }
        }
    }
}

TEST(CopyText, NulCharacterRejectsTheRowAndLeavesTheBufferAlone) {
    QByteArray buffer = "1\tok\n";
    QString reason;
    EXPECT_FALSE(append(buffer, {{"2"}, {QByteArray("a\0b", 3)}}, &reason));
    EXPECT_EQ(buffer, "1\tok\n");
    EXPECT_EQ(reason, "a value holds a NUL character");
}
