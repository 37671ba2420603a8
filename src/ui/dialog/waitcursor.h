#pragma once
// The wait cursor for the life of the object (the application's BeginWaitCursor /
// EndWaitCursor). Nests: each object restores what it set. Restore() ends it early.
#include <QApplication>
#include <QGuiApplication>

class CWaitCursor {
public:
    CWaitCursor() {
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
            m_bActive = true;
        }
    }
    ~CWaitCursor() { Restore(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

    void Restore() {
        if (m_bActive) {
            QGuiApplication::restoreOverrideCursor();
            m_bActive = false;
        }
    }
    bool IsActive() const { return m_bActive; }

private:
    bool m_bActive = false;
};
