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
#include "resids.h"
#include "ui/dialog/dialogex.h"
#include "ui/policylistctrl.h"

class CAppServices;

class CZarntoolDlg : public CDialogEx {
    Q_OBJECT
public:
    // Edit field limits in characters.
    static constexpr int kMaxNetworkName = 128;
    static constexpr int kMaxLabel = 10;
    static constexpr int kMaxPriority = 10;
    static constexpr int kMaxAddress = 43;

    explicit CZarntoolDlg(CAppServices& services, QWidget* parent = nullptr);
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
    // A well-known table (wellknown::Names()) in place of the rows, as "初期値に戻す" does.
    void OnFileTable(const QString& name);
    // The address-order preview of the switched-on rows.
    void OnFileOrder();
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
    CAppServices& m_services;

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
    // Parts of OnInitDialog: the list's icons and columns; its rows from the policy table
    // file or the operating system; the opening geometry the resize rule works from.
    void InitList();
    void LoadRows();
    void RecordInitialGeometry();
    // The list reports row selection, removal and check changes; the window shows them.
    void ConnectList();
    void OnListRowSelected(const CPolicy& row);
    void OnListRowRemoved();
    // The movable controls whose rectangles are recorded, the list first.
    QList<CMovableObject*> MovableControls();
    // Sends the close request to the application's main window (this window).
    void CloseMainWindow();

    bool m_bPostNcDestroyed = false;
    QSize m_szRefused;  // the last size imposed from outside and corrected
};
