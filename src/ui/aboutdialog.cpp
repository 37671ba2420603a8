#include "ui/aboutdialog.h"

#include "services/appservices.h"
#include "platform/versioninfo.h"

CAboutDlg::CAboutDlg(QWidget* parent) : CDialogEx(IDD, parent), m_pApp(CAppServices::Current()) {
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
    CAppLog* log = m_pApp ? &m_pApp->m_clLog : nullptr;
    if (log) log->TraceStart(QStringLiteral("CAboutDlg"), QStringLiteral("OnInitDialog"));

    const QString csCopyRight =
        ExpandLineBreaks(m_pApp ? m_pApp->GetProfileString(QStringLiteral("APPLICATION"),
                                                           QStringLiteral("COPYRIGHT"))
                                : QString());
    if (log) log->TraceValue(QStringLiteral("csCopyRight"), csCopyRight);
    SetDlgItemText(IDC_STATIC_COPYRIGHT, csCopyRight);

    // The program file as it is on disk now: a renamed program shows its own file's version.
    const QString program = m_pApp ? m_pApp->m_szAppDir + m_pApp->m_pszExeName : QString();
    SetDlgItemText(IDC_STATIC_VERSION, FileVersionText(program));

    if (log) log->TraceEnd(QStringLiteral("CAboutDlg"), QStringLiteral("OnInitDialog"));
    return true;
}
