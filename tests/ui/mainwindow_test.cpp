// The main window of editor mode, driven like a user would: opening from the policy table file
// or the operating system's table (the netsh stand-in with its own table file), adding,
// changing, removing, registering, closing and resizing.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QWindow>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "support/testsupport.h"
#include "app/runmodes.h"
#include "ui/mainwindow.h"
#include "uitestutil.h"

namespace {

using testsupport::ReadFile;
using testsupport::WriteFile;

// One line of the policy table file: switched on, origin, name, label, priority, prefix. The
// file's origin codes run the other way: "0" operating system, "1" network, "2" entered.
QByteArray ConfLine(bool on, int source, const QString& name, int label, int priority,
                    const QString& address) {
    const int code = source == 2 ? 0 : source == 1 ? 1 : 2;
    QString escaped = name;
    escaped.replace(u',', QStringLiteral("\\,"));
    return platform::ToCp932(QStringLiteral("%1,%2,%3,%4,%5,%6\r\n")
                                 .arg(on ? 1 : 0)
                                 .arg(code)
                                 .arg(escaped)
                                 .arg(label)
                                 .arg(priority)
                                 .arg(address));
}

// The main window on a temporary installation whose netsh is the stand-in with its own table.
class EditorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::link(testsupport::StageDir() + QStringLiteral("/netsh"),
                                t.Dir() + QStringLiteral("netsh")));
        netshTable = t.Dir() + QStringLiteral("netsh.table");
        qputenv("NETSH_PREFIXPOLICY_FILE", QFile::encodeName(netshTable));
        t.App().m_pMainWnd = nullptr;
    }
    void TearDown() override {
        if (dlg) {
            dlg->hide();
            dlg.reset();
        }
        qunsetenv("NETSH_PREFIXPOLICY_FILE");
    }

    QString ConfPath() const { return t.Dir() + QStringLiteral("conf/policytable.conf"); }
    void WriteConf(const QByteArray& bytes) { ASSERT_TRUE(WriteFile(ConfPath(), bytes)); }
    void WriteNetshTable(const QString& text) {
        ASSERT_TRUE(WriteFile(netshTable, text.toUtf8()));
    }
    // Entries of the stand-in's table as "precedence label prefix" lines.
    QStringList NetshEntries() const {
        QStringList out;
        const QString text = QString::fromUtf8(ReadFile(netshTable));
        for (const QString& line : text.split(u'\n')) {
            const QString l = line.trimmed();
            if (!l.isEmpty() && !l.startsWith(u'#')) out << l.simplified();
        }
        return out;
    }

    // Builds and shows the window.
    void Open() {
        dlg = std::make_unique<CZarntoolDlg>(t.App());
        ASSERT_TRUE(dlg->Create());
        dlg->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dlg.get()));
    }

    CPolicyListCtrl& List() { return dlg->m_listPolicy; }
    QStringList Column(int column) {
        QStringList out;
        for (int i = 0; i < List().GetItemCount(); ++i) out << List().GetItemText(i, column);
        return out;
    }
    void Type(const QString& name, const QString& label, const QString& priority,
              const QString& address) {
        dlg->m_editNetworkName.setText(name);
        dlg->m_editLabel.setText(label);
        dlg->m_editPriority.setText(priority);
        dlg->m_editAddress.setText(address);
    }
    void Click(QPushButton& button) { QTest::mouseClick(&button, Qt::LeftButton); }
    QStringList EditTexts() {
        return {dlg->m_editNetworkName.text(), dlg->m_editLabel.text(),
                dlg->m_editPriority.text(), dlg->m_editAddress.text()};
    }
    bool LogHas(const QString& ending) const {
        const QStringList lines = t.LogLines();
        return std::any_of(lines.begin(), lines.end(),
                           [&](const QString& l) { return l.endsWith(ending); });
    }
    int LogIndex(const QString& ending) const {
        const QStringList lines = t.LogLines();
        for (int i = 0; i < lines.size(); ++i)
            if (lines[i].endsWith(ending)) return i;
        return -1;
    }
    QByteArray SixRows() {
        return ConfLine(true, 0, "ten", 1, 10, "::1/128") + ConfLine(true, 1, "one", 2, 1, "::/0") +
               ConfLine(false, 2, "thousand", 3, 1000, "2002::/16") +
               ConfLine(true, 0, "forty", 4, 40, "::/96") +
               ConfLine(true, 2, "thirtyfive", 5, 35, "::ffff:0:0/96") +
               ConfLine(true, 1, "fifty", 6, 50, "2001::/32");
    }

    mutable testsupport::CTestApp t;
    QString netshTable;
    std::unique_ptr<CZarntoolDlg> dlg;
};

}  // namespace

// --- Opening -----------------------------------------------------------------------------------

TEST_F(EditorTest, OpensOnThePolicyTableFileSortedByPriorityHighestFirst) {
    WriteConf(SixRows());
    Open();
    EXPECT_EQ(Column(3), (QStringList{"1000", "50", "40", "35", "10", "1"}));
    EXPECT_EQ(Column(1), (QStringList{"thousand", "fifty", "forty", "thirtyfive", "ten", "one"}));
    EXPECT_FALSE(List().GetCheck(0));
    EXPECT_TRUE(List().GetCheck(1));
    EXPECT_EQ(Column(5), (QStringList{"2", "1", "0", "2", "0", "1"}));
    EXPECT_EQ(List().GetItemImage(0, 1), 2);
    EXPECT_FALSE(dlg->IsDlgItemEnabled(IDC_REMOVE));
    EXPECT_FALSE(dlg->IsDlgItemEnabled(IDC_MODIFY));
    EXPECT_TRUE(dlg->IsDlgItemEnabled(IDC_SAVE));
    EXPECT_EQ(EditTexts(), (QStringList{"", "", "", ""}));
    EXPECT_TRUE(LogHas(QStringLiteral("ポリシ設定画面を表示しました。")));
    EXPECT_EQ(t.Log().m_hOwnerWnd.data(), dlg.get());
    // Nothing was asked of the operating system.
    EXPECT_FALSE(LogHas(QStringLiteral("FindFile(cs_PolicyTablePath)=FALSE")));
}

TEST_F(EditorTest, OpensOnTheOperatingSystemTableWithoutTheFile) {
    WriteNetshTable(QStringLiteral("50 0 ::1/128\n40 1 ::/0\n30 2 2002::/16\n"));
    Open();
    EXPECT_TRUE(LogHas(QStringLiteral("FindFile(cs_PolicyTablePath)=FALSE")));
    ASSERT_EQ(List().GetItemCount(), 3);
    EXPECT_EQ(Column(3), (QStringList{"50", "40", "30"}));
    EXPECT_EQ(Column(5), (QStringList{"2", "2", "2"}));
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(List().GetCheck(i));
    EXPECT_EQ(List().GetItemText(2, 4), QStringLiteral("2002::/16"));
}

TEST_F(EditorTest, OpensEmptyWhenTheOperatingSystemTableCannotBeRead) {
    t.SetSetting("APPLICATION", "OS", "Windows7");
    QFile::remove(t.Dir() + QStringLiteral("netsh"));
    Open();
    EXPECT_EQ(List().GetItemCount(), 0);
    EXPECT_TRUE(LogHas(QStringLiteral("GetCurrent(&clPolicy)=FALSE")));
    EXPECT_TRUE(dlg->isVisible());
}

TEST_F(EditorTest, WindowCarriesMenuSystemMenuItemIconAndLimits) {
    WriteConf({});
    Open();
    ASSERT_NE(dlg->GetMenu(), nullptr);
    EXPECT_EQ(dlg->GetMenu()->actions().size(), 2);
    EXPECT_NE(dlg->GetMenuItem(ID_FILE_QUIT), nullptr);
    const QList<QAction*> system = dlg->GetSystemMenu()->actions();
    ASSERT_GE(system.size(), 2);
    EXPECT_TRUE(system[system.size() - 2]->isSeparator());
    EXPECT_EQ(system.last()->text(), QStringLiteral("バージョン情報 Corvane(&A)..."));
    EXPECT_EQ(system.last()->data().toInt(), 16);
    EXPECT_FALSE(dlg->windowIcon().isNull());
    EXPECT_EQ(dlg->QueryDragIcon().cacheKey(), dlg->m_hIcon.cacheKey());
    EXPECT_TRUE(dlg->m_hAccel);
    ASSERT_NE(dlg->m_pImageList, nullptr);
    ASSERT_EQ(dlg->m_pImageList->size(), 3);
    for (const QIcon& icon : *dlg->m_pImageList) EXPECT_FALSE(icon.isNull());
}

TEST_F(EditorTest, EditFieldsTakeNoMoreThanTheirLimits) {
    WriteConf({});
    Open();
    struct Field {
        QLineEdit* edit;
        int limit;
    } fields[] = {{&dlg->m_editNetworkName, 128},
                  {&dlg->m_editLabel, 10},
                  {&dlg->m_editPriority, 10},
                  {&dlg->m_editAddress, 43}};
    for (const Field& f : fields) {
        f.edit->setFocus();
        QTest::keyClicks(f.edit, QString(f.limit + 5, u'7'));
        EXPECT_EQ(f.edit->text().size(), f.limit);
    }
}

// --- Adding, changing, removing ---------------------------------------------------------------

TEST_F(EditorTest, AddSortsAndSelectsTheLastRowThenFillsTheFields) {
    WriteConf(ConfLine(true, 0, "a", 1, 50, "::1/128") + ConfLine(true, 0, "b", 2, 10, "::/0"));
    Open();
    Type(QStringLiteral("new"), QStringLiteral("7"), QStringLiteral("30"), QStringLiteral("2002::/16"));
    Click(dlg->m_btnAdd);
    EXPECT_EQ(Column(1), (QStringList{"a", "new", "b"}));
    EXPECT_EQ(List().GetFirstSelected(), 2);
    // The fields show the selected row, which is not the one just added.
    EXPECT_EQ(EditTexts(), (QStringList{"b", "2", "10", "::/0"}));
    EXPECT_TRUE(dlg->IsDlgItemEnabled(IDC_REMOVE));
    EXPECT_TRUE(dlg->IsDlgItemEnabled(IDC_MODIFY));
    EXPECT_TRUE(List().GetCheck(1));
    EXPECT_EQ(List().GetItemText(1, 5), QStringLiteral("0"));
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
}

TEST_F(EditorTest, AfterAddTheFieldsShowTheSelectedRowWhetherOrNotTheSelectionMoved) {
    // Rows a (50) and b (10); a row is selected, then "new" is added; the last row after sorting
    // ends up selected, and the fields must show it, not what was typed.
    const struct {
        int selectedBefore;
        const char* priority;
        QStringList shown;
    } kCases[] = {
        {1, "30", {"b", "2", "10", "::/0"}},          // b was selected and stays selected
        {0, "30", {"b", "2", "10", "::/0"}},          // the selection moves from a to b
        {1, "5", {"new", "7", "5", "2002::/16"}},     // the new row sorts last
    };
    for (const auto& c : kCases) {
        WriteConf(ConfLine(true, 0, "a", 1, 50, "::1/128") + ConfLine(true, 0, "b", 2, 10, "::/0"));
        Open();
        List().SelectAndFocus(c.selectedBefore);
        Type(QStringLiteral("new"), QStringLiteral("7"), QString::fromLatin1(c.priority),
             QStringLiteral("2002::/16"));
        Click(dlg->m_btnAdd);
        EXPECT_EQ(List().GetFirstSelected(), 2) << c.selectedBefore << c.priority;
        EXPECT_EQ(EditTexts(), c.shown) << c.selectedBefore << c.priority;
    }
}

TEST_F(EditorTest, AddRefusesAnAddressSpaceAlreadyThereInAnyLetterCase) {
    WriteConf(ConfLine(true, 0, "a", 1, 50, "2001:db8::/32"));
    Open();
    Type(QStringLiteral("b"), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("2001:DB8::/32"));
    Click(dlg->m_btnAdd);
    EXPECT_EQ(List().GetItemCount(), 1);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("2001:DB8::/32は既に存在します。"));
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_ERROR);
    EXPECT_EQ(t.Boxes().shown[0].owner, dlg.get());
    // The fields keep what was typed.
    EXPECT_EQ(dlg->m_editAddress.text(), QStringLiteral("2001:DB8::/32"));
    // A shorter prefix of the same address is another address space.
    Type(QStringLiteral("c"), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("2001:db8::/3"));
    Click(dlg->m_btnAdd);
    EXPECT_EQ(List().GetItemCount(), 2);
}

TEST_F(EditorTest, InvalidFieldsNameTheFieldInTheMessage) {
    WriteConf({});
    Open();
    Type(QStringLiteral("net"), QString(), QStringLiteral("1"), QStringLiteral("::/0"));
    Click(dlg->m_btnAdd);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text,
              QStringLiteral("ラベルは必須です。ラベルを入力して下さい。"));
    Type(QStringLiteral("net"), QStringLiteral("1"), QStringLiteral("x1"), QStringLiteral("::/0"));
    Click(dlg->m_btnAdd);
    EXPECT_EQ(t.Boxes().shown.last().text, QStringLiteral("優先度には数値のみが使用できます。"));
    Type(QString(), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("::/0"));
    Click(dlg->m_btnAdd);
    EXPECT_EQ(t.Boxes().shown.last().text,
              QStringLiteral("ネットワーク名は必須です。ネットワーク名を入力して下さい。"));
    Type(QStringLiteral("n"), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("::/0/1"));
    Click(dlg->m_btnAdd);
    EXPECT_EQ(t.Boxes().shown.last().text,
              QStringLiteral("アドレス空間がIpv6形式のアドレス/プレフィックス長の形式ではありません。"));
    EXPECT_EQ(t.Boxes().shown.last().kind, LOG_ERROR);
    EXPECT_EQ(List().GetItemCount(), 0);
    EXPECT_EQ(dlg->m_editAddress.text(), QStringLiteral("::/0/1"));
}

TEST_F(EditorTest, ChangeKeepsItsOwnAddressSpaceAndRefusesAnother) {
    WriteConf(ConfLine(true, 0, "a", 1, 50, "fc00::/7") + ConfLine(true, 0, "b", 2, 10, "::/0"));
    Open();
    List().SelectAndFocus(0);
    ASSERT_EQ(EditTexts(), (QStringList{"a", "1", "50", "fc00::/7"}));
    Type(QStringLiteral("a2"), QStringLiteral("3"), QStringLiteral("5"), QStringLiteral("FC00::/7"));
    Click(dlg->m_btnModify);
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    EXPECT_EQ(Column(1), (QStringList{"b", "a2"}));
    // The row at the old index is selected after sorting: here the other row.
    EXPECT_EQ(List().GetFirstSelected(), 0);
    EXPECT_EQ(EditTexts(), (QStringList{"b", "2", "10", "::/0"}));

    Type(QStringLiteral("b"), QStringLiteral("2"), QStringLiteral("10"), QStringLiteral("fc00::/7"));
    Click(dlg->m_btnModify);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("fc00::/7は既に存在します。"));
    EXPECT_EQ(Column(1), (QStringList{"b", "a2"}));
    EXPECT_EQ(Column(4), (QStringList{"::/0", "FC00::/7"}));
}

TEST_F(EditorTest, ChangingASwitchedOffNetworkRowLeavesASwitchedOnUserRow) {
    WriteConf(ConfLine(false, 1, "fetched", 1, 50, "2001:db8::/32"));
    Open();
    List().SelectAndFocus(0);
    Click(dlg->m_btnModify);
    ASSERT_EQ(List().GetItemCount(), 1);
    EXPECT_TRUE(List().GetCheck(0));
    EXPECT_EQ(List().GetItemText(0, 5), QStringLiteral("0"));
    EXPECT_EQ(List().GetItemImage(0, 1), 0);
    EXPECT_EQ(List().GetItemText(0, 1), QStringLiteral("fetched"));
}

TEST_F(EditorTest, ChangeAndRemoveWithoutASelectionSay500) {
    WriteConf(ConfLine(true, 0, "a", 1, 50, "::/0"));
    Open();
    Type(QStringLiteral("x"), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("::1/128"));
    // The buttons are disabled until a row is selected; the handlers still guard themselves.
    dlg->OnBnClickedModify();
    dlg->OnBnClickedRemove();
    ASSERT_EQ(t.Boxes().shown.size(), 2);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("対象の行が選択されていません。"));
    EXPECT_EQ(t.Boxes().shown[1].text, QStringLiteral("対象の行が選択されていません。"));
    EXPECT_EQ(Column(1), (QStringList{"a"}));
}

TEST_F(EditorTest, RemoveAsksAndKeepsTheRowOnNo) {
    WriteConf(ConfLine(true, 0, "a", 1, 50, "::/0") + ConfLine(true, 0, "b", 1, 40, "::1/128"));
    Open();
    List().SelectAndFocus(0);
    t.Boxes().QueueAnswer(IDNO);
    Click(dlg->m_btnRemove);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("選択中のポリシを削除してもよろしいですか？"));
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_CONFIRM);
    EXPECT_EQ(Column(1), (QStringList{"a", "b"}));
    EXPECT_TRUE(LogHas(QStringLiteral("iRet=!IDYES")));
}

TEST_F(EditorTest, RemovingTheLastRowSelectsTheNewLastRow) {
    WriteConf(ConfLine(true, 0, "a", 1, 50, "::/0") + ConfLine(true, 0, "b", 1, 40, "::1/128") +
              ConfLine(true, 0, "c", 1, 30, "2002::/16"));
    Open();
    List().SelectAndFocus(2);
    Click(dlg->m_btnRemove);
    EXPECT_EQ(Column(1), (QStringList{"a", "b"}));
    EXPECT_EQ(List().GetFirstSelected(), 1);
    EXPECT_EQ(EditTexts(), (QStringList{"b", "1", "40", "::1/128"}));
    EXPECT_TRUE(dlg->IsDlgItemEnabled(IDC_REMOVE));
    // Removing a row in the middle selects the row that took its place.
    List().SelectAndFocus(0);
    Click(dlg->m_btnRemove);
    EXPECT_EQ(Column(1), (QStringList{"b"}));
    EXPECT_EQ(List().GetFirstSelected(), 0);
}

TEST_F(EditorTest, RemovingTheOnlyRowLeavesAnEmptyListAndEmptyFields) {
    WriteConf(ConfLine(true, 0, "a", 1, 50, "::/0"));
    Open();
    List().SelectAndFocus(0);
    Click(dlg->m_btnRemove);
    EXPECT_EQ(List().GetItemCount(), 0);
    EXPECT_EQ(EditTexts(), (QStringList{"", "", "", ""}));
    EXPECT_FALSE(dlg->IsDlgItemEnabled(IDC_REMOVE));
    EXPECT_FALSE(dlg->IsDlgItemEnabled(IDC_MODIFY));
    EXPECT_TRUE(dlg->IsDlgItemEnabled(IDC_SAVE));
}

// --- Registering -------------------------------------------------------------------------------

TEST_F(EditorTest, RegisterInstallsTheSwitchedOnRowsWritesAllAndCloses) {
    WriteNetshTable(QStringLiteral("50 0 ::1/128\n40 1 ::/0\n"));
    WriteConf(ConfLine(true, 0, "a", 3, 45, "2001:db8::/32") +
              ConfLine(false, 1, "off", 4, 35, "fc00::/8") + ConfLine(true, 2, "c", 5, 5, "::/0"));
    Open();
    Click(dlg->m_btnSave);
    EXPECT_EQ(NetshEntries(), (QStringList{"45 3 2001:db8::/32", "5 5 ::/0"}));
    const QString file = platform::FromCp932(ReadFile(ConfPath()));
    EXPECT_EQ(file, QStringLiteral("1,2,a,3,45,2001:db8::/32\r\n0,1,off,4,35,fc00::/8\r\n"
                                   "1,0,c,5,5,::/0\r\n"));
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("OSへの設定が完了しました。"));
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_DEBUG);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->GetResult(), IDOK);
    EXPECT_TRUE(LogHas(QStringLiteral("ポリシ設定画面を閉じました。")));
}

TEST_F(EditorTest, RegisterWithEveryRowSwitchedOffEmptiesTheTableAndWritesEveryRow) {
    WriteConf(ConfLine(false, 0, "a", 3, 45, "2001:db8::/32") +
              ConfLine(false, 2, "b", 4, 35, "fc00::/8"));
    Open();
    Click(dlg->m_btnSave);
    EXPECT_TRUE(NetshEntries().isEmpty());
    EXPECT_TRUE(QFile::exists(netshTable));
    EXPECT_EQ(platform::FromCp932(ReadFile(ConfPath())),
              QStringLiteral("0,2,a,3,45,2001:db8::/32\r\n0,0,b,4,35,fc00::/8\r\n"));
    EXPECT_EQ(dlg->GetResult(), IDOK);
}

TEST_F(EditorTest, RegisterAnEmptyListEmptiesTheTableAndWritesAnEmptyFile) {
    WriteConf(ConfLine(true, 0, "a", 3, 45, "2001:db8::/32"));
    Open();
    List().SelectAndFocus(0);
    Click(dlg->m_btnRemove);
    ASSERT_EQ(List().GetItemCount(), 0);
    Click(dlg->m_btnSave);
    EXPECT_TRUE(NetshEntries().isEmpty());
    EXPECT_TRUE(QFile::exists(ConfPath()));
    EXPECT_TRUE(ReadFile(ConfPath()).isEmpty());
    EXPECT_EQ(dlg->GetResult(), IDOK);
}

TEST_F(EditorTest, RegisterSwitchedByTheCheckBoxes) {
    WriteNetshTable(QString());
    WriteConf(ConfLine(false, 0, "a", 3, 45, "2001:db8::/32") + ConfLine(true, 0, "b", 4, 35, "fc00::/8"));
    Open();
    List().SetCheck(0, true);
    List().SetCheck(1, false);
    Click(dlg->m_btnSave);
    EXPECT_EQ(NetshEntries(), (QStringList{"45 3 2001:db8::/32"}));
    EXPECT_EQ(platform::FromCp932(ReadFile(ConfPath())),
              QStringLiteral("1,2,a,3,45,2001:db8::/32\r\n0,2,b,4,35,fc00::/8\r\n"));
}

TEST_F(EditorTest, FailingRegistrationKeepsTheWindowOpenWithRegisterEnabled) {
    WriteConf(ConfLine(true, 0, "a", 3, 45, "2001:db8::/32"));
    Open();
    // The operating system's table cannot be read: no netsh at all.
    QFile::remove(t.Dir() + QStringLiteral("netsh"));
    Click(dlg->m_btnSave);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(dlg->IsDlgItemEnabled(IDC_SAVE));
    EXPECT_TRUE(LogHas(QStringLiteral("RegisterPolicy(&clAllPolicy)=FALSE")));
    ASSERT_FALSE(t.Boxes().shown.isEmpty());
    EXPECT_TRUE(t.Boxes().shown.last().text.contains(QStringLiteral("コマンドの発行に失敗しました。")));
    EXPECT_EQ(List().GetItemCount(), 1);
    EXPECT_EQ(platform::FromCp932(ReadFile(ConfPath())),
              QStringLiteral("1,2,a,3,45,2001:db8::/32\r\n"));
}

TEST_F(EditorTest, FailingToWriteTheFileKeepsTheWindowOpenAfterTheTableWasSet) {
    WriteNetshTable(QString());
    WriteConf(ConfLine(true, 0, "a", 3, 45, "2001:db8::/32"));
    Open();
    // The file's place is taken by a folder: the table is set, the file cannot be written.
    ASSERT_TRUE(QFile::remove(ConfPath()));
    ASSERT_TRUE(QDir().mkpath(ConfPath()));
    Click(dlg->m_btnSave);
    EXPECT_EQ(NetshEntries(), (QStringList{"45 3 2001:db8::/32"}));
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_TRUE(dlg->IsDlgItemEnabled(IDC_SAVE));
    ASSERT_FALSE(t.Boxes().shown.isEmpty());
    EXPECT_EQ(t.Boxes().shown.last().text,
              QStringLiteral("OSへの設定は正常に完了しましたが、\n設定ファイルの書き込みに失敗しました。"));
    EXPECT_TRUE(LogHas(QStringLiteral("WriteCurrentFile(&clAllPolicy)=FALSE")));
    // Registering again once the place is free works.
    ASSERT_TRUE(QDir().rmdir(ConfPath()));
    Click(dlg->m_btnSave);
    EXPECT_EQ(dlg->GetResult(), IDOK);
    EXPECT_EQ(platform::FromCp932(ReadFile(ConfPath())),
              QStringLiteral("1,2,a,3,45,2001:db8::/32\r\n"));
}

// --- Closing -----------------------------------------------------------------------------------

TEST_F(EditorTest, CancelButtonAsksAndStaysOnNo) {
    WriteConf({});
    Open();
    t.App().m_pMainWnd = dlg.get();
    t.Boxes().QueueAnswer(IDNO);
    Click(dlg->m_btnCancel);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text,
              QStringLiteral("ポリシテーブル設定ツールを終了してもよろしいですか？"));
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_CONFIRM);
    EXPECT_TRUE(dlg->isVisible());
    EXPECT_FALSE(LogHas(QStringLiteral("ポリシ設定画面を閉じました。")));
    t.Boxes().QueueAnswer(IDYES);
    Click(dlg->m_btnCancel);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->GetResult(), IDCANCEL);
    const int closed = LogIndex(QStringLiteral("ポリシ設定画面を閉じました。"));
    EXPECT_GT(closed, LogIndex(QStringLiteral("CZarntoolDlgクラスのOnCancelの処理を開始します。")));
    // Nothing was written.
    EXPECT_TRUE(ReadFile(ConfPath()).isEmpty());
}

TEST_F(EditorTest, EscapeCloseBoxAndCtrlQAllAsk) {
    WriteConf({});
    Open();
    t.App().m_pMainWnd = dlg.get();
    t.Boxes().defaultQuestionAnswer = IDNO;
    dlg->m_editLabel.setFocus();
    QTest::keyClick(&dlg->m_editLabel, Qt::Key_Escape);
    EXPECT_EQ(t.Boxes().shown.size(), 1);
    dlg->close();
    EXPECT_EQ(t.Boxes().shown.size(), 2);
    QTest::keyClick(&dlg->m_editLabel, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(t.Boxes().shown.size(), 3);
    EXPECT_TRUE(LogHas(QStringLiteral("CZarntoolDlgクラスのOnFileQuitの処理を終了します。")));
    for (const CMessageBoxRequest& r : t.Boxes().shown)
        EXPECT_EQ(r.text, QStringLiteral("ポリシテーブル設定ツールを終了してもよろしいですか？"));
    EXPECT_TRUE(dlg->isVisible());
    t.Boxes().defaultQuestionAnswer = IDYES;
    QTest::keyClick(&dlg->m_editLabel, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->GetResult(), IDCANCEL);
}

TEST_F(EditorTest, VersionItemOfTheSystemMenuOpensTheVersionBox) {
    WriteConf({});
    Open();
    bool shown = false;
    QString caption;
    QTimer::singleShot(0, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        shown = modal && modal != dlg.get();
        if (shown) {
            caption = modal->windowTitle();
            modal->close();
        }
    });
    dlg->GetSystemMenu()->actions().last()->trigger();
    EXPECT_TRUE(shown);
    EXPECT_EQ(caption, QStringLiteral("Corvane"));
    EXPECT_TRUE(dlg->isVisible());
}

// --- Editor mode -------------------------------------------------------------------------------

TEST_F(EditorTest, EditorModeRunsTheWindowModallyAsTheMainWindowOwningTheBoxes) {
    WriteConf(ConfLine(true, 0, "a", 1, 50, "::/0"));
    bool wasMainWindow = false;
    bool wasModal = false;
    QObject* window = nullptr;
    uitest::WhenModal([&](QWidget* w) {
        auto* main = qobject_cast<CZarntoolDlg*>(w);
        ASSERT_NE(main, nullptr);
        window = main;
        wasMainWindow = t.App().m_pMainWnd == main;
        wasModal = main->isModal() || main->windowModality() != Qt::NonModal;
        t.Boxes().QueueAnswer(IDYES);
        QTest::mouseClick(&main->m_btnCancel, Qt::LeftButton);
    });
    runmodes::RunEditor(t.App(), [](CAppServices& services) {
        return std::make_unique<CZarntoolDlg>(services);
    });
    EXPECT_TRUE(wasMainWindow);
    EXPECT_TRUE(wasModal);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].owner, window);
    EXPECT_EQ(t.App().m_pMainWnd, nullptr);
    const int shown = LogIndex(QStringLiteral("ポリシ設定画面を表示しました。"));
    const int closed = LogIndex(QStringLiteral("ポリシ設定画面を閉じました。"));
    EXPECT_GE(shown, 0);
    EXPECT_GT(closed, shown);
}

// --- Resizing ----------------------------------------------------------------------------------

TEST_F(EditorTest, EnlargingByHundredPixelsGrowsTheListAndMovesTheLowerControls) {
    WriteConf({});
    Open();
    const QSize opening = dlg->size();
    QMap<QWidget*, QRect> before;
    QWidget* all[] = {&List(), &dlg->m_grpInput, &dlg->m_editNetworkName, &dlg->m_editLabel,
                      &dlg->m_editPriority, &dlg->m_editAddress, &dlg->m_btnRemove,
                      &dlg->m_btnModify, &dlg->m_btnAdd, &dlg->m_btnCancel, &dlg->m_btnSave};
    for (QWidget* w : all) before[w] = w->geometry();
    dlg->resize(opening.width(), opening.height() + 100);
    QApplication::processEvents();
    EXPECT_EQ(dlg->size(), QSize(opening.width(), opening.height() + 100));
    EXPECT_EQ(List().geometry(), before[&List()].adjusted(0, 0, 0, 100));
    for (QWidget* w : all) {
        if (w == &List()) continue;
        const int dy = (w == &dlg->m_btnCancel || w == &dlg->m_btnSave) ? 0 : 100;
        EXPECT_EQ(w->geometry(), before[w].translated(0, dy)) << w->objectName().toStdString();
    }
    // Positions come from the recorded rectangles, never from the current ones.
    dlg->resize(opening.width(), opening.height() + 30);
    dlg->resize(opening.width(), opening.height() + 60);
    QApplication::processEvents();
    EXPECT_EQ(dlg->m_btnAdd.geometry(), before[&dlg->m_btnAdd].translated(0, 60));
    EXPECT_EQ(List().geometry(), before[&List()].adjusted(0, 0, 0, 60));
    dlg->resize(opening);
    QApplication::processEvents();
    for (QWidget* w : all) EXPECT_EQ(w->geometry(), before[w]);
}

TEST_F(EditorTest, WidthStaysAndHeightNeverGoesBelowTheOpeningSize) {
    WriteConf({});
    Open();
    const QSize opening = dlg->size();
    dlg->resize(opening.width() - 40, opening.height());
    EXPECT_EQ(dlg->width(), opening.width());
    dlg->resize(opening.width() + 40, opening.height() + 10);
    EXPECT_EQ(dlg->size(), QSize(opening.width(), opening.height() + 10));
    dlg->resize(opening.width(), opening.height() - 50);
    EXPECT_EQ(dlg->size(), opening);
    EXPECT_EQ(dlg->m_rcInitWindow.Width(), opening.width());
    EXPECT_EQ(dlg->m_rcInitWindow.Height(), opening.height());
}

TEST_F(EditorTest, SizeImposedByTheWindowSystemIsCorrected) {
    WriteConf({});
    Open();
    const QSize opening = dlg->size();
    const QRect listBefore = List().geometry();
    // Sizes set on the native window bypass the widget's own limits, as a window system
    // without a window manager delivers them.
    dlg->windowHandle()->resize(QSize(opening.width() - 60, opening.height() - 40));
    QApplication::processEvents();
    EXPECT_EQ(dlg->size(), opening);
    EXPECT_EQ(List().geometry(), listBefore);
    dlg->windowHandle()->resize(QSize(opening.width() + 50, opening.height() + 80));
    QApplication::processEvents();
    EXPECT_EQ(dlg->width(), opening.width());
    EXPECT_GE(dlg->height(), opening.height());
}

// --- Appearance --------------------------------------------------------------------------------

// A dozen rows of all three origins, drawn before and after enlarging the window. With
// CORVANE_SCREENSHOT_DIR set, the two pictures are saved there.
TEST_F(EditorTest, DrawsADozenRowsOfAllOrigins) {
    QByteArray conf;
    const char* names[] = {"Loopback", "IPv6",     "6to4",      "IPv4-compatible",
                           "IPv4-mapped", "Teredo", "ULA",      "Site-local",
                           "6bone",    "Office LAN", "Lab,West", "ネットワーク名"};
    const char* prefixes[] = {"::1/128",  "::/0",      "2002::/16",    "::/96",
                              "::ffff:0:0/96", "2001::/32", "fc00::/7", "fec0::/10",
                              "3ffe::/16", "2001:db8:10::/48", "2001:db8:20::/48",
                              "2001:db8:30::/48"};
    const int priorities[] = {50, 40, 30, 1, 35, 5, 3, 1, 1, 45, 44, 43};
    for (int i = 0; i < 12; ++i)
        conf += ConfLine(i % 4 != 3, i % 3 == 0 ? 2 : i % 3 == 1 ? 1 : 0,
                         QString::fromUtf8(names[i]), i, priorities[i],
                         QString::fromLatin1(prefixes[i]));
    WriteConf(conf);
    Open();
    List().SelectAndFocus(2);
    QApplication::processEvents();
    const QImage before = dlg->grab().toImage();
    dlg->resize(dlg->width(), dlg->height() + 120);
    QApplication::processEvents();
    const QImage after = dlg->grab().toImage();
    EXPECT_EQ(after.height() - before.height(), 120 * before.devicePixelRatio());

    // Each origin's icon is drawn in the name column of a row of that origin.
    const QImage icons[] = {(*dlg->m_pImageList)[0].pixmap(16, 16).toImage(),
                            (*dlg->m_pImageList)[1].pixmap(16, 16).toImage(),
                            (*dlg->m_pImageList)[2].pixmap(16, 16).toImage()};
    EXPECT_NE(icons[0], icons[1]);
    EXPECT_NE(icons[1], icons[2]);
    const QImage list = List().viewport()->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    for (int source = 0; source < 3; ++source) {
        // A row that is not selected: the selection tints its icon.
        int row = -1;
        for (int i = 0; i < List().GetItemCount() && row < 0; ++i)
            if (List().GetItemImage(i, 1) == source && i != List().GetFirstSelected()) row = i;
        ASSERT_GE(row, 0);
        const QRect cell = List().visualRect(List().model()->index(row, 1));
        const QImage drawn = list.copy(cell);
        const QImage icon = icons[source].convertToFormat(QImage::Format_ARGB32);
        const QColor probe = icon.pixelColor(8, 8);
        bool found = false;
        for (int y = 0; y < drawn.height() && !found; ++y)
            for (int x = 0; x < drawn.width() && !found; ++x)
                found = drawn.pixelColor(x, y) == probe;
        EXPECT_TRUE(found) << "origin " << source;
    }

    const QByteArray dir = qgetenv("CORVANE_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        EXPECT_TRUE(before.save(QString::fromLocal8Bit(dir) + QStringLiteral("/main-window.png")));
        EXPECT_TRUE(after.save(QString::fromLocal8Bit(dir) + QStringLiteral("/main-window-enlarged.png")));
    }
}
