#pragma once
// The address-order preview window (template 141): a host name or addresses, "並べる", and the
// destinations in the order programs will try them once the editor's switched-on rows are
// registered, with the source, the precedence and labels, and the rule that decided each place.
// The lookup runs on the worker behind the progress window and can be cancelled.
#include <QLineEdit>
#include <QTreeWidget>

#include "ostable/orderpreview.h"
#include "policy/policy.h"
#include "resids.h"
#include "ui/dialog/dialogex.h"

class CAppServices;

class COrderDlg : public CDialogEx {
    Q_OBJECT
public:
    // `rows`: the editor's rows; the switched-on ones are previewed as they would be registered.
    COrderDlg(CAppServices& services, const CPolicyList& rows, QWidget* parent = nullptr);

    // Orders the hosts in the field (blank-separated) and shows them; false when nothing was
    // shown (an empty field, a table that would not register, a failure or a cancel).
    bool RunPreview();

    QLineEdit m_edHost;   // 1031
    QTreeWidget m_list;   // 1033

protected:
    bool OnInitDialog() override;

private:
    void Show(const QList<orderpreview::CRow>& rows);

    CAppServices& m_services;
    CPolicyList m_rows;
};
