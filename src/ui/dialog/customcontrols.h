#pragma once
// Controls the main window moves or stretches when it is resized. Each is a plain control with
// the CMovableObject mix-in, which remembers where the control was when the window opened and
// points back at the control. They look and behave exactly like their first base.
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRect>

// A rectangle with Windows semantics: right and bottom are exclusive, so width is
// right - left and height is bottom - top.
struct CRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    QRect ToQRect() const { return QRect(left, top, Width(), Height()); }
    static CRect FromQRect(const QRect& r) {
        return CRect{r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
    }
    bool operator==(const CRect&) const = default;
};

class CMovableObject {
public:
    explicit CMovableObject(QWidget* wnd) : m_pWnd(wnd) {}

    // The control's rectangle in the main window's client coordinates when the window
    // initialised; all zeros before.
    CRect m_rcOrigin;
    // The control that contains this mix-in.
    QWidget* m_pWnd;
};

class CButtonEx : public QPushButton, public CMovableObject {
    Q_OBJECT
public:
    explicit CButtonEx(QWidget* parent = nullptr);
    ~CButtonEx() override;
};

class CEditEx : public QLineEdit, public CMovableObject {
    Q_OBJECT
public:
    explicit CEditEx(QWidget* parent = nullptr);
    ~CEditEx() override;
};

class CGroupBoxEx : public QGroupBox, public CMovableObject {
    Q_OBJECT
public:
    explicit CGroupBoxEx(QWidget* parent = nullptr);
    ~CGroupBoxEx() override;
};
