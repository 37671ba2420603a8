#include "ui/licensedialog.h"

#include <QFile>

#include "services/appservices.h"
#include "platform/fileutil.h"
#include "ui/dialog/rtfreader.h"

CZarnlicenseDlg::CZarnlicenseDlg(CAppServices& services, QWidget* parent)
    : CDialogEx(IDD_ZARNLICENSE_DIALOG, services, parent), m_services(services) {
    SubclassDlgItem(IDC_RICHEDIT_LICENSE, &m_editLicense);
    SubclassDlgItem(IDCANCEL, &m_btnQuit);
    SubclassDlgItem(IDOK, &m_btnUse);
    SubclassDlgItem(IDC_CHECK_AGREEMENT, &m_chkAgreement);
    MapCommand(IDC_CHECK_AGREEMENT, [this] { OnBnClickedCheckAgreement(); });
}

bool CZarnlicenseDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(QStringLiteral("CZarnlicenseDlg"), QStringLiteral("OnInitDialog"));

    m_btnUse.setEnabled(false);
    m_editLicense.clear();
    if (!LoadLicenseText(m_services.m_csLicensePath, &m_editLicense)) {
        log.TraceValue(QStringLiteral("rtfFileRead"), QStringLiteral("FALSE"));
        m_chkAgreement.setEnabled(false);
    }

    log.TraceEnd(QStringLiteral("CZarnlicenseDlg"), QStringLiteral("OnInitDialog"));
    return true;
}

int CZarnlicenseDlg::LicenseStreamCallback(QFile* cookie, char* buffer, qint64 wanted,
                                           qint64* read) {
    *read = 0;
    if (!cookie || wanted <= 0) return 0;
    const qint64 got = cookie->read(buffer, wanted);
    if (got < 0) return 1;  // a read error ends the stream with an error
    *read = got;
    return 0;
}

bool CZarnlicenseDlg::LoadLicenseText(const QString& path, QTextEdit* richEdit) {
    if (!richEdit || path.isEmpty()) return false;
    // Opened without blocking: only a regular file (or a link to one) is read.
    QFile file;
    if (!platform::OpenRegularForReading(file, path)) return false;
    if (file.size() > kMaxLicenseBytes) return false;

    // Stream the file in chunks until a read delivers nothing. The total stays bounded by the
    // limit even if the file grows meanwhile: one byte more than the limit is an error.
    QByteArray bytes;
    int error = 0;
    char buffer[4096];
    for (;;) {
        const qint64 room = kMaxLicenseBytes + 1 - bytes.size();
        qint64 got = 0;
        if (LicenseStreamCallback(&file, buffer, qMin<qint64>(sizeof buffer, room), &got) != 0) {
            error = -1;
            break;
        }
        if (got == 0) break;
        bytes.append(buffer, got);
        if (bytes.size() > kMaxLicenseBytes) {
            bytes.truncate(kMaxLicenseBytes);
            error = -1;
            break;
        }
    }
    const bool read = CRtfReader::Read(bytes, richEdit->document());
    richEdit->moveCursor(QTextCursor::Start);
    return error == 0 && read;
}

void CZarnlicenseDlg::OnBnClickedCheckAgreement() {
    CAppLog& log = m_services.m_clLog;
    const QString cls = QStringLiteral("CZarnlicenseDlg");
    const QString fn = QStringLiteral("OnBnClickedCheckAgreement");
    log.TraceStart(cls, fn);
    if (IsDlgButtonChecked(IDC_CHECK_AGREEMENT) == BST_CHECKED) {
        log.TraceValue(QStringLiteral("m_chkAgreement"), QStringLiteral("TRUE"));
        m_btnUse.setEnabled(true);
    } else {
        log.TraceValue(QStringLiteral("m_chkAgreement"), QStringLiteral("FALSE"));
        m_btnUse.setEnabled(false);
    }
    log.TraceEnd(cls, fn);
}
