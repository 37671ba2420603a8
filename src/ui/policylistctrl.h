#pragma once
// The policy list of the main window: one row per policy row with a check box (switched on),
// the row's origin as an icon, network name, label, priority and address space. The control
// is the only store of the rows while the window is open; it keeps them unique by address
// space (letters compared without regard to case), sorts them by any column and hands them
// back as a policy list.
#include <QAbstractTableModel>
#include <QHash>
#include <QHeaderView>
#include <QIcon>
#include <QList>
#include <QString>
#include <QTableView>
#include <cstdint>
#include <memory>
#include <vector>

#include "policy/policy.h"
#include "ui/dialog/customcontrols.h"

class CAppServices;

// One column of the list: its title and its fixed width in pixels.
class CPolicyHeader {
public:
    QString m_csTitle;
    int m_nWidth = 0;
};

// The header of the policy list. Column widths are fixed: dividers can be neither dragged nor
// double-clicked, and the pointer never takes the resize shape. It shows the sort mark of the
// column the list is sorted by.
class CPolicyListHeaderCtrl : public QHeaderView {
    Q_OBJECT
public:
    explicit CPolicyListHeaderCtrl(QWidget* parent = nullptr);

    // The sorted column, or -1 before the list was first sorted.
    int GetSortColumn() const;
    // The sort direction; descending while no column is sorted.
    bool IsAscending() const;
    // Records the sorted column and direction and shows the sort mark on that column.
    void SetSortColumn(int column, bool ascending);

    // True when `x` (header coordinates) lies on a divider between two sections.
    bool IsOnDivider(int x) const;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override;
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    void KeepArrowCursor();
};

// Rows of the policy list. Each row holds its check state, the image index of its origin icon,
// the texts of the six cells and its 32-bit item key. Rows are addressed by position, by item
// key and by address space (case-folded); the two look-ups are hash tables so that loading and
// sorting large tables stays close to linear.
class CPolicyListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = 6;

    struct Row {
        std::uint32_t key = 0;
        bool checked = false;
        int image = -1;  // image index of the icon in column 1
        QString text[kColumns];
    };

    explicit CPolicyListModel(QObject* parent = nullptr);
    ~CPolicyListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void SetTitles(const QStringList& titles);
    void SetImages(const QList<QIcon>* images);

    int Count() const { return static_cast<int>(m_rows.size()); }
    const Row* At(int row) const;
    // Inserts a row at `row` (0..Count()) with the given column 0 text; returns its key.
    std::uint32_t InsertRow(int row, const QString& firstText);
    bool DeleteRow(int row);
    // Deletes rows first..last (inclusive) in one step.
    void DeleteRows(int first, int last);
    void DeleteAll();
    void SetCheck(int row, bool checked);
    void SetText(int row, int column, const QString& text, int image = -1);

    // The row whose column 0 text equals `text` without regard to case, or null.
    const Row* FindByFirstText(const QString& text) const;
    const Row* FindByKey(std::uint32_t key) const;

    // Reorders the rows: `order` lists every current row position once, in the new order.
    // Selections and the current row follow their rows.
    void Reorder(const std::vector<int>& order);

    // Batch mode: while on, structural changes are not reported row by row; switching it off
    // reports one reset.
    void BeginBatch();
    void EndBatch();

private:
    static QString FoldKey(const QString& text) { return text.toCaseFolded(); }
    std::uint32_t NewKey(int insertIndex) const;

    std::vector<std::unique_ptr<Row>> m_rows;
    QHash<std::uint32_t, Row*> m_byKey;
    QHash<QString, Row*> m_byFirstText;
    QStringList m_titles;
    const QList<QIcon>* m_pImages = nullptr;
    int m_nBatch = 0;
};

class CPolicyListCtrl : public QTableView, public CMovableObject {
    Q_OBJECT
public:
    // Item states as the change notification reports them.
    static constexpr unsigned kStateFocused = 0x0001;
    static constexpr unsigned kStateSelected = 0x0002;
    static constexpr unsigned kStateImageMask = 0xF000;
    static constexpr unsigned StateImage(unsigned image) { return image << 12; }

    // `services` (strings of the column titles, trace lines) must outlive the list.
    explicit CPolicyListCtrl(CAppServices& services, QWidget* parent = nullptr);
    ~CPolicyListCtrl() override;

    void Init();
    bool UpdateItem(int index, const CPolicy& row);
    void AddAll(const CPolicyList& rows);
    void Remove(int index);
    void RemoveAllNetwork();
    void GetPolicyList(CPolicyList& out) const;
    void Resort();
    virtual void Sort(int column, bool ascending, bool add = false);
    virtual int OnCompareItems(std::uint32_t key1, std::uint32_t key2, int column);

    CPolicyListHeaderCtrl& GetHeaderCtrl() { return *m_clHeader; }
    const CPolicyListHeaderCtrl& GetHeaderCtrl() const { return *m_clHeader; }

    // The small-icon image list (indexes 0, 1, 2 for the three origins); not owned.
    void SetImageList(const QList<QIcon>* images);

    // List-view style access used by the main window and the tests.
    int GetItemCount() const { return m_pModel->Count(); }
    QString GetItemText(int row, int column) const;
    bool GetCheck(int row) const;
    void SetCheck(int row, bool checked);
    int GetItemImage(int row, int column) const;
    std::uint32_t GetItemData(int row) const;
    // The first selected row, or -1.
    int GetFirstSelected() const;
    // Selects and focuses one row (the only selected row afterwards).
    void SelectAndFocus(int row);
    int GetSortColumn() const { return m_iSortColumn; }
    bool IsSortAscending() const { return m_bSortAscending; }

    QList<CPolicyHeader> m_clColumns;
    CAppServices& m_services;

signals:
    // While the list is shown: the row whose texts (network name, label, priority, address
    // space) are in `row` is now the selected and focused one.
    void rowSelected(const CPolicy& row);
    // A row was removed with Remove(): no row's values are shown any more.
    void rowRemoved();
    // While the list is shown: a row's check box changed.
    void checkChanged(int index);

protected:
    // Reported when a row's check box or its selected-and-focused state changes.
    virtual void OnLvnItemchanged(int index, unsigned newState);
    void keyPressEvent(QKeyEvent* event) override;

private:
    void OnHeaderClicked(int column);
    void OnSelectionChanged(const QItemSelection& selected, const QItemSelection& deselected);
    void OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous);
    void OnDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                       const QList<int>& roles);
    void SetRedraw(bool on);
    void DeleteItems(int first, int last);
    void Trace(const char* operation, bool end) const;

    CPolicyListModel* m_pModel = nullptr;
    CPolicyListHeaderCtrl* m_clHeader = nullptr;
    int m_iSortColumn = -1;
    bool m_bSortAscending = true;
    bool m_bSorting = false;
    bool m_bSelectReported = false;  // a selection change was reported during SelectAndFocus
};
