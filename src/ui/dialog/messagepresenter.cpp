#include "ui/dialog/messagepresenter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QWidget>
#include <atomic>

#include "services/results.h"

namespace {
std::atomic<bool> g_unattended{false};
}

void CQtMessagePresenter::SetUnattended() { g_unattended.store(true); }

QMessageBox::Icon CQtMessagePresenter::IconOf(int kind) {
    switch (kind) {
        case LOG_CONFIRM: return QMessageBox::Question;
        case LOG_WARN:
        case LOG_ERROR: return QMessageBox::Warning;
        case LOG_FATAL: return QMessageBox::Critical;
        default: return QMessageBox::Information;
    }
}

int CQtMessagePresenter::Present(const CMessageBoxRequest& request) {
    if (g_unattended.load()) return request.kind == LOG_CONFIRM ? IDNO : IDOK;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        // No widgets in this process: the text goes to standard error and the answer is the
        // default one, as an unanswerable box would give.
        DebugOutput(request.caption + QStringLiteral(": ") + request.text);
        return request.kind == LOG_CONFIRM ? IDNO : IDOK;
    }
    QWidget* owner = qobject_cast<QWidget*>(request.owner);
    QMessageBox box(IconOf(request.kind), request.caption, request.text, QMessageBox::NoButton,
                    owner);
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    if (request.kind == LOG_CONFIRM) {
        QPushButton* yes = box.addButton(QMessageBox::Yes);
        QPushButton* no = box.addButton(QMessageBox::No);
        if (!request.yesText.isEmpty()) yes->setText(request.yesText);
        if (!request.noText.isEmpty()) no->setText(request.noText);
        box.setDefaultButton(no);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? IDYES : IDNO;
    }
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return IDOK;
}
