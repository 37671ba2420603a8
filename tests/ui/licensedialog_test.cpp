// The agreement dialog: the document, the agreement check box and the "利用する" button, the
// size limit and the failure behaviour.
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/testsupport.h"
#include "ui/licensedialog.h"
#include "uitestutil.h"

using testsupport::CTestApp;

namespace {

const QByteArray kJapaneseRtf =
    "{\\rtf1\\ansi\\ansicpg932\\deff0{\\fonttbl{\\f0\\fnil\\fcharset128 MS UI Gothic;}}\\f0\\fs18 "
    "{\\b \\'97\\'98\\'97\\'70\\'8b\\'4b\\'96\\'f1}\\par 1.\\tab \\'93\\'fa\\'96\\'7b\\'8c\\'ea\\par}";

QString LicensePath(CTestApp& t) { return t.Dir() + QStringLiteral("conf/langs/Japanese/license.rtf"); }

void UseLicense(CTestApp& t, const QByteArray& bytes) {
    ASSERT_TRUE(testsupport::WriteFile(LicensePath(t), bytes));
    t.App().m_csLicensePath = LicensePath(t);
}

// An RTF document of exactly `size` bytes.
QByteArray RtfOfSize(qsizetype size) {
    QByteArray doc = "{\\rtf1\\ansi ";
    doc += QByteArray(size - doc.size() - 1, 'A');
    doc += '}';
    return doc;
}

int CountLines(const QStringList& lines, const QString& text) {
    int n = 0;
    for (const QString& l : lines)
        if (l.endsWith(u',' + text)) ++n;
    return n;
}

void ClickCheckBox(QCheckBox* box) {
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
}

}  // namespace

TEST(LicenseDialog, ShowsTheDocumentWithUseDisabled) {
    CTestApp t;
    UseLicense(t, kJapaneseRtf);
    CZarnlicenseDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.GetDlgItem(1022), &dlg.m_editLicense);
    EXPECT_EQ(dlg.GetDlgItem(1013), &dlg.m_chkAgreement);
    EXPECT_EQ(dlg.GetDlgItem(IDOK), &dlg.m_btnUse);
    EXPECT_EQ(dlg.GetDlgItem(IDCANCEL), &dlg.m_btnQuit);
    EXPECT_EQ(dlg.m_editLicense.toPlainText(), QStringLiteral("利用規約\n1.\t日本語\n"));
    EXPECT_TRUE(dlg.m_editLicense.isReadOnly());
    EXPECT_FALSE(dlg.m_btnUse.isEnabled());
    EXPECT_TRUE(dlg.m_btnQuit.isEnabled());
    EXPECT_TRUE(dlg.m_chkAgreement.isEnabled());
    EXPECT_FALSE(dlg.m_chkAgreement.isChecked());
    EXPECT_EQ(dlg.m_btnUse.text(), QStringLiteral("利用する"));
    EXPECT_EQ(dlg.m_btnQuit.text(), QStringLiteral("終了"));
    EXPECT_TRUE(dlg.m_btnQuit.isDefault());
    const QStringList log = t.LogLines();
    EXPECT_EQ(CountLines(log, QStringLiteral("CZarnlicenseDlgクラスのOnInitDialogの処理を開始します。")), 1);
    EXPECT_EQ(CountLines(log, QStringLiteral("CZarnlicenseDlgクラスのOnInitDialogの処理を終了します。")), 1);
    EXPECT_EQ(CountLines(log, QStringLiteral("rtfFileRead=FALSE")), 0);
}

TEST(LicenseDialog, ShippedDocumentIsRead) {
    CTestApp t;
    const QByteArray shipped =
        testsupport::ReadFile(testsupport::SourceDir() + QStringLiteral("/conf/langs/Japanese/license.rtf"));
    ASSERT_FALSE(shipped.isEmpty());
    UseLicense(t, shipped);
    CZarnlicenseDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_TRUE(dlg.m_chkAgreement.isEnabled());
    EXPECT_TRUE(dlg.m_editLicense.toPlainText().contains(QStringLiteral("利用規約")));
    EXPECT_FALSE(dlg.m_editLicense.toPlainText().contains(QStringLiteral("\\")));
}

TEST(LicenseDialog, CheckBoxTogglesUseWithOneTraceLinePerClick) {
    CTestApp t;
    UseLicense(t, kJapaneseRtf);
    CZarnlicenseDlg dlg(t.App());
    QList<bool> useEnabled;
    uitest::WhenModal([&](QWidget*) {
        for (int i = 0; i < 5; ++i) {
            ClickCheckBox(&dlg.m_chkAgreement);
            useEnabled.append(dlg.m_btnUse.isEnabled());
            EXPECT_EQ(dlg.m_btnUse.isEnabled(), dlg.m_chkAgreement.isChecked());
        }
        // The keyboard toggles it too.
        dlg.m_chkAgreement.setFocus();
        QTest::keyClick(&dlg.m_chkAgreement, Qt::Key_Space);
        useEnabled.append(dlg.m_btnUse.isEnabled());
        ClickCheckBox(&dlg.m_chkAgreement);
        useEnabled.append(dlg.m_btnUse.isEnabled());
        QTest::mouseClick(&dlg.m_btnUse, Qt::LeftButton);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    EXPECT_EQ(useEnabled, (QList<bool>{true, false, true, false, true, false, true}));
    const QStringList log = t.LogLines();
    EXPECT_EQ(CountLines(log, QStringLiteral("m_chkAgreement=TRUE")), 4);
    EXPECT_EQ(CountLines(log, QStringLiteral("m_chkAgreement=FALSE")), 3);
    EXPECT_EQ(CountLines(log, QStringLiteral(
                                  "CZarnlicenseDlgクラスのOnBnClickedCheckAgreementの処理を開始します。")),
              7);
}

TEST(LicenseDialog, DisabledUseCannotBeClicked) {
    CTestApp t;
    UseLicense(t, kJapaneseRtf);
    CZarnlicenseDlg dlg(t.App());
    uitest::WhenModal([&](QWidget* w) {
        QTest::mouseClick(&dlg.m_btnUse, Qt::LeftButton);  // disabled: nothing
        EXPECT_TRUE(w->isVisible());
        QTest::mouseClick(&dlg.m_btnQuit, Qt::LeftButton);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST(LicenseDialog, QuitEscapeEnterAndCloseBoxGiveCancel) {
    CTestApp t;
    UseLicense(t, kJapaneseRtf);
    const std::function<void(CZarnlicenseDlg&, QWidget*)> ways[] = {
        [](CZarnlicenseDlg& d, QWidget*) { QTest::mouseClick(&d.m_btnQuit, Qt::LeftButton); },
        [](CZarnlicenseDlg&, QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); },
        [](CZarnlicenseDlg&, QWidget* w) { QTest::keyClick(w, Qt::Key_Return); },
        [](CZarnlicenseDlg&, QWidget* w) { w->close(); },
    };
    for (const auto& way : ways) {
        CZarnlicenseDlg dlg(t.App());
        uitest::WhenModal([&](QWidget* w) {
            ClickCheckBox(&dlg.m_chkAgreement);  // even when ticked
            way(dlg, w);
        });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    }
}

TEST(LicenseDialog, DocumentOfExactlyTheLimitIsShown) {
    CTestApp t;
    const QByteArray doc = RtfOfSize(100000);
    ASSERT_EQ(doc.size(), 100000);
    UseLicense(t, doc);
    CZarnlicenseDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.m_editLicense.toPlainText().size(), 100000 - 12 - 1);
    EXPECT_TRUE(dlg.m_chkAgreement.isEnabled());
    EXPECT_FALSE(dlg.m_btnUse.isEnabled());
    EXPECT_EQ(CountLines(t.LogLines(), QStringLiteral("rtfFileRead=FALSE")), 0);
}

TEST(LicenseDialog, DocumentOneByteOverTheLimitIsRefused) {
    CTestApp t;
    UseLicense(t, RtfOfSize(100001));
    CZarnlicenseDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_TRUE(dlg.m_editLicense.toPlainText().isEmpty());
    EXPECT_FALSE(dlg.m_chkAgreement.isEnabled());
    EXPECT_FALSE(dlg.m_btnUse.isEnabled());
    EXPECT_TRUE(dlg.m_btnQuit.isEnabled());
    EXPECT_EQ(CountLines(t.LogLines(), QStringLiteral("rtfFileRead=FALSE")), 1);
    // Only "終了" is left.
    uitest::WhenModal([&](QWidget*) {
        ClickCheckBox(&dlg.m_chkAgreement);
        EXPECT_FALSE(dlg.m_chkAgreement.isChecked());
        QTest::mouseClick(&dlg.m_btnQuit, Qt::LeftButton);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

TEST(LicenseDialog, MissingOrUnreadableDocumentsAreRefused) {
    struct Case {
        const char* what;
        std::function<void(CTestApp&)> prepare;
        QString shown;
    };
    const Case cases[] = {
        {"missing file", [](CTestApp& t) { t.App().m_csLicensePath = LicensePath(t); }, QString()},
        {"empty path", [](CTestApp& t) { t.App().m_csLicensePath.clear(); }, QString()},
        {"a folder",
         [](CTestApp& t) {
             QDir().mkpath(LicensePath(t));
             t.App().m_csLicensePath = LicensePath(t);
         },
         QString()},
        {"a FIFO nobody writes (refused at once, not waited on)",
         [](CTestApp& t) {
             QFile::remove(LicensePath(t));
             ASSERT_EQ(::mkfifo(QFile::encodeName(LicensePath(t)).constData(), 0600), 0);
             t.App().m_csLicensePath = LicensePath(t);
         },
         QString()},
        {"not RTF", [](CTestApp& t) { UseLicense(t, "plain text terms"); }, QString()},
        {"empty file", [](CTestApp& t) { UseLicense(t, QByteArray()); }, QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CTestApp t;
        c.prepare(t);
        CZarnlicenseDlg dlg(t.App());
        ASSERT_TRUE(dlg.Create());
        EXPECT_EQ(dlg.m_editLicense.toPlainText(), c.shown);
        EXPECT_FALSE(dlg.m_chkAgreement.isEnabled());
        EXPECT_FALSE(dlg.m_btnUse.isEnabled());
        EXPECT_EQ(CountLines(t.LogLines(), QStringLiteral("rtfFileRead=FALSE")), 1);
    }
}

TEST(LicenseDialog, DocumentThatCannotBeReadToTheEndShowsWhatWasRead) {
    CTestApp t;
    QByteArray doc = "{\\rtf1 Terms";
    for (int i = 0; i < 5000; ++i) doc += '{';
    UseLicense(t, doc);
    CZarnlicenseDlg dlg(t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.m_editLicense.toPlainText(), QStringLiteral("Terms"));
    EXPECT_FALSE(dlg.m_chkAgreement.isEnabled());
    EXPECT_EQ(CountLines(t.LogLines(), QStringLiteral("rtfFileRead=FALSE")), 1);
}

TEST(LicenseDialog, LoadLicenseTextStreamsIntoAnyRichEdit) {
    CTestApp t;
    UseLicense(t, kJapaneseRtf);
    CZarnlicenseDlg dlg(t.App());
    QTextEdit edit;
    EXPECT_TRUE(dlg.LoadLicenseText(LicensePath(t), &edit));
    EXPECT_TRUE(edit.toPlainText().startsWith(QStringLiteral("利用規約")));
    EXPECT_FALSE(dlg.LoadLicenseText(LicensePath(t), nullptr));
    EXPECT_FALSE(dlg.LoadLicenseText(t.Dir() + QStringLiteral("nothing.rtf"), &edit));
}

TEST(LicenseDialog, StreamCallbackReadsChunks) {
    CTestApp t;
    UseLicense(t, "0123456789");
    QFile f(LicensePath(t));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    char buffer[4];
    qint64 got = -1;
    EXPECT_EQ(CZarnlicenseDlg::LicenseStreamCallback(&f, buffer, 4, &got), 0);
    EXPECT_EQ(got, 4);
    EXPECT_EQ(QByteArray(buffer, 4), QByteArray("0123"));
    EXPECT_EQ(CZarnlicenseDlg::LicenseStreamCallback(&f, buffer, 4, &got), 0);
    EXPECT_EQ(CZarnlicenseDlg::LicenseStreamCallback(&f, buffer, 4, &got), 0);
    EXPECT_EQ(got, 2);
    EXPECT_EQ(CZarnlicenseDlg::LicenseStreamCallback(&f, buffer, 4, &got), 0);
    EXPECT_EQ(got, 0);
    f.close();
    // A file that cannot be read is an error, not an empty document.
    EXPECT_NE(CZarnlicenseDlg::LicenseStreamCallback(&f, buffer, 4, &got), 0);
    EXPECT_EQ(got, 0);
}
