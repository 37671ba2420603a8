#pragma once
// The main window of editor mode: the policy list, four edit fields to type one row, buttons to
// add, change and remove rows, and "登録" to install the switched-on rows into the operating
// system and write every row to the policy table file. Every way of closing asks first.
#include <QIcon>
#include <QList>
#include <QSize>
#include <memory>

#include "policy/policy.h"
#include "policy/policylistmanager.h"
#include "ui/dialog/customcontrols.h"
#include "ui/dialog/dialogex.h"
#include "ui/policylistctrl.h"

class CAppServices;

class CZarntoolDlg : public CDialogEx {
    Q_OBJECT
public:
    // Template and control ids.
    static constexpr int kTemplateId = 103;
    static constexpr int IDC_CANCEL = 1001;
    static constexpr int IDC_SAVE = 1002;
    static constexpr int IDC_LIST = 1003;
    static constexpr int IDC_REMOVE = 1004;
    static constexpr int IDC_ADD = 1005;
    static constexpr int IDC_MODIFY = 1006;
    static constexpr int IDC_LABEL = 1009;
    static constexpr int IDC_PRIORITY = 1011;
    static constexpr int IDC_ADDRESS = 1015;
    static constexpr int IDC_NETWORKNAME = 1016;
    static constexpr int IDC_INPUTGROUP = 1017;
    // The system-menu item that opens the version box.
    static constexpr int IDM_ABOUTBOX = 0x0010;
    // Menu commands.
    static constexpr int ID_FILE_EXPORT = 32779;
    static constexpr int ID_FILE_GETNETWORK = 32781;
    static constexpr int ID_FILE_DEFAULT = 32782;
    static constexpr int ID_HELP_VERSION = 32783;
    static constexpr int ID_HELP_ABOUT = 32785;
    static constexpr int ID_FILE_PROPERTY = 32786;
    static constexpr int ID_FILE_QUIT = 32787;
    // Edit field limits in characters.
    static constexpr int kMaxNetworkName = 128;
    static constexpr int kMaxLabel = 10;
    static constexpr int kMaxPriority = 10;
    static constexpr int kMaxAddress = 43;

    explicit CZarntoolDlg(QWidget* parent = nullptr);
    ~CZarntoolDlg() override;

    // TRUE when the four edit fields form a valid row, which is then in `row`; FALSE after a
    // message box has said what is wrong.
    bool SetAndCheckPolicy(CPolicy& row);

    void OnBnClickedAdd();
    void OnBnClickedModify();
    void OnBnClickedRemove();
    void OnBnClickedSave();
    void OnBnClickedCancel();
    // Ctrl+Q and the quit item: the same close request as the close box.
    void OnFileQuit();

    // Menu commands (zarntooldlg_commands.cpp).
    void OnFileGetNetwork();
    void OnUpdateFileGetNetwork(CCmdUI* pCmdUI);
    void OnFileExport();
    void OnFileDefault();
    void OnFileProperty();
    void OnHelpAbout();
    void OnHelpVersion();

    // The icon the window shows when minimised or dragged.
    QIcon QueryDragIcon() const { return m_hIcon; }

    // Members, in declaration order.
    QIcon m_hIcon;
    CPolicyListCtrl m_listPolicy;
    CGroupBoxEx m_grpInput;
    CEditEx m_editNetworkName;
    CEditEx m_editLabel;
    CEditEx m_editPriority;
    CEditEx m_editAddress;
    CButtonEx m_btnCancel;
    CButtonEx m_btnSave;
    CButtonEx m_btnRemove;
    CButtonEx m_btnModify;
    CButtonEx m_btnAdd;
    CRect m_rcInitClient;
    CRect m_rcInitWindow;
    CPolicyListManager m_clManager;
    std::unique_ptr<QList<QIcon>> m_pImageList;
    bool m_hAccel = false;
    CAppServices* m_pApp = nullptr;

protected:
    bool OnInitDialog() override;
    void OnCancel() override;
    void OnSysCommand(int id) override;
    // Binds the member controls to the template's controls by id.
    virtual void DoDataExchange();
    // After the window is gone.
    virtual void PostNcDestroy();
    // The command table; later commands are added here.
    virtual void MapCommands();
    // The menu commands' part of the command table (zarntooldlg_commands.cpp).
    void MapMenuCommands();

    // Resize rule: the list grows with the window, the controls below it move down.
    void OnSize(int width, int height);

    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // The movable controls whose rectangles are recorded, the list first.
    QList<CMovableObject*> MovableControls();
    // Sends the close request to the application's main window (this window).
    void CloseMainWindow();

    bool m_bPostNcDestroyed = false;
    QSize m_szRefused;  // the last size imposed from outside and corrected
};
