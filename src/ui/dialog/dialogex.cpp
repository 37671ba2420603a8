#include "ui/dialog/dialogex.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTextEdit>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cstdint>

#include "services/appservices.h"
#include "ui/dialog/combobox.h"

namespace {

// a*b/c rounded half away from zero, as Windows' MulDiv does.
int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    const std::int64_t p = static_cast<std::int64_t>(a) * b;
    const std::int64_t half = (c < 0 ? -c : c) / 2;
    const bool negative = (p < 0) != (c < 0);
    const std::int64_t ap = p < 0 ? -p : p;
    const std::int64_t ac = c < 0 ? -c : c;
    const std::int64_t q = (ap + half) / ac;
    return static_cast<int>(negative ? -q : q);
}

bool IsWindowsDialogFace(const QString& face) {
    static const char* const kFaces[] = {"MS UI Gothic", "MS Shell Dlg", "MS Shell Dlg 2",
                                         "MS Sans Serif", "MS Gothic",    "MS PGothic",
                                         "Meiryo UI",    "Meiryo",       "System"};
    for (const char* f : kFaces)
        if (face.compare(QLatin1String(f), Qt::CaseInsensitive) == 0) return true;
    // The Japanese spellings of the MS Gothic faces.
    return face.contains(QStringLiteral("ゴシック"));
}

const char* const kIdProperty = "dlgCtrlId";
// Set on the controls the layer made itself (and so may delete).
const char* const kMadeByLayer = "dlgMadeByLayer";

}  // namespace

// ---------------------------------------------------------------------------------------------
// CCmdUI

void CCmdUI::Enable(bool on) {
    if (m_pAction) m_pAction->setEnabled(on);
}

void CCmdUI::SetCheck(int check) {
    if (!m_pAction) return;
    m_pAction->setCheckable(check != BST_UNCHECKED || m_pAction->isCheckable());
    m_pAction->setChecked(check == BST_CHECKED);
}

void CCmdUI::SetText(const QString& text) {
    if (m_pAction) m_pAction->setText(text);
}

// ---------------------------------------------------------------------------------------------
// Construction

CDialogEx::CDialogEx(int templateId, CAppServices& services, QWidget* parent)
    : QDialog(parent), m_nTemplateId(templateId), m_pServices(&services) {}

CDialogEx::CDialogEx(int templateId, const CResourceSet& resources, QWidget* parent)
    : QDialog(parent), m_nTemplateId(templateId), m_pResources(&resources) {}

CDialogEx::~CDialogEx() {
    if (m_bFilterInstalled && qApp) qApp->removeEventFilter(this);
}

const CResourceSet& CDialogEx::Resources() const {
    return m_pResources ? *m_pResources : m_pServices->Resources();
}

// ---------------------------------------------------------------------------------------------
// Dialog units

QString CDialogEx::JapaneseFontFamily() {
    static const QString family = [] {
        const QString fallback = QStringLiteral("Noto Sans CJK JP");
        if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return fallback;
        const QStringList families = QFontDatabase::families();
        static const char* const kPreferred[] = {"Noto Sans CJK JP", "Noto Sans JP",
                                                 "IPAexGothic", "IPAGothic", "TakaoGothic",
                                                 "VL Gothic"};
        for (const char* p : kPreferred)
            if (families.contains(QLatin1String(p))) return QString::fromLatin1(p);
        for (const QString& f : families)
            if (f.contains(QStringLiteral("CJK JP"))) return f;
        return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
    }();
    return family;
}

QFont CDialogEx::TemplateFont(const CDialogTemplate& dialogTemplate) {
    const QString face = dialogTemplate.fontFace;
    QFont font(face.isEmpty() || IsWindowsDialogFace(face) ? JapaneseFontFamily() : face);
    // Point size at 96 dots per inch, the Windows dialog manager's logical resolution.
    const int points = dialogTemplate.fontPoints > 0 ? dialogTemplate.fontPoints : 9;
    font.setPixelSize(qMax(1, MulDiv(points, 96, 72)));
    return font;
}

QSize CDialogEx::DialogBaseUnits(const QFont& font) {
    const QFontMetrics fm(font);
    const int width = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const int bx = (width / 26 + 1) / 2;
    const int by = fm.height();
    return QSize(qMax(1, bx), qMax(1, by));
}

QRect CDialogEx::MapDialogRect(const QRect& du, const QSize& base) {
    return QRect(MulDiv(du.x(), base.width(), 4), MulDiv(du.y(), base.height(), 8),
                 MulDiv(du.width(), base.width(), 4), MulDiv(du.height(), base.height(), 8));
}

QRect CDialogEx::MapDialogRect(const QRect& dialogUnits) const {
    return MapDialogRect(dialogUnits, m_baseUnits);
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

    Qt::WindowFlags flags = (m_template.HasFrame(QStringLiteral("appwindow")) ? Qt::Window
                                                                                : Qt::Dialog) |
                            Qt::CustomizeWindowHint;
    if (m_template.HasFrame(QStringLiteral("caption"))) flags |= Qt::WindowTitleHint;
    if (m_template.HasFrame(QStringLiteral("sysmenu")))
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    setWindowFlags(flags);
    setWindowTitle(m_template.caption);
    setSizeGripEnabled(false);

    const QFont font = TemplateFont(m_template);
    m_baseUnits = DialogBaseUnits(font);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_pClient = new QWidget(this);
    m_pClient->setObjectName(QStringLiteral("client"));
    m_pClient->setFont(font);
    layout->addWidget(m_pClient);

    if (m_template.menuId != 0) SetMenu(m_template.menuId);

    for (const CDialogControl& c : m_template.controls) {
        QWidget* widget = nullptr;
        if (c.id != -1) {
            const QPointer<QWidget> own = m_subclassed.value(c.id);
            if (own) {
                widget = own;
                widget->setParent(m_pClient);
            }
        }
        if (!widget) {
            widget = CreateControl(c, m_pClient);
            if (!widget) widget = new QWidget(m_pClient);
            widget->setProperty(kMadeByLayer, true);
        }
        if (widget->parentWidget() != m_pClient) widget->setParent(m_pClient);
        SetupControl(c, widget);
        PlaceControl(c, widget);
        ConnectControl(c.id, widget);
        widget->show();
        m_controls.append({c.id, c, widget});
    }
    UpdateTabOrder();

    const QSize client(MulDiv(m_template.size.width(), m_baseUnits.width(), 4),
                       MulDiv(m_template.size.height(), m_baseUnits.height(), 8));
    const int menuHeight = m_pMenuBar ? m_pMenuBar->sizeHint().height() : 0;
    if (m_template.HasFrame(QStringLiteral("resizable"))) {
        layout->setSizeConstraint(QLayout::SetNoConstraint);
        m_pClient->resize(client);
        resize(client.width(), client.height() + menuHeight);
    } else {
        m_pClient->setFixedSize(client);
        layout->setSizeConstraint(QLayout::SetFixedSize);
        setFixedSize(client.width(), client.height() + menuHeight);
    }
    return true;
}

QWidget* CDialogEx::CreateControl(const CDialogControl& c, QWidget* parent) {
    const QString& kind = c.kind;
    if (kind == QLatin1String("button")) return new QPushButton(parent);
    if (kind == QLatin1String("checkbox")) return new QCheckBox(parent);
    if (kind == QLatin1String("static")) return new QLabel(parent);
    if (kind == QLatin1String("groupbox")) return new QGroupBox(parent);
    if (kind == QLatin1String("edit")) return new QLineEdit(parent);
    if (kind == QLatin1String("combobox")) return new CComboBox(parent);
    if (kind == QLatin1String("richedit")) return new QTextEdit(parent);
    if (kind == QLatin1String("listview")) {
        // A report-view placeholder; the dialog that owns the list supplies its own control.
        auto* list = new QTreeWidget(parent);
        list->setRootIsDecorated(false);
        list->setUniformRowHeights(true);
        return list;
    }
    return new QWidget(parent);
}

void CDialogEx::SetupControl(const CDialogControl& c, QWidget* w) {
    w->setProperty(kIdProperty, c.id);
    if (c.id != -1) w->setObjectName(QStringLiteral("dlgitem_%1").arg(c.id));
    const bool tabStop = c.HasStyle(QStringLiteral("tabstop"));

    if (auto* pb = qobject_cast<QPushButton*>(w)) {
        pb->setText(c.text);
        pb->setDefault(c.HasStyle(QStringLiteral("default")));
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(c.text);
        if (auto* check = qobject_cast<QCheckBox*>(w)) check->setTristate(false);
    } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
        group->setTitle(c.text);
        group->setFocusPolicy(Qt::NoFocus);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setText(c.text);
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setFrame(c.HasStyle(QStringLiteral("border")));
        edit->setText(c.text);
    } else if (auto* combo = qobject_cast<CComboBox*>(w)) {
        combo->SetSorted(c.HasStyle(QStringLiteral("sort")));
    } else if (auto* text = qobject_cast<QTextEdit*>(w)) {
        text->setReadOnly(c.HasStyle(QStringLiteral("readonly")));
        text->setFrameShape(c.HasStyle(QStringLiteral("border")) ? QFrame::StyledPanel
                                                                  : QFrame::NoFrame);
        text->setVerticalScrollBarPolicy(c.HasStyle(QStringLiteral("vscroll"))
                                             ? Qt::ScrollBarAsNeeded
                                             : Qt::ScrollBarAlwaysOff);
        text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        text->setLineWrapMode(QTextEdit::WidgetWidth);
        if (!c.text.isEmpty()) text->setPlainText(c.text);
    } else if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
        view->setFrameShape(c.HasStyle(QStringLiteral("border")) ? QFrame::StyledPanel
                                                                 : QFrame::NoFrame);
        view->setSelectionMode(c.HasStyle(QStringLiteral("singlesel"))
                                   ? QAbstractItemView::SingleSelection
                                   : QAbstractItemView::ExtendedSelection);
    }
    // Controls without the tab-stop style are skipped by Tab but still take a click.
    if (!tabStop && w->focusPolicy() != Qt::NoFocus) w->setFocusPolicy(Qt::ClickFocus);
}

void CDialogEx::PlaceControl(const CDialogControl& c, QWidget* w) {
    QRect r = MapDialogRect(c.rect);
    if (auto* combo = qobject_cast<QComboBox*>(w)) {
        // The template height of a drop-down list includes its dropped list; the selection
        // field itself is as tall as the font needs.
        const int field = combo->sizeHint().height();
        const int item = qMax(1, combo->fontMetrics().height() + 2);
        combo->setMaxVisibleItems(qMax(1, (r.height() - field) / item));
        r.setHeight(field);
    }
    w->setGeometry(r);
}

void CDialogEx::ConnectControl(int id, QWidget* w) {
    if (id == -1) return;
    if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        connect(button, &QAbstractButton::clicked, this,
                [this, id] { SendCommand(id, BN_CLICKED); });
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        connect(combo, &QComboBox::activated, this,
                [this, id] { SendCommand(id, CBN_SELCHANGE); });
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        connect(edit, &QLineEdit::textChanged, this, [this, id] { SendCommand(id, EN_CHANGE); });
    }
}

void CDialogEx::UpdateTabOrder() {
    QWidget* previous = nullptr;
    for (const ControlEntry& e : m_controls) {
        QWidget* w = e.widget;
        if (!w || w->focusPolicy() == Qt::NoFocus) continue;
        if (previous) QWidget::setTabOrder(previous, w);
        previous = w;
    }
}

// ---------------------------------------------------------------------------------------------
// Controls by id

QWidget* CDialogEx::GetDlgItem(int id) const {
    if (id == -1) return nullptr;
    for (const ControlEntry& e : m_controls)
        if (e.id == id) return e.widget;
    return nullptr;
}

int CDialogEx::GetDlgCtrlID(const QWidget* control) const {
    for (const ControlEntry& e : m_controls)
        if (e.widget == control) return e.id;
    return -1;
}

QList<QWidget*> CDialogEx::Controls() const {
    QList<QWidget*> list;
    for (const ControlEntry& e : m_controls)
        if (e.widget) list.append(e.widget);
    return list;
}

void CDialogEx::SetDlgItemText(int id, const QString& text) {
    QWidget* w = GetDlgItem(id);
    if (!w) return;
    if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(text);
    else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(text);
    else if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(text);
    else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(text);
    else if (auto* t = qobject_cast<QTextEdit*>(w)) t->setPlainText(text);
    else if (auto* c = qobject_cast<QComboBox*>(w)) {
        const int i = c->findText(text);
        c->setCurrentIndex(i);
    } else {
        w->setWindowTitle(text);
    }
}

QString CDialogEx::GetDlgItemText(int id) const {
    QWidget* w = GetDlgItem(id);
    if (!w) return {};
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    if (auto* t = qobject_cast<QTextEdit*>(w)) return t->toPlainText();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
    return w->windowTitle();
}

void CDialogEx::EnableDlgItem(int id, bool enable) {
    if (QWidget* w = GetDlgItem(id)) w->setEnabled(enable);
}

bool CDialogEx::IsDlgItemEnabled(int id) const {
    QWidget* w = GetDlgItem(id);
    return w && w->isEnabled();
}

void CDialogEx::CheckDlgButton(int id, int check) {
    auto* b = GetDlgItemAs<QAbstractButton>(id);
    if (!b) return;
    if (auto* box = qobject_cast<QCheckBox*>(b)) {
        if (check == BST_INDETERMINATE) {
            box->setTristate(true);
            box->setCheckState(Qt::PartiallyChecked);
        } else {
            box->setCheckState(check == BST_CHECKED ? Qt::Checked : Qt::Unchecked);
        }
        return;
    }
    if (b->isCheckable()) b->setChecked(check == BST_CHECKED);
}

int CDialogEx::IsDlgButtonChecked(int id) const {
    auto* b = GetDlgItemAs<QAbstractButton>(id);
    if (!b) return BST_UNCHECKED;
    if (auto* box = qobject_cast<QCheckBox*>(b)) {
        switch (box->checkState()) {
            case Qt::Checked: return BST_CHECKED;
            case Qt::PartiallyChecked: return BST_INDETERMINATE;
            default: return BST_UNCHECKED;
        }
    }
    return b->isCheckable() && b->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}

void CDialogEx::LimitDlgItemText(int id, int maxChars) {
    if (auto* e = GetDlgItemAs<QLineEdit>(id)) e->setMaxLength(maxChars > 0 ? maxChars : 32767);
}

void CDialogEx::SubclassDlgItem(int id, QWidget* control) {
    if (!control || id == -1) return;
    m_subclassed.insert(id, control);
    if (!m_bCreated) return;
    for (ControlEntry& e : m_controls) {
        if (e.id != id) continue;
        if (e.widget == control) return;
        QWidget* old = e.widget;
        control->setParent(m_pClient);
        SetupControl(e.control, control);
        PlaceControl(e.control, control);
        ConnectControl(id, control);
        if (old) {
            control->setEnabled(old->isEnabled());
            control->stackUnder(old);
            if (old->property(kMadeByLayer).toBool()) {
                delete old;
            } else {
                // Someone else's control (a member of the derived dialog): let it go, unharmed.
                disconnect(old, nullptr, this, nullptr);
                old->hide();
                old->setParent(nullptr);
            }
        }
        control->show();
        e.widget = control;
        UpdateTabOrder();
        return;
    }
}

// ---------------------------------------------------------------------------------------------
// Menus and accelerators

bool CDialogEx::SetMenu(int menuId) {
    const CMenuTemplate* menu = Resources().Menu(menuId);
    if (!menu) return false;
    if (!m_pMenuBar) {
        m_pMenuBar = new QMenuBar(this);
        m_pMenuBar->setNativeMenuBar(false);
        if (layout()) layout()->setMenuBar(m_pMenuBar);
    } else {
        m_pMenuBar->clear();
    }
    for (const CMenuItem& item : menu->popups) {
        if (item.separator) {
            m_pMenuBar->addSeparator();
        } else if (item.IsPopup()) {
            QMenu* popup = m_pMenuBar->addMenu(item.text);
            FillMenu(popup, item.items);
        } else {
            QAction* action = m_pMenuBar->addAction(item.text);
            const int id = item.id;
            action->setData(id);
            connect(action, &QAction::triggered, this, [this, id] { SendCommand(id, 0); });
        }
    }
    return true;
}

void CDialogEx::FillMenu(QMenu* menu, const QList<CMenuItem>& items) {
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { OnInitMenuPopup(menu); });
    for (const CMenuItem& item : items) {
        if (item.separator) {
            menu->addSeparator();
        } else if (item.IsPopup()) {
            FillMenu(menu->addMenu(item.text), item.items);
        } else {
            // Text after a tab is the shortcut shown at the right edge, as in Windows menus.
            QAction* action = menu->addAction(item.text);
            const int id = item.id;
            action->setData(id);
            connect(action, &QAction::triggered, this, [this, id] { SendCommand(id, 0); });
        }
    }
}

QAction* CDialogEx::GetMenuItem(int commandId) const {
    if (!m_pMenuBar) return nullptr;
    QList<QAction*> pending = m_pMenuBar->actions();
    while (!pending.isEmpty()) {
        QAction* a = pending.takeFirst();
        if (a->menu()) {
            pending.append(a->menu()->actions());
        } else if (!a->isSeparator() && a->data().isValid() && a->data().toInt() == commandId) {
            return a;
        }
    }
    return nullptr;
}

void CDialogEx::OnInitMenuPopup(QMenu* popup) {
    // Runs the update handler of each item, in order. An item that opens a further popup
    // is represented by that popup's first item. Items a handler removes are stepped over.
    int count = popup->actions().size();
    for (int index = 0; index < count; ++index) {
        QAction* action = popup->actions().value(index);
        if (!action || action->isSeparator()) continue;
        QMenu* target = popup;
        int targetIndex = index;
        if (QMenu* sub = action->menu()) {
            action = sub->actions().value(0);
            if (!action || action->isSeparator() || action->menu()) continue;
            target = sub;
            targetIndex = 0;
        }
        if (!action->data().isValid()) continue;
        const int id = action->data().toInt();
        const auto handler = m_updateMap.find(id);
        if (handler == m_updateMap.end()) continue;
        CCmdUI cmdUI;
        cmdUI.m_nID = id;
        cmdUI.m_nIndex = targetIndex;
        cmdUI.m_pMenu = target;
        cmdUI.m_pAction = action;
        (*handler)(&cmdUI);
        const int now = popup->actions().size();
        if (now < count) {
            index -= count - now;
            while (index + 1 < now && popup->actions().value(index + 1) &&
                   popup->actions().value(index + 1)->data().toInt() == id)
                ++index;
            count = now;
        }
    }
}

QMenu* CDialogEx::GetSystemMenu() {
    if (!m_pSystemMenu) {
        m_pSystemMenu = new QMenu(this);
        InstallKeyFilter();
    }
    return m_pSystemMenu;
}

void CDialogEx::InstallKeyFilter() {
    if (!m_bFilterInstalled && qApp) {
        qApp->installEventFilter(this);
        m_bFilterInstalled = true;
    }
}

void CDialogEx::AppendSystemMenuItem(int id, const QString& text) {
    QAction* action = GetSystemMenu()->addAction(text);
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { OnSysCommand(id); });
}

void CDialogEx::AppendSystemMenuSeparator() { GetSystemMenu()->addSeparator(); }

void CDialogEx::ShowSystemMenu() {
    if (!m_pSystemMenu || m_pSystemMenu->actions().isEmpty()) return;
    m_pSystemMenu->popup(mapToGlobal(QPoint(0, 0)));
}

void CDialogEx::OnSysCommand(int id) {
    if ((id & 0xFFF0) == SC_CLOSE) close();
}

bool CDialogEx::LoadAccelerators(int tableId) {
    const CResourceSet& set = CResourceSet::ProgramSet();
    if (!set.HasAccelerators(tableId)) return false;
    m_accelerators.clear();
    for (const CAccelerator& a : set.Accelerators(tableId)) {
        QString name = a.key;
        if (name.startsWith(QStringLiteral("VK_"), Qt::CaseInsensitive)) name = name.mid(3);
        const QKeySequence sequence = QKeySequence::fromString(name, QKeySequence::PortableText);
        if (sequence.isEmpty()) continue;
        Accel accel;
        accel.key = sequence[0].key();
        accel.command = a.command;
        for (const QString& m : a.modifiers) {
            if (m.compare(QLatin1String("ctrl"), Qt::CaseInsensitive) == 0)
                accel.modifiers |= Qt::ControlModifier;
            else if (m.compare(QLatin1String("shift"), Qt::CaseInsensitive) == 0)
                accel.modifiers |= Qt::ShiftModifier;
            else if (m.compare(QLatin1String("alt"), Qt::CaseInsensitive) == 0)
                accel.modifiers |= Qt::AltModifier;
        }
        m_accelerators.append(accel);
    }
    InstallKeyFilter();
    return true;
}

int CDialogEx::AcceleratorCommand(const QKeyEvent* event) const {
    const Qt::KeyboardModifiers mods =
        event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    for (const Accel& a : m_accelerators)
        if (a.key == event->key() && a.modifiers == mods) return a.command;
    return 0;
}

bool CDialogEx::PreTranslateKey(QKeyEvent* event) {
    const int command = AcceleratorCommand(event);
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
        if (AcceleratorCommand(key) != 0 || (systemMenuKey && m_pSystemMenu)) {
            key->accept();
            return true;
        }
        return false;
    }
    if (systemMenuKey && m_pSystemMenu && !m_pSystemMenu->actions().isEmpty()) {
        ShowSystemMenu();
        return true;
    }
    return PreTranslateKey(key);
}

// ---------------------------------------------------------------------------------------------
// Commands and the modal run

void CDialogEx::MapCommand(int id, std::function<void()> handler, int code) {
    m_commandMap.insert(qMakePair(id, code), std::move(handler));
}

void CDialogEx::MapUpdateCommand(int id, std::function<void(CCmdUI*)> handler) {
    m_updateMap.insert(id, std::move(handler));
}

void CDialogEx::SendCommand(int id, int code) { OnCommand(id, code); }

bool CDialogEx::OnCommand(int id, int code) {
    const auto handler = m_commandMap.find(qMakePair(id, code));
    if (handler != m_commandMap.end()) {
        const std::function<void()> call = *handler;  // the map may change inside
        call();
        return true;
    }
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
    m_nResult = result;
    m_bEnded = true;
    QDialog::done(result);
}

int CDialogEx::DoModal() {
    m_bEnded = false;
    m_nResult = -1;
    if (!Create()) return -1;
    if (m_bEnded) return m_nResult;
    // Without an owner, the application's main window owns the dialog while it runs.
    if (!parentWidget() && m_pServices) {
        auto* main = qobject_cast<QWidget*>(m_pServices->m_pMainWnd);
        if (main && main != this && main->isVisible()) setParent(main, windowFlags());
    }
    setWindowModality(Qt::ApplicationModal);
    exec();
    return m_bEnded ? m_nResult : -1;
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
    if (self && isVisible()) event->ignore();
    else event->accept();
}

void CDialogEx::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && event->modifiers() == Qt::NoModifier) {
        // Enter presses the default button; without one it is the OK command.
        bool hasDefault = false;
        for (QWidget* w : Controls()) {
            auto* pb = qobject_cast<QPushButton*>(w);
            if (pb && pb->isVisible() && (pb->isDefault() || (pb->autoDefault() && pb->hasFocus()))) {
                hasDefault = true;
                break;
            }
        }
        if (!hasDefault) {
            SendCommand(IDOK, BN_CLICKED);
            return;
        }
    }
    QDialog::keyPressEvent(event);
}
