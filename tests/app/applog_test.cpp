#include <gtest/gtest.h>

#include "support/testsupport.h"

TEST(AppLog, EscapesCommasAndLineFeedsInTheMessageField) {
    testsupport::CTestApp t;
    ASSERT_EQ(t.Log().AppendLog(LOG_INFO, QStringLiteral("a,b\nc")), 1);
    const QStringList lines = t.LogLines();
    ASSERT_EQ(lines.size(), 1);
    const QStringList fields = lines[0].split(u',');
    EXPECT_EQ(fields[1], QStringLiteral("INFO"));
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(",INFO,a\\,b\\nc")));
}
