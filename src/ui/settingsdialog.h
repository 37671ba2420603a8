#pragma once
// The settings dialog (template 132): the operating-system variant, the interface language,
// network use, the protocol and the server address of section APPLICATION of the settings
// file. Reads them when it opens, writes all five on "設定"; "キャンセル" writes nothing.
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QStringList>

#include "resids.h"
#include "ui/dialog/combobox.h"
#include "ui/dialog/dialogex.h"

class CAppServices;

class CZarnpropDlg : public CDialogEx {
    Q_OBJECT
public:
    // Result of the modal run after cancel.
    static constexpr int kResultCancel = 1001;
    // Longest address the field takes.
    static constexpr int kAddressLimit = 256;

    explicit CZarnpropDlg(CAppServices& services, QWidget* parent = nullptr);

    // Names of the language folders under conf/langs of the program directory.
    static QStringList LanguageFolders(const QString& appDir);

    CComboBox m_cmbOs;            // 1008
    CComboBox m_cmbLang;          // 1010
    CComboBox m_cmbProtocol;      // 1014
    QLineEdit m_editAddress;      // 1007
    QCheckBox m_chkGetNetwork;    // 1012
    QString m_csInitialLang;      // LANG as read when the dialog opened
    QGroupBox m_grpNetwork;       // 1019
    QLabel m_stAddress;           // 1020
    CAppServices& m_services;
    QLabel m_stProtocol;          // 1021

protected:
    bool OnInitDialog() override;
    void OnCancel() override;
    void OnBnClickedOk();
    void OnBnClickedCheckGetnetwork();
    void OnCbnSelchangeProtocol();

private:
    // Selects `value` in the box by the beginning of an entry's text, searching from the
    // second entry and wrapping round; the first entry when nothing matches.
    void SelectStored(CComboBox& box, const QString& value);
    QString Setting(const QString& key) const;
    void FitCaptions();
};
