// The help-file reader: the help file that the build compiles, the link and text helpers, and
// the reader that runs apart from the program.
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "help/chmfile.h"
#include "platform/codepage.h"
#include "support/testsupport.h"

// Readable QString values in failure messages.
static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using testsupport::StageDir;
using testsupport::WriteFile;

namespace {

// The help-file reader is the staged one.
[[maybe_unused]] const bool kStagedReader = [] {
    CChmFile::SetReaderProgram(testsupport::StageDir() + QStringLiteral("/chmread"));
    return true;
}();

QString StagedHelp() { return StageDir() + QStringLiteral("/conf/langs/Japanese/help.chm"); }

}  // namespace

// ---- The help file that the build compiles -------------------------------------------------

TEST(HelpFile, StagedHelpHasDefaultTopicTitleAndContents) {
    CChmFile file;
    ASSERT_TRUE(file.Open(StagedHelp())) << StagedHelp().toStdString();
    EXPECT_EQ(file.DefaultTopic(), QStringLiteral("/index.html"));
    EXPECT_EQ(file.Title(), QStringLiteral("Corvane ヘルプ"));
    EXPECT_EQ(file.ContentsFile(), QStringLiteral("/toc.hhc"));
    const QList<CHelpTopic> toc = file.Contents();
    ASSERT_EQ(toc.size(), 4);
    EXPECT_EQ(toc[0].name, QStringLiteral("はじめに"));
    EXPECT_EQ(toc[1].name, QStringLiteral("ポリシ設定画面の使い方"));
    ASSERT_EQ(toc[1].children.size(), 4);
    EXPECT_EQ(toc[1].children[1].local, QStringLiteral("settings.html"));
    EXPECT_EQ(toc[1].children[3].local, QStringLiteral("order.html"));
    // Every page of the contents is in the file.
    for (const CHelpTopic& t : toc) {
        EXPECT_TRUE(file.Contains(CChmFile::ObjectPath(t.local))) << t.local.toStdString();
        for (const CHelpTopic& c : t.children)
            EXPECT_TRUE(file.Contains(CChmFile::ObjectPath(c.local))) << c.local.toStdString();
    }
}

TEST(HelpFile, StagedHelpDescribesEveryMenuCommandAndSetting) {
    CChmFile file;
    ASSERT_TRUE(file.Open(StagedHelp()));
    const auto menu = file.Read(QStringLiteral("/menu.html"));
    ASSERT_TRUE(menu.has_value());
    const QString text = CChmFile::DecodeText(*menu);
    for (const char* word : {"エクスポート", "初期値に戻す", "終了", "ツールの使い方", "バージョン情報",
                             "Ctrl+E", "Ctrl+Q", "アドレス順のプレビュー", "よく知られた表から始める"})
        EXPECT_TRUE(text.contains(QString::fromUtf8(word))) << word;
    const auto settings = file.Read(QStringLiteral("/settings.html"));
    ASSERT_TRUE(settings.has_value());
    const QString s = CChmFile::DecodeText(*settings);
    for (const char* key : {"OS", "LANG", "USE_NETWORK", "PROTOCOL", "ADDRESS"})
        EXPECT_TRUE(s.contains(QString::fromUtf8(key))) << key;
}

TEST(HelpFile, MissingOrForeignFileDoesNotOpen) {
    QTemporaryDir dir;
    CChmFile file;
    EXPECT_FALSE(file.Open(dir.path() + QStringLiteral("/none.chm")));
    const QString text = dir.path() + QStringLiteral("/text.chm");
    ASSERT_TRUE(WriteFile(text, "this is not a help file\n"));
    EXPECT_FALSE(file.Open(text));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_FALSE(file.Read(QStringLiteral("/index.html")).has_value());
    // A folder named help.chm is not a help file either.
    EXPECT_FALSE(file.Open(dir.path()));
}

TEST(HelpFile, ReadingMissingObjectGivesNothing) {
    CChmFile file;
    ASSERT_TRUE(file.Open(StagedHelp()));
    EXPECT_FALSE(file.Read(QStringLiteral("/nothing.html")).has_value());
    EXPECT_FALSE(file.Contains(QStringLiteral("/nothing.html")));
    EXPECT_FALSE(file.Read(QString()).has_value());
    EXPECT_TRUE(file.Paths().contains(QStringLiteral("/index.html")));
    EXPECT_FALSE(file.Paths().contains(QStringLiteral("/#SYSTEM")));
}

// ---- Link and text helpers ------------------------------------------------------------------

TEST(HelpLinks, ObjectPathResolvesRelativeLinksAndStorePrefixes) {
    EXPECT_EQ(CChmFile::ObjectPath(QStringLiteral("b.html"), QStringLiteral("/dir/a.html")),
              QStringLiteral("/dir/b.html"));
    EXPECT_EQ(CChmFile::ObjectPath(QStringLiteral("../x.html"), QStringLiteral("/dir/a.html")),
              QStringLiteral("/x.html"));
    EXPECT_EQ(CChmFile::ObjectPath(QStringLiteral("./a.html#part")), QStringLiteral("/a.html"));
    EXPECT_EQ(CChmFile::ObjectPath(QStringLiteral("ms-its:help.chm::/menu.html#export")),
              QStringLiteral("/menu.html"));
    EXPECT_EQ(CChmFile::ObjectPath(QStringLiteral("mk:@MSITStore:C:\\x\\help.chm::/a/b.html")),
              QStringLiteral("/a/b.html"));
    EXPECT_EQ(CChmFile::ObjectPath(QStringLiteral("sub\\page.htm"), QStringLiteral("/")),
              QStringLiteral("/sub/page.htm"));
    EXPECT_EQ(CChmFile::ObjectPath(QStringLiteral("../../../etc/passwd"), QStringLiteral("/a.html")),
              QStringLiteral("/etc/passwd"));
}

TEST(HelpLinks, DecodeTextFollowsDeclaredCharsetOrGuesses) {
    const QString jp = QStringLiteral("設定画面");
    const QByteArray sjis = platform::ToCp932(jp);
    EXPECT_EQ(CChmFile::DecodeText("<meta charset=\"Shift_JIS\">" + sjis),
              QStringLiteral("<meta charset=\"Shift_JIS\">") + jp);
    EXPECT_EQ(CChmFile::DecodeText(jp.toUtf8()), jp);
    // Bytes that are not UTF-8 and declare nothing are read as the Japanese code page.
    EXPECT_EQ(CChmFile::DecodeText(sjis), jp);
}

TEST(HelpLinks, SitemapNestingEntitiesAndOtherObjects) {
    const QString hhc = QStringLiteral(
        "<OBJECT type=\"text/site properties\"><param name=\"Name\" value=\"ignored\"></OBJECT>"
        "<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"A &amp; B\">"
        "<param name=\"Local\" value=\"a.html\"></OBJECT>"
        "<UL><LI><object type='text/sitemap'><param name=Name value=Child>"
        "<param name='Local' value='sub/c.html'></object></UL>"
        "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"&#x65E5;\"></OBJECT>"
        "</UL>");
    const QList<CHelpTopic> toc = CChmFile::ParseSitemap(hhc);
    ASSERT_EQ(toc.size(), 2);
    EXPECT_EQ(toc[0].name, QStringLiteral("A & B"));
    EXPECT_EQ(toc[0].local, QStringLiteral("a.html"));
    ASSERT_EQ(toc[0].children.size(), 1);
    EXPECT_EQ(toc[0].children[0].name, QStringLiteral("Child"));
    EXPECT_EQ(toc[0].children[0].local, QStringLiteral("sub/c.html"));
    EXPECT_EQ(toc[1].name, QStringLiteral("日"));
    EXPECT_TRUE(toc[1].local.isEmpty());
}

TEST(HelpLinks, SitemapDeepNestingAndStrayClosingTagsStayBounded) {
    QString hhc;
    for (int i = 0; i < 200; ++i)
        hhc += QStringLiteral("<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"n\"></OBJECT>");
    for (int i = 0; i < 400; ++i) hhc += QStringLiteral("</UL>");
    hhc += QStringLiteral("<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"last\"></OBJECT>");
    const QList<CHelpTopic> toc = CChmFile::ParseSitemap(hhc);
    ASSERT_EQ(toc.size(), 2);
    EXPECT_EQ(toc[1].name, QStringLiteral("last"));
    int depth = 0;
    for (const CHelpTopic* t = &toc[0]; !t->children.isEmpty(); t = &t->children.last()) ++depth;
    EXPECT_LT(depth, 40);
}

// ---- The reader runs apart from the program ---------------------------------------------------

TEST(HelpReader, ReaderThatFailsOrFloodsGivesNothing) {
    CChmFile file;
    CChmFile::SetReaderProgram(QStringLiteral("/bin/false"));
    EXPECT_FALSE(file.Open(StagedHelp()));
    // A reader that never stops printing is cut off at the object limit.
    CChmFile::SetReaderProgram(QStringLiteral("/usr/bin/yes"));
    EXPECT_FALSE(file.Open(StagedHelp()));
    CChmFile::SetReaderProgram(StageDir() + QStringLiteral("/missing-reader"));
    EXPECT_FALSE(file.Open(StagedHelp()));
    CChmFile::SetReaderProgram(StageDir() + QStringLiteral("/chmread"));
    EXPECT_TRUE(file.Open(StagedHelp()));
}

TEST(HelpReader, ObjectsAreReadOnceWhileTheFileIsOpen) {
    QTemporaryDir dir;
    const QString copy = dir.path() + QStringLiteral("/help.chm");
    ASSERT_TRUE(QFile::copy(StagedHelp(), copy));
    CChmFile file;
    ASSERT_TRUE(file.Open(copy));
    const auto first = file.Read(QStringLiteral("/index.html"));
    ASSERT_TRUE(first.has_value());
    // With the file gone, a page read before still comes from memory; others are not there.
    ASSERT_TRUE(QFile::remove(copy));
    const auto again = file.Read(QStringLiteral("/index.html"));
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(*again, *first);
    EXPECT_FALSE(file.Read(QStringLiteral("/menu.html")).has_value());
}
