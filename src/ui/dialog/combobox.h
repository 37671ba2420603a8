#pragma once
// Drop-down list combo box with the Windows behaviour the dialogs rely on: a sorted box keeps
// its entries in sorted order whatever the order of adding, and SelectString finds an entry by
// the beginning of its text.
#include <QComboBox>

constexpr int CB_ERR = -1;

class CComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit CComboBox(QWidget* parent = nullptr);

    // Sorted boxes insert in order (case-insensitive, then exact); others append. Returns the
    // index of the new entry.
    int AddString(const QString& text);
    int GetCount() const { return count(); }
    int GetCurSel() const { return currentIndex(); }  // CB_ERR when nothing is selected
    int SetCurSel(int index);                        // CB_ERR for an index out of range
    QString GetLBText(int index) const { return itemText(index); }
    // Searches from the entry after `startAfter` (-1: from the first), wrapping round, for the
    // first entry whose text begins with `text` regardless of case, and selects it. Returns its
    // index, or CB_ERR with the selection unchanged (always for an empty text).
    int SelectString(int startAfter, const QString& text);
    int FindString(int startAfter, const QString& text) const;
    void ResetContent() { clear(); }

    void SetSorted(bool sorted) { m_bSort = sorted; }
    bool IsSorted() const { return m_bSort; }

private:
    bool m_bSort = false;
};
