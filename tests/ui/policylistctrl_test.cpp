// The policy list: columns, unique address spaces, sorting, header behaviour, the hand-back as a
// policy list, and what row changes do to the window around it.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <climits>

#include "support/testsupport.h"
#include "ui/policylistctrl.h"

namespace {

CPolicy Row(const QString& name, const QString& label, const QString& priority,
            const QString& address, int source = 0, bool disabled = false) {
    CPolicy p;
    p.m_csNetworkName = name;
    p.m_csLabel = label;
    p.m_csPriority = priority;
    p.m_csAddress = address;
    p.m_nSource = source;
    p.m_bDisabled = disabled;
    return p;
}

// A window holding the list and the controls it reports to, handling the list's reports as the
// main window does.
class ListWindow {
public:
    ListWindow() {
        auto* layout = new QVBoxLayout(&window);
        list = new CPolicyListCtrl(app.App(), &window);
        layout->addWidget(list);
        for (int id : {1016, 1009, 1011, 1015}) {
            auto* edit = new QLineEdit(&window);
            layout->addWidget(edit);
            edits[id] = edit;
        }
        for (int id : {1002, 1004, 1006}) {
            auto* button = new QPushButton(QString::number(id), &window);
            layout->addWidget(button);
            buttons[id] = button;
        }
        QObject::connect(list, &CPolicyListCtrl::rowSelected, &window, [this](const CPolicy& r) {
            edits[1016]->setText(r.m_csNetworkName);
            edits[1009]->setText(r.m_csLabel);
            edits[1011]->setText(r.m_csPriority);
            edits[1015]->setText(r.m_csAddress);
            for (int id : {1004, 1006}) buttons[id]->setEnabled(true);
        });
        QObject::connect(list, &CPolicyListCtrl::rowRemoved, &window, [this] {
            for (QLineEdit* edit : std::as_const(edits)) edit->clear();
            for (int id : {1004, 1006}) buttons[id]->setEnabled(false);
        });
        QObject::connect(list, &CPolicyListCtrl::checkChanged, &window,
                         [this] { buttons[1002]->setEnabled(true); });
        list->Init();
        window.resize(600, 500);
    }
    void Show() {
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
    }
    QStringList Column(int column) const {
        QStringList out;
        for (int i = 0; i < list->GetItemCount(); ++i) out << list->GetItemText(i, column);
        return out;
    }
    void ClickHeader(int column) {
        CPolicyListHeaderCtrl& header = list->GetHeaderCtrl();
        const int x = header.sectionViewportPosition(column) + header.sectionSize(column) / 2;
        QTest::mouseClick(header.viewport(), Qt::LeftButton, {}, QPoint(x, header.height() / 2));
    }
    QPoint CellCenter(int row, int column) const {
        return list->visualRect(list->model()->index(row, column)).center();
    }
    QPoint CheckBoxCenter(int row) const {
        QStyleOptionViewItem option;
        option.initFrom(list);
        option.rect = list->visualRect(list->model()->index(row, 0));
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
        return list->style()
            ->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, list)
            .center();
    }

    testsupport::CTestApp app;
    QWidget window;
    CPolicyListCtrl* list = nullptr;
    QMap<int, QLineEdit*> edits;
    QMap<int, QPushButton*> buttons;
};

}  // namespace

// --- Columns -----------------------------------------------------------------------------------

TEST(PolicyListColumns, HaveTheirTitlesAndFixedWidthsWithTheSourceColumnHidden) {
    ListWindow w;
    const QStringList titles = {QStringLiteral("有効"), QStringLiteral("ネットワーク名"),
                                QStringLiteral("ラベル"), QStringLiteral("優先度"),
                                QStringLiteral("アドレス空間"), QStringLiteral("ネットワーク名")};
    const int widths[] = {35, 133, 40, 48, 110, 0};
    ASSERT_EQ(w.list->model()->columnCount(), 6);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(w.list->model()->headerData(i, Qt::Horizontal).toString(), titles[i]) << i;
        EXPECT_EQ(w.list->columnWidth(i), widths[i]) << i;
        EXPECT_EQ(w.list->m_clColumns[i].m_nWidth, widths[i]);
        EXPECT_EQ(w.list->GetHeaderCtrl().sectionResizeMode(i), QHeaderView::Fixed);
    }
    EXPECT_TRUE(w.list->isColumnHidden(5));
    EXPECT_FALSE(w.list->isColumnHidden(4));
}

TEST(PolicyListColumns, DividerDragAndDoubleClickChangeNoWidth) {
    ListWindow w;
    w.Show();
    CPolicyListHeaderCtrl& header = w.list->GetHeaderCtrl();
    QWidget* vp = header.viewport();
    const int y = header.height() / 2;
    for (int column = 0; column < 5; ++column) {
        const int divider = header.sectionViewportPosition(column) + header.sectionSize(column);
        ASSERT_TRUE(header.IsOnDivider(divider)) << column;
        QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(divider, y));
        QTest::mouseMove(vp, QPoint(divider + 60, y));
        QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(divider + 60, y));
        QTest::mouseDClick(vp, Qt::LeftButton, {}, QPoint(divider, y));
    }
    // Beyond the last visible divider lies the hidden column: dragging there widens nothing.
    const int end = header.sectionViewportPosition(4) + header.sectionSize(4);
    QTest::mousePress(vp, Qt::LeftButton, {}, QPoint(end + 1, y));
    QTest::mouseMove(vp, QPoint(end + 80, y));
    QTest::mouseRelease(vp, Qt::LeftButton, {}, QPoint(end + 80, y));
    const int widths[] = {35, 133, 40, 48, 110, 0};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(w.list->columnWidth(i), widths[i]) << i;
    EXPECT_TRUE(w.list->isColumnHidden(5));
    // A press on a divider is no header click either.
    EXPECT_EQ(header.GetSortColumn(), -1);
}

TEST(PolicyListColumns, PointerKeepsItsShapeOverDividers) {
    ListWindow w;
    w.Show();
    CPolicyListHeaderCtrl& header = w.list->GetHeaderCtrl();
    const int divider = header.sectionViewportPosition(1) + header.sectionSize(1);
    QTest::mouseMove(header.viewport(), QPoint(divider - 20, header.height() / 2));
    QTest::mouseMove(header.viewport(), QPoint(divider, header.height() / 2));
    EXPECT_FALSE(header.testAttribute(Qt::WA_SetCursor));
    EXPECT_FALSE(header.viewport()->testAttribute(Qt::WA_SetCursor));
    EXPECT_EQ(header.viewport()->cursor().shape(), Qt::ArrowCursor);
    // Even a cursor set on purpose gives way.
    header.setCursor(Qt::SplitHCursor);
    EXPECT_EQ(header.cursor().shape(), Qt::ArrowCursor);
}

// --- Rows --------------------------------------------------------------------------------------

TEST(PolicyListRows, ShowCheckStateSourceIconAndTexts) {
    ListWindow w;
    QList<QIcon> icons;
    for (Qt::GlobalColor c : {Qt::red, Qt::green, Qt::blue}) {
        QPixmap pm(16, 16);
        pm.fill(c);
        icons << QIcon(pm);
    }
    w.list->SetImageList(&icons);
    ASSERT_TRUE(w.list->UpdateItem(0, Row("A", "1", "10", "2001:db8::/32", 1, true)));
    ASSERT_TRUE(w.list->UpdateItem(1, Row("B", "2", "20", "2002::/16", 2, false)));
    EXPECT_FALSE(w.list->GetCheck(0));
    EXPECT_TRUE(w.list->GetCheck(1));
    EXPECT_EQ(w.list->GetItemImage(0, 1), 1);
    EXPECT_EQ(w.list->GetItemImage(1, 1), 2);
    const QModelIndex name = w.list->model()->index(1, 1);
    EXPECT_FALSE(w.list->model()->data(name, Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_EQ(w.list->model()->data(w.list->model()->index(0, 0), Qt::CheckStateRole).toInt(),
              Qt::Unchecked);
    const QStringList first = {QStringLiteral("2001:db8::/32"), "A", "1", "10", "2001:db8::/32", "1"};
    for (int c = 0; c < 6; ++c) EXPECT_EQ(w.list->GetItemText(0, c), first[c]) << c;
    EXPECT_EQ(w.list->GetItemText(1, 5), QStringLiteral("2"));
    EXPECT_NE(w.list->GetItemData(0), w.list->GetItemData(1));
}

TEST(PolicyListRows, AddressSpaceAlreadyPresentInAnyLetterCaseIsRefused) {
    ListWindow w;
    ASSERT_TRUE(w.list->UpdateItem(0, Row("A", "1", "10", "2001:db8::/32")));
    EXPECT_FALSE(w.list->UpdateItem(1, Row("B", "2", "20", "2001:DB8::/32")));
    EXPECT_EQ(w.list->GetItemCount(), 1);
    EXPECT_TRUE(w.list->UpdateItem(1, Row("C", "3", "30", "2001:db8::/3")));
    EXPECT_EQ(w.list->GetItemCount(), 2);
    const QStringList log = w.app.LogLines();
    EXPECT_TRUE(std::any_of(log.begin(), log.end(), [](const QString& l) {
        return l.endsWith(QStringLiteral("iItemIndex=!-1"));
    }));
}

TEST(PolicyListRows, ReplacingARowWithItsOwnAddressSpaceKeepsItInPlace) {
    ListWindow w;
    w.list->UpdateItem(0, Row("A", "1", "10", "::1/128"));
    w.list->UpdateItem(1, Row("B", "2", "20", "fc00::/7"));
    w.list->UpdateItem(2, Row("C", "3", "30", "::/0"));
    ASSERT_TRUE(w.list->UpdateItem(1, Row("B2", "7", "70", "FC00::/7", 0, true)));
    EXPECT_EQ(w.Column(1), (QStringList{"A", "B2", "C"}));
    EXPECT_EQ(w.list->GetItemText(1, 4), QStringLiteral("FC00::/7"));
    EXPECT_EQ(w.list->GetItemText(1, 0), QStringLiteral("FC00::/7"));
    EXPECT_FALSE(w.list->GetCheck(1));
    // Taking the address space of another row is refused and changes nothing.
    EXPECT_FALSE(w.list->UpdateItem(1, Row("X", "9", "90", "::/0")));
    EXPECT_EQ(w.Column(1), (QStringList{"A", "B2", "C"}));
    // The old address space of a changed row is free again.
    ASSERT_TRUE(w.list->UpdateItem(2, Row("C", "3", "30", "2001::/32")));
    EXPECT_TRUE(w.list->UpdateItem(3, Row("D", "4", "40", "::/0")));
}

TEST(PolicyListRows, AnIndexOutsideTheRowsAppends) {
    ListWindow w;
    w.list->UpdateItem(0, Row("A", "1", "10", "::1/128"));
    EXPECT_TRUE(w.list->UpdateItem(-1, Row("B", "2", "20", "::/0")));
    EXPECT_TRUE(w.list->UpdateItem(7, Row("C", "3", "30", "fc00::/7")));
    EXPECT_EQ(w.Column(1), (QStringList{"A", "B", "C"}));
}

TEST(PolicyListRows, AddAllReplacesTheContentAndKeepsTheFirstOfEachAddressSpace) {
    ListWindow w;
    w.list->UpdateItem(0, Row("old", "1", "1", "fe80::/10"));
    w.list->AddAll(CPolicyList{Row("A", "1", "10", "2001:db8::/32"),
                               Row("B", "2", "20", "2001:DB8::/32"), Row("C", "3", "30", "::/0")});
    EXPECT_EQ(w.Column(1), (QStringList{"A", "C"}));
    w.list->AddAll({});
    EXPECT_EQ(w.list->GetItemCount(), 0);
}

TEST(PolicyListRows, RemoveAllNetworkDropsOnlyFetchedRows) {
    ListWindow w;
    w.list->AddAll({Row("u1", "1", "10", "::1/128", 0), Row("n1", "1", "10", "2001::/32", 1),
                    Row("o1", "1", "10", "::/0", 2), Row("n2", "1", "10", "2002::/16", 1),
                    Row("n3", "1", "10", "fc00::/7", 1), Row("u2", "1", "10", "fe80::/10", 0)});
    w.list->RemoveAllNetwork();
    EXPECT_EQ(w.Column(1), (QStringList{"u1", "o1", "u2"}));
    EXPECT_FALSE(w.Column(5).contains(QStringLiteral("1")));
    // The removed address spaces can be added again.
    EXPECT_TRUE(w.list->UpdateItem(3, Row("n1", "1", "10", "2001::/32", 1)));
}

TEST(PolicyListRows, GetPolicyListHandsBackEveryRowInDisplayOrder) {
    ListWindow w;
    CPolicyList out;
    w.list->GetPolicyList(out);
    EXPECT_TRUE(out.isEmpty());

    w.list->AddAll({Row("A", "1", "10", "2001::/32", 1, true), Row("B", "2", "20", "::/0", 2, false),
                    Row("C", "3", "30", "::1/128", 0, false)});
    w.list->Resort();
    CPolicyList existing = {Row("pre", "0", "0", "ff00::/8")};
    w.list->GetPolicyList(existing);
    ASSERT_EQ(existing.size(), 4);
    EXPECT_EQ(existing[0].m_csNetworkName, QStringLiteral("pre"));
    EXPECT_EQ(existing[1].m_csNetworkName, QStringLiteral("C"));
    EXPECT_EQ(existing[3].m_csNetworkName, QStringLiteral("A"));
    EXPECT_TRUE(existing[3].m_bDisabled);
    EXPECT_EQ(existing[3].m_nSource, 1);
    EXPECT_EQ(existing[3].m_csLabel, QStringLiteral("1"));
    EXPECT_EQ(existing[3].m_csPriority, QStringLiteral("10"));
    EXPECT_EQ(existing[3].m_csAddress, QStringLiteral("2001::/32"));
    EXPECT_FALSE(existing[2].m_bDisabled);
    EXPECT_EQ(existing[2].m_nSource, 2);
    EXPECT_EQ(existing[1].m_nSource, 0);
    EXPECT_EQ(existing[1].m_stError.nId, 0);
}

// --- Sorting -----------------------------------------------------------------------------------

TEST(PolicyListSort, ByPriorityHighestFirstUntilAHeaderIsClicked) {
    ListWindow w;
    w.list->AddAll({Row("a", "1", "10", "::1/128"), Row("b", "1", "1", "::/0"),
                    Row("c", "1", "1000", "2002::/16"), Row("d", "1", "40", "::/96"),
                    Row("e", "1", "35", "::ffff:0:0/96"), Row("f", "1", "50", "2001::/32")});
    EXPECT_EQ(w.list->GetHeaderCtrl().GetSortColumn(), -1);
    w.list->Resort();
    EXPECT_EQ(w.Column(3), (QStringList{"1000", "50", "40", "35", "10", "1"}));
    EXPECT_EQ(w.list->GetHeaderCtrl().GetSortColumn(), 3);
    EXPECT_FALSE(w.list->GetHeaderCtrl().IsAscending());
    // A new row lands at the end until the list is sorted again.
    w.list->UpdateItem(w.list->GetItemCount(), Row("g", "1", "45", "fc00::/7"));
    EXPECT_EQ(w.Column(3).last(), QStringLiteral("45"));
    w.list->Resort();
    EXPECT_EQ(w.Column(3), (QStringList{"1000", "50", "45", "40", "35", "10", "1"}));
}

TEST(PolicyListSort, HeaderClicksSortAscendingFirstThenReverse) {
    ListWindow w;
    w.Show();
    w.list->AddAll({Row("beta", "1", "10", "::1/128"), Row("Zulu", "1", "20", "::/0"),
                    Row("alpha", "1", "30", "2002::/16"), Row("Alpha", "1", "40", "::/96")});
    w.list->Resort();
    w.ClickHeader(1);
    EXPECT_EQ(w.Column(1), (QStringList{"Alpha", "Zulu", "alpha", "beta"}));
    EXPECT_EQ(w.list->GetHeaderCtrl().GetSortColumn(), 1);
    EXPECT_TRUE(w.list->GetHeaderCtrl().IsAscending());
    EXPECT_EQ(w.list->GetHeaderCtrl().sortIndicatorSection(), 1);
    w.ClickHeader(1);
    EXPECT_EQ(w.Column(1), (QStringList{"beta", "alpha", "Zulu", "Alpha"}));
    EXPECT_FALSE(w.list->GetHeaderCtrl().IsAscending());
    // The chosen order survives later fills.
    w.list->UpdateItem(w.list->GetItemCount(), Row("gamma", "1", "1", "fc00::/7"));
    w.list->Resort();
    EXPECT_EQ(w.Column(1).first(), QStringLiteral("gamma"));
    // The priority column was sorted descending before; a click on it now starts ascending.
    w.ClickHeader(3);
    EXPECT_EQ(w.Column(3), (QStringList{"1", "10", "20", "30", "40"}));
}

TEST(PolicyListSort, CheckBoxColumnPutsUncheckedRowsFirst) {
    ListWindow w;
    w.Show();
    w.list->AddAll({Row("a", "1", "10", "::1/128", 0, false), Row("b", "1", "20", "::/0", 0, true),
                    Row("c", "1", "30", "2002::/16", 0, false), Row("d", "1", "40", "::/96", 0, true)});
    w.ClickHeader(0);
    QStringList firstTwo = w.Column(1).mid(0, 2);
    firstTwo.sort();
    EXPECT_EQ(firstTwo, (QStringList{"b", "d"}));
    EXPECT_FALSE(w.list->GetCheck(0));
    EXPECT_FALSE(w.list->GetCheck(1));
    EXPECT_TRUE(w.list->GetCheck(2));
    EXPECT_TRUE(w.list->GetCheck(3));
    w.ClickHeader(0);
    EXPECT_TRUE(w.list->GetCheck(0));
    EXPECT_FALSE(w.list->GetCheck(3));
}

TEST(PolicyListSort, LabelAndPriorityCompareAsSaturatingNumbers) {
    ListWindow w;
    w.list->AddAll({Row("a", "99999999999", "1", "::1/128"), Row("b", "2147483647", "1", "::/0"),
                    Row("c", " 12", "1", "2002::/16"), Row("d", "-5", "1", "::/96"),
                    Row("e", "abc", "1", "fc00::/7"), Row("f", "3x", "1", "fe80::/10"),
                    Row("g", "-99999999999", "1", "ff00::/8")});
    const auto key = [&](const char* name) {
        for (int i = 0; i < w.list->GetItemCount(); ++i)
            if (w.list->GetItemText(i, 1) == QLatin1String(name)) return w.list->GetItemData(i);
        return std::uint32_t{0};
    };
    EXPECT_EQ(w.list->OnCompareItems(key("a"), key("b"), 2), 0);  // both saturate
    EXPECT_GT(w.list->OnCompareItems(key("c"), key("f"), 2), 0);  // 12 > 3
    EXPECT_LT(w.list->OnCompareItems(key("d"), key("e"), 2), 0);  // -5 < 0
    EXPECT_LT(w.list->OnCompareItems(key("g"), key("d"), 2), 0);  // INT_MIN < -5
    EXPECT_EQ(w.list->OnCompareItems(key("a"), key("a"), 2), 0);
    w.list->Sort(2, true);
    EXPECT_EQ(w.Column(1).first(), QStringLiteral("g"));
    EXPECT_EQ(w.Column(1)[1], QStringLiteral("d"));
    EXPECT_EQ(w.Column(1)[2], QStringLiteral("e"));
    EXPECT_EQ(w.Column(1)[3], QStringLiteral("f"));
    EXPECT_EQ(w.Column(1)[4], QStringLiteral("c"));
}

TEST(PolicyListSort, TextColumnsCompareByCodeUnits) {
    ListWindow w;
    w.list->AddAll({Row("a", "1", "1", "fe80::/10"), Row("b", "1", "1", "2001::/32"),
                    Row("c", "1", "1", "FC00::/7"), Row("d", "1", "1", "::/0")});
    w.list->Sort(4, true);
    EXPECT_EQ(w.Column(4), (QStringList{"2001::/32", "::/0", "FC00::/7", "fe80::/10"}));
    // An unknown key compares equal.
    EXPECT_EQ(w.list->OnCompareItems(0xFFFFFFFFu, w.list->GetItemData(0), 4), 0);
}

TEST(PolicyListSort, SelectionFollowsItsRow) {
    ListWindow w;
    w.Show();
    w.list->AddAll({Row("a", "1", "10", "::1/128"), Row("b", "1", "20", "::/0"),
                    Row("c", "1", "30", "2002::/16")});
    w.list->SelectAndFocus(0);
    w.list->Resort();
    EXPECT_EQ(w.list->GetFirstSelected(), 2);
    EXPECT_EQ(w.list->GetItemText(w.list->GetFirstSelected(), 1), QStringLiteral("a"));
}

// --- Changes and the window around the list ---------------------------------------------------

TEST(PolicyListWindow, SelectingARowFillsTheEditFieldsAndEnablesChangeAndRemove) {
    ListWindow w;
    w.buttons[1004]->setEnabled(false);
    w.buttons[1006]->setEnabled(false);
    w.Show();
    w.list->AddAll({Row("Net,1", "3", "45", "2001:db8::/32"), Row("B", "4", "5", "::/0")});
    w.list->Resort();
    QTest::mouseClick(w.list->viewport(), Qt::LeftButton, {}, w.CellCenter(1, 2));
    EXPECT_EQ(w.list->GetFirstSelected(), 1);
    EXPECT_EQ(w.edits[1016]->text(), QStringLiteral("B"));
    EXPECT_EQ(w.edits[1009]->text(), QStringLiteral("4"));
    EXPECT_EQ(w.edits[1011]->text(), QStringLiteral("5"));
    EXPECT_EQ(w.edits[1015]->text(), QStringLiteral("::/0"));
    EXPECT_TRUE(w.buttons[1004]->isEnabled());
    EXPECT_TRUE(w.buttons[1006]->isEnabled());
    // Keyboard selection works the same way.
    w.list->setFocus();
    QTest::keyClick(w.list, Qt::Key_Up);
    EXPECT_EQ(w.edits[1016]->text(), QStringLiteral("Net,1"));
    EXPECT_EQ(w.edits[1015]->text(), QStringLiteral("2001:db8::/32"));
    // Clearing the selection leaves the buttons enabled.
    w.list->clearSelection();
    EXPECT_TRUE(w.buttons[1004]->isEnabled());
}

TEST(PolicyListWindow, HiddenListFillsNothing) {
    ListWindow w;
    w.list->AddAll({Row("A", "1", "1", "::/0")});
    w.list->SelectAndFocus(0);
    EXPECT_TRUE(w.edits[1016]->text().isEmpty());
}

TEST(PolicyListWindow, CheckBoxChangesEnableRegister) {
    ListWindow w;
    w.Show();
    w.list->AddAll({Row("A", "1", "10", "::/0", 0, false), Row("B", "1", "5", "::1/128", 0, false)});
    w.list->Resort();
    w.buttons[1002]->setEnabled(false);
    QTest::mouseClick(w.list->viewport(), Qt::LeftButton, {}, w.CheckBoxCenter(0));
    EXPECT_FALSE(w.list->GetCheck(0));
    EXPECT_TRUE(w.buttons[1002]->isEnabled());
    w.buttons[1002]->setEnabled(false);
    QTest::mouseClick(w.list->viewport(), Qt::LeftButton, {}, w.CheckBoxCenter(0));
    EXPECT_TRUE(w.list->GetCheck(0));
    EXPECT_TRUE(w.buttons[1002]->isEnabled());
    // The space bar switches the focused row, whichever cell has the focus.
    w.list->setFocus();
    w.list->setCurrentIndex(w.list->model()->index(1, 3));
    w.buttons[1002]->setEnabled(false);
    QTest::keyClick(w.list, Qt::Key_Space);
    EXPECT_FALSE(w.list->GetCheck(1));
    EXPECT_TRUE(w.buttons[1002]->isEnabled());
}

TEST(PolicyListWindow, RemoveClearsTheEditFieldsAndDisablesChangeAndRemove) {
    ListWindow w;
    w.Show();
    w.list->AddAll({Row("A", "1", "10", "::/0"), Row("B", "2", "5", "::1/128")});
    w.list->Resort();
    w.list->SelectAndFocus(0);
    ASSERT_EQ(w.edits[1016]->text(), QStringLiteral("A"));
    w.list->Remove(0);
    EXPECT_EQ(w.Column(1), (QStringList{"B"}));
    for (int id : {1016, 1009, 1011, 1015}) EXPECT_TRUE(w.edits[id]->text().isEmpty()) << id;
    EXPECT_FALSE(w.buttons[1004]->isEnabled());
    EXPECT_FALSE(w.buttons[1006]->isEnabled());
    // An index that does not exist deletes nothing but still resets the window.
    w.edits[1016]->setText(QStringLiteral("typed"));
    w.buttons[1004]->setEnabled(true);
    w.list->Remove(5);
    EXPECT_EQ(w.list->GetItemCount(), 1);
    EXPECT_TRUE(w.edits[1016]->text().isEmpty());
    EXPECT_FALSE(w.buttons[1004]->isEnabled());
    // The removed address space is free again.
    EXPECT_TRUE(w.list->UpdateItem(1, Row("A", "1", "10", "::/0")));
}

TEST(PolicyListWindow, DeletingTheSelectedRowSelectsNoOtherRow) {
    ListWindow w;
    w.Show();
    w.list->AddAll({Row("A", "1", "30", "::/0"), Row("B", "2", "20", "::1/128"),
                    Row("C", "3", "10", "fc00::/7")});
    w.list->Resort();
    w.list->SelectAndFocus(2);
    w.list->Remove(2);
    EXPECT_EQ(w.list->GetFirstSelected(), -1);
    EXPECT_TRUE(w.edits[1016]->text().isEmpty());
    // Selecting the new last row then fills the fields again.
    w.list->SelectAndFocus(1);
    EXPECT_EQ(w.edits[1016]->text(), QStringLiteral("B"));
    EXPECT_TRUE(w.buttons[1004]->isEnabled());
    // Replacing the selected row leaves no row selected either.
    w.list->UpdateItem(1, Row("B2", "2", "20", "::1/128"));
    EXPECT_EQ(w.list->GetFirstSelected(), -1);
    EXPECT_EQ(w.edits[1016]->text(), QStringLiteral("B"));
}

TEST(PolicyListWindow, OperationsAreTraced) {
    ListWindow w;
    const auto count = [&](const QString& text) {
        const QStringList log = w.app.LogLines();
        return std::count_if(log.begin(), log.end(), [&](const QString& l) { return l.endsWith(text); });
    };
    const QString updated = QStringLiteral("CPolicyListCtrlクラスのUpdateItemの処理を終了します。");
    // Filling the list writes no lines per row, except for a row it leaves out (a prefix twice).
    w.list->AddAll({Row("A", "1", "10", "::/0"), Row("B", "2", "20", "::/0"), Row("C", "3", "30", "fc00::/7")});
    EXPECT_EQ(count(QStringLiteral("CPolicyListCtrlクラスのCPolicyListCtrlの処理を開始します。")), 1);
    EXPECT_EQ(count(QStringLiteral("CPolicyListCtrlクラスのInitの処理を終了します。")), 1);
    EXPECT_EQ(count(QStringLiteral("CPolicyListCtrlクラスのAddAllの処理を終了します。")), 1);
    EXPECT_EQ(count(QStringLiteral(",DEBUG,iItemIndex=!-1")), 1);
    EXPECT_EQ(count(updated), 0);
    EXPECT_EQ(w.list->GetItemCount(), 2);
    // A row the user adds is traced.
    w.list->UpdateItem(w.list->GetItemCount(), Row("D", "4", "40", "::1/128"));
    EXPECT_EQ(count(updated), 1);
}
