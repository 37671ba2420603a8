#include "ui/aboutdialog.h"

#include "services/appservices.h"
#include "platform/versioninfo.h"
#include "services/settingskeys.h"

CAboutDlg::CAboutDlg(CAppServices& services, QWidget* parent)
    : CDialogEx(IDD_ABOUTBOX, services, parent), m_services(services) {
    SubclassDlgItem(IDC_STATIC_COPYRIGHT, &m_stCopyright);
    SubclassDlgItem(IDC_STATIC_VERSION, &m_stVersion);
}

QString CAboutDlg::ExpandLineBreaks(const QString& text) {
    QString out = text;
    out.replace(QStringLiteral("\\n"), QStringLiteral("\n"));
    return out;
}

QString CAboutDlg::FileVersionText(const QString& programPath) {
    const qint64 size = verinfo::GetFileVersionInfoSize(programPath);
    if (size == 0) return QStringLiteral("unknown");
    QByteArray data;
    QString version;
    if (!verinfo::GetFileVersionInfo(programPath, &data)) return QStringLiteral("unknown");
    if (!verinfo::VerQueryValue(data, QStringLiteral("\\StringFileInfo\\041104b0\\FileVersion"),
                                &version))
        return QString();
    return version;
}

bool CAboutDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(QStringLiteral("CAboutDlg"), QStringLiteral("OnInitDialog"));

    const QString csCopyRight = ExpandLineBreaks(
        m_services.GetProfileString(settings::Application(), QStringLiteral("COPYRIGHT")));
    log.TraceValue(QStringLiteral("csCopyRight"), csCopyRight);
    SetDlgItemText(IDC_STATIC_COPYRIGHT, csCopyRight);

    // The program file as it is on disk now: a renamed program shows its own file's version.
    const QString program = m_services.Paths().Program(m_services.m_pszExeName);
    SetDlgItemText(IDC_STATIC_VERSION, FileVersionText(program));

    log.TraceEnd(QStringLiteral("CAboutDlg"), QStringLiteral("OnInitDialog"));
    return true;
}
