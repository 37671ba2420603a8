// The run: the agreement on every start, apply mode against the netsh stand-in, editor mode.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "app/commandline.h"
#include "support/testsupport.h"
#include "app/runmodes.h"
#include "ui/licensedialog.h"
#include "uitestutil.h"

using testsupport::CTestApp;

namespace {

// An installation whose program folder holds the netsh stand-in, with the stand-in's table in
// a file of the installation.
class CApplyInstall {
public:
    CApplyInstall() {
        const QString netsh = t.Dir() + QStringLiteral("netsh");
        QFile::copy(testsupport::StageDir() + QStringLiteral("/netsh"), netsh);
        QFile(netsh).setPermissions(QFile::permissions(netsh) | QFileDevice::ExeOwner);
        m_oldTable = qgetenv("NETSH_PREFIXPOLICY_FILE");
        qputenv("NETSH_PREFIXPOLICY_FILE", TablePath().toLocal8Bit());
        testsupport::WriteFile(t.Dir() + QStringLiteral("conf/langs/Japanese/license.rtf"),
                               "{\\rtf1 terms}");
        t.App().m_csLicensePath = t.Dir() + QStringLiteral("conf/langs/Japanese/license.rtf");
    }
    ~CApplyInstall() {
        if (m_oldTable.isEmpty()) qunsetenv("NETSH_PREFIXPOLICY_FILE");
        else qputenv("NETSH_PREFIXPOLICY_FILE", m_oldTable);
    }
    QString TablePath() const { return t.Dir() + QStringLiteral("netsh.table"); }
    void SetPolicyFile(const QByteArray& lines) {
        ASSERT_TRUE(testsupport::WriteFile(t.Install().Conf(QStringLiteral("policytable.conf")), lines));
    }
    void SetTable(const QByteArray& lines) { ASSERT_TRUE(testsupport::WriteFile(TablePath(), lines)); }
    // The stand-in's table as "precedence label prefix" lines, comments dropped.
    QStringList Table() const {
        QStringList out;
        for (const QString& l : QString::fromUtf8(testsupport::ReadFile(TablePath())).split(u'\n'))
            if (!l.trimmed().isEmpty() && !l.startsWith(u'#')) out << l.trimmed();
        return out;
    }
    bool Logged(const QString& text) const {
        for (const QString& l : t.LogLines())
            if (l.endsWith(u',' + text)) return true;
        return false;
    }

    CTestApp t;

private:
    QByteArray m_oldTable;
};

// Ticks the agreement and presses "利用する" once the agreement dialog is up.
void AcceptAgreement() {
    uitest::WhenModal([](QWidget* w) {
        auto* dlg = qobject_cast<CZarnlicenseDlg*>(w);
        ASSERT_NE(dlg, nullptr);
        QTest::mouseClick(&dlg->m_chkAgreement, Qt::LeftButton, {},
                          QPoint(5, dlg->m_chkAgreement.height() / 2));
        QTest::mouseClick(&dlg->m_btnUse, Qt::LeftButton);
    });
}

void RefuseAgreement() {
    uitest::WhenModal([](QWidget* w) {
        auto* dlg = qobject_cast<CZarnlicenseDlg*>(w);
        ASSERT_NE(dlg, nullptr);
        QTest::mouseClick(&dlg->m_btnQuit, Qt::LeftButton);
    });
}

CZarnCommandLineInfo Parse(const QStringList& words) {
    CZarnCommandLineInfo cmd;
    cmd.ParseCommandLine(words);
    return cmd;
}

const QByteArray kPolicyFile =
    "1,0,Loopback,0,50,::1/128\r\n"
    "0,2,Switched off,7,45,2001:db8:1::/48\r\n"
    "1,0,IPv6,1,40,::/0\r\n"
    "1,1,Site,9,35,2001:db8::/32\r\n";

}  // namespace

TEST(ApplyMode, InstallsTheSwitchedOnRowsAfterDeletingTheOldTable) {
    CApplyInstall in;
    in.SetPolicyFile(kPolicyFile);
    in.SetTable("30 2 2002::/16\n5 5 2001::/32\n");
    EXPECT_EQ(runmodes::ApplyPolicyTable(in.t.App()), 1);
    // The old entries are gone; the switched-off row is not installed.
    EXPECT_EQ(in.Table(), (QStringList{QStringLiteral("50 0 ::1/128"), QStringLiteral("40 1 ::/0"),
                                       QStringLiteral("35 9 2001:db8::/32")}));
    ASSERT_EQ(in.t.Boxes().shown.size(), 1);
    EXPECT_EQ(in.t.Boxes().shown[0].text, QStringLiteral("OSへの設定が完了しました。"));
    EXPECT_EQ(in.t.Boxes().shown[0].kind, LOG_DEBUG);
    EXPECT_TRUE(in.Logged(QStringLiteral("OSへの設定が完了しました。")));
    EXPECT_FALSE(in.Logged(QStringLiteral("AddPolicy=FALSE")));
}

// A file with any line the reader rejects changes nothing and names the first such line; an
// empty file, or one whose rows are all switched off, empties the table as it says.
TEST(ApplyMode, ADamagedPolicyFileChangesNothing) {
    const QByteArray table = "30 2 2002::/16\n5 5 2001::/32\n";
    const struct {
        QByteArray file;
        QString box;
        QStringList after;
    } cases[] = {
        {"1,0,Loopback,0,50,::1/128\r\n1,0,Broken,1,40,zz::/0\r\n1,0,x,2,30,x\r\n",
         QStringLiteral("ポリシテーブル設定ファイルの2行目が不正な形式です。\nOSへの設定は行いませんでした。"), {}},
        {"\r\n\x81\x81\x81\r\n", QStringLiteral("ポリシテーブル設定ファイルの2行目が不正な形式です。\nOSへの設定は行いませんでした。"), {}},
        {"1,0,a,1,40,2001:db8::/32 store=persistent\r\n",
         QStringLiteral("ポリシテーブル設定ファイルの1行目が不正な形式です。\nOSへの設定は行いませんでした。"), {}},
        {"", QStringLiteral("OSへの設定が完了しました。"), {QStringLiteral("")}},
        {"0,0,Off,1,40,::/0\r\n", QStringLiteral("OSへの設定が完了しました。"), {QStringLiteral("")}},
    };
    for (const auto& c : cases) {
        CApplyInstall in;
        in.SetPolicyFile(c.file);
        in.SetTable(table);
        EXPECT_EQ(runmodes::ApplyPolicyTable(in.t.App()), c.after.isEmpty() ? 0 : 1);
        ASSERT_EQ(in.t.Boxes().shown.size(), 1) << c.file.constData();
        EXPECT_EQ(in.t.Boxes().shown[0].text, c.box);
        if (c.after.isEmpty())
            EXPECT_EQ(testsupport::ReadFile(in.TablePath()), table);
        else
            EXPECT_TRUE(in.Table().isEmpty());
    }
}

TEST(ApplyMode, UnreadableOsTableStopsBeforeAdding) {
    CApplyInstall in;
    in.SetPolicyFile(kPolicyFile);
    QDir().mkpath(in.TablePath());  // the stand-in cannot read a folder
    EXPECT_EQ(runmodes::ApplyPolicyTable(in.t.App()), 0);
    EXPECT_TRUE(in.Logged(QStringLiteral("RegisterPolicy=FALSE")));
    EXPECT_FALSE(in.Logged(QStringLiteral("AddPolicy=FALSE")));
    for (const CMessageBoxRequest& box : in.t.Boxes().shown)
        EXPECT_NE(box.text, QStringLiteral("OSへの設定が完了しました。"));
}

TEST(ApplyMode, MissingOrUnreadablePolicyFile) {
    {
        CApplyInstall in;
        in.SetTable("5 5 2001::/32\n");
        EXPECT_EQ(runmodes::ApplyPolicyTable(in.t.App()), 0);
        EXPECT_TRUE(in.Logged(QStringLiteral("FindFile(cs_PolicyTablePath)=FALSE")));
        EXPECT_EQ(in.Table(), QStringList{QStringLiteral("5 5 2001::/32")});
        EXPECT_TRUE(in.t.Boxes().shown.isEmpty());
    }
    {
        CApplyInstall in;
        in.SetTable("5 5 2001::/32\n");
        QDir().mkpath(in.t.Install().Conf(QStringLiteral("policytable.conf")));
        EXPECT_EQ(runmodes::ApplyPolicyTable(in.t.App()), 0);
        EXPECT_TRUE(in.Logged(QStringLiteral("GetCurrentFile(&clPolicyConf)=FALSE")));
        EXPECT_EQ(in.Table(), QStringList{QStringLiteral("5 5 2001::/32")});
    }
}

TEST(ApplyMode, AllRowsSwitchedOffEmptiesTheTable) {
    CApplyInstall in;
    in.SetPolicyFile("0,0,Loopback,0,50,::1/128\r\n");
    in.SetTable("5 5 2001::/32\n");
    EXPECT_EQ(runmodes::ApplyPolicyTable(in.t.App()), 1);
    EXPECT_TRUE(in.Table().isEmpty());
}

TEST(RunModes, AcceptedAgreementRunsApplyMode) {
    CApplyInstall in;
    in.SetPolicyFile(kPolicyFile);
    in.SetTable("5 5 2001::/32\n");
    AcceptAgreement();
    runmodes::Run(in.t.App(), Parse({}));
    EXPECT_TRUE(in.Logged(QStringLiteral("nResponseLicense=IDOK")));
    EXPECT_EQ(in.Table().size(), 3);
    ASSERT_EQ(in.t.Boxes().shown.size(), 1);
    EXPECT_EQ(in.t.Boxes().shown[0].text, QStringLiteral("OSへの設定が完了しました。"));
}

TEST(RunModes, RefusedAgreementChangesNothing) {
    CApplyInstall in;
    in.SetPolicyFile(kPolicyFile);
    in.SetTable("5 5 2001::/32\n");
    RefuseAgreement();
    bool editorMade = false;
    runmodes::Run(in.t.App(), Parse({QStringLiteral("/e")}), [&](CAppServices&) -> std::unique_ptr<CDialogEx> {
        editorMade = true;
        return nullptr;
    });
    EXPECT_TRUE(in.Logged(QStringLiteral("nResponseLicense=IDCANCEL")));
    EXPECT_FALSE(in.Logged(QStringLiteral("nResponseLicense=IDOK")));
    EXPECT_FALSE(editorMade);
    EXPECT_EQ(in.Table(), QStringList{QStringLiteral("5 5 2001::/32")});
    EXPECT_TRUE(in.t.Boxes().shown.isEmpty());
}

TEST(RunModes, EditorModeRunsTheMainWindowModally) {
    CApplyInstall in;
    in.SetTable("5 5 2001::/32\n");
    AcceptAgreement();
    bool wasMainWindow = false;
    QObject* ownerDuring = reinterpret_cast<QObject*>(1);
    runmodes::Run(in.t.App(), Parse({QStringLiteral("-E")}), [&](CAppServices& services) -> std::unique_ptr<CDialogEx> {
        auto dlg = std::make_unique<CDialogEx>(103, services);
        uitest::WhenModal(
            [&, raw = dlg.get()](QWidget* w) {
                wasMainWindow = in.t.App().m_pMainWnd == raw && w == raw;
                ownerDuring = in.t.App().m_clLog.m_hOwnerWnd.data();
                w->close();
            },
            nullptr);
        return dlg;
    });
    EXPECT_TRUE(in.Logged(QStringLiteral("nResponseLicense=IDOK")));
    EXPECT_TRUE(in.Logged(QStringLiteral("m_bOptionE=TRUE")));
    EXPECT_TRUE(wasMainWindow);
    EXPECT_EQ(ownerDuring, nullptr);
    EXPECT_EQ(in.t.App().m_pMainWnd, nullptr);
    // Nothing was installed.
    EXPECT_EQ(in.Table(), QStringList{QStringLiteral("5 5 2001::/32")});
}

TEST(RunModes, EditorModeWithoutAMainWindowEndsAfterTheAgreement) {
    CApplyInstall in;
    in.SetPolicyFile(kPolicyFile);
    in.SetTable("5 5 2001::/32\n");
    AcceptAgreement();
    runmodes::Run(in.t.App(), Parse({QStringLiteral("/e")}));
    EXPECT_TRUE(in.Logged(QStringLiteral("m_bOptionE=TRUE")));
    EXPECT_TRUE(in.Logged(QStringLiteral("CZarntoolDlg=unavailable")));
    EXPECT_EQ(in.Table(), QStringList{QStringLiteral("5 5 2001::/32")});
}

TEST(RunModes, AgreementThatCannotBeShownDoesNothing) {
    CApplyInstall in;
    in.SetPolicyFile(kPolicyFile);
    in.SetTable("5 5 2001::/32\n");
    // A language set without the agreement template.
    CResourceSet set;
    QByteArray json = testsupport::ReadFile(in.t.Install().Conf(QStringLiteral("langs/Japanese/lang.json")));
    json.replace("\"139\"", "\"1139\"");
    ASSERT_EQ(set.LoadFromJson(json, in.t.Dir()), CResourceSet::LoadStatus::Loaded);
    in.t.App().SetLanguageResources(set);
    runmodes::Run(in.t.App(), Parse({}));
    EXPECT_FALSE(in.Logged(QStringLiteral("nResponseLicense=IDOK")));
    EXPECT_FALSE(in.Logged(QStringLiteral("nResponseLicense=IDCANCEL")));
    EXPECT_EQ(in.Table(), QStringList{QStringLiteral("5 5 2001::/32")});
}
