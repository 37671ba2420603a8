#include "platform/selfpath.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFileInfo>

TEST(SelfPath, NamesTheRunningProgramAndItsFolder) {
    const QString file = platform::ProgramFilePath();
    ASSERT_FALSE(file.isEmpty());
    EXPECT_EQ(QFileInfo(file).canonicalFilePath(),
              QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
    const QString dir = platform::ProgramDirectory();
    EXPECT_TRUE(dir.endsWith(u'/'));
    EXPECT_EQ(dir + QFileInfo(file).fileName(), file);
    EXPECT_EQ(platform::ProgramName(), QStringLiteral("test_platform"));
}
