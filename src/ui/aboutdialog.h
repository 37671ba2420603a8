#pragma once
// The version box (template 100): the product line of the template, the file version of the
// program file on disk (read each time the box opens) and the copyright text of the settings
// file.
#include <QLabel>

#include "resids.h"
#include "ui/dialog/dialogex.h"

class CAppServices;

class CAboutDlg : public CDialogEx {
    Q_OBJECT
public:
    explicit CAboutDlg(CAppServices& services, QWidget* parent = nullptr);

    // The version text of a program file: its FileVersion string, "unknown" when the file
    // has no version resource, empty when the resource has no FileVersion string.
    static QString FileVersionText(const QString& programPath);
    // A settings-file text with every two-character "\n" made into a line feed.
    static QString ExpandLineBreaks(const QString& text);

    CAppServices& m_services;
    QLabel m_stCopyright;  // 1018
    QLabel m_stVersion;    // 1023

protected:
    bool OnInitDialog() override;
};
