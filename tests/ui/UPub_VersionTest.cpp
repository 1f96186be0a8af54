#include <string>

#include <gtest/gtest.h>

#include "ui/UPub_Version.h"

TEST(StampVersion, ReplacesEveryMarkerWithoutRegardToCase) {
    struct Case {
        std::string text;
        std::string version;
        std::string expected;
    };
    const Case cases[] = {
        {"Kestrel V$V$(网络连接查看器)", "3.0", "Kestrel V3.0(网络连接查看器)"},
        {"no marker here", "3.0", "no marker here"},
        {"", "3.0", ""},
        {"a$V$b$v$c", "3.0", "a3.0b3.0c"},
        {"$V$$v$", "", ""},
        {"x$V$y$v$z", "", "xyz"},
        // Matches do not overlap, and the inserted version is never searched.
        {"$V$V$", "1", "1V$"},
        {"$V$", "$V$", "$V$"},
        {"$V", "3.0", "$V"},
        {"$$V$$", "9", "$9$"},
        {"版本$v$。", "3.0", "版本3.0。"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StampVersion(c.text, c.version), c.expected) << c.text;
}
