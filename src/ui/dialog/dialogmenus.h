#pragma once
// The menus of a dialog: the menu bar made from a resource-set menu, whose items send their
// commands; the update handlers run before a popup opens; the system menu; and the accelerator
// table, whose keys send their commands before any control sees them.
#include <QHash>
#include <QList>
#include <QPoint>
#include <functional>

#include "services/resourceset.h"
#include "ui/dialog/dialogitems.h"

class QAction;
class QKeyEvent;
class QMenu;
class QMenuBar;
class QWidget;

// One menu item, handed to its update handler before the popup holding it opens.
class CCmdUI {
public:
    int m_nID = 0;
    int m_nIndex = 0;             // position in m_pMenu
    QMenu* m_pMenu = nullptr;     // the popup being opened
    QAction* m_pAction = nullptr; // the item

    void Enable(bool on = true);
    void SetCheck(int check = BST_CHECKED);
    void SetText(const QString& text);
};

class CDialogMenus {
public:
    using Command = std::function<void(int id)>;
    // Menus belong to `window`. Chosen items go to `command`, system-menu items to
    // `sysCommand`; `aboutToShow` runs before a popup of the menu bar opens.
    CDialogMenus(QWidget& window, Command command, Command sysCommand,
                 std::function<void(QMenu*)> aboutToShow);

    // Makes (or refills) the menu bar from `menu`; the bar goes into the window's layout when
    // it has one.
    QMenuBar* SetMenu(const CMenuTemplate& menu);
    QMenuBar* MenuBar() const { return m_pMenuBar; }
    QAction* Item(int commandId) const;

    void MapUpdate(int id, std::function<void(CCmdUI*)> handler);
    // Runs the update handler of each item of `popup`, in order. An item that opens a further
    // popup is represented by that popup's first item. Items a handler removes are stepped over.
    void RunUpdateHandlers(QMenu* popup);

    QMenu* SystemMenu();  // made on first use
    bool HasSystemMenu() const { return m_pSystemMenu != nullptr; }
    void AppendSystemMenuItem(int id, const QString& text);
    // Opens the system menu at `at` (global coordinates) when it has items.
    bool ShowSystemMenu(const QPoint& at);

    void SetAccelerators(const QList<CAccelerator>& table);
    bool HasAccelerators() const { return !m_accelerators.isEmpty(); }
    // The command of the accelerator `event` presses, or 0.
    int AcceleratorCommand(const QKeyEvent* event) const;

private:
    void FillMenu(QMenu* menu, const QList<CMenuItem>& items);
    void AddItem(QMenu* menu, QMenuBar* bar, const CMenuItem& item);

    struct Accel {
        int key = 0;
        Qt::KeyboardModifiers modifiers;
        int command = 0;
    };

    QWidget& m_window;
    Command m_command;
    Command m_sysCommand;
    std::function<void(QMenu*)> m_aboutToShow;
    QMenuBar* m_pMenuBar = nullptr;
    QMenu* m_pSystemMenu = nullptr;
    QHash<int, std::function<void(CCmdUI*)>> m_updateMap;
    QList<Accel> m_accelerators;
};
