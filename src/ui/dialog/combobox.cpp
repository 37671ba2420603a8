#include "ui/dialog/combobox.h"

CComboBox::CComboBox(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    setInsertPolicy(QComboBox::NoInsert);
    setCurrentIndex(-1);
}

int CComboBox::AddString(const QString& text) {
    if (!m_bSort) {
        addItem(text);
        return count() - 1;
    }
    // After the last entry that does not sort after the new one, so equal texts keep the order
    // in which they were added.
    int index = 0;
    while (index < count()) {
        const QString other = itemText(index);
        int order = QString::compare(other, text, Qt::CaseInsensitive);
        if (order == 0) order = QString::compare(other, text, Qt::CaseSensitive);
        if (order > 0) break;
        ++index;
    }
    const int keep = currentIndex();
    insertItem(index, text);
    // Inserting into an empty box makes Qt select the entry; a Windows box stays unselected.
    if (keep < 0) setCurrentIndex(-1);
    return index;
}

int CComboBox::SetCurSel(int index) {
    if (index < 0 || index >= count()) {
        setCurrentIndex(-1);
        return CB_ERR;
    }
    setCurrentIndex(index);
    return index;
}

int CComboBox::FindString(int startAfter, const QString& text) const {
    const int n = count();
    // An empty text matches nothing, as in a Windows list.
    if (n == 0 || text.isEmpty()) return CB_ERR;
    int start = (startAfter < -1 || startAfter >= n) ? 0 : startAfter + 1;
    for (int k = 0; k < n; ++k) {
        const int i = (start + k) % n;
        if (itemText(i).startsWith(text, Qt::CaseInsensitive)) return i;
    }
    return CB_ERR;
}

int CComboBox::SelectString(int startAfter, const QString& text) {
    const int found = FindString(startAfter, text);
    if (found != CB_ERR) setCurrentIndex(found);
    return found;
}
