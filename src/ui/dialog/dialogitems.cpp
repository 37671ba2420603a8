#include "ui/dialog/dialogitems.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>

void CDialogItems::Add(const CDialogControl& control, QWidget* widget) {
    m_entries.append({control.id, control, widget});
}

CDialogItems::Entry* CDialogItems::Find(int id) {
    if (id == -1) return nullptr;
    for (Entry& e : m_entries)
        if (e.id == id) return &e;
    return nullptr;
}

QWidget* CDialogItems::Item(int id) const {
    if (id == -1) return nullptr;
    for (const Entry& e : m_entries)
        if (e.id == id) return e.widget;
    return nullptr;
}

int CDialogItems::IdOf(const QWidget* control) const {
    for (const Entry& e : m_entries)
        if (e.widget == control) return e.id;
    return -1;
}

QList<QWidget*> CDialogItems::Widgets() const {
    QList<QWidget*> list;
    for (const Entry& e : m_entries)
        if (e.widget) list.append(e.widget);
    return list;
}

void CDialogItems::SetText(QWidget* w, const QString& text) {
    if (!w) return;
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        b->setText(text);
    else if (auto* l = qobject_cast<QLabel*>(w))
        l->setText(text);
    else if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(text);
    else if (auto* g = qobject_cast<QGroupBox*>(w))
        g->setTitle(text);
    else if (auto* t = qobject_cast<QTextEdit*>(w))
        t->setPlainText(text);
    else if (auto* c = qobject_cast<QComboBox*>(w)) {
        const int i = c->findText(text);
        c->setCurrentIndex(i);
    } else {
        w->setWindowTitle(text);
    }
}

QString CDialogItems::Text(const QWidget* w) {
    if (!w) return {};
    if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
    if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
    if (auto* t = qobject_cast<const QTextEdit*>(w)) return t->toPlainText();
    if (auto* c = qobject_cast<const QComboBox*>(w)) return c->currentText();
    return w->windowTitle();
}

void CDialogItems::SetCheck(QAbstractButton* b, int check) {
    if (!b) return;
    if (auto* box = qobject_cast<QCheckBox*>(b)) {
        if (check == BST_INDETERMINATE) {
            box->setTristate(true);
            box->setCheckState(Qt::PartiallyChecked);
        } else {
            box->setCheckState(check == BST_CHECKED ? Qt::Checked : Qt::Unchecked);
        }
        return;
    }
    if (b->isCheckable()) b->setChecked(check == BST_CHECKED);
}

int CDialogItems::Check(const QAbstractButton* b) {
    if (!b) return BST_UNCHECKED;
    if (auto* box = qobject_cast<const QCheckBox*>(b)) {
        switch (box->checkState()) {
            case Qt::Checked:
                return BST_CHECKED;
            case Qt::PartiallyChecked:
                return BST_INDETERMINATE;
            default:
                return BST_UNCHECKED;
        }
    }
    return b->isCheckable() && b->isChecked() ? BST_CHECKED : BST_UNCHECKED;
}
