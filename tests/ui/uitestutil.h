#pragma once
// Helpers for widget tests: act on the modal window once it is up.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <gtest/gtest.h>

namespace uitest {

// Runs `action` on the active modal window once there is one that is not `notThis`
// (polled every 10 ms, given up after `timeoutMs`). The action runs inside the modal loop.
inline void WhenModal(std::function<void(QWidget*)> action, QWidget* notThis = nullptr,
                      int timeoutMs = 10000) {
    auto* timer = new QTimer(qApp);
    auto* clock = new QElapsedTimer();
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, qApp, [=] {
        QWidget* modal = QApplication::activeModalWidget();
        const bool ready = modal && modal != notThis && modal->isVisible();
        if (!ready && clock->elapsed() < timeoutMs) return;
        timer->stop();
        timer->deleteLater();
        delete clock;
        if (!ready) return;
        QPointer<QWidget> window(modal);
        action(modal);
        // A window the action should have closed but did not would hang the test: fail and
        // close it after a while.
        QTimer::singleShot(timeoutMs, qApp, [window] {
            if (window && window->isVisible() && QApplication::activeModalWidget() == window) {
                ADD_FAILURE() << "modal window still open: " << window->metaObject()->className();
                window->hide();
            }
        });
    });
    timer->start();
}

}  // namespace uitest
