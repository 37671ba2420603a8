#include "ui/dialog/customcontrols.h"

CButtonEx::CButtonEx(QWidget* parent) : QPushButton(parent), CMovableObject(this) {}
CButtonEx::~CButtonEx() = default;

CEditEx::CEditEx(QWidget* parent) : QLineEdit(parent), CMovableObject(this) {}
CEditEx::~CEditEx() = default;

CGroupBoxEx::CGroupBoxEx(QWidget* parent) : QGroupBox(parent), CMovableObject(this) {}
CGroupBoxEx::~CGroupBoxEx() = default;
