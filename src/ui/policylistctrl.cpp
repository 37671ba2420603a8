// The policy list control: the rows as policy rows, sorting by column, selection and focus
// reported to the main window, and the keyboard. The header and the rows' model have files of
// their own (policylistheader.cpp, policylistmodel.cpp).
#include "ui/policylistctrl.h"

#include <QApplication>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <algorithm>
#include <climits>

#include "services/appservices.h"
#include "ui/dialog/waitcursor.h"
#include "resids.h"

namespace {

const QString kClass = QStringLiteral("CPolicyListCtrl");

// Reads a cell text as a 32-bit integer: leading blanks skipped, an optional sign, then the
// leading decimal digits; 0 when there are none; values beyond the range saturate.
int ToInt32Saturated(const QString& text) {
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const char16_t c = text[i].unicode();
        if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r')
            ++i;
        else
            break;
    }
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    long long value = 0;
    bool saturated = false;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') break;
        if (!saturated) {
            value = value * 10 + (c - u'0');
            if (value > static_cast<long long>(INT_MAX) + 1) saturated = true;
        }
    }
    if (negative) {
        if (saturated || value > static_cast<long long>(INT_MAX) + 1) return INT_MIN;
        return static_cast<int>(-value);
    }
    if (saturated || value > INT_MAX) return INT_MAX;
    return static_cast<int>(value);
}

int Sign(int v) { return (v > 0) - (v < 0); }

// Draws the check box of column 0 without its text: the text (the address space) is there for
// the duplicate search, and the narrow column would only show it cut off.
class CPolicyListDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() == 0) {
            option->text.clear();
            option->features &= ~QStyleOptionViewItem::HasDisplay;
        }
    }
};

}  // namespace

CPolicyListCtrl::CPolicyListCtrl(CAppServices& services, QWidget* parent)
    : QTableView(parent), CMovableObject(this), m_services(services) {
    Trace("CPolicyListCtrl", false);
    auto title = [this](int id) { return m_services.LoadString(id); };
    m_clColumns = {
        {title(strid::kColumnEnabled), 35},   {title(strid::kColumnNetworkName), 133},
        {title(strid::kColumnLabel), 40},     {title(strid::kColumnPriority), 48},
        {title(strid::kColumnAddress), 110},  {title(strid::kColumnNetworkName), 0},
    };

    m_pModel = new CPolicyListModel(this);
    setModel(m_pModel);
    // The list's own header control takes the place of the default one.
    m_clHeader = new CPolicyListHeaderCtrl(this);
    setHorizontalHeader(m_clHeader);
    setItemDelegate(new CPolicyListDelegate(this));

    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    const int rowHeight = std::max(16, fontMetrics().height()) + 4;
    verticalHeader()->setMinimumSectionSize(0);
    verticalHeader()->setDefaultSectionSize(rowHeight);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setIconSize(QSize(16, 16));
    setCornerButtonEnabled(false);

    connect(m_clHeader, &QHeaderView::sectionClicked, this, &CPolicyListCtrl::OnHeaderClicked);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CPolicyListCtrl::OnSelectionChanged);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            &CPolicyListCtrl::OnCurrentChanged);
    connect(m_pModel, &QAbstractItemModel::dataChanged, this, &CPolicyListCtrl::OnDataChanged);
    Trace("CPolicyListCtrl", true);
}

CPolicyListCtrl::~CPolicyListCtrl() = default;

void CPolicyListCtrl::Trace(const char* operation, bool end) const {
    const QString op = QString::fromLatin1(operation);
    if (end)
        m_services.m_clLog.TraceEnd(kClass, op);
    else
        m_services.m_clLog.TraceStart(kClass, op);
}

void CPolicyListCtrl::Init() {
    Trace("Init", false);
    // Report view: one row per entry, whole-row selection, one row at a time, grid lines;
    // the selection stays shown when the list loses the focus.
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setShowGrid(true);
    // The list sorts itself (Sort); the view's own sorting stays off, the sort mark stays on.
    setSortingEnabled(false);
    m_clHeader->setSortIndicatorShown(true);

    QStringList titles;
    for (const CPolicyHeader& column : m_clColumns) titles << column.m_csTitle;
    m_pModel->SetTitles(titles);
    for (int i = 0; i < m_clColumns.size() && i < m_clHeader->count(); ++i) {
        m_clHeader->setSectionResizeMode(i, QHeaderView::Fixed);
        m_clHeader->resizeSection(i, m_clColumns[i].m_nWidth);
        // A column of width 0 stays out of sight for good.
        m_clHeader->setSectionHidden(i, m_clColumns[i].m_nWidth == 0);
    }
    // Room above the titles for the sort mark.
    m_clHeader->setFixedHeight(m_clHeader->sizeHint().height() + 4);
    Trace("Init", true);
}

bool CPolicyListCtrl::UpdateItem(int index, const CPolicy& row) {
    Trace("UpdateItem", false);
    const int count = GetItemCount();
    // An index outside the rows appends: no existing row is replaced by mistake.
    if (index < 0 || index > count) index = count;

    const CPolicyListModel::Row* match = m_pModel->FindByFirstText(row.m_csAddress);
    if (match && (index >= count || m_pModel->At(index) != match)) {
        m_services.m_clLog.TraceValue(QStringLiteral("iItemIndex"), QStringLiteral("!-1"));
        return false;
    }

    if (index < count) DeleteItems(index, index);
    m_pModel->InsertRow(index, row.m_csAddress);
    m_pModel->SetCheck(index, !row.m_bDisabled);
    const int image = (row.m_nSource >= 0 && row.m_nSource <= 2) ? row.m_nSource : -1;
    m_pModel->SetText(index, 1, row.m_csNetworkName, image);
    m_pModel->SetText(index, 2, row.m_csLabel);
    m_pModel->SetText(index, 3, row.m_csPriority);
    m_pModel->SetText(index, 4, row.m_csAddress);
    m_pModel->SetText(index, 5, QString::number(row.m_nSource));
    Trace("UpdateItem", true);
    return true;
}

void CPolicyListCtrl::DeleteItems(int first, int last) {
    if (first < 0 || last >= GetItemCount() || first > last) return;
    // A deleted row takes its focus with it and hands its selection to no other row; the
    // item view would otherwise select a neighbour in single-selection mode.
    const QModelIndex current = currentIndex();
    if (current.isValid() && current.row() >= first && current.row() <= last)
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    m_pModel->DeleteRows(first, last);
}

void CPolicyListCtrl::SetRedraw(bool on) {
    if (on) {
        m_pModel->EndBatch();
        setUpdatesEnabled(true);
    } else {
        setUpdatesEnabled(false);
        m_pModel->BeginBatch();
    }
}

void CPolicyListCtrl::AddAll(const CPolicyList& rows) {
    Trace("AddAll", false);
    SetRedraw(false);
    m_pModel->DeleteAll();
    for (const CPolicy& row : rows) {
        bool added = false;
        {
            const CAppLog::CQuietTrace quiet;  // only a row left out gets a line
            added = UpdateItem(GetItemCount(), row);
        }
        if (!added) m_services.m_clLog.TraceValue(QStringLiteral("iItemIndex"), QStringLiteral("!-1"));
    }
    SetRedraw(true);
    Trace("AddAll", true);
}

void CPolicyListCtrl::Remove(int index) {
    Trace("Remove", false);
    DeleteItems(index, index);
    emit rowRemoved();
    Trace("Remove", true);
}

void CPolicyListCtrl::RemoveAllNetwork() {
    Trace("RemoveAllNetwork", false);
    setUpdatesEnabled(false);
    // From the last row to the first; adjacent network rows go in one step.
    int last = -1;
    for (int i = GetItemCount() - 1; i >= 0; --i) {
        const bool network =
            GetItemText(i, 5).compare(QStringLiteral("1"), Qt::CaseInsensitive) == 0;
        if (network) {
            if (last < 0) last = i;
        } else if (last >= 0) {
            DeleteItems(i + 1, last);
            last = -1;
        }
    }
    if (last >= 0) DeleteItems(0, last);
    setUpdatesEnabled(true);
    Trace("RemoveAllNetwork", true);
}

void CPolicyListCtrl::GetPolicyList(CPolicyList& out) const {
    Trace("GetPolicyList", false);
    const int count = GetItemCount();
    out.reserve(out.size() + count);
    for (int i = 0; i < count; ++i) {
        const CPolicyListModel::Row* r = m_pModel->At(i);
        CPolicy policy;
        policy.m_bDisabled = !r->checked;
        const QString& source = r->text[5];
        if (source.compare(QStringLiteral("0"), Qt::CaseInsensitive) == 0)
            policy.m_nSource = 0;
        else if (source.compare(QStringLiteral("1"), Qt::CaseInsensitive) == 0)
            policy.m_nSource = 1;
        else if (source.compare(QStringLiteral("2"), Qt::CaseInsensitive) == 0)
            policy.m_nSource = 2;
        policy.m_csNetworkName = r->text[1];
        policy.m_csLabel = r->text[2];
        policy.m_csPriority = r->text[3];
        policy.m_csAddress = r->text[4];
        out.append(policy);
    }
    Trace("GetPolicyList", true);
}

void CPolicyListCtrl::Resort() {
    Trace("Resort", false);
    int column = m_clHeader->GetSortColumn();
    const bool ascending = m_clHeader->IsAscending();
    if (column < 0) column = 3;  // priority, highest first, until a header is clicked
    Sort(column, ascending, false);
    Trace("Resort", true);
}

void CPolicyListCtrl::Sort(int column, bool ascending, bool /*add*/) {
    CWaitCursor wait;
    m_bSorting = true;
    m_clHeader->SetSortColumn(column, ascending);
    m_iSortColumn = column;
    m_bSortAscending = ascending;

    const int count = GetItemCount();
    std::vector<std::uint32_t> keys(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) keys[static_cast<size_t>(i)] = m_pModel->At(i)->key;
    std::vector<int> order(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) order[static_cast<size_t>(i)] = i;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        int r = OnCompareItems(keys[static_cast<size_t>(a)], keys[static_cast<size_t>(b)], column);
        if (!ascending) r = -r;
        return r < 0;
    });
    m_pModel->Reorder(order);
    m_bSorting = false;
}

int CPolicyListCtrl::OnCompareItems(std::uint32_t key1, std::uint32_t key2, int column) {
    const CPolicyListModel::Row* r1 = m_pModel->FindByKey(key1);
    const CPolicyListModel::Row* r2 = m_pModel->FindByKey(key2);
    if (!r1 || !r2 || column < 0 || column >= CPolicyListModel::kColumns) return 0;
    switch (column) {
        case 0:
            return static_cast<int>(r1->checked) - static_cast<int>(r2->checked);
        case 2:
        case 3: {
            const int a = ToInt32Saturated(r1->text[column]);
            const int b = ToInt32Saturated(r2->text[column]);
            return (a > b) - (a < b);
        }
        default:
            return Sign(QString::compare(r1->text[column], r2->text[column], Qt::CaseSensitive));
    }
}

void CPolicyListCtrl::SetImageList(const QList<QIcon>* images) { m_pModel->SetImages(images); }

QString CPolicyListCtrl::GetItemText(int row, int column) const {
    const CPolicyListModel::Row* r = m_pModel->At(row);
    if (!r || column < 0 || column >= CPolicyListModel::kColumns) return {};
    return r->text[column];
}

bool CPolicyListCtrl::GetCheck(int row) const {
    const CPolicyListModel::Row* r = m_pModel->At(row);
    return r && r->checked;
}

void CPolicyListCtrl::SetCheck(int row, bool checked) { m_pModel->SetCheck(row, checked); }

int CPolicyListCtrl::GetItemImage(int row, int column) const {
    const CPolicyListModel::Row* r = m_pModel->At(row);
    if (!r || column != 1) return -1;
    return r->image;
}

std::uint32_t CPolicyListCtrl::GetItemData(int row) const {
    const CPolicyListModel::Row* r = m_pModel->At(row);
    return r ? r->key : 0;
}

int CPolicyListCtrl::GetFirstSelected() const {
    const QModelIndexList rows = selectionModel()->selectedRows();
    int first = -1;
    for (const QModelIndex& idx : rows)
        if (first < 0 || idx.row() < first) first = idx.row();
    if (first >= 0) return first;
    // Rows are selected whole; a selection that has no complete row still names its row.
    for (const QModelIndex& idx : selectionModel()->selectedIndexes())
        if (first < 0 || idx.row() < first) first = idx.row();
    return first;
}

void CPolicyListCtrl::SelectAndFocus(int row) {
    if (row < 0 || row >= GetItemCount()) return;
    const QModelIndex idx = m_pModel->index(row, 0);
    m_bSelectReported = false;
    selectionModel()->setCurrentIndex(
        idx, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    // Selecting the row that already is the selected one changes nothing, so nothing reports
    // it; the edit fields must show that row all the same.
    if (!m_bSelectReported) OnLvnItemchanged(row, kStateSelected | kStateFocused);
    scrollTo(idx);
}

void CPolicyListCtrl::keyPressEvent(QKeyEvent* event) {
    // The space bar switches the check box of the focused row, whichever cell has the focus.
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        const QModelIndex current = currentIndex();
        if (current.isValid()) SetCheck(current.row(), !GetCheck(current.row()));
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void CPolicyListCtrl::OnHeaderClicked(int column) {
    // A new column sorts ascending first; the sorted column reverses its direction.
    const bool ascending = (column == m_iSortColumn) ? !m_bSortAscending : true;
    Sort(column, ascending, false);
}

void CPolicyListCtrl::OnSelectionChanged(const QItemSelection& selected,
                                         const QItemSelection& /*deselected*/) {
    if (m_bSorting) return;
    const int current = currentIndex().isValid() ? currentIndex().row() : -1;
    for (const QItemSelectionRange& range : selected) {
        if (current >= range.top() && current <= range.bottom()) {
            m_bSelectReported = true;
            OnLvnItemchanged(current, kStateSelected | kStateFocused);
        }
    }
}

void CPolicyListCtrl::OnCurrentChanged(const QModelIndex& current, const QModelIndex& previous) {
    if (m_bSorting || !current.isValid()) return;
    if (previous.isValid() && previous.row() == current.row()) return;
    if (selectionModel()->isRowSelected(current.row(), {})) {
        m_bSelectReported = true;
        OnLvnItemchanged(current.row(), kStateSelected | kStateFocused);
    }
}

void CPolicyListCtrl::OnDataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                    const QList<int>& roles) {
    if (!roles.contains(Qt::CheckStateRole) || topLeft.column() != 0) return;
    for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
        OnLvnItemchanged(row, StateImage(GetCheck(row) ? 2 : 1));
}

void CPolicyListCtrl::OnLvnItemchanged(int index, unsigned newState) {
    if (index == -1) return;
    const unsigned image = newState & kStateImageMask;
    if ((image == StateImage(1) || image == StateImage(2)) && isVisible()) emit checkChanged(index);
    if (newState == (kStateSelected | kStateFocused) && isVisible() &&
        GetFirstSelected() == index) {
        CPolicy row;
        row.m_csNetworkName = GetItemText(index, 1);
        row.m_csLabel = GetItemText(index, 2);
        row.m_csPriority = GetItemText(index, 3);
        row.m_csAddress = GetItemText(index, 4);
        emit rowSelected(row);
    }
}
