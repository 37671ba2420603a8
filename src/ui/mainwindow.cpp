#include "ui/mainwindow.h"

#include <QEvent>
#include <QFileInfo>
#include <QHideEvent>
#include <QPainter>
#include <QPixmap>
#include <QResizeEvent>
#include <algorithm>

#include "services/appservices.h"
#include "platform/fileutil.h"
#include "ui/aboutdialog.h"
#include "ui/dialog/waitcursor.h"
#include "resids.h"
#include "ui/progressdialog.h"

namespace {

const QString kClass = QStringLiteral("CZarntoolDlg");

// An icon of the active resource set, or of the program's own set when the active one has none.
QIcon LoadIcon(const CAppServices& services, int id) {
    QString path = services.Resources().IconPath(id);
    if (path.isEmpty() || !QFileInfo::exists(path)) path = CResourceSet::ProgramSet().IconPath(id);
    if (path.isEmpty()) return {};
    // A file of a language folder is read without blocking; the program's own are built in.
    QPixmap pixmap;
    QByteArray bytes;
    if (path.startsWith(u':'))
        pixmap.load(path);
    else if (platform::ReadWholeFile(path, &bytes))
        pixmap.loadFromData(bytes);
    if (pixmap.isNull()) return {};
    return QIcon(pixmap);
}

}  // namespace

CZarntoolDlg::CZarntoolDlg(CAppServices& services, QWidget* parent)
    : CDialogEx(IDD_ZARNTOOL_DIALOG, services, parent),
      m_listPolicy(services, nullptr),
      m_grpInput(nullptr),
      m_editNetworkName(nullptr),
      m_editLabel(nullptr),
      m_editPriority(nullptr),
      m_editAddress(nullptr),
      m_btnCancel(nullptr),
      m_btnSave(nullptr),
      m_btnRemove(nullptr),
      m_btnModify(nullptr),
      m_btnAdd(nullptr),
      m_services(services) {
    m_hIcon = LoadIcon(m_services, IDR_MAINFRAME);
    m_clManager.m_pApp = &m_services;
    MapCommands();
    ConnectList();
}

CZarntoolDlg::~CZarntoolDlg() {
    // The member controls go before the window; keep the resize filter from seeing them go.
    if (ClientArea()) ClientArea()->removeEventFilter(this);
}

void CZarntoolDlg::MapCommands() {
    MapCommand(IDC_CANCEL, [this] { OnBnClickedCancel(); });
    MapCommand(IDC_REMOVE, [this] { OnBnClickedRemove(); });
    MapCommand(IDC_ADD, [this] { OnBnClickedAdd(); });
    MapCommand(IDC_MODIFY, [this] { OnBnClickedModify(); });
    MapCommand(IDC_SAVE, [this] { OnBnClickedSave(); });
    MapCommand(ID_FILE_QUIT, [this] { OnFileQuit(); });
    MapMenuCommands();
}

void CZarntoolDlg::DoDataExchange() {
    SubclassDlgItem(IDC_LIST, &m_listPolicy);
    SubclassDlgItem(IDC_INPUTGROUP, &m_grpInput);
    SubclassDlgItem(IDC_ADDRESS, &m_editAddress);
    SubclassDlgItem(IDC_LABEL, &m_editLabel);
    SubclassDlgItem(IDC_NETWORKNAME, &m_editNetworkName);
    SubclassDlgItem(IDC_PRIORITY, &m_editPriority);
    SubclassDlgItem(IDC_CANCEL, &m_btnCancel);
    SubclassDlgItem(IDC_REMOVE, &m_btnRemove);
    SubclassDlgItem(IDC_MODIFY, &m_btnModify);
    SubclassDlgItem(IDC_SAVE, &m_btnSave);
    SubclassDlgItem(IDC_ADD, &m_btnAdd);
}

QList<CMovableObject*> CZarntoolDlg::MovableControls() {
    return {&m_listPolicy,   &m_grpInput,     &m_btnRemove,       &m_btnModify,
            &m_btnAdd,       &m_editNetworkName, &m_editLabel,    &m_editPriority,
            &m_editAddress};
}

bool CZarntoolDlg::OnInitDialog() {
    // Base initialisation: the controls are bound.
    CDialogEx::OnInitDialog();
    DoDataExchange();

    // Every message box from now on belongs to this window.
    CAppLog& log = m_services.m_clLog;
    log.m_hOwnerWnd = this;
    log.TraceStart(kClass, QStringLiteral("OnInitDialog"));
    m_bPostNcDestroyed = false;

    // System menu: the version box.
    const QString about = m_services.LoadString(strid::kAboutMenuItem);
    if (!about.isEmpty()) {
        AppendSystemMenuSeparator();
        AppendSystemMenuItem(IDM_ABOUTBOX, about);
    }
    // Accelerators, always from the program's own resources.
    m_hAccel = LoadAccelerators(IDR_ACCELERATOR);
    setWindowIcon(m_hIcon);

    InitList();
    LoadRows();
    RecordInitialGeometry();

    EnableDlgItem(IDC_REMOVE, false);
    EnableDlgItem(IDC_MODIFY, false);
    EnableDlgItem(IDC_SAVE, true);
    m_editNetworkName.setMaxLength(kMaxNetworkName);
    m_editLabel.setMaxLength(kMaxLabel);
    m_editPriority.setMaxLength(kMaxPriority);
    m_editAddress.setMaxLength(kMaxAddress);
    m_listPolicy.Resort();

    log.AppendLog(LOG_DEBUG, m_services.LoadString(strid::kEditorOpened));
    log.TraceEnd(kClass, QStringLiteral("OnInitDialog"));
    return true;
}

void CZarntoolDlg::InitList() {
    // Origin icons of the list: image indexes 0, 1 and 2 for the three origins. An icon that
    // cannot be loaded keeps its place so that the others keep their indexes.
    m_pImageList = std::make_unique<QList<QIcon>>();
    m_pImageList->reserve(4);
    for (int id : {IDI_SOURCE_USER, IDI_SOURCE_NETWORK, IDI_SOURCE_OS}) {
        QIcon icon = LoadIcon(m_services, id);
        if (!icon.isNull()) icon = QIcon(icon.pixmap(16, 16));
        m_pImageList->append(icon);
    }
    m_listPolicy.SetImageList(m_pImageList.get());
    m_listPolicy.Init();
}

void CZarntoolDlg::LoadRows() {
    // The policy table file, or the operating system's table without one.
    CAppLog& log = m_services.m_clLog;
    CPolicyList clPolicy;
    const QString path = CInstallPaths(m_services.m_szAppDir).PolicyTable();
    if (platform::FileExists(path)) {
        QList<qsizetype> rejected;
        if (m_clManager.GetPolicyFile(clPolicy, path, &rejected))
            m_listPolicy.AddAll(clPolicy);
        else
            log.TraceValue(QStringLiteral("GetCurrent(&clPolicy)"), QStringLiteral("FALSE"));
        if (!rejected.isEmpty())
            log.ShowMessageFormat({QString::number(rejected.size())}, strid::kPolicyFileRowsLeftOut, LOG_WARN);
    } else {
        log.TraceValue(QStringLiteral("FindFile(cs_PolicyTablePath)"), QStringLiteral("FALSE"));
        if (m_clManager.GetCurrent(clPolicy))
            m_listPolicy.AddAll(clPolicy);
        else
            log.TraceValue(QStringLiteral("GetCurrent(&clPolicy)"), QStringLiteral("FALSE"));
    }
}

void CZarntoolDlg::RecordInitialGeometry() {
    // The window, its client area and each movable control in client coordinates at opening.
    // The window keeps this width and never gets shorter.
    m_rcInitWindow = CRect::FromQRect(geometry());
    m_rcInitClient = CRect::FromQRect(ClientArea()->rect());
    for (CMovableObject* movable : MovableControls()) {
        QWidget* w = movable->m_pWnd;
        const QPoint topLeft = w->mapTo(ClientArea(), QPoint(0, 0));
        movable->m_rcOrigin = CRect::FromQRect(QRect(topLeft, w->size()));
    }
    setMinimumSize(m_rcInitWindow.Width(), m_rcInitWindow.Height());
    setMaximumWidth(m_rcInitWindow.Width());
    ClientArea()->installEventFilter(this);
}

void CZarntoolDlg::ConnectList() {
    connect(&m_listPolicy, &CPolicyListCtrl::rowSelected, this,
            [this](const CPolicy& row) { OnListRowSelected(row); });
    connect(&m_listPolicy, &CPolicyListCtrl::rowRemoved, this, [this] { OnListRowRemoved(); });
    connect(&m_listPolicy, &CPolicyListCtrl::checkChanged, this,
            [this] { EnableDlgItem(IDC_SAVE, true); });
}

void CZarntoolDlg::OnListRowSelected(const CPolicy& row) {
    // The selected row goes into the edit fields, ready to be changed or removed.
    m_editNetworkName.setText(row.m_csNetworkName);
    m_editLabel.setText(row.m_csLabel);
    m_editPriority.setText(row.m_csPriority);
    m_editAddress.setText(row.m_csAddress);
    EnableDlgItem(IDC_MODIFY, true);
    EnableDlgItem(IDC_REMOVE, true);
}

void CZarntoolDlg::OnListRowRemoved() {
    for (CEditEx* edit : {&m_editNetworkName, &m_editLabel, &m_editPriority, &m_editAddress})
        edit->setText(QString());
    EnableDlgItem(IDC_MODIFY, false);
    EnableDlgItem(IDC_REMOVE, false);
}

void CZarntoolDlg::OnSize(int /*width*/, int height) {
    if (m_rcInitClient.Height() != 0) {
        const int delta = height - m_rcInitClient.Height();
        // The list keeps its place and width and takes the new height.
        const CRect& list = m_listPolicy.m_rcOrigin;
        m_listPolicy.setGeometry(list.left, list.top, list.Width(), list.Height() + delta);
        // The controls under the list move by the same amount; buttons 1001 and 1002 stay.
        for (CMovableObject* movable : MovableControls()) {
            if (movable == &m_listPolicy) continue;
            const CRect& r = movable->m_rcOrigin;
            movable->m_pWnd->setGeometry(r.left, r.top + delta, r.Width(), r.Height());
        }
    }
    update();
}

void CZarntoolDlg::resizeEvent(QResizeEvent* event) {
    CDialogEx::resizeEvent(event);
    // Size limits: the width stays the opening width and the height never goes below the
    // opening height. The window system is told so in advance; a size it imposes all the same
    // is corrected once (a window system that insists is not fought).
    if (m_rcInitWindow.Width() <= 0) return;
    const QSize limited(m_rcInitWindow.Width(), std::max(height(), m_rcInitWindow.Height()));
    if (size() == limited || size() == m_szRefused) return;
    m_szRefused = size();
    resize(limited);
}

bool CZarntoolDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ClientArea() && event->type() == QEvent::Resize) {
        const QSize size = static_cast<QResizeEvent*>(event)->size();
        OnSize(size.width(), size.height());
    }
    return CDialogEx::eventFilter(watched, event);
}

void CZarntoolDlg::paintEvent(QPaintEvent* event) {
    if (isMinimized() && !m_hIcon.isNull()) {
        // Minimised: the icon centred on the erased background.
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        const QSize size(32, 32);
        const QRect target(QPoint((width() - size.width() + 1) / 2, (height() - size.height() + 1) / 2),
                           size);
        m_hIcon.paint(&painter, target);
        return;
    }
    CDialogEx::paintEvent(event);
}

bool CZarntoolDlg::SetAndCheckPolicy(CPolicy& row) {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("SetAndCheckPolicy"));
    const QString name = m_editNetworkName.text();
    const QString label = m_editLabel.text();
    const QString priority = m_editPriority.text();
    const QString address = m_editAddress.text();

    row.m_bDisabled = false;
    row.m_nSource = 0;

    int field = -1;
    if (!row.SetAndValidNetworkName(name))
        field = strid::kColumnNetworkName;
    else if (!row.SetAndValidLabel(label))
        field = strid::kColumnLabel;
    else if (!row.SetAndValidPriority(priority))
        field = strid::kColumnPriority;
    else if (!row.SetAndValidAddress(address))
        field = strid::kColumnAddress;
    if (field != -1) {
        log.ShowMessageFormat({m_services.LoadString(field)}, row.m_stError.nId, row.m_stError.nKind);
        return false;
    }
    log.TraceEnd(kClass, QStringLiteral("SetAndCheckPolicy"));
    return true;
}

void CZarntoolDlg::OnBnClickedAdd() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnBnClickedAdd"));
    CWaitCursor wait;
    CPolicy row;
    if (!SetAndCheckPolicy(row)) {
        wait.Restore();
        log.TraceEnd(kClass, QStringLiteral("OnBnClickedAdd"));
        return;
    }
    if (!m_listPolicy.UpdateItem(m_listPolicy.GetItemCount(), row)) {
        wait.Restore();
        log.ShowMessageFormat({row.m_csAddress}, strid::kPrefixDuplicate, LOG_ERROR);
        return;
    }
    m_listPolicy.Resort();
    m_listPolicy.SelectAndFocus(m_listPolicy.GetItemCount() - 1);
    wait.Restore();
    log.TraceEnd(kClass, QStringLiteral("OnBnClickedAdd"));
}

void CZarntoolDlg::OnBnClickedModify() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnBnClickedModify"));
    CWaitCursor wait;
    CPolicy row;
    if (!SetAndCheckPolicy(row)) {
        log.TraceValue(QStringLiteral("SetAndCheckPolicy(&pItem)"), QStringLiteral("FALSE"));
        wait.Restore();
        log.TraceEnd(kClass, QStringLiteral("OnBnClickedModify"));
        return;
    }
    const int index = m_listPolicy.GetFirstSelected();
    if (index < 0) {
        wait.Restore();
        log.ShowMessageId(strid::kNoRowSelected, LOG_ERROR);
        log.TraceEnd(kClass, QStringLiteral("OnBnClickedModify"));
        return;
    }
    if (!m_listPolicy.UpdateItem(index, row)) {
        wait.Restore();
        log.ShowMessageFormat({row.m_csAddress}, strid::kPrefixDuplicate, LOG_ERROR);
        return;
    }
    m_listPolicy.Resort();
    m_listPolicy.SelectAndFocus(index);
    wait.Restore();
    log.TraceEnd(kClass, QStringLiteral("OnBnClickedModify"));
}

void CZarntoolDlg::OnBnClickedRemove() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnBnClickedRemove"));
    int index = m_listPolicy.GetFirstSelected();
    if (index < 0) {
        log.ShowMessageId(strid::kNoRowSelected, LOG_ERROR);
        log.TraceEnd(kClass, QStringLiteral("OnBnClickedRemove"));
        return;
    }
    if (log.ShowMessageId(strid::kConfirmRemove, LOG_CONFIRM) != IDYES) {
        log.TraceValue(QStringLiteral("iRet"), QStringLiteral("!IDYES"));
        log.TraceEnd(kClass, QStringLiteral("OnBnClickedRemove"));
        return;
    }
    CWaitCursor wait;
    m_listPolicy.Remove(index);
    const int count = m_listPolicy.GetItemCount();
    if (index == count && index > 0) --index;
    m_listPolicy.SelectAndFocus(index);
    EnableDlgItem(IDC_SAVE, true);
    wait.Restore();
    log.TraceEnd(kClass, QStringLiteral("OnBnClickedRemove"));
}

void CZarntoolDlg::OnBnClickedSave() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnBnClickedSave"));
    CWaitCursor wait;
    EnableDlgItem(IDC_SAVE, false);

    CPolicyList clAllPolicy;
    m_listPolicy.GetPolicyList(clAllPolicy);
    const QString path = m_services.Paths().PolicyTable();
    // The commands and the file write run on a worker with a manager of its own; the window
    // keeps painting behind the progress window.
    CPolicyListManager clManager = m_clManager;
    const auto work = [&](CWorkerJob& job) {
        job.Attach(clManager);
        if (!clManager.RegisterPolicy(clAllPolicy)) {
            log.TraceValue(QStringLiteral("RegisterPolicy(&clAllPolicy)"), QStringLiteral("FALSE"));
            return 0;
        }
        if (!clManager.WritePolicyFile(clAllPolicy, path)) {
            log.TraceValue(QStringLiteral("WriteCurrentFile(&clAllPolicy)"),
                           QStringLiteral("FALSE"));
            return 0;
        }
        return 1;
    };
    const bool bSaved =
        progress::RunWithProgress(m_services, this, CProgressDlg::EKind::Register, work) == 1;
    if (!bSaved) {
        wait.Restore();
        EnableDlgItem(IDC_SAVE, true);
        return;
    }
    log.ShowMessageId(strid::kApplyDone, LOG_DEBUG);
    wait.Restore();
    log.TraceEnd(kClass, QStringLiteral("OnBnClickedSave"));
    EndDialog(IDOK);
}

void CZarntoolDlg::CloseMainWindow() {
    // The application's main window is this window in editor mode; without one set, the
    // request goes to this window all the same.
    QWidget* main = qobject_cast<QWidget*>(m_services.m_pMainWnd);
    if (!main) main = this;
    main->close();
}

void CZarntoolDlg::OnBnClickedCancel() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnBnClickedCancel"));
    CloseMainWindow();
    log.TraceEnd(kClass, QStringLiteral("OnBnClickedCancel"));
}

void CZarntoolDlg::OnFileQuit() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnFileQuit"));
    CloseMainWindow();
    log.TraceEnd(kClass, QStringLiteral("OnFileQuit"));
}

void CZarntoolDlg::OnCancel() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnCancel"));
    if (log.ShowMessageId(strid::kConfirmQuit, LOG_CONFIRM) == IDYES) {
        CDialogEx::OnCancel();
    } else {
        log.TraceValue(QStringLiteral("iRet"), QStringLiteral("!IDYES"));
    }
    log.TraceEnd(kClass, QStringLiteral("OnCancel"));
}

void CZarntoolDlg::OnSysCommand(int id) {
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg dlgAbout(m_services, this);
        dlgAbout.DoModal();
        return;
    }
    CDialogEx::OnSysCommand(id);
}

void CZarntoolDlg::hideEvent(QHideEvent* event) {
    CDialogEx::hideEvent(event);
    // The run has ended when the window hides with a result.
    if (!event->spontaneous() && GetResult() != -1 && !m_bPostNcDestroyed) PostNcDestroy();
}

void CZarntoolDlg::PostNcDestroy() {
    m_bPostNcDestroyed = true;
    m_services.m_clLog.AppendLog(LOG_DEBUG, m_services.LoadString(strid::kEditorClosed));
    m_listPolicy.SetImageList(nullptr);
    m_pImageList.reset();
}
