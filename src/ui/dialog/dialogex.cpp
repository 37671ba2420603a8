#include "ui/dialog/dialogex.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>

#include "services/appservices.h"

// ---------------------------------------------------------------------------------------------
// Construction

CDialogEx::CDialogEx(int templateId, CAppServices& services, QWidget* parent)
    : CDialogEx(templateId, &services, nullptr, parent) {}

CDialogEx::CDialogEx(int templateId, const CResourceSet& resources, QWidget* parent)
    : CDialogEx(templateId, nullptr, &resources, parent) {}

CDialogEx::CDialogEx(int templateId, CAppServices* services, const CResourceSet* resources,
                     QWidget* parent)
    : QDialog(parent),
      m_nTemplateId(templateId),
      m_pServices(services),
      m_pResources(resources),
      m_menus(
          *this, [this](int id) { SendCommand(id, 0); }, [this](int id) { OnSysCommand(id); },
          [this](QMenu* popup) { OnInitMenuPopup(popup); }) {}

CDialogEx::~CDialogEx() {
    if (m_bFilterInstalled && qApp) qApp->removeEventFilter(this);
}

const CResourceSet& CDialogEx::Resources() const {
    return m_pResources ? *m_pResources : m_pServices->Resources();
}

// ---------------------------------------------------------------------------------------------
// Building the window

bool CDialogEx::Create() {
    if (!m_bCreated) {
        if (!BuildWindow()) return false;
        m_bCreated = true;
    }
    if (OnInitDialog()) {
        for (QWidget* w : Controls()) {
            if (w && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
                w->setFocus(Qt::OtherFocusReason);
                break;
            }
        }
    }
    return true;
}

bool CDialogEx::BuildWindow() {
    const CDialogTemplate* found = Resources().Dialog(m_nTemplateId);
    if (!found) return false;
    m_template = *found;
    const CDialogBuilder::Frame frame = CDialogBuilder::Build(
        *this, m_template, m_items,
        [this](const CDialogControl& c, QWidget* parent) { return CreateControl(c, parent); },
        [this](int id, QWidget* w) { ConnectControl(id, w); },
        [this] {
            if (m_template.menuId != 0) SetMenu(m_template.menuId);
            return m_menus.MenuBar();
        });
    m_pClient = frame.client;
    m_baseUnits = frame.baseUnits;
    return true;
}

QWidget* CDialogEx::CreateControl(const CDialogControl& c, QWidget* parent) {
    return CDialogBuilder::DefaultControl(c, parent);
}

void CDialogEx::ConnectControl(int id, QWidget* w) {
    if (id == -1) return;
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        connect(button, &QAbstractButton::clicked, this,
                [this, id] { SendCommand(id, BN_CLICKED); });
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        connect(combo, &QComboBox::activated, this, [this, id] { SendCommand(id, CBN_SELCHANGE); });
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        connect(edit, &QLineEdit::textChanged, this, [this, id] { SendCommand(id, EN_CHANGE); });
    }
}

// ---------------------------------------------------------------------------------------------
// Controls by id

void CDialogEx::SetDlgItemText(int id, const QString& text) {
    CDialogItems::SetText(GetDlgItem(id), text);
}

QString CDialogEx::GetDlgItemText(int id) const { return CDialogItems::Text(GetDlgItem(id)); }

void CDialogEx::EnableDlgItem(int id, bool enable) {
    if (QWidget* w = GetDlgItem(id)) w->setEnabled(enable);
}

bool CDialogEx::IsDlgItemEnabled(int id) const {
    QWidget* w = GetDlgItem(id);
    return w && w->isEnabled();
}

void CDialogEx::CheckDlgButton(int id, int check) {
    CDialogItems::SetCheck(GetDlgItemAs<QAbstractButton>(id), check);
}

int CDialogEx::IsDlgButtonChecked(int id) const {
    return CDialogItems::Check(GetDlgItemAs<QAbstractButton>(id));
}

void CDialogEx::LimitDlgItemText(int id, int maxChars) {
    if (auto* e = GetDlgItemAs<QLineEdit>(id)) e->setMaxLength(maxChars > 0 ? maxChars : 32767);
}

void CDialogEx::SubclassDlgItem(int id, QWidget* control) {
    if (!control || id == -1) return;
    m_items.SetSubstitute(id, control);
    if (!m_bCreated) return;
    CDialogItems::Entry* entry = m_items.Find(id);
    if (entry && entry->widget != control) ReplaceControl(*entry, control);
}

void CDialogEx::ReplaceControl(CDialogItems::Entry& entry, QWidget* control) {
    QWidget* old = entry.widget;
    control->setParent(m_pClient);
    CDialogBuilder::SetupControl(entry.control, control);
    CDialogBuilder::PlaceControl(entry.control, control, m_baseUnits);
    ConnectControl(entry.id, control);
    if (old) {
        control->setEnabled(old->isEnabled());
        control->stackUnder(old);
        if (old->property(CDialogItems::kMadeByLayer).toBool()) {
            delete old;
        } else {
            // Someone else's control (a member of the derived dialog): let it go, unharmed.
            disconnect(old, nullptr, this, nullptr);
            old->hide();
            old->setParent(nullptr);
        }
    }
    control->show();
    entry.widget = control;
    CDialogBuilder::UpdateTabOrder(m_items);
}

// ---------------------------------------------------------------------------------------------
// Menus and accelerators

bool CDialogEx::SetMenu(int menuId) {
    const CMenuTemplate* menu = Resources().Menu(menuId);
    if (!menu) return false;
    m_menus.SetMenu(*menu);
    return true;
}

void CDialogEx::OnInitMenuPopup(QMenu* popup) { m_menus.RunUpdateHandlers(popup); }

QMenu* CDialogEx::GetSystemMenu() {
    QMenu* menu = m_menus.SystemMenu();
    InstallKeyFilter();
    return menu;
}

void CDialogEx::InstallKeyFilter() {
    if (!m_bFilterInstalled && qApp) {
        qApp->installEventFilter(this);
        m_bFilterInstalled = true;
    }
}

void CDialogEx::AppendSystemMenuItem(int id, const QString& text) {
    GetSystemMenu();
    m_menus.AppendSystemMenuItem(id, text);
}

void CDialogEx::AppendSystemMenuSeparator() { GetSystemMenu()->addSeparator(); }

void CDialogEx::OnSysCommand(int id) {
    if ((id & 0xFFF0) == SC_CLOSE) close();
}

bool CDialogEx::LoadAccelerators(int tableId) {
    const CResourceSet& set = CResourceSet::ProgramSet();
    if (!set.HasAccelerators(tableId)) return false;
    m_menus.SetAccelerators(set.Accelerators(tableId));
    InstallKeyFilter();
    return true;
}

bool CDialogEx::PreTranslateKey(QKeyEvent* event) {
    const int command = m_menus.AcceleratorCommand(event);
    if (command == 0) return false;
    // A command whose menu item is disabled is swallowed, as Windows does.
    if (QAction* item = GetMenuItem(command); item && !item->isEnabled()) return true;
    SendCommand(command, 0);
    return true;
}

bool CDialogEx::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this || !isVisible()) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    const bool systemMenuKey = key->key() == Qt::Key_Space && key->modifiers() == Qt::AltModifier;
    if (type == QEvent::ShortcutOverride) {
        // Claims the key so that it arrives as a key press, ahead of any shortcut.
        if (m_menus.AcceleratorCommand(key) != 0 || (systemMenuKey && m_menus.HasSystemMenu())) {
            key->accept();
            return true;
        }
        return false;
    }
    if (systemMenuKey && m_menus.ShowSystemMenu(mapToGlobal(QPoint(0, 0)))) return true;
    return PreTranslateKey(key);
}

// ---------------------------------------------------------------------------------------------
// Commands and the modal run

void CDialogEx::MapCommand(int id, std::function<void()> handler, int code) {
    m_commands.Map(id, std::move(handler), code);
}

void CDialogEx::MapUpdateCommand(int id, std::function<void(CCmdUI*)> handler) {
    m_menus.MapUpdate(id, std::move(handler));
}

void CDialogEx::SendCommand(int id, int code) { OnCommand(id, code); }

bool CDialogEx::OnCommand(int id, int code) {
    if (m_commands.Dispatch(id, code)) return true;
    if (code == BN_CLICKED) {
        if (id == IDOK) {
            OnOK();
            return true;
        }
        if (id == IDCANCEL) {
            OnCancel();
            return true;
        }
    }
    return false;
}

bool CDialogEx::OnInitDialog() { return true; }

void CDialogEx::OnOK() { EndDialog(IDOK); }

void CDialogEx::OnCancel() { EndDialog(IDCANCEL); }

void CDialogEx::EndDialog(int result) {
    m_commands.End(result);
    QDialog::done(result);
}

int CDialogEx::DoModal() {
    m_commands.Begin();
    if (!Create()) return -1;
    if (m_commands.Ended()) return m_commands.Result();
    // Without an owner, the application's main window owns the dialog while it runs.
    if (!parentWidget() && m_pServices) {
        auto* main = qobject_cast<QWidget*>(m_pServices->m_pMainWnd);
        if (main && main != this && main->isVisible()) setParent(main, windowFlags());
    }
    setWindowModality(Qt::ApplicationModal);
    exec();
    return m_commands.Ended() ? m_commands.Result() : -1;
}

void CDialogEx::reject() { SendCommand(IDCANCEL, BN_CLICKED); }

void CDialogEx::accept() { SendCommand(IDOK, BN_CLICKED); }

void CDialogEx::closeEvent(QCloseEvent* event) {
    if (!isVisible()) {
        event->accept();
        return;
    }
    // The close box is the cancel command, refused while the cancel button is disabled.
    if (QWidget* cancel = GetDlgItem(IDCANCEL); cancel && !cancel->isEnabled()) {
        QApplication::beep();
        event->ignore();
        return;
    }
    QPointer<CDialogEx> self(this);
    SendCommand(IDCANCEL, BN_CLICKED);
    if (self && isVisible())
        event->ignore();
    else
        event->accept();
}

bool CDialogEx::HasDefaultButton() const {
    for (QWidget* w : Controls()) {
        auto* pb = qobject_cast<QPushButton*>(w);
        if (pb && pb->isVisible() && (pb->isDefault() || (pb->autoDefault() && pb->hasFocus())))
            return true;
    }
    return false;
}

void CDialogEx::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // Enter presses the default button; without one it is the OK command.
    if (enter && event->modifiers() == Qt::NoModifier && !HasDefaultButton()) {
        SendCommand(IDOK, BN_CLICKED);
        return;
    }
    QDialog::keyPressEvent(event);
}
