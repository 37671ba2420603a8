// The help window: opening help.chm at its default topic, the contents tree, and following
// links (the reader itself: tests/help/).
#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "support/testsupport.h"
#include "help/chmfile.h"
#include "services/appservices.h"
#include "ui/helpwindow.h"

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

// Compiles a help project with chmcmd; returns the CHM path or empty when chmcmd is missing.
QString Compile(const QTemporaryDir& dir, const QString& project) {
    const QString chmcmd = QStandardPaths::findExecutable(QStringLiteral("chmcmd"));
    if (chmcmd.isEmpty()) return {};
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(chmcmd, {project});
    p.waitForFinished(60000);
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return {};
    return dir.path() + QStringLiteral("/test.chm");
}

// Clicks the first link whose text is `text` in the browser's page.
bool ClickLink(CChmBrowser* browser, const QString& text) {
    const QTextCursor cursor = browser->document()->find(text);
    if (cursor.isNull()) return false;
    QTextCursor middle(browser->document());
    middle.setPosition((cursor.selectionStart() + cursor.selectionEnd()) / 2);
    browser->setTextCursor(middle);
    browser->ensureCursorVisible();
    const QPoint point = browser->cursorRect(middle).center();
    if (browser->anchorAt(point).isEmpty()) return false;
    QTest::mouseClick(browser->viewport(), Qt::LeftButton, {}, point);
    QApplication::processEvents();
    return true;
}

QString PageText(CChmBrowser* browser) { return browser->document()->toPlainText(); }

}  // namespace

// ---- The help window ------------------------------------------------------------------------

TEST(HelpWindow, OpensStagedHelpAtDefaultTopic) {
    CAppServices services;
    CHelpWindow window(services);
    ASSERT_TRUE(window.OpenFile(StagedHelp()));
    window.show();
    EXPECT_EQ(window.CurrentTopic(), QStringLiteral("/index.html"));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Corvane ヘルプ"));
    EXPECT_TRUE(PageText(window.Browser()).contains(QStringLiteral("デフォルトアドレス選択ポリシテーブル")));
    EXPECT_EQ(window.ContentsTree()->topLevelItemCount(), 4);
    EXPECT_TRUE(window.ContentsTree()->isVisibleTo(&window));
    // The style sheet of the page came from the help file: headings take its colour.
    const QTextBlock first = window.Browser()->document()->firstBlock();
    EXPECT_EQ(first.charFormat().foreground().color(), QColor(0x1d, 0x4f, 0x91));
}

TEST(HelpWindow, ClickingLinkShowsOtherPageAndBackReturns) {
    CAppServices services;
    CHelpWindow window(services);
    ASSERT_TRUE(window.OpenFile(StagedHelp()));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // "メッセージ一覧" appears on the first page only as a link.
    ASSERT_TRUE(ClickLink(window.Browser(), QStringLiteral("メッセージ一覧")));
    EXPECT_EQ(window.CurrentTopic(), QStringLiteral("/messages.html"));
    EXPECT_TRUE(PageText(window.Browser()).contains(QStringLiteral("環境設定ファイルに書き込みが出来ません。")));
    // The contents tree follows the page.
    ASSERT_NE(window.ContentsTree()->currentItem(), nullptr);
    EXPECT_EQ(window.ContentsTree()->currentItem()->text(0), QStringLiteral("メッセージ一覧"));
    window.Browser()->backward();
    EXPECT_EQ(window.CurrentTopic(), QStringLiteral("/index.html"));
}

TEST(HelpWindow, LinkWithAnchorIntoAnotherPage) {
    CAppServices services;
    CHelpWindow window(services);
    ASSERT_TRUE(window.OpenFile(StagedHelp()));
    ASSERT_TRUE(window.ShowTopic(QStringLiteral("/settings.html")));
    window.Browser()->setSource(QUrl(QStringLiteral("menu.html#property")));
    EXPECT_EQ(window.CurrentTopic(), QStringLiteral("/menu.html"));
    EXPECT_EQ(window.Browser()->source().fragment(), QStringLiteral("property"));
    // A link of the help-store form leads to the same file.
    window.Browser()->setSource(QUrl(QStringLiteral("ms-its:help.chm::/files.html")));
    EXPECT_EQ(window.CurrentTopic(), QStringLiteral("/files.html"));
}

TEST(HelpWindow, ContentsTreeOpensPagesAndHomeReturnsToDefault) {
    CAppServices services;
    CHelpWindow window(services);
    ASSERT_TRUE(window.OpenFile(StagedHelp()));
    QTreeWidget* tree = window.ContentsTree();
    QTreeWidgetItem* messages = tree->topLevelItem(3);
    ASSERT_NE(messages, nullptr);
    EXPECT_EQ(messages->text(0), QStringLiteral("メッセージ一覧"));
    tree->setCurrentItem(messages);
    EXPECT_EQ(window.CurrentTopic(), QStringLiteral("/messages.html"));
    EXPECT_TRUE(PageText(window.Browser()).contains(QStringLiteral("ヘルプファイルが存在しません。")));
    window.ShowDefaultTopic();
    EXPECT_EQ(window.CurrentTopic(), QStringLiteral("/index.html"));
}

TEST(HelpWindow, MissingPageKeepsWindowUsable) {
    CAppServices services;
    CHelpWindow window(services);
    ASSERT_TRUE(window.OpenFile(StagedHelp()));
    EXPECT_FALSE(window.ShowTopic(QStringLiteral("/nothing.html")));
    EXPECT_EQ(window.CurrentTopic(), QStringLiteral("/index.html"));
    window.Browser()->setSource(QUrl(QStringLiteral("nothing.html")));
    EXPECT_TRUE(PageText(window.Browser()).contains(QStringLiteral("ページを表示できません。")));
}

TEST(HelpWindow, FileThatIsNotHelpShowsError) {
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/help.chm");
    ASSERT_TRUE(WriteFile(path, QByteArray(1000, 'x')));
    CAppServices services;
    CHelpWindow window(services);
    EXPECT_FALSE(window.OpenFile(path));
    EXPECT_TRUE(PageText(window.Browser()).contains(QStringLiteral("ヘルプファイルを開けません。")));
    EXPECT_FALSE(window.ContentsTree()->isVisibleTo(&window));
}

TEST(HelpWindow, FileWithoutDefaultTopicOpensFirstPageInShiftJis) {
    QTemporaryDir dir;
    const QString d = dir.path() + u'/';
    ASSERT_TRUE(WriteFile(d + QStringLiteral("test.hhp"),
                          "[OPTIONS]\r\nCompiled file=test.chm\r\nTitle=T\r\n\r\n[FILES]\r\n"
                          "b.html\r\na.html\r\n"));
    ASSERT_TRUE(WriteFile(d + QStringLiteral("a.html"),
                          "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                          "charset=Shift_JIS\"></head><body><p>" +
                              platform::ToCp932(QStringLiteral("最初のページ")) +
                              " <a href=\"b.html\">B</a></p></body></html>"));
    ASSERT_TRUE(WriteFile(d + QStringLiteral("b.html"), "<html><body><p>second</p></body></html>"));
    const QString chm = Compile(dir, QStringLiteral("test.hhp"));
    if (chm.isEmpty()) GTEST_SKIP() << "needs chmcmd (fp-utils) to compile a help file";
    CAppServices services;
    CHelpWindow window(services);
    ASSERT_TRUE(window.OpenFile(chm));
    EXPECT_EQ(window.CurrentTopic(), QStringLiteral("/a.html"));
    EXPECT_TRUE(PageText(window.Browser()).contains(QStringLiteral("最初のページ")));
    // No contents file: the tree is hidden.
    EXPECT_FALSE(window.ContentsTree()->isVisibleTo(&window));
}

TEST(HelpWindow, DisplayHelpReusesOneWindowPerOwner) {
    CAppServices services;
    QWidget owner;
    CHelpWindow* first = CHelpWindow::DisplayHelp(services, &owner, StagedHelp());
    ASSERT_NE(first, nullptr);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->parentWidget(), &owner);
    EXPECT_TRUE(first->isWindow());
    first->ShowTopic(QStringLiteral("/files.html"));
    CHelpWindow* second = CHelpWindow::DisplayHelp(services, &owner, StagedHelp());
    EXPECT_EQ(first, second);
    // Displaying again goes back to the default topic.
    EXPECT_EQ(second->CurrentTopic(), QStringLiteral("/index.html"));
    EXPECT_EQ(CHelpWindow::Instance(), second);
}

// ---- The reader runs apart from the program ---------------------------------------------------

TEST(HelpReader, DamagedFileFoundByFuzzingKeepsTheProgramUnharmed) {
    // Read object after object in one process, this file made chmlib overrun a buffer; each
    // object now comes from a reader process of its own, and whatever chmlib does there, the
    // window gets an object or nothing.
    const QString damaged = testsupport::SourceDir() + QStringLiteral("/tests/ui/data/damaged-help.chm");
    CAppServices services;
    CHelpWindow window(services);
    window.OpenFile(damaged);
    window.show();
    for (const QString& page : {QStringLiteral("/index.html"), QStringLiteral("/b.html")})
        window.ShowTopic(page);
    window.File().Paths();
    SUCCEED();
}
