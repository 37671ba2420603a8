// The address-order preview window: it orders under the editor's switched-on rows as they would
// be registered (a switched-off row changes nothing), on the worker, and shows every column.
#include <QTreeWidget>
#include <gtest/gtest.h>

#include "policy/wellknowntables.h"
#include "support/testsupport.h"
#include "ui/orderdialog.h"

TEST(OrderWindow, ShowsTheOrderUnderTheSwitchedOnRowsOnly) {
    testsupport::CTestApp t;
    CPolicyList rows;
    ASSERT_TRUE(wellknown::Table(QStringLiteral("rfc6724"), rows));
    // Switched off: were it registered, IPv4 would come first.
    CPolicy ipv4First;
    ipv4First.m_bDisabled = true;
    ipv4First.m_csLabel = QStringLiteral("4");
    ipv4First.m_csPriority = QStringLiteral("100");
    ipv4First.m_csAddress = QStringLiteral("::ffff:0:0/96");
    rows.append(ipv4First);
    COrderDlg dlg(t.App(), rows);
    ASSERT_TRUE(dlg.Create());
    EXPECT_FALSE(dlg.RunPreview());  // an empty field orders nothing
    dlg.m_edHost.setText(QStringLiteral(" 127.0.0.1  ::1 "));
    ASSERT_TRUE(dlg.RunPreview());
    ASSERT_EQ(dlg.m_list.topLevelItemCount(), 2);
    ASSERT_EQ(dlg.m_list.columnCount(), 6);
    const QStringList expected[] = {{"::1", "::1", "50", "0", "0", "6"},
                                    {"127.0.0.1", "127.0.0.1", "35", "4", "4", ""}};
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 6; ++column)
            EXPECT_EQ(dlg.m_list.topLevelItem(row)->text(column), expected[row][column]) << row << " " << column;
}
