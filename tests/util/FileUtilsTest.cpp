#include <gtest/gtest.h>

#include "util/FileUtils.h"

TEST(FileUtils, AddBackslashAppendsOnlyWhenNoSeparator) {
    QString p = "/data/in";
    EXPECT_EQ(AddBackslash(p), "/data/in/");
    EXPECT_EQ(p, "/data/in/");
}
