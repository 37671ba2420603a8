#pragma once
// The controls of a dialog in template order, reached by id, and the exchange of their texts and
// check states. A control of the derived dialog may stand in for a template control (a
// substitute), registered before or after the window is built.
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "services/resourceset.h"

class QAbstractButton;

// Check states.
constexpr int BST_UNCHECKED = 0;
constexpr int BST_CHECKED = 1;
constexpr int BST_INDETERMINATE = 2;

class CDialogItems {
public:
    struct Entry {
        int id = -1;
        CDialogControl control;
        QPointer<QWidget> widget;
    };
    // Set on the controls the dialog layer made itself (and so may delete).
    static constexpr const char* kMadeByLayer = "dlgMadeByLayer";

    void Add(const CDialogControl& control, QWidget* widget);
    const QList<Entry>& Entries() const { return m_entries; }
    // The entry of `id`, or null; controls without an id (-1) are not reachable by id.
    Entry* Find(int id);

    QWidget* Item(int id) const;
    int IdOf(const QWidget* control) const;  // -1 when unknown
    QList<QWidget*> Widgets() const;         // every control, in template order

    void SetSubstitute(int id, QWidget* control) { m_substitutes.insert(id, control); }
    QWidget* Substitute(int id) const { return m_substitutes.value(id); }

    // Text of a control of any kind the layer makes (the window title of any other widget).
    static void SetText(QWidget* control, const QString& text);
    static QString Text(const QWidget* control);
    static void SetCheck(QAbstractButton* button, int check);
    static int Check(const QAbstractButton* button);  // BST_*

private:
    QList<Entry> m_entries;
    QHash<int, QPointer<QWidget>> m_substitutes;
};
