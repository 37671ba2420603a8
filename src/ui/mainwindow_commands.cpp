// The main window's menu commands: fetching rows from the network, exporting the diagnostic
// file, restoring the factory table, the settings dialog, the help, the version box.
#include <QDir>
#include <QFileInfo>

#include "services/appservices.h"
#include "ostable/exportfile.h"
#include "platform/fileutil.h"
#include "ui/aboutdialog.h"
#include "policy/wellknowntables.h"
#include "ui/helpwindow.h"
#include "ui/orderdialog.h"
#include "ui/dialog/waitcursor.h"
#include "ui/settingsdialog.h"
#include "ui/mainwindow.h"
#include "resids.h"
#include "services/settingskeys.h"
#include "ui/progressdialog.h"

namespace {

const QString kClass = QStringLiteral("CZarntoolDlg");
const QString kSection = settings::Application();

}  // namespace

void CZarntoolDlg::MapMenuCommands() {
    MapCommand(ID_FILE_GETNETWORK, [this] { OnFileGetNetwork(); });
    MapUpdateCommand(ID_FILE_GETNETWORK, [this](CCmdUI* cmd) { OnUpdateFileGetNetwork(cmd); });
    MapCommand(ID_FILE_EXPORT, [this] { OnFileExport(); });
    MapCommand(ID_FILE_DEFAULT, [this] { OnFileDefault(); });
    MapCommand(ID_FILE_TABLE_GLIBC, [this] { OnFileTable(QStringLiteral("glibc")); });
    MapCommand(ID_FILE_TABLE_RFC6724, [this] { OnFileTable(QStringLiteral("rfc6724")); });
    MapCommand(ID_FILE_TABLE_RFC6724_IPV4, [this] { OnFileTable(QStringLiteral("rfc6724-ipv4")); });
    MapCommand(ID_FILE_ORDER, [this] { OnFileOrder(); });
    MapCommand(ID_FILE_PROPERTY, [this] { OnFileProperty(); });
    MapCommand(ID_HELP_ABOUT, [this] { OnHelpAbout(); });
    MapCommand(ID_HELP_VERSION, [this] { OnHelpVersion(); });
}

void CZarntoolDlg::OnFileGetNetwork() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnFileGetNetwork"));
    CWaitCursor wait;

    const QString csProtocol =
        m_services.GetProfileString(kSection, settings::Protocol(), settings::Dhcp());
    log.TraceValue(QStringLiteral("csProtocol"), csProtocol);

    CPolicyList clPolicy;
    bool bGet = false;
    const bool bDhcp = csProtocol.compare(QLatin1String("DHCP"), Qt::CaseInsensitive) == 0;
    const bool bHttp = csProtocol.compare(QLatin1String("HTTP"), Qt::CaseInsensitive) == 0;
    if (bDhcp || bHttp) {
        // The wait runs on a worker with a manager of its own; "中止" ends it at once.
        CPolicyListManager clManager = m_clManager;
        bGet = progress::RunWithProgress(m_services, this, CProgressDlg::EKind::Fetch, [&](CWorkerJob& job) {
            job.Attach(clManager);
            return bDhcp ? clManager.GetDhcp(clPolicy) : clManager.GetHttp(clPolicy);
        }) != 0;
    }

    if (bGet) {
        // The rows of this fetch replace those of the last one; a row whose address space is
        // already in the list is dropped and the existing row stays.
        m_listPolicy.RemoveAllNetwork();
        for (const CPolicy& row : std::as_const(clPolicy)) {
            // A body line the server sent that is not a policy line leaves a row without an
            // address space; such a row is no policy and is not put into the list.
            if (row.m_csAddress.isEmpty()) {
                log.TraceValue(QStringLiteral("m_csAddress.IsEmpty"), QStringLiteral("TRUE"));
                continue;
            }
            m_listPolicy.UpdateItem(m_listPolicy.GetItemCount(), row);
        }
        m_listPolicy.Resort();
    } else {
        log.TraceValue(QStringLiteral("bGet"), QStringLiteral("FALSE"));
    }

    wait.Restore();
    log.TraceEnd(kClass, QStringLiteral("OnFileGetNetwork"));
}

void CZarntoolDlg::OnUpdateFileGetNetwork(CCmdUI* pCmdUI) {
    if (!pCmdUI) return;
    // A missing key reads as "0": the item is disabled. Any other text, empty included,
    // enables it.
    const QString csUseNetwork =
        m_services.GetProfileString(kSection, settings::UseNetwork(), QStringLiteral("0"));
    pCmdUI->Enable(csUseNetwork.compare(QLatin1String("0"), Qt::CaseInsensitive) != 0);
}

void CZarntoolDlg::OnFileExport() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnFileExport"));
    CWaitCursor wait;

    const QString csExportPath = m_services.Paths().Export();
    if (!QFileInfo::exists(csExportPath)) {
        log.TraceValue(QStringLiteral("FindFile(cs_ExportPath)"), QStringLiteral("FALSE"));
        if (!QDir().mkdir(csExportPath)) {
            wait.Restore();
            log.TraceValue(QStringLiteral("CreateDirectory"), QStringLiteral("FALSE"));
            return;
        }
    }

    const QString csPolicy = m_clManager.GetCurrentString();
    if (csPolicy.isEmpty()) {
        wait.Restore();
        return;
    }
    const QString csIpconfig = m_clManager.GetCurrentIpconfigString();
    if (csIpconfig.isEmpty()) {
        wait.Restore();
        return;
    }

    // Written to a temporary file beside it and renamed into place, so that no half-written
    // file ever carries the export's name; a second export in the same second replaces it.
    const QString csFilePath =
        csExportPath + u'/' + exportfile::FileName(exportfile::Now());
    if (!platform::WriteFileAtomic(csFilePath, exportfile::Bytes(csPolicy, csIpconfig))) {
        wait.Restore();
        log.TraceValue(QStringLiteral("WriteFile(cs_ExportFilePath)"), QStringLiteral("FALSE"));
        return;
    }

    wait.Restore();
    log.ShowMessageFormat({csFilePath}, strid::kExportDone, LOG_DEBUG);
    log.TraceEnd(kClass, QStringLiteral("OnFileExport"));
}

void CZarntoolDlg::OnFileDefault() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnFileDefault"));
    CWaitCursor wait;

    CPolicyList clPolicy;
    const QString path = CInstallPaths(m_services.m_szAppDir).FactoryTable();
    QList<qsizetype> rejected;
    if (m_clManager.GetPolicyFile(clPolicy, path, &rejected)) {
        m_listPolicy.AddAll(clPolicy);
        m_listPolicy.Resort();
        wait.Restore();
        if (!rejected.isEmpty())
            log.ShowMessageFormat({QString::number(rejected.size())}, strid::kPolicyFileRowsLeftOut, LOG_WARN);
    } else {
        wait.Restore();
        log.ShowMessageId(strid::kNoFactoryTable, LOG_ERROR);
    }
    log.TraceEnd(kClass, QStringLiteral("OnFileDefault"));
}

void CZarntoolDlg::OnFileTable(const QString& name) {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnFileTable"));
    CPolicyList rows;
    if (wellknown::Table(name, rows)) {
        m_listPolicy.AddAll(rows);
        m_listPolicy.Resort();
    }
    log.TraceEnd(kClass, QStringLiteral("OnFileTable"));
}

void CZarntoolDlg::OnFileOrder() {
    CPolicyList rows;
    m_listPolicy.GetPolicyList(rows);
    COrderDlg dialog(m_services, rows, this);
    dialog.DoModal();
}

void CZarntoolDlg::OnFileProperty() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnFileProperty"));
    {
        CZarnpropDlg dlg(m_services, this);
        // The settings dialog makes itself the owner of message boxes while it initialises;
        // until then they have none.
        log.m_hOwnerWnd = nullptr;
        dlg.DoModal();
    }
    log.m_hOwnerWnd = this;
    log.TraceEnd(kClass, QStringLiteral("OnFileProperty"));
}

void CZarntoolDlg::OnHelpAbout() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnHelpAbout"));
    // The help of the language now set must exist; the file shown is the one chosen at
    // start-up.
    const QString language =
        m_services.GetProfileString(kSection, settings::Lang(), QStringLiteral("Japanese"));
    const QString path = m_services.Paths().Help(language);
    if (platform::FileExists(path))
        CHelpWindow::DisplayHelp(m_services, this, m_services.m_pszHelpFilePath);
    else
        log.ShowMessageId(strid::kNoHelpFile, LOG_ERROR);
    log.TraceEnd(kClass, QStringLiteral("OnHelpAbout"));
}

void CZarntoolDlg::OnHelpVersion() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnHelpVersion"));
    CAboutDlg dlg(m_services, this);
    dlg.DoModal();
    log.TraceEnd(kClass, QStringLiteral("OnHelpVersion"));
}
