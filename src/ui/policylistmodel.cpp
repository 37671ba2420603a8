// The rows of the policy list: cells, check states, icons, the look-ups by key and by address
// space, and reordering for the sort.
#include "ui/policylistctrl.h"

#include <algorithm>
#include <ctime>

CPolicyListModel::CPolicyListModel(QObject* parent) : QAbstractTableModel(parent) {}

CPolicyListModel::~CPolicyListModel() = default;

int CPolicyListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int CPolicyListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_titles.size());
}

QVariant CPolicyListModel::data(const QModelIndex& index, int role) const {
    const Row* row = At(index.row());
    if (!row || index.column() < 0 || index.column() >= kColumns) return {};
    switch (role) {
        case Qt::DisplayRole:
            return row->text[index.column()];
        case Qt::CheckStateRole:
            if (index.column() == 0) return row->checked ? Qt::Checked : Qt::Unchecked;
            return {};
        case Qt::DecorationRole:
            if (index.column() == 1 && m_pImages && row->image >= 0 &&
                row->image < m_pImages->size())
                return m_pImages->at(row->image);
            return {};
        default:
            return {};
    }
}

bool CPolicyListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::CheckStateRole || index.column() != 0 || !At(index.row())) return false;
    SetCheck(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags CPolicyListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == 0) f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant CPolicyListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < m_titles.size())
        return m_titles[section];
    return {};
}

void CPolicyListModel::SetTitles(const QStringList& titles) {
    const int old = static_cast<int>(m_titles.size());
    if (old > 0) {
        beginRemoveColumns({}, 0, old - 1);
        m_titles.clear();
        endRemoveColumns();
    }
    const int count = static_cast<int>(std::min<qsizetype>(titles.size(), kColumns));
    if (count > 0) {
        beginInsertColumns({}, 0, count - 1);
        m_titles = titles.mid(0, count);
        endInsertColumns();
    }
}

void CPolicyListModel::SetImages(const QList<QIcon>* images) {
    m_pImages = images;
    if (Count() > 0 && m_titles.size() > 1)
        emit dataChanged(index(0, 1), index(Count() - 1, 1), {Qt::DecorationRole});
}

const CPolicyListModel::Row* CPolicyListModel::At(int row) const {
    if (row < 0 || row >= Count()) return nullptr;
    return m_rows[static_cast<size_t>(row)].get();
}

std::uint32_t CPolicyListModel::NewKey(int insertIndex) const {
    // Insertion index plus the current time in whole seconds; moved on while it repeats the
    // key of another row.
    std::uint32_t key = static_cast<std::uint32_t>(insertIndex) +
                        static_cast<std::uint32_t>(std::time(nullptr));
    while (m_byKey.contains(key)) ++key;
    return key;
}

std::uint32_t CPolicyListModel::InsertRow(int row, const QString& firstText) {
    row = std::clamp(row, 0, Count());
    auto item = std::make_unique<Row>();
    item->key = NewKey(row);
    item->text[0] = firstText;
    Row* p = item.get();
    if (m_nBatch == 0) beginInsertRows({}, row, row);
    m_rows.insert(m_rows.begin() + row, std::move(item));
    m_byKey.insert(p->key, p);
    const QString folded = FoldKey(firstText);
    if (!m_byFirstText.contains(folded)) m_byFirstText.insert(folded, p);
    if (m_nBatch == 0) endInsertRows();
    return p->key;
}

bool CPolicyListModel::DeleteRow(int row) {
    if (!At(row)) return false;
    DeleteRows(row, row);
    return true;
}

void CPolicyListModel::DeleteRows(int first, int last) {
    first = std::max(first, 0);
    last = std::min(last, Count() - 1);
    if (first > last) return;
    if (m_nBatch == 0) beginRemoveRows({}, first, last);
    for (int i = first; i <= last; ++i) {
        Row* p = m_rows[static_cast<size_t>(i)].get();
        m_byKey.remove(p->key);
        auto it = m_byFirstText.find(FoldKey(p->text[0]));
        if (it != m_byFirstText.end() && it.value() == p) m_byFirstText.erase(it);
    }
    m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
    if (m_nBatch == 0) endRemoveRows();
}

void CPolicyListModel::DeleteAll() {
    if (m_nBatch == 0) beginResetModel();
    m_rows.clear();
    m_byKey.clear();
    m_byFirstText.clear();
    if (m_nBatch == 0) endResetModel();
}

void CPolicyListModel::SetCheck(int row, bool checked) {
    Row* p = const_cast<Row*>(At(row));
    if (!p) return;
    p->checked = checked;
    if (m_nBatch == 0) emit dataChanged(index(row, 0), index(row, 0), {Qt::CheckStateRole});
}

void CPolicyListModel::SetText(int row, int column, const QString& text, int image) {
    Row* p = const_cast<Row*>(At(row));
    if (!p || column < 0 || column >= kColumns) return;
    if (column == 0) {
        auto it = m_byFirstText.find(FoldKey(p->text[0]));
        if (it != m_byFirstText.end() && it.value() == p) m_byFirstText.erase(it);
        const QString folded = FoldKey(text);
        if (!m_byFirstText.contains(folded)) m_byFirstText.insert(folded, p);
    }
    p->text[column] = text;
    if (column == 1) p->image = image;
    if (m_nBatch == 0 && column < m_titles.size())
        emit dataChanged(index(row, column), index(row, column),
                         {Qt::DisplayRole, Qt::DecorationRole});
}

const CPolicyListModel::Row* CPolicyListModel::FindByFirstText(const QString& text) const {
    return m_byFirstText.value(FoldKey(text), nullptr);
}

const CPolicyListModel::Row* CPolicyListModel::FindByKey(std::uint32_t key) const {
    return m_byKey.value(key, nullptr);
}

void CPolicyListModel::Reorder(const std::vector<int>& order) {
    if (order.size() != m_rows.size()) return;
    if (m_nBatch == 0) emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<std::unique_ptr<Row>> sorted;
    sorted.reserve(m_rows.size());
    std::vector<int> newPosition(m_rows.size());
    for (size_t i = 0; i < order.size(); ++i) {
        newPosition[static_cast<size_t>(order[i])] = static_cast<int>(i);
        sorted.push_back(std::move(m_rows[static_cast<size_t>(order[i])]));
    }
    m_rows = std::move(sorted);
    if (m_nBatch == 0) {
        const QModelIndexList from = persistentIndexList();
        QModelIndexList to;
        to.reserve(from.size());
        for (const QModelIndex& idx : from) {
            if (idx.row() >= 0 && idx.row() < static_cast<int>(newPosition.size()))
                to.append(index(newPosition[static_cast<size_t>(idx.row())], idx.column()));
            else
                to.append(QModelIndex());
        }
        changePersistentIndexList(from, to);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }
}

void CPolicyListModel::BeginBatch() {
    if (m_nBatch++ == 0) beginResetModel();
}

void CPolicyListModel::EndBatch() {
    if (m_nBatch > 0 && --m_nBatch == 0) endResetModel();
}
