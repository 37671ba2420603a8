#include "ui/dialog/dialogmenus.h"

#include <QAction>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>

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
// CDialogMenus

CDialogMenus::CDialogMenus(QWidget& window, Command command, Command sysCommand,
                           std::function<void(QMenu*)> aboutToShow)
    : m_window(window),
      m_command(std::move(command)),
      m_sysCommand(std::move(sysCommand)),
      m_aboutToShow(std::move(aboutToShow)) {}

QMenuBar* CDialogMenus::SetMenu(const CMenuTemplate& menu) {
    if (!m_pMenuBar) {
        m_pMenuBar = new QMenuBar(&m_window);
        m_pMenuBar->setNativeMenuBar(false);
        if (m_window.layout()) m_window.layout()->setMenuBar(m_pMenuBar);
    } else {
        m_pMenuBar->clear();
    }
    for (const CMenuItem& item : menu.popups) {
        if (item.separator) {
            m_pMenuBar->addSeparator();
        } else if (item.IsPopup()) {
            FillMenu(m_pMenuBar->addMenu(item.text), item.items);
        } else {
            AddItem(nullptr, m_pMenuBar, item);
        }
    }
    return m_pMenuBar;
}

void CDialogMenus::FillMenu(QMenu* menu, const QList<CMenuItem>& items) {
    QObject::connect(menu, &QMenu::aboutToShow, &m_window, [this, menu] { m_aboutToShow(menu); });
    for (const CMenuItem& item : items) {
        if (item.separator)
            menu->addSeparator();
        else if (item.IsPopup())
            FillMenu(menu->addMenu(item.text), item.items);
        else
            AddItem(menu, nullptr, item);
    }
}

void CDialogMenus::AddItem(QMenu* menu, QMenuBar* bar, const CMenuItem& item) {
    // Text after a tab is the shortcut shown at the right edge, as in Windows menus.
    QAction* action = menu ? menu->addAction(item.text) : bar->addAction(item.text);
    const int id = item.id;
    action->setData(id);
    QObject::connect(action, &QAction::triggered, &m_window, [this, id] { m_command(id); });
}

QAction* CDialogMenus::Item(int commandId) const {
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

void CDialogMenus::MapUpdate(int id, std::function<void(CCmdUI*)> handler) {
    m_updateMap.insert(id, std::move(handler));
}

void CDialogMenus::RunUpdateHandlers(QMenu* popup) {
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

QMenu* CDialogMenus::SystemMenu() {
    if (!m_pSystemMenu) m_pSystemMenu = new QMenu(&m_window);
    return m_pSystemMenu;
}

void CDialogMenus::AppendSystemMenuItem(int id, const QString& text) {
    QAction* action = SystemMenu()->addAction(text);
    action->setData(id);
    QObject::connect(action, &QAction::triggered, &m_window, [this, id] { m_sysCommand(id); });
}

bool CDialogMenus::ShowSystemMenu(const QPoint& at) {
    if (!m_pSystemMenu || m_pSystemMenu->actions().isEmpty()) return false;
    m_pSystemMenu->popup(at);
    return true;
}

void CDialogMenus::SetAccelerators(const QList<CAccelerator>& table) {
    m_accelerators.clear();
    for (const CAccelerator& a : table) {
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
}

int CDialogMenus::AcceleratorCommand(const QKeyEvent* event) const {
    const Qt::KeyboardModifiers mods =
        event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    for (const Accel& a : m_accelerators)
        if (a.key == event->key() && a.modifiers == mods) return a.command;
    return 0;
}
