// The dialog layer: dialog units, controls built from the templates, commands, menus,
// accelerators and the modal run.
#include <QAction>
#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "support/testsupport.h"
#include "ui/dialog/combobox.h"
#include "ui/dialog/customcontrols.h"
#include "ui/dialog/dialogex.h"
#include "uitestutil.h"

namespace {

const CResourceSet& Program() { return CResourceSet::ProgramSet(); }

QRect Expected(const CDialogTemplate& t, const CDialogControl& c) {
    const QSize base = CDialogEx::DialogBaseUnits(CDialogEx::TemplateFont(t));
    return CDialogEx::MapDialogRect(c.rect, base);
}

// A dialog that records the commands it receives.
class CRecordingDialog : public CDialogEx {
public:
    using CDialogEx::CDialogEx;
    QList<QPair<int, int>> commands;
    int initCount = 0;
    std::function<void(CRecordingDialog*)> onInit;

protected:
    bool OnInitDialog() override {
        ++initCount;
        if (onInit) onInit(this);
        return true;
    }
    bool OnCommand(int id, int code) override {
        commands.append({id, code});
        return CDialogEx::OnCommand(id, code);
    }
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Dialog units

TEST(DialogUnits, TemplateFontsAreSubstitutedByTheJapaneseFont) {
    const CDialogTemplate* about = Program().Dialog(100);
    const CDialogTemplate* license = Program().Dialog(139);
    ASSERT_TRUE(about && license);
    EXPECT_EQ(about->fontFace, QStringLiteral("MS UI Gothic"));
    EXPECT_EQ(license->fontFace, QStringLiteral("MS Shell Dlg"));
    const QFont f9 = CDialogEx::TemplateFont(*about);
    const QFont f8 = CDialogEx::TemplateFont(*license);
    EXPECT_EQ(f9.family(), CDialogEx::JapaneseFontFamily());
    EXPECT_EQ(f8.family(), CDialogEx::JapaneseFontFamily());
    // 9 pt and 8 pt at 96 dots per inch, rounded like MulDiv.
    EXPECT_EQ(f9.pixelSize(), 12);
    EXPECT_EQ(f8.pixelSize(), 11);
    // The font actually matched is the Japanese one (fonts-noto-cjk is a build dependency).
    EXPECT_EQ(QFontInfo(f9).family(), QStringLiteral("Noto Sans CJK JP"));
}

TEST(DialogUnits, BaseUnitsFollowTheWindowsRule) {
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    for (int px : {11, 12, 16, 20}) {
        font.setPixelSize(px);
        const QFontMetrics fm(font);
        int total = 0;
        for (char c = 'A'; c <= 'Z'; ++c) total += fm.horizontalAdvance(QLatin1Char(c));
        for (char c = 'a'; c <= 'z'; ++c) total += fm.horizontalAdvance(QLatin1Char(c));
        // Windows: (width of the 52 letters / 26 + 1) / 2, integer arithmetic.
        const int bx = (fm.horizontalAdvance(QStringLiteral(
                            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) /
                            26 +
                        1) /
                       2;
        const QSize units = CDialogEx::DialogBaseUnits(font);
        EXPECT_EQ(units.width(), bx) << px;
        EXPECT_NEAR(units.width(), total / 52.0, 1.0) << px;
        EXPECT_EQ(units.height(), fm.height()) << px;
    }
}

TEST(DialogUnits, MapDialogRectRoundsEachValueLikeMulDiv) {
    const QSize base(6, 13);
    // x*6/4, y*13/8, w*6/4, h*13/8 with halves rounded up.
    EXPECT_EQ(CDialogEx::MapDialogRect(QRect(8, 10, 268, 141), base), QRect(12, 16, 402, 229));
    EXPECT_EQ(CDialogEx::MapDialogRect(QRect(1, 1, 3, 5), base), QRect(2, 2, 5, 8));
    EXPECT_EQ(CDialogEx::MapDialogRect(QRect(0, 0, 0, 0), base), QRect(0, 0, 0, 0));
    EXPECT_EQ(CDialogEx::MapDialogRect(QRect(-3, -5, 7, 3), base), QRect(-5, -8, 11, 5));
}

// ---------------------------------------------------------------------------------------------
// Windows built from the templates

class TemplateControls : public ::testing::TestWithParam<int> {};

TEST_P(TemplateControls, EveryControlSitsAtItsConvertedRectangleWithItsText) {
    const int id = GetParam();
    const CDialogTemplate* t = Program().Dialog(id);
    ASSERT_NE(t, nullptr);
    CDialogEx dlg(id, Program());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Corvane"));
    const QSize base = CDialogEx::DialogBaseUnits(CDialogEx::TemplateFont(*t));
    EXPECT_EQ(dlg.BaseUnits(), base);
    EXPECT_EQ(dlg.ClientArea()->size(),
              CDialogEx::MapDialogRect(QRect(QPoint(0, 0), t->size), base).size());
    const QList<QWidget*> controls = dlg.Controls();
    ASSERT_EQ(controls.size(), t->controls.size());
    for (int i = 0; i < controls.size(); ++i) {
        const CDialogControl& c = t->controls[i];
        QWidget* w = controls[i];
        SCOPED_TRACE(QStringLiteral("control %1 (%2)").arg(c.id).arg(c.kind).toStdString());
        if (c.id != -1) {
            EXPECT_EQ(dlg.GetDlgItem(c.id), w);
        }
        EXPECT_EQ(w->parentWidget(), dlg.ClientArea());
        const QRect want = Expected(*t, c);
        if (c.kind == QLatin1String("combobox")) {
            EXPECT_EQ(w->pos(), want.topLeft());
            EXPECT_EQ(w->width(), want.width());
            EXPECT_EQ(w->height(), w->sizeHint().height());
            EXPECT_LE(w->height(), want.height());
        } else {
            EXPECT_EQ(w->geometry(), want);
        }
        if (c.kind == QLatin1String("button")) {
            auto* b = qobject_cast<QPushButton*>(w);
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(b->text(), c.text);
            EXPECT_EQ(b->isDefault(), c.HasStyle(QStringLiteral("default")));
        } else if (c.kind == QLatin1String("checkbox")) {
            auto* b = qobject_cast<QCheckBox*>(w);
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(b->text(), c.text);
            EXPECT_FALSE(b->isChecked());
        } else if (c.kind == QLatin1String("static")) {
            auto* l = qobject_cast<QLabel*>(w);
            ASSERT_NE(l, nullptr);
            EXPECT_EQ(l->text(), c.text);
            EXPECT_TRUE(l->wordWrap());
        } else if (c.kind == QLatin1String("groupbox")) {
            auto* g = qobject_cast<QGroupBox*>(w);
            ASSERT_NE(g, nullptr);
            EXPECT_EQ(g->title(), c.text);
        } else if (c.kind == QLatin1String("edit")) {
            auto* e = qobject_cast<QLineEdit*>(w);
            ASSERT_NE(e, nullptr);
            EXPECT_EQ(e->text(), c.text);
            EXPECT_EQ(e->hasFrame(), c.HasStyle(QStringLiteral("border")));
        } else if (c.kind == QLatin1String("combobox")) {
            auto* cb = qobject_cast<CComboBox*>(w);
            ASSERT_NE(cb, nullptr);
            EXPECT_EQ(cb->IsSorted(), c.HasStyle(QStringLiteral("sort")));
            EXPECT_FALSE(cb->isEditable());
            EXPECT_EQ(cb->GetCurSel(), CB_ERR);
        } else if (c.kind == QLatin1String("richedit")) {
            auto* te = qobject_cast<QTextEdit*>(w);
            ASSERT_NE(te, nullptr);
            EXPECT_TRUE(te->isReadOnly());
            EXPECT_EQ(te->verticalScrollBarPolicy(), Qt::ScrollBarAsNeeded);
        } else if (c.kind == QLatin1String("listview")) {
            EXPECT_NE(qobject_cast<QTreeWidget*>(w), nullptr);
        } else {
            ADD_FAILURE() << "unexpected kind";
        }
    }
    // A fixed frame cannot be resized.
    if (t->HasFrame(QStringLiteral("fixed"))) {
        EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, TemplateControls, ::testing::Values(100, 103, 132, 139));

TEST(DialogWindow, TabOrderFollowsTheTemplate) {
    CDialogEx dlg(139, Program());
    ASSERT_TRUE(dlg.Create());
    // The controls that take Tab, in focus-chain order from the rich edit.
    const QList<QWidget*> controls = dlg.Controls();
    QList<QWidget*> chain;
    QWidget* start = dlg.GetDlgItem(1022);
    QWidget* n = start;
    do {
        if (controls.contains(n) && (n->focusPolicy() & Qt::TabFocus)) chain.append(n);
        n = n->nextInFocusChain();
    } while (n && n != start && chain.size() < 10);
    EXPECT_EQ(chain, (QList<QWidget*>{dlg.GetDlgItem(1022), dlg.GetDlgItem(1013),
                                      dlg.GetDlgItem(1), dlg.GetDlgItem(2)}));
}

TEST(DialogWindow, ResizableTemplateHasMenuBarAndCanGrow) {
    CDialogEx dlg(103, Program());
    ASSERT_TRUE(dlg.Create());
    QMenuBar* bar = dlg.GetMenu();
    ASSERT_NE(bar, nullptr);
    ASSERT_EQ(bar->actions().size(), 2);
    EXPECT_EQ(bar->actions()[0]->text(), QStringLiteral("ファイル(&F)"));
    EXPECT_EQ(bar->actions()[1]->text(), QStringLiteral("ヘルプ(&H)"));
    QMenu* file = bar->actions()[0]->menu();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(file->actions().size(), 7);
    EXPECT_TRUE(file->actions()[2]->isSeparator());
    EXPECT_EQ(file->actions()[0]->data().toInt(), 32779);
    EXPECT_EQ(file->actions()[6]->text(), QStringLiteral("終了(&Q)\tCtrl+Q"));
    ASSERT_NE(dlg.GetMenuItem(32783), nullptr);
    EXPECT_EQ(dlg.GetMenuItem(32783)->text(), QStringLiteral("バージョン情報"));
    EXPECT_EQ(dlg.GetMenuItem(4242), nullptr);
    // The controls start below the menu bar; the client keeps the template size.
    dlg.show();
    QTest::qWait(10);
    EXPECT_GE(dlg.ClientArea()->y(), bar->height());
    EXPECT_NE(dlg.minimumSize(), dlg.maximumSize());
    const QSize before = dlg.ClientArea()->size();
    dlg.resize(dlg.width(), dlg.height() + 100);
    QTest::qWait(10);
    EXPECT_EQ(dlg.ClientArea()->height(), before.height() + 100);
    dlg.hide();
}

TEST(DialogWindow, MissingTemplateCannotBeShown) {
    CDialogEx dlg(4711, Program());
    EXPECT_FALSE(dlg.Create());
    EXPECT_EQ(dlg.DoModal(), -1);
    EXPECT_EQ(dlg.GetDlgItem(1), nullptr);
}

TEST(DialogWindow, TemplatesComeFromTheActiveResourceSet) {
    testsupport::CTestApp t;
    CResourceSet set;
    QByteArray json = testsupport::ReadFile(t.Install().Conf(QStringLiteral("langs/Japanese/lang.json")));
    json.replace("\"上記内容について同意します。\"", "\"I agree.\"");
    ASSERT_EQ(set.LoadFromJson(json, t.Dir()), CResourceSet::LoadStatus::Loaded);
    t.App().SetLanguageResources(set);
    CDialogEx dlg(139, t.App());
    ASSERT_TRUE(dlg.Create());
    EXPECT_EQ(dlg.GetDlgItemText(1013), QStringLiteral("I agree."));
}

// ---------------------------------------------------------------------------------------------
// Access by id

TEST(DialogItems, TextEnableAndCheckById) {
    CDialogEx dlg(132, Program());
    ASSERT_TRUE(dlg.Create());
    dlg.SetDlgItemText(1007, QStringLiteral("192.0.2.1"));
    EXPECT_EQ(dlg.GetDlgItemText(1007), QStringLiteral("192.0.2.1"));
    EXPECT_EQ(dlg.GetDlgItemText(1021), QStringLiteral("プロトコル"));
    dlg.SetDlgItemText(1021, QStringLiteral("x"));
    EXPECT_EQ(dlg.GetDlgItemAs<QLabel>(1021)->text(), QStringLiteral("x"));
    EXPECT_TRUE(dlg.IsDlgItemEnabled(1014));
    dlg.EnableDlgItem(1014, false);
    EXPECT_FALSE(dlg.IsDlgItemEnabled(1014));
    EXPECT_FALSE(dlg.GetDlgItem(1014)->isEnabled());
    EXPECT_EQ(dlg.IsDlgButtonChecked(1012), BST_UNCHECKED);
    dlg.CheckDlgButton(1012, BST_CHECKED);
    EXPECT_EQ(dlg.IsDlgButtonChecked(1012), BST_CHECKED);
    EXPECT_TRUE(dlg.GetDlgItemAs<QCheckBox>(1012)->isChecked());
    dlg.CheckDlgButton(1012, BST_UNCHECKED);
    EXPECT_EQ(dlg.IsDlgButtonChecked(1012), BST_UNCHECKED);
    dlg.LimitDlgItemText(1007, 256);
    EXPECT_EQ(dlg.GetDlgItemAs<QLineEdit>(1007)->maxLength(), 256);
    EXPECT_EQ(dlg.GetDlgItem(-1), nullptr);
    EXPECT_EQ(dlg.GetDlgItem(9999), nullptr);
    EXPECT_EQ(dlg.GetDlgCtrlID(dlg.GetDlgItem(1010)), 1010);
}

TEST(DialogItems, SubclassedMemberControlTakesThePlaceOfTheTemplateControl) {
    struct CDlg : CDialogEx {
        CButtonEx m_btnCancel;
        CEditEx m_editLabel;
        CGroupBoxEx m_grpInput;
        CDlg() : CDialogEx(103, CResourceSet::ProgramSet()) {
            SubclassDlgItem(1001, &m_btnCancel);
            SubclassDlgItem(1009, &m_editLabel);
        }
    };
    CDlg dlg;
    ASSERT_TRUE(dlg.Create());
    const CDialogTemplate* t = Program().Dialog(103);
    EXPECT_EQ(dlg.GetDlgItem(1001), &dlg.m_btnCancel);
    EXPECT_EQ(dlg.m_btnCancel.text(), QStringLiteral("キャンセル"));
    EXPECT_TRUE(dlg.m_btnCancel.isDefault());
    EXPECT_EQ(dlg.m_btnCancel.geometry(), Expected(*t, *t->Control(1001)));
    EXPECT_EQ(dlg.GetDlgItem(1009), &dlg.m_editLabel);
    EXPECT_EQ(dlg.m_editLabel.geometry(), Expected(*t, *t->Control(1009)));
    // Binding after the window exists replaces the layer's control in place.
    QPointer<QWidget> old = dlg.GetDlgItem(1017);
    dlg.SubclassDlgItem(1017, &dlg.m_grpInput);
    EXPECT_TRUE(old.isNull());
    EXPECT_EQ(dlg.GetDlgItem(1017), &dlg.m_grpInput);
    EXPECT_EQ(dlg.m_grpInput.geometry(), Expected(*t, *t->Control(1017)));
    EXPECT_EQ(dlg.m_grpInput.parentWidget(), dlg.ClientArea());
    // A member replaced by another member is let go, not destroyed.
    CEditEx other;
    dlg.SubclassDlgItem(1009, &other);
    EXPECT_EQ(dlg.GetDlgItem(1009), &other);
    EXPECT_EQ(dlg.m_editLabel.parentWidget(), nullptr);
    EXPECT_EQ(other.geometry(), Expected(*t, *t->Control(1009)));
    dlg.SubclassDlgItem(1009, &dlg.m_editLabel);
    EXPECT_EQ(dlg.GetDlgItem(1009), &dlg.m_editLabel);
    EXPECT_EQ(other.parentWidget(), nullptr);
}

TEST(DialogItems, SortedComboBoxKeepsOrderAndSelectsByPrefix) {
    CDialogEx dlg(132, Program());
    ASSERT_TRUE(dlg.Create());
    auto* os = dlg.GetDlgItemAs<CComboBox>(1008);
    ASSERT_NE(os, nullptr);
    os->AddString(QStringLiteral("WindowsXP"));
    os->AddString(QStringLiteral("WindowsVista"));
    os->AddString(QStringLiteral("Windows7"));
    ASSERT_EQ(os->GetCount(), 3);
    EXPECT_EQ(os->GetLBText(0), QStringLiteral("Windows7"));
    EXPECT_EQ(os->GetLBText(1), QStringLiteral("WindowsVista"));
    EXPECT_EQ(os->GetLBText(2), QStringLiteral("WindowsXP"));
    EXPECT_EQ(os->GetCurSel(), CB_ERR);
    EXPECT_EQ(os->SelectString(0, QStringLiteral("windowsvista")), 1);
    EXPECT_EQ(os->GetCurSel(), 1);
    // The search starts after the given index and wraps round: "Windows" from 0 finds 1.
    EXPECT_EQ(os->SelectString(0, QStringLiteral("Windows")), 1);
    EXPECT_EQ(os->SelectString(1, QStringLiteral("Windows")), 2);
    EXPECT_EQ(os->SelectString(2, QStringLiteral("Windows")), 0);
    EXPECT_EQ(os->SelectString(-1, QStringLiteral("Windows")), 0);
    EXPECT_EQ(os->SelectString(0, QStringLiteral("Linux")), CB_ERR);
    EXPECT_EQ(os->GetCurSel(), 0);
    EXPECT_EQ(os->SelectString(0, QString()), CB_ERR);
    EXPECT_EQ(os->SetCurSel(7), CB_ERR);
    EXPECT_EQ(os->GetCurSel(), CB_ERR);
    auto* protocol = dlg.GetDlgItemAs<CComboBox>(1014);
    protocol->AddString(QStringLiteral("HTTP"));
    protocol->AddString(QStringLiteral("DHCP"));
    EXPECT_EQ(protocol->GetLBText(0), QStringLiteral("DHCP"));
    CComboBox unsorted;
    unsorted.AddString(QStringLiteral("b"));
    unsorted.AddString(QStringLiteral("a"));
    EXPECT_EQ(unsorted.GetLBText(0), QStringLiteral("b"));
}

// ---------------------------------------------------------------------------------------------
// Commands and the modal run

TEST(DialogModal, ButtonsEndTheRunWithTheirIds) {
    for (int id : {IDOK, IDCANCEL}) {
        CRecordingDialog dlg(139, Program());
        dlg.onInit = [](CRecordingDialog* d) { d->EnableDlgItem(IDOK, true); };
        uitest::WhenModal([&](QWidget*) {
            QTest::mouseClick(dlg.GetDlgItemAs<QPushButton>(id), Qt::LeftButton);
        });
        EXPECT_EQ(dlg.DoModal(), id);
        EXPECT_EQ(dlg.initCount, 1);
        EXPECT_FALSE(dlg.isVisible());
        ASSERT_FALSE(dlg.commands.isEmpty());
        EXPECT_EQ(dlg.commands.last(), qMakePair(id, BN_CLICKED));
    }
}

TEST(DialogModal, EscapeAndCloseBoxAreTheCancelCommand) {
    {
        CRecordingDialog dlg(100, Program());
        uitest::WhenModal([&](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_EQ(dlg.commands, (QList<QPair<int, int>>{{IDCANCEL, BN_CLICKED}}));
    }
    {
        CRecordingDialog dlg(100, Program());
        uitest::WhenModal([&](QWidget* w) { w->close(); });
        EXPECT_EQ(dlg.DoModal(), IDCANCEL);
        EXPECT_EQ(dlg.commands, (QList<QPair<int, int>>{{IDCANCEL, BN_CLICKED}}));
    }
}

TEST(DialogModal, OverriddenCancelCanKeepTheWindowOpen) {
    struct CDlg : CDialogEx {
        int refusals = 0;
        CDlg() : CDialogEx(100, CResourceSet::ProgramSet()) {}
        void OnCancel() override {
            if (refusals++ < 2) return;  // stays open twice
            EndDialog(1001);
        }
    };
    CDlg dlg;
    uitest::WhenModal([&](QWidget* w) {
        w->close();
        EXPECT_TRUE(w->isVisible());
        QTest::keyClick(w, Qt::Key_Escape);
        EXPECT_TRUE(w->isVisible());
        w->close();
    });
    EXPECT_EQ(dlg.DoModal(), 1001);
    EXPECT_EQ(dlg.refusals, 3);
}

TEST(DialogModal, EnterPressesTheDefaultButton) {
    CRecordingDialog dlg(139, Program());
    uitest::WhenModal([&](QWidget* w) { QTest::keyClick(w, Qt::Key_Return); });
    // Button 2 "終了" is the template's default button.
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.commands.last(), qMakePair(IDCANCEL, BN_CLICKED));
}

TEST(DialogModal, EndDialogDuringInitialisationEndsTheRunAtOnce) {
    CRecordingDialog dlg(100, Program());
    dlg.onInit = [](CRecordingDialog* d) { d->EndDialog(42); };
    EXPECT_EQ(dlg.DoModal(), 42);
    EXPECT_FALSE(dlg.isVisible());
    // A second run initialises again.
    dlg.onInit = [](CRecordingDialog* d) { d->EndDialog(43); };
    EXPECT_EQ(dlg.DoModal(), 43);
    EXPECT_EQ(dlg.initCount, 2);
}

TEST(DialogModal, MappedCommandsAndControlNotifications) {
    CRecordingDialog dlg(132, Program());
    int checkClicks = 0, selections = 0, edits = 0;
    dlg.MapCommand(1012, [&] { ++checkClicks; });
    dlg.MapCommand(1014, [&] { ++selections; }, CBN_SELCHANGE);
    dlg.MapCommand(1007, [&] { ++edits; }, EN_CHANGE);
    dlg.MapCommand(IDCANCEL, [&] { dlg.EndDialog(1001); });
    dlg.onInit = [](CRecordingDialog* d) {
        d->GetDlgItemAs<CComboBox>(1014)->AddString(QStringLiteral("HTTP"));
        d->GetDlgItemAs<CComboBox>(1014)->AddString(QStringLiteral("DHCP"));
    };
    uitest::WhenModal([&](QWidget* w) {
        QTest::mouseClick(dlg.GetDlgItemAs<QCheckBox>(1012), Qt::LeftButton, {},
                          QPoint(5, dlg.GetDlgItem(1012)->height() / 2));
        EXPECT_EQ(dlg.IsDlgButtonChecked(1012), BST_CHECKED);
        auto* combo = dlg.GetDlgItemAs<CComboBox>(1014);
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        QTest::keyClicks(dlg.GetDlgItem(1007), QStringLiteral("ab"));
        QTest::keyClick(w, Qt::Key_Escape);
    });
    EXPECT_EQ(dlg.DoModal(), 1001);
    EXPECT_EQ(checkClicks, 1);
    EXPECT_EQ(selections, 1);
    EXPECT_EQ(edits, 2);
    EXPECT_EQ(dlg.GetDlgItemText(1007), QStringLiteral("ab"));
}

TEST(DialogModal, MenuItemsAndAcceleratorsSendCommands) {
    CRecordingDialog dlg(103, Program());
    dlg.onInit = [](CRecordingDialog* d) { EXPECT_TRUE(d->LoadAccelerators(138)); };
    int exports = 0;
    dlg.MapCommand(32779, [&] { ++exports; });
    dlg.MapCommand(32787, [&] { dlg.EndDialog(IDCANCEL); });
    uitest::WhenModal([&](QWidget*) {
        dlg.GetMenuItem(32783)->trigger();
        // Ctrl+E reaches the window ahead of the focused edit.
        QWidget* edit = dlg.GetDlgItem(1016);
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_E, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_X);
        // A disabled menu item's accelerator is swallowed.
        dlg.GetMenuItem(32779)->setEnabled(false);
        QTest::keyClick(edit, Qt::Key_E, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Q, Qt::ControlModifier);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(exports, 1);
    EXPECT_EQ(dlg.commands.value(0), qMakePair(32783, 0));
    EXPECT_EQ(dlg.GetDlgItemText(1016), QStringLiteral("x"));
    EXPECT_TRUE(dlg.commands.contains(qMakePair(32787, 0)));
}

TEST(DialogModal, UpdateHandlersRunBeforeAPopupOpens) {
    CRecordingDialog dlg(103, Program());
    ASSERT_TRUE(dlg.Create());
    QList<int> updated;
    dlg.MapUpdateCommand(32782, [&](CCmdUI* ui) {
        updated.append(ui->m_nID);
        EXPECT_EQ(ui->m_nIndex, 3);
        ui->Enable(false);
    });
    dlg.MapUpdateCommand(32787, [&](CCmdUI* ui) { updated.append(ui->m_nID); });
    QMenu* file = dlg.GetMenu()->actions()[0]->menu();
    emit file->aboutToShow();
    EXPECT_EQ(updated, (QList<int>{32782, 32787}));
    EXPECT_FALSE(dlg.GetMenuItem(32782)->isEnabled());
    // Items without an update handler keep their state.
    EXPECT_TRUE(dlg.GetMenuItem(32779)->isEnabled());
}

TEST(DialogModal, SystemMenuItemsSendSystemCommands) {
    struct CDlg : CDialogEx {
        QList<int> sys;
        CDlg() : CDialogEx(103, CResourceSet::ProgramSet()) {}
        void OnSysCommand(int id) override {
            sys.append(id);
            CDialogEx::OnSysCommand(id);
        }
    };
    CDlg dlg;
    ASSERT_TRUE(dlg.Create());
    dlg.AppendSystemMenuSeparator();
    dlg.AppendSystemMenuItem(16, QStringLiteral("バージョン情報 Corvane(&A)..."));
    dlg.AppendSystemMenuItem(SC_CLOSE, QStringLiteral("close"));
    uitest::WhenModal([&](QWidget* w) {
        QTest::keyClick(w, Qt::Key_Space, Qt::AltModifier);
        QMenu* menu = dlg.GetSystemMenu();
        EXPECT_TRUE(menu->isVisible());
        menu->actions()[1]->trigger();
        menu->hide();
        menu->actions()[2]->trigger();
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(dlg.sys, (QList<int>{16, SC_CLOSE}));
}

// ---------------------------------------------------------------------------------------------
// Custom controls

TEST(CustomControls, MixInStartsEmptyAndPointsAtItsControl) {
    CButtonEx button;
    CEditEx edit;
    CGroupBoxEx group;
    EXPECT_TRUE(button.m_rcOrigin.IsRectNull());
    EXPECT_TRUE(edit.m_rcOrigin.IsRectNull());
    EXPECT_TRUE(group.m_rcOrigin.IsRectNull());
    EXPECT_EQ(button.m_pWnd, static_cast<QWidget*>(&button));
    EXPECT_EQ(edit.m_pWnd, static_cast<QWidget*>(&edit));
    EXPECT_EQ(group.m_pWnd, static_cast<QWidget*>(&group));
    EXPECT_STREQ(button.metaObject()->className(), "CButtonEx");
    EXPECT_STREQ(edit.metaObject()->className(), "CEditEx");
    EXPECT_STREQ(group.metaObject()->className(), "CGroupBoxEx");
    EXPECT_TRUE(button.inherits("QPushButton"));
    EXPECT_TRUE(edit.inherits("QLineEdit"));
    EXPECT_TRUE(group.inherits("QGroupBox"));
}

TEST(CustomControls, RectangleUsesExclusiveRightAndBottom) {
    const CRect r = CRect::FromQRect(QRect(10, 20, 30, 40));
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right, 40);
    EXPECT_EQ(r.bottom, 60);
    EXPECT_EQ(r.Width(), 30);
    EXPECT_EQ(r.Height(), 40);
    EXPECT_EQ(r.ToQRect(), QRect(10, 20, 30, 40));
}
