#pragma once
// The dialog layer: a window built from a dialog template of the resource set. Each control is
// created at its template rectangle converted from dialog units to pixels the way the Windows
// dialog manager converts them, and is reached by its id. Button clicks, menu items and
// accelerators arrive as commands (id, notification code) at OnCommand; a modal run returns the
// numeric result given to EndDialog. The window composes the parts of the layer: the template
// builder, the controls by id, the menus and accelerators, and the commands with the modal run.
#include <QDialog>
#include <QFont>
#include <QList>
#include <QRect>
#include <QSize>
#include <functional>

#include "services/resourceset.h"
#include "services/results.h"
#include "ui/dialog/dialogbuilder.h"
#include "ui/dialog/dialogcommands.h"
#include "ui/dialog/dialogitems.h"
#include "ui/dialog/dialogmenus.h"

class CAppServices;
class QAction;
class QKeyEvent;
class QMenu;
class QMenuBar;

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
    int GetResult() const { return m_commands.Result(); }

    int TemplateId() const { return m_nTemplateId; }
    // The template the window was built from; null before Create().
    const CDialogTemplate* Template() const { return m_bCreated ? &m_template : nullptr; }
    // The resource set templates and menus are taken from.
    const CResourceSet& Resources() const;

    // Controls by id. Controls without an id (-1) are not reachable by id.
    QWidget* GetDlgItem(int id) const { return m_items.Item(id); }
    template <class T>
    T* GetDlgItemAs(int id) const {
        return qobject_cast<T*>(GetDlgItem(id));
    }
    int GetDlgCtrlID(const QWidget* control) const { return m_items.IdOf(control); }  // -1: unknown
    QList<QWidget*> Controls() const { return m_items.Widgets(); }  // in template order
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
    QMenuBar* GetMenu() const { return m_menus.MenuBar(); }
    QAction* GetMenuItem(int commandId) const { return m_menus.Item(commandId); }
    // The system menu (opened with Alt+Space); items added to it send OnSysCommand.
    QMenu* GetSystemMenu();
    void AppendSystemMenuItem(int id, const QString& text);
    void AppendSystemMenuSeparator();
    // Accelerator table of the program's own resource set; its keys send their commands
    // before any control sees them. Returns false when the table does not exist.
    bool LoadAccelerators(int tableId);
    bool HasAccelerators() const { return m_menus.HasAccelerators(); }

    // A small command map: the handler runs when (id, code) arrives at OnCommand.
    void MapCommand(int id, std::function<void()> handler, int code = BN_CLICKED);
    // Update handler of a menu item, run before the popup holding it opens.
    void MapUpdateCommand(int id, std::function<void(CCmdUI*)> handler);
    // Sends a command to this dialog as a control, menu item or accelerator would.
    void SendCommand(int id, int code = BN_CLICKED);

    // Dialog units (see CDialogBuilder).
    static QString JapaneseFontFamily() { return CDialogBuilder::JapaneseFontFamily(); }
    static QFont TemplateFont(const CDialogTemplate& dialogTemplate) {
        return CDialogBuilder::TemplateFont(dialogTemplate);
    }
    static QSize DialogBaseUnits(const QFont& font) {
        return CDialogBuilder::DialogBaseUnits(font);
    }
    static QRect MapDialogRect(const QRect& dialogUnits, const QSize& baseUnits) {
        return CDialogBuilder::MapDialogRect(dialogUnits, baseUnits);
    }
    QRect MapDialogRect(const QRect& dialogUnits) const {
        return CDialogBuilder::MapDialogRect(dialogUnits, m_baseUnits);
    }
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
    CDialogEx(int templateId, CAppServices* services, const CResourceSet* resources,
              QWidget* parent);
    bool BuildWindow();
    void ConnectControl(int id, QWidget* widget);
    void ReplaceControl(CDialogItems::Entry& entry, QWidget* control);
    void InstallKeyFilter();
    bool HasDefaultButton() const;

    int m_nTemplateId = 0;
    CAppServices* m_pServices = nullptr;         // the run's services, or null
    const CResourceSet* m_pResources = nullptr;  // explicit set, or null for the active one
    CDialogTemplate m_template;
    bool m_bCreated = false;
    QSize m_baseUnits;
    QWidget* m_pClient = nullptr;
    CDialogItems m_items;
    CDialogMenus m_menus;
    CDialogCommands m_commands;
    bool m_bFilterInstalled = false;
};
