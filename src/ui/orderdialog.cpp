#include "ui/orderdialog.h"

#include <QHeaderView>

#include "policy/policylistmanager.h"
#include "services/appservices.h"
#include "ui/progressdialog.h"

namespace {

const QString kClass = QStringLiteral("COrderDlg");

}  // namespace

COrderDlg::COrderDlg(CAppServices& services, const CPolicyList& rows, QWidget* parent)
    : CDialogEx(IDD_ORDER_DIALOG, services, parent), m_services(services), m_rows(rows) {
    SubclassDlgItem(IDC_ORDER_HOST, &m_edHost);
    SubclassDlgItem(IDC_ORDER_LIST, &m_list);
    MapCommand(IDC_ORDER_RUN, [this] { RunPreview(); });
}

bool COrderDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    m_list.setRootIsDecorated(false);
    m_list.setUniformRowHeights(true);
    m_list.setSelectionMode(QAbstractItemView::SingleSelection);
    QStringList headers;
    for (int id : {strid::kOrderColumnDestination, strid::kOrderColumnSource, strid::kOrderColumnPrecedence,
                   strid::kOrderColumnLabel, strid::kOrderColumnSourceLabel, strid::kOrderColumnRule})
        headers << m_services.LoadString(id);
    m_list.setHeaderLabels(headers);
    m_list.header()->setStretchLastSection(true);
    m_edHost.setFocus();
    return false;
}

bool COrderDlg::RunPreview() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("RunPreview"));
    const QStringList hosts = m_edHost.text().split(u' ', Qt::SkipEmptyParts);
    if (hosts.isEmpty()) {
        log.ShowMessageId(strid::kOrderNoHost, LOG_WARN);
        return false;
    }
    // The table as a registration would install it: switched-on rows, planned.
    CPolicyListManager manager;
    manager.m_pApp = &m_services;
    CPolicyList enabled;
    for (const CPolicy& row : std::as_const(m_rows))
        if (!row.m_bDisabled) enabled.append(row);
    CPolicyList plan;
    if (!manager.PlanPolicy(enabled, plan)) return false;
    const QList<addressorder::CTableRow> table = orderpreview::TableRows(plan);
    QList<orderpreview::CRow> rows;
    orderpreview::CFailure failure;
    const int ok = progress::RunWithProgress(m_services, this, CProgressDlg::EKind::Lookup, [&](CWorkerJob& job) {
        return orderpreview::Preview(table, hosts, rows, &failure, [&job] { return job.IsCancelRequested(); }) ? 1 : 0;
    });
    if (!ok) {
        if (!failure.host.isEmpty())
            log.ShowMessageFormat({failure.host, failure.reason}, strid::kOrderNotResolved, LOG_ERROR);
        else if (!failure.reason.isEmpty())
            log.ShowMessageFormat({failure.reason}, strid::kOrderNetworkUnreadable, LOG_ERROR);
        return false;
    }
    Show(rows);
    log.TraceEnd(kClass, QStringLiteral("RunPreview"));
    return true;
}

void COrderDlg::Show(const QList<orderpreview::CRow>& rows) {
    m_list.clear();
    for (const orderpreview::CRow& r : rows) {
        auto* item = new QTreeWidgetItem(&m_list);
        item->setText(0, r.destination);
        item->setText(1, r.reachable ? r.source : m_services.LoadString(strid::kOrderUnreachable));
        item->setText(2, QString::number(r.precedence));
        item->setText(3, QString::number(r.label));
        item->setText(4, r.reachable ? QString::number(r.sourceLabel) : QStringLiteral("-"));
        item->setText(5, r.rule != 0 ? QString::number(r.rule) : QString());
    }
    for (int c = 0; c < 5; ++c) m_list.resizeColumnToContents(c);
}
