#include "ui/settingsdialog.h"

#include <QDir>
#include <QFontMetrics>
#include <QStyle>
#include <QStyleOptionButton>

#include "services/appservices.h"
#include "platform/charclass.h"
#include "resids.h"
#include "services/settingskeys.h"

namespace {

const QString kClass = QStringLiteral("CZarnpropDlg");
const QString kSection = settings::Application();

}  // namespace

CZarnpropDlg::CZarnpropDlg(CAppServices& services, QWidget* parent)
    : CDialogEx(IDD_ZARNPROP_DIALOG, services, parent), m_services(services) {
    SubclassDlgItem(IDC_COMBO_OS, &m_cmbOs);
    SubclassDlgItem(IDC_COMBO_LANG, &m_cmbLang);
    SubclassDlgItem(IDC_COMBO_PROTOCOL, &m_cmbProtocol);
    SubclassDlgItem(IDC_EDIT_ADDRESS, &m_editAddress);
    SubclassDlgItem(IDC_CHECK_GETNETWORK, &m_chkGetNetwork);
    SubclassDlgItem(IDC_GROUP_NETWORK, &m_grpNetwork);
    SubclassDlgItem(IDC_STATIC_ADDRESS, &m_stAddress);
    SubclassDlgItem(IDC_STATIC_PROTOCOL, &m_stProtocol);
    MapCommand(IDOK, [this] { OnBnClickedOk(); });
    MapCommand(IDC_CHECK_GETNETWORK, [this] { OnBnClickedCheckGetnetwork(); });
    MapCommand(IDC_COMBO_PROTOCOL, [this] { OnCbnSelchangeProtocol(); }, CBN_SELCHANGE);
}

QString CZarnpropDlg::Setting(const QString& key) const {
    return m_services.GetProfileString(kSection, key, QString());
}

QStringList CZarnpropDlg::LanguageFolders(const QString& appDir) {
    // Every folder, hidden ones included, as a directory search for "*.*" lists them.
    const QDir langs(CInstallPaths(appDir).LanguagesDir());
    return langs.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

void CZarnpropDlg::FitCaptions() {
    // The template's caption widths were measured with the Windows dialog font; the Japanese
    // font that stands in for it is wider, so a caption that would be cut off is widened to its
    // text, as far as the window allows. Nothing lies to the right of these captions.
    const int limit = ClientArea() ? ClientArea()->width() : width();
    for (QWidget* w : Controls()) {
        int needed = 0;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            needed = label->fontMetrics().horizontalAdvance(label->text()) + 2;
        } else if (auto* check = qobject_cast<QCheckBox*>(w)) {
            QStyleOptionButton option;
            option.initFrom(check);
            const int box = check->style()->pixelMetric(QStyle::PM_IndicatorWidth, &option, check) +
                            check->style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, check);
            needed = box + check->fontMetrics().horizontalAdvance(check->text()) + 4;
        } else {
            continue;
        }
        if (needed > w->width()) w->resize(qMin(needed, limit - w->x()), w->height());
    }
}

void CZarnpropDlg::SelectStored(CComboBox& box, const QString& value) {
    if (box.SelectString(0, value) == CB_ERR) {
        m_services.m_clLog.TraceValue(QStringLiteral("iComboSlect"), QStringLiteral("-1"));
        box.SetCurSel(0);
    }
}

bool CZarnpropDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    FitCaptions();
    CAppLog& log = m_services.m_clLog;
    // Message boxes shown while the dialog is open belong to it.
    log.m_hOwnerWnd = this;
    log.TraceStart(kClass, QStringLiteral("OnInitDialog"));

    // Filled afresh on every opening.
    m_cmbOs.ResetContent();
    m_cmbLang.ResetContent();
    m_cmbProtocol.ResetContent();

    const QString csOs = Setting(QStringLiteral("OS"));
    m_cmbOs.AddString(QStringLiteral("WindowsXP"));
    m_cmbOs.AddString(QStringLiteral("WindowsVista"));
    m_cmbOs.AddString(QStringLiteral("Windows7"));
    m_cmbOs.AddString(QStringLiteral("Linux"));  // this machine's own table (glibc and kernel)
    SelectStored(m_cmbOs, csOs);

    m_csInitialLang = Setting(QStringLiteral("LANG"));
    for (const QString& folder : LanguageFolders(m_services.m_szAppDir)) m_cmbLang.AddString(folder);
    SelectStored(m_cmbLang, m_csInitialLang);

    const QString csUseNetwork = Setting(QStringLiteral("USE_NETWORK"));
    if (csUseNetwork == QLatin1String("0")) {
        m_chkGetNetwork.setChecked(false);
    } else if (csUseNetwork == QLatin1String("1")) {
        m_chkGetNetwork.setChecked(true);
    } else {
        log.TraceValue(QStringLiteral("cs_Use_Network"), csUseNetwork);
        m_chkGetNetwork.setChecked(false);
    }

    const QString csProtocol = Setting(QStringLiteral("PROTOCOL"));
    m_cmbProtocol.AddString(QStringLiteral("HTTP"));
    m_cmbProtocol.AddString(QStringLiteral("DHCP"));
    SelectStored(m_cmbProtocol, csProtocol);

    // A stored address longer than the limit is shown whole (as an edit control keeps text set
    // before its limit); typing is limited to 256 characters.
    const QString csAddress = Setting(QStringLiteral("ADDRESS"));
    m_editAddress.setMaxLength(qMax(kAddressLimit, int(csAddress.size())));
    m_editAddress.setText(csAddress);

    OnBnClickedCheckGetnetwork();

    log.TraceEnd(kClass, QStringLiteral("OnInitDialog"));
    return true;
}

void CZarnpropDlg::OnBnClickedCheckGetnetwork() {
    m_services.m_clLog.TraceStart(kClass, QStringLiteral("OnBnClickedCheckGetnetwork"));
    const QString protocol = m_cmbProtocol.GetLBText(m_cmbProtocol.GetCurSel());
    const bool network = m_chkGetNetwork.isChecked();
    // The address is used only by HTTP; the comparison is exact.
    const bool address = network && protocol == QLatin1String("HTTP");
    m_cmbProtocol.setEnabled(network);
    m_stProtocol.setEnabled(network);
    m_editAddress.setEnabled(address);
    m_stAddress.setEnabled(address);
    m_services.m_clLog.TraceEnd(kClass, QStringLiteral("OnBnClickedCheckGetnetwork"));
}

void CZarnpropDlg::OnCbnSelchangeProtocol() { OnBnClickedCheckGetnetwork(); }

void CZarnpropDlg::OnBnClickedOk() {
    CAppLog& log = m_services.m_clLog;
    log.TraceStart(kClass, QStringLiteral("OnBnClickedOk"));

    // With no language folder to choose from, the stored language is kept: writing an empty
    // one would stop the next start.
    const bool haveLanguage = m_cmbLang.GetCurSel() >= 0;
    const QString csLang = haveLanguage ? m_cmbLang.GetLBText(m_cmbLang.GetCurSel()) : m_csInitialLang;
    if (csLang != m_csInitialLang) log.ShowMessage(log.LoadString(strid::kLanguageNextStart), LOG_INFO);

    const QString csProtocol = m_cmbProtocol.GetLBText(m_cmbProtocol.GetCurSel());
    const QString csAddress = m_editAddress.text();
    if (csProtocol.compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 &&
        !platform::IsAllHalfWidth(csAddress)) {
        log.ShowMessage(log.LoadString(strid::kFetchAddressInvalid), LOG_INFO);
        return;
    }

    const QList<QPair<QString, QString>> values{
        {QStringLiteral("OS"), m_cmbOs.GetLBText(m_cmbOs.GetCurSel())},
        {QStringLiteral("LANG"), csLang},
        {QStringLiteral("USE_NETWORK"), m_chkGetNetwork.isChecked() ? QStringLiteral("1") : QStringLiteral("0")},
        {QStringLiteral("PROTOCOL"), csProtocol},
        {QStringLiteral("ADDRESS"), csAddress},
    };
    for (const auto& [key, value] : values) {
        if (!m_services.WriteProfileString(kSection, key, value)) {
            log.ShowMessage(log.LoadString(strid::kSettingsNotWritable), LOG_ERROR);
            return;
        }
    }
    log.TraceEnd(kClass, QStringLiteral("OnBnClickedOk"));
    OnOK();
}

void CZarnpropDlg::OnCancel() { EndDialog(kResultCancel); }
