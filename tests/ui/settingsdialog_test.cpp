// The settings dialog: presetting from the settings file, the enabling rules, saving and
// cancelling.
#include <QDir>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/profile.h"
#include "support/testsupport.h"
#include "ui/settingsdialog.h"
#include "uitestutil.h"

static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

using testsupport::CTestApp;

const QString kApp = QStringLiteral("APPLICATION");

class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        Set(QStringLiteral("OS"), QStringLiteral("Windows7"));
        Set(QStringLiteral("LANG"), QStringLiteral("Japanese"));
        Set(QStringLiteral("USE_NETWORK"), QStringLiteral("1"));
        Set(QStringLiteral("PROTOCOL"), QStringLiteral("DHCP"));
        Set(QStringLiteral("ADDRESS"), QString());
    }
    void TearDown() override {
        // A read-only settings file must not outlive the test's folder clean-up.
        QFile::setPermissions(Ini(), QFile::ReadOwner | QFile::WriteOwner);
    }

    QString Ini() { return t.App().m_pszProfileName; }
    void Set(const QString& key, const QString& value) { t.SetSetting(kApp, key, value); }
    void Remove(const QString& key) {
        // Rewrites the file without the key's line.
        QByteArray data = testsupport::ReadFile(Ini());
        QList<QByteArray> kept;
        for (const QByteArray& line : data.split('\n'))
            if (!line.startsWith(key.toLatin1() + '=')) kept.append(line);
        testsupport::WriteFile(Ini(), kept.join('\n'));
    }
    QString Get(const QString& key) { return t.App().GetProfileString(kApp, key, QStringLiteral("<missing>")); }
    bool LogHas(const QString& line) {
        for (const QString& l : t.LogLines())
            if (l.endsWith(line)) return true;
        return false;
    }
    int CountLog(const QString& line) {
        int n = 0;
        for (const QString& l : t.LogLines())
            if (l.endsWith(line)) ++n;
        return n;
    }
    // Chooses a protocol entry as the user does (the selection, then the change notification).
    static void ChooseProtocol(CZarnpropDlg& dlg, const QString& text) {
        const int i = dlg.m_cmbProtocol.findText(text);
        ASSERT_GE(i, 0);
        dlg.m_cmbProtocol.setCurrentIndex(i);
        emit dlg.m_cmbProtocol.activated(i);
    }
    static QStringList Entries(const CComboBox& box) {
        QStringList list;
        for (int i = 0; i < box.count(); ++i) list.append(box.itemText(i));
        return list;
    }

    CTestApp t;
};

}  // namespace

// ---- Opening ----------------------------------------------------------------------------------

TEST_F(SettingsDialog, BoxesAreSortedAndPresetFromTheFile) {
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(Entries(dlg.m_cmbOs),
              (QStringList{QStringLiteral("Linux"), QStringLiteral("Windows7"), QStringLiteral("WindowsVista"),
                           QStringLiteral("WindowsXP")}));
    EXPECT_EQ(Entries(dlg.m_cmbProtocol), (QStringList{QStringLiteral("DHCP"), QStringLiteral("HTTP")}));
    EXPECT_EQ(Entries(dlg.m_cmbLang), QStringList{QStringLiteral("Japanese")});
    EXPECT_EQ(dlg.m_cmbOs.currentText(), QStringLiteral("Windows7"));
    EXPECT_EQ(dlg.m_cmbLang.currentText(), QStringLiteral("Japanese"));
    EXPECT_EQ(dlg.m_cmbProtocol.currentText(), QStringLiteral("DHCP"));
    EXPECT_EQ(dlg.m_csInitialLang, QStringLiteral("Japanese"));
    EXPECT_TRUE(LogHas(QStringLiteral("CZarnpropDlgクラスのOnInitDialogの処理を開始します。")));
    EXPECT_TRUE(LogHas(QStringLiteral("CZarnpropDlgクラスのOnInitDialogの処理を終了します。")));
    EXPECT_FALSE(LogHas(QStringLiteral("iComboSlect=-1")));
}

TEST_F(SettingsDialog, DhcpWithNetworkEnablesProtocolOnlyAndHttpEnablesAddressAtOnce) {
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_TRUE(dlg.m_chkGetNetwork.isChecked());
    EXPECT_TRUE(dlg.m_cmbProtocol.isEnabled());
    EXPECT_TRUE(dlg.m_stProtocol.isEnabled());
    EXPECT_FALSE(dlg.m_editAddress.isEnabled());
    EXPECT_FALSE(dlg.m_stAddress.isEnabled());
    EXPECT_TRUE(dlg.m_cmbOs.isEnabled());
    EXPECT_TRUE(dlg.m_cmbLang.isEnabled());
    EXPECT_TRUE(dlg.m_grpNetwork.isEnabled());
    ChooseProtocol(dlg, QStringLiteral("HTTP"));
    EXPECT_TRUE(dlg.m_editAddress.isEnabled());
    EXPECT_TRUE(dlg.m_stAddress.isEnabled());
    ChooseProtocol(dlg, QStringLiteral("DHCP"));
    EXPECT_FALSE(dlg.m_editAddress.isEnabled());
}

TEST_F(SettingsDialog, UncheckingDisablesTheNetworkControlsAndCheckingRestoresThem) {
    Set(QStringLiteral("PROTOCOL"), QStringLiteral("HTTP"));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_TRUE(dlg.m_editAddress.isEnabled());
    dlg.m_chkGetNetwork.click();
    EXPECT_FALSE(dlg.m_chkGetNetwork.isChecked());
    EXPECT_FALSE(dlg.m_cmbProtocol.isEnabled());
    EXPECT_FALSE(dlg.m_stProtocol.isEnabled());
    EXPECT_FALSE(dlg.m_editAddress.isEnabled());
    EXPECT_FALSE(dlg.m_stAddress.isEnabled());
    EXPECT_TRUE(dlg.m_grpNetwork.isEnabled());
    dlg.m_chkGetNetwork.click();
    EXPECT_TRUE(dlg.m_cmbProtocol.isEnabled());
    EXPECT_TRUE(dlg.m_stProtocol.isEnabled());
    EXPECT_TRUE(dlg.m_editAddress.isEnabled());
    EXPECT_TRUE(dlg.m_stAddress.isEnabled());
    EXPECT_EQ(CountLog(QStringLiteral("CZarnpropDlgクラスのOnBnClickedCheckGetnetworkの処理を開始します。")), 3);
}

TEST_F(SettingsDialog, StoredValuesMatchByBeginningWithoutCase) {
    Set(QStringLiteral("OS"), QStringLiteral("windowsvista"));
    Set(QStringLiteral("PROTOCOL"), QStringLiteral("http"));
    Set(QStringLiteral("LANG"), QStringLiteral("jap"));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.m_cmbOs.currentText(), QStringLiteral("WindowsVista"));
    EXPECT_EQ(dlg.m_cmbProtocol.currentText(), QStringLiteral("HTTP"));
    EXPECT_EQ(dlg.m_cmbLang.currentText(), QStringLiteral("Japanese"));
    EXPECT_FALSE(LogHas(QStringLiteral("iComboSlect=-1")));
    // The enabling rule compares the entry's text, which is "HTTP".
    EXPECT_TRUE(dlg.m_editAddress.isEnabled());
}

TEST_F(SettingsDialog, SearchStartsAtTheSecondEntry) {
    // "Windows" begins the three Windows entries; the search starts at the second entry of
    // "Linux", "Windows7", "WindowsVista", "WindowsXP" and takes the first that matches.
    Set(QStringLiteral("OS"), QStringLiteral("Windows"));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.m_cmbOs.currentText(), QStringLiteral("Windows7"));
}

TEST_F(SettingsDialog, UnknownValuesSelectTheFirstEntryAndTrace) {
    Set(QStringLiteral("OS"), QStringLiteral("BeOS"));
    Set(QStringLiteral("PROTOCOL"), QStringLiteral("FTP"));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.m_cmbOs.currentText(), QStringLiteral("Linux"));
    EXPECT_EQ(dlg.m_cmbProtocol.currentText(), QStringLiteral("DHCP"));
    EXPECT_EQ(CountLog(QStringLiteral("iComboSlect=-1")), 2);
}

TEST_F(SettingsDialog, MissingKeysSelectFirstEntriesAndLeaveTheBoxClear) {
    for (const char* key : {"OS", "LANG", "USE_NETWORK", "PROTOCOL", "ADDRESS"}) Remove(QString::fromLatin1(key));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.m_cmbOs.currentText(), QStringLiteral("Linux"));
    EXPECT_EQ(dlg.m_cmbLang.currentText(), QStringLiteral("Japanese"));
    EXPECT_EQ(dlg.m_cmbProtocol.currentText(), QStringLiteral("DHCP"));
    EXPECT_EQ(CountLog(QStringLiteral("iComboSlect=-1")), 3);
    EXPECT_FALSE(dlg.m_chkGetNetwork.isChecked());
    EXPECT_TRUE(LogHas(QStringLiteral("cs_Use_Network=")));
    EXPECT_TRUE(dlg.m_csInitialLang.isEmpty());
    EXPECT_TRUE(dlg.m_editAddress.text().isEmpty());
}

TEST_F(SettingsDialog, UseNetworkTrueShowsClearAndSavesZero) {
    Set(QStringLiteral("USE_NETWORK"), QStringLiteral("true"));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_FALSE(dlg.m_chkGetNetwork.isChecked());
    EXPECT_TRUE(LogHas(QStringLiteral("cs_Use_Network=true")));
    EXPECT_FALSE(dlg.m_cmbProtocol.isEnabled());
    dlg.SendCommand(IDOK);
    EXPECT_EQ(dlg.GetResult(), IDOK);
    EXPECT_EQ(Get(QStringLiteral("USE_NETWORK")), QStringLiteral("0"));
}

TEST_F(SettingsDialog, UseNetworkZeroIsClearWithoutTrace) {
    Set(QStringLiteral("USE_NETWORK"), QStringLiteral("0"));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_FALSE(dlg.m_chkGetNetwork.isChecked());
    EXPECT_FALSE(LogHas(QStringLiteral("cs_Use_Network=0")));
}

// ---- Languages --------------------------------------------------------------------------------

TEST_F(SettingsDialog, LanguageBoxListsFoldersOnly) {
    QDir langs(t.Dir() + QStringLiteral("conf/langs"));
    ASSERT_TRUE(langs.mkpath(QStringLiteral("English")));
    ASSERT_TRUE(langs.mkpath(QStringLiteral("deutsch")));
    ASSERT_TRUE(testsupport::WriteFile(langs.filePath(QStringLiteral("readme.txt")), "x"));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(Entries(dlg.m_cmbLang),
              (QStringList{QStringLiteral("deutsch"), QStringLiteral("English"), QStringLiteral("Japanese")}));
    EXPECT_EQ(dlg.m_cmbLang.currentText(), QStringLiteral("Japanese"));
}

TEST_F(SettingsDialog, LanguageChangeShowsNoticeSavesAllAndCloses) {
    ASSERT_TRUE(QDir(t.Dir() + QStringLiteral("conf/langs")).mkpath(QStringLiteral("English")));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    dlg.m_cmbLang.setCurrentIndex(dlg.m_cmbLang.findText(QStringLiteral("English")));
    dlg.SendCommand(IDOK);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("言語の変更は次回起動時まで反映されません。"));
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_INFO);
    EXPECT_EQ(dlg.GetResult(), IDOK);
    EXPECT_EQ(Get(QStringLiteral("LANG")), QStringLiteral("English"));
    EXPECT_EQ(Get(QStringLiteral("OS")), QStringLiteral("Windows7"));
    EXPECT_EQ(Get(QStringLiteral("USE_NETWORK")), QStringLiteral("1"));
    EXPECT_EQ(Get(QStringLiteral("PROTOCOL")), QStringLiteral("DHCP"));
    EXPECT_EQ(Get(QStringLiteral("ADDRESS")), QString());
    EXPECT_TRUE(LogHas(QStringLiteral("CZarnpropDlgクラスのOnBnClickedOkの処理を終了します。")));
    // The interface keeps the language of this run.
    EXPECT_EQ(t.App().LoadString(701), QStringLiteral("Corvane"));
}

TEST_F(SettingsDialog, LanguageComparedExactlyForTheNotice) {
    // "japanese" selects "Japanese", which differs from the stored text in case.
    Set(QStringLiteral("LANG"), QStringLiteral("japanese"));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    dlg.SendCommand(IDOK);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("言語の変更は次回起動時まで反映されません。"));
    EXPECT_EQ(Get(QStringLiteral("LANG")), QStringLiteral("Japanese"));
}

TEST_F(SettingsDialog, UnchangedLanguageShowsNoNotice) {
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    dlg.SendCommand(IDOK);
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    EXPECT_EQ(dlg.GetResult(), IDOK);
}

TEST_F(SettingsDialog, WithoutLanguageFoldersTheStoredLanguageIsKept) {
    ASSERT_TRUE(QDir(t.Dir() + QStringLiteral("conf/langs")).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(t.Dir() + QStringLiteral("conf/langs")));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.m_cmbLang.count(), 0);
    dlg.SendCommand(IDOK);
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    EXPECT_EQ(dlg.GetResult(), IDOK);
    EXPECT_EQ(Get(QStringLiteral("LANG")), QStringLiteral("Japanese"));
}

// ---- Address ----------------------------------------------------------------------------------

TEST_F(SettingsDialog, FullWidthAddressWithHttpIsRefusedAndNothingWritten) {
    Set(QStringLiteral("PROTOCOL"), QStringLiteral("HTTP"));
    const QByteArray before = testsupport::ReadFile(Ini());
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    dlg.m_cmbOs.setCurrentIndex(dlg.m_cmbOs.findText(QStringLiteral("WindowsXP")));
    dlg.m_editAddress.setText(QStringLiteral("192.0.2.１"));  // full-width digit one
    dlg.SendCommand(IDOK);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("取得先アドレスが不正な形式です。"));
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_INFO);
    EXPECT_EQ(dlg.GetResult(), -1);  // still open
    EXPECT_EQ(testsupport::ReadFile(Ini()), before);
    EXPECT_FALSE(LogHas(QStringLiteral("CZarnpropDlgクラスのOnBnClickedOkの処理を終了します。")));
    // Corrected, it is saved.
    dlg.m_editAddress.setText(QStringLiteral("192.0.2.1"));
    dlg.SendCommand(IDOK);
    EXPECT_EQ(dlg.GetResult(), IDOK);
    EXPECT_EQ(Get(QStringLiteral("ADDRESS")), QStringLiteral("192.0.2.1"));
    EXPECT_EQ(Get(QStringLiteral("OS")), QStringLiteral("WindowsXP"));
}

TEST_F(SettingsDialog, FullWidthAddressWithDhcpIsSavedAsItIs) {
    Set(QStringLiteral("ADDRESS"), QStringLiteral("サーバ１"));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.m_editAddress.text(), QStringLiteral("サーバ１"));
    dlg.SendCommand(IDOK);
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
    EXPECT_EQ(dlg.GetResult(), IDOK);
    EXPECT_EQ(Get(QStringLiteral("ADDRESS")), QStringLiteral("サーバ１"));
    EXPECT_EQ(Get(QStringLiteral("PROTOCOL")), QStringLiteral("DHCP"));
}

TEST_F(SettingsDialog, EmptyAndHalfWidthAddressesPassWithHttp) {
    Set(QStringLiteral("PROTOCOL"), QStringLiteral("HTTP"));
    {
        CZarnpropDlg dlg(t.App());
        ASSERT_TRUE(dlg.Create());
        dlg.SendCommand(IDOK);
        EXPECT_EQ(dlg.GetResult(), IDOK);
    }
    {
        CZarnpropDlg dlg(t.App());
        ASSERT_TRUE(dlg.Create());
        dlg.m_editAddress.setText(QStringLiteral("2001:db8::1"));
        dlg.SendCommand(IDOK);
        EXPECT_EQ(dlg.GetResult(), IDOK);
        EXPECT_EQ(Get(QStringLiteral("ADDRESS")), QStringLiteral("2001:db8::1"));
    }
    EXPECT_TRUE(t.Boxes().shown.isEmpty());
}

TEST_F(SettingsDialog, AddressFieldTakesAtMost256Characters) {
    Set(QStringLiteral("PROTOCOL"), QStringLiteral("HTTP"));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    dlg.show();
    dlg.m_editAddress.setFocus();
    QTest::keyClicks(&dlg.m_editAddress, QString(300, u'a'));
    EXPECT_EQ(dlg.m_editAddress.text().size(), 256);
    dlg.SendCommand(IDOK);
    EXPECT_EQ(Get(QStringLiteral("ADDRESS")), QString(256, u'a'));
}

TEST_F(SettingsDialog, LongerStoredAddressIsShownWhole) {
    Set(QStringLiteral("ADDRESS"), QString(300, u'b'));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.m_editAddress.text(), QString(300, u'b'));
    dlg.SendCommand(IDOK);
    EXPECT_EQ(Get(QStringLiteral("ADDRESS")), QString(300, u'b'));
}

// ---- Saving -----------------------------------------------------------------------------------

TEST_F(SettingsDialog, FiveKeysWrittenInOrder) {
    // A settings file without the five keys gets them appended in the order of writing.
    testsupport::WriteFile(Ini(), "[APPLICATION]\r\nLOG_LEVEL=DEBUG\r\n");
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    dlg.SendCommand(IDOK);
    ASSERT_EQ(dlg.GetResult(), IDOK);
    EXPECT_EQ(testsupport::ReadFile(Ini()),
              QByteArray("[APPLICATION]\r\nLOG_LEVEL=DEBUG\r\nOS=Linux\r\nLANG=Japanese\r\n"
                         "USE_NETWORK=0\r\nPROTOCOL=DHCP\r\nADDRESS=\r\n"));
}

TEST_F(SettingsDialog, ReadOnlySettingsFileShows513KeepsDialogOpenThenCancelCloses) {
    const QByteArray before = testsupport::ReadFile(Ini());
    ASSERT_TRUE(QFile::setPermissions(Ini(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    dlg.m_cmbOs.setCurrentIndex(dlg.m_cmbOs.findText(QStringLiteral("WindowsXP")));
    dlg.SendCommand(IDOK);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("環境設定ファイルに書き込みが出来ません。"));
    EXPECT_EQ(t.Boxes().shown[0].kind, LOG_ERROR);
    EXPECT_EQ(dlg.GetResult(), -1);
    EXPECT_EQ(testsupport::ReadFile(Ini()), before);
    EXPECT_FALSE(LogHas(QStringLiteral("CZarnpropDlgクラスのOnBnClickedOkの処理を終了します。")));
    dlg.SendCommand(IDCANCEL);
    EXPECT_EQ(dlg.GetResult(), CZarnpropDlg::kResultCancel);
    EXPECT_EQ(testsupport::ReadFile(Ini()), before);
}

TEST_F(SettingsDialog, FailedLaterWriteKeepsEarlierKeys) {
    // The settings file refuses a value with a line break: the first four keys are written,
    // the address is not.
    Set(QStringLiteral("ADDRESS"), QStringLiteral("old"));
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    dlg.m_cmbOs.setCurrentIndex(dlg.m_cmbOs.findText(QStringLiteral("WindowsVista")));
    dlg.m_chkGetNetwork.click();
    dlg.m_editAddress.setText(QStringLiteral("a\nb"));
    if (!dlg.m_editAddress.text().contains(u'\n')) GTEST_SKIP() << "the edit field drops line breaks";
    dlg.SendCommand(IDOK);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].text, QStringLiteral("環境設定ファイルに書き込みが出来ません。"));
    EXPECT_EQ(dlg.GetResult(), -1);
    EXPECT_EQ(Get(QStringLiteral("OS")), QStringLiteral("WindowsVista"));
    EXPECT_EQ(Get(QStringLiteral("USE_NETWORK")), QStringLiteral("0"));
    EXPECT_EQ(Get(QStringLiteral("ADDRESS")), QStringLiteral("old"));
}

TEST_F(SettingsDialog, CancelWritesNothingAndGives1001) {
    const QByteArray before = testsupport::ReadFile(Ini());
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    dlg.m_cmbOs.setCurrentIndex(dlg.m_cmbOs.findText(QStringLiteral("WindowsXP")));
    dlg.SendCommand(IDCANCEL);
    EXPECT_EQ(dlg.GetResult(), 1001);
    EXPECT_EQ(testsupport::ReadFile(Ini()), before);
}

TEST_F(SettingsDialog, EscapeInTheModalRunGives1001) {
    CZarnpropDlg dlg(t.App());
    uitest::WhenModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
    EXPECT_EQ(dlg.DoModal(), 1001);
}

TEST_F(SettingsDialog, SetButtonInTheModalRunGivesOk) {
    CZarnpropDlg dlg(t.App());
    uitest::WhenModal([](QWidget* w) {
        auto* d = static_cast<CZarnpropDlg*>(w);
        QTest::mouseClick(d->GetDlgItem(IDOK), Qt::LeftButton);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(Get(QStringLiteral("PROTOCOL")), QStringLiteral("DHCP"));
}

TEST_F(SettingsDialog, MessageBoxesBelongToTheDialogWhileItIsOpen) {
    Set(QStringLiteral("PROTOCOL"), QStringLiteral("HTTP"));
    t.Log().m_hOwnerWnd = nullptr;
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(t.Log().m_hOwnerWnd.data(), &dlg);
    dlg.m_editAddress.setText(QStringLiteral("ａ"));
    dlg.SendCommand(IDOK);
    ASSERT_EQ(t.Boxes().shown.size(), 1);
    EXPECT_EQ(t.Boxes().shown[0].owner, &dlg);
}

TEST_F(SettingsDialog, EachOpeningReadsTheFileAgain) {
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.m_cmbProtocol.currentText(), QStringLiteral("DHCP"));
    Set(QStringLiteral("PROTOCOL"), QStringLiteral("HTTP"));
    uitest::WhenModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
    dlg.DoModal();
    EXPECT_EQ(dlg.m_cmbProtocol.currentText(), QStringLiteral("HTTP"));
    EXPECT_EQ(dlg.m_cmbProtocol.count(), 2);
    EXPECT_EQ(dlg.m_cmbOs.count(), 4);
}

TEST_F(SettingsDialog, CaptionsAreNotCutOff) {
    CZarnpropDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    for (QLabel* label : {&dlg.m_stAddress, &dlg.m_stProtocol})
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text())) << label->text().toStdString();
    EXPECT_GE(dlg.m_chkGetNetwork.width(),
              dlg.m_chkGetNetwork.fontMetrics().horizontalAdvance(dlg.m_chkGetNetwork.text()));
    EXPECT_EQ(dlg.m_stProtocol.text(), QStringLiteral("プロトコル"));
    EXPECT_LE(dlg.m_chkGetNetwork.geometry().right(), dlg.ClientArea()->width());
}
