#pragma once
// The dialog layer: a window built from a dialog template of the resource set. Each control is
// created at its template rectangle converted from dialog units to pixels the way the Windows
// dialog manager converts them, and is reached by its id. Button clicks, menu items and
// accelerators arrive as commands (id, notification code) at OnCommand; a modal run returns the
// numeric result given to EndDialog.
#include <QDialog>
#include <QFont>
#include <QHash>
#include <QList>
#include <QPair>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <functional>

#include "services/resourceset.h"
#include "services/results.h"

class CAppServices;
class QAction;
class QKeyEvent;
class QMenu;
class QMenuBar;

// Notification codes a control sends with its command (the Windows values). Menu items and
// accelerators send code 0, so a handler mapped for BN_CLICKED also serves a menu command.
constexpr int BN_CLICKED = 0;
constexpr int CBN_SELCHANGE = 1;
constexpr int EN_CHANGE = 0x0300;

// Check states.
constexpr int BST_UNCHECKED = 0;
constexpr int BST_CHECKED = 1;
constexpr int BST_INDETERMINATE = 2;

// System command that closes the window.
constexpr int SC_CLOSE = 0xF060;

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

class CDialogEx : public QDialog {
    Q_OBJECT
public:
    // The template is taken from the services' active resource set (the language library once
    // loaded) when the window is built; a modal run without an owner is owned by the services'
    // main window. `services` must outlive the dialog.
    CDialogEx(int templateId, CAppServices& services, QWidget* parent = nullptr);
    // The template is taken from `resources`, which must outlive the dialog.
    CDialogEx(int templateId, const CResourceSet& resources, QWidget* parent = nullptr);
    ~CDialogEx() override;

    // Builds the window if needed, runs OnInitDialog and runs the dialog modally. Returns the
    // value given to EndDialog, or -1 when the template does not exist. A second run reuses
    // the controls and runs OnInitDialog again.
    int DoModal();
    // Builds the window and its controls and runs OnInitDialog, without showing it. Returns
    // false when the template does not exist.
    bool Create();
    bool IsCreated() const { return m_bCreated; }
    // Ends the modal run with `result` (also before the run has started, in OnInitDialog).
    void EndDialog(int result);
    int GetResult() const { return m_nResult; }

    int TemplateId() const { return m_nTemplateId; }
    // The template the window was built from; null before Create().
    const CDialogTemplate* Template() const { return m_bCreated ? &m_template : nullptr; }
    // The resource set templates and menus are taken from.
    const CResourceSet& Resources() const;

    // Controls by id. Controls without an id (-1) are not reachable by id.
    QWidget* GetDlgItem(int id) const;
    template <class T>
    T* GetDlgItemAs(int id) const {
        return qobject_cast<T*>(GetDlgItem(id));
    }
    int GetDlgCtrlID(const QWidget* control) const;  // -1 when unknown
    QList<QWidget*> Controls() const;                 // every control, in template order
    void SetDlgItemText(int id, const QString& text);
    QString GetDlgItemText(int id) const;
    void EnableDlgItem(int id, bool enable = true);
    bool IsDlgItemEnabled(int id) const;
    void CheckDlgButton(int id, int check);
    int IsDlgButtonChecked(int id) const;            // BST_*; BST_UNCHECKED when no check box
    void LimitDlgItemText(int id, int maxChars);     // edits only
    // Puts `control` in place of the template's control `id` (the widget the layer would have
    // made is not made, or is replaced when the window exists already). The control gets the
    // template rectangle, text and styles and sends its commands like the built-in one. The
    // dialog does not take ownership beyond Qt's parent relation: a control that is a member
    // of the derived dialog is destroyed with it, before the window.
    void SubclassDlgItem(int id, QWidget* control);

    // The area the controls live in (below the menu bar, when there is one); control
    // geometries are in its coordinates, the dialog's client coordinates.
    QWidget* ClientArea() const { return m_pClient; }

    // Menu bar made from a menu of the active resource set; the template's menu is set by
    // Create(). Returns false when the menu does not exist.
    bool SetMenu(int menuId);
    QMenuBar* GetMenu() const { return m_pMenuBar; }
    QAction* GetMenuItem(int commandId) const;
    // The system menu (opened with Alt+Space); items added to it send OnSysCommand.
    QMenu* GetSystemMenu();
    void AppendSystemMenuItem(int id, const QString& text);
    void AppendSystemMenuSeparator();
    // Accelerator table of the program's own resource set; its keys send their commands
    // before any control sees them. Returns false when the table does not exist.
    bool LoadAccelerators(int tableId);
    bool HasAccelerators() const { return !m_accelerators.isEmpty(); }

    // A small command map: the handler runs when (id, code) arrives at OnCommand.
    void MapCommand(int id, std::function<void()> handler, int code = BN_CLICKED);
    // Update handler of a menu item, run before the popup holding it opens.
    void MapUpdateCommand(int id, std::function<void(CCmdUI*)> handler);
    // Sends a command to this dialog as a control, menu item or accelerator would.
    void SendCommand(int id, int code = BN_CLICKED);

    // Dialog units.
    // The installed font that stands in for the Windows dialog fonts ("MS UI Gothic",
    // "MS Shell Dlg"): the Japanese sans-serif font.
    static QString JapaneseFontFamily();
    // The font of a template: its face (substituted) at its point size at 96 dots per inch.
    static QFont TemplateFont(const CDialogTemplate& dialogTemplate);
    // Horizontal base unit: average width of the 52 letters A-Z a-z, rounded as Windows does;
    // vertical base unit: the font's height.
    static QSize DialogBaseUnits(const QFont& font);
    // x*bx/4, y*by/8, width*bx/4, height*by/8, each rounded like MulDiv.
    static QRect MapDialogRect(const QRect& dialogUnits, const QSize& baseUnits);
    QRect MapDialogRect(const QRect& dialogUnits) const;
    QSize BaseUnits() const { return m_baseUnits; }

protected:
    // Called once the controls exist, before the window is shown. Returning true gives the
    // focus to the first control that takes it.
    virtual bool OnInitDialog();
    virtual void OnOK();      // EndDialog(IDOK)
    virtual void OnCancel();  // EndDialog(IDCANCEL)
    // Commands from controls, menu items and accelerators. The default runs the mapped handler,
    // else IDOK -> OnOK, IDCANCEL -> OnCancel. Returns true when the command was handled.
    virtual bool OnCommand(int id, int code);
    // Before a popup of the menu bar opens. The default runs the update handlers of its items.
    virtual void OnInitMenuPopup(QMenu* popup);
    // A system menu item was chosen. The default closes the window for SC_CLOSE.
    virtual void OnSysCommand(int id);
    // Makes the widget for a template control; the default makes the layer's widget of the
    // control's kind. A derived dialog may return its own widget (the layer then owns it as a
    // child unless it is also a member).
    virtual QWidget* CreateControl(const CDialogControl& control, QWidget* parent);
    // Offered every key press inside the window before the focused control gets it; return true
    // to consume it. The default translates the accelerators.
    virtual bool PreTranslateKey(QKeyEvent* event);

    void reject() override;  // Escape: the cancel command
    void accept() override;  // the OK command
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool BuildWindow();
    void SetupControl(const CDialogControl& control, QWidget* widget);
    void ConnectControl(int id, QWidget* widget);
    void PlaceControl(const CDialogControl& control, QWidget* widget);
    void UpdateTabOrder();
    void FillMenu(QMenu* menu, const QList<CMenuItem>& items);
    int AcceleratorCommand(const QKeyEvent* event) const;
    void ShowSystemMenu();
    void InstallKeyFilter();

    struct ControlEntry {
        int id = -1;
        CDialogControl control;
        QPointer<QWidget> widget;
    };

    int m_nTemplateId = 0;
    CAppServices* m_pServices = nullptr;         // the run's services, or null
    const CResourceSet* m_pResources = nullptr;  // explicit set, or null for the active one
    CDialogTemplate m_template;
    bool m_bCreated = false;
    bool m_bEnded = false;
    int m_nResult = -1;
    QSize m_baseUnits;
    QWidget* m_pClient = nullptr;
    QMenuBar* m_pMenuBar = nullptr;
    QMenu* m_pSystemMenu = nullptr;
    QList<ControlEntry> m_controls;
    QHash<int, QPointer<QWidget>> m_subclassed;
    QHash<QPair<int, int>, std::function<void()>> m_commandMap;
    QHash<int, std::function<void(CCmdUI*)>> m_updateMap;
    struct Accel {
        int key = 0;
        Qt::KeyboardModifiers modifiers;
        int command = 0;
    };
    QList<Accel> m_accelerators;
    bool m_bFilterInstalled = false;
};
