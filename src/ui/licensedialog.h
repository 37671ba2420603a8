#pragma once
// The terms-of-use agreement (template 139): shows license.rtf of the configured language in a
// read-only rich text box and lets the user go on ("利用する", IDOK) only while the agreement
// box is ticked; "終了" and closing the window give IDCANCEL.
#include <QCheckBox>
#include <QPushButton>
#include <QTextEdit>

#include "resids.h"
#include "ui/dialog/dialogex.h"

class CAppServices;
class QFile;

class CZarnlicenseDlg : public CDialogEx {
    Q_OBJECT
public:
    // Largest license document shown, in bytes.
    static constexpr qint64 kMaxLicenseBytes = 100000;

    explicit CZarnlicenseDlg(CAppServices& services, QWidget* parent = nullptr);

    // Streams the RTF file at `path` into `richEdit`. Answers false when the file cannot be
    // opened, is larger than kMaxLicenseBytes, cannot be read to its end, or is not a readable
    // RTF document; what was read before a failure stays in the control.
    bool LoadLicenseText(const QString& path, QTextEdit* richEdit);
    // Reads up to `wanted` bytes of `cookie` into `buffer` and reports the count in `read`.
    // Answers 0 to go on; nonzero when the file could not be read.
    static int LicenseStreamCallback(QFile* cookie, char* buffer, qint64 wanted, qint64* read);

    CAppServices& m_services;
    QTextEdit m_editLicense;     // 1022
    QPushButton m_btnQuit;       // 2 "終了"
    QPushButton m_btnUse;        // 1 "利用する"
    QCheckBox m_chkAgreement;    // 1013

protected:
    bool OnInitDialog() override;
    void OnBnClickedCheckAgreement();
};
