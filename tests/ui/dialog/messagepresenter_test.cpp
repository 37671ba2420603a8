// Message boxes: icon, buttons, caption, default button and owner by message kind.
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "services/results.h"
#include "ui/dialog/messagepresenter.h"
#include "uitestutil.h"

namespace {

CMessageBoxRequest Request(int kind) {
    CMessageBoxRequest r;
    r.text = QStringLiteral("本文 %1").arg(kind);
    r.kind = kind;
    r.caption = QStringLiteral("Corvane");
    r.yesText = QStringLiteral("はい(&Y)");
    r.noText = QStringLiteral("いいえ(&N)");
    r.cancelText = QStringLiteral("キャンセル(&C)");
    return r;
}

struct Seen {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title, text;
    QStringList buttons;
    QString defaultButton;
    QWidget* parent = nullptr;
};

// Shows a box for `request`, records what it looked like and presses `press` (a button text,
// "OK" for the OK button, or empty for Escape).
int ShowAndPress(CMessageBoxRequest request, const QString& press, Seen* seen) {
    CQtMessagePresenter presenter;
    uitest::WhenModal([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        seen->icon = box->icon();
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->parent = box->parentWidget();
        for (QAbstractButton* b : box->buttons()) seen->buttons << b->text();
        if (box->defaultButton()) seen->defaultButton = box->defaultButton()->text();
        if (press.isEmpty()) {
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        QAbstractButton* target = press == QLatin1String("OK") ? box->button(QMessageBox::Ok) : nullptr;
        for (QAbstractButton* b : box->buttons())
            if (b->text() == press) target = b;
        ASSERT_NE(target, nullptr) << press.toStdString();
        QTest::mouseClick(target, Qt::LeftButton);
    });
    return presenter.Present(request);
}

}  // namespace

TEST(MessagePresenter, IconsByKind) {
    EXPECT_EQ(CQtMessagePresenter::IconOf(LOG_DEBUG), QMessageBox::Information);
    EXPECT_EQ(CQtMessagePresenter::IconOf(LOG_CONFIRM), QMessageBox::Question);
    EXPECT_EQ(CQtMessagePresenter::IconOf(LOG_INFO), QMessageBox::Information);
    EXPECT_EQ(CQtMessagePresenter::IconOf(LOG_WARN), QMessageBox::Warning);
    EXPECT_EQ(CQtMessagePresenter::IconOf(LOG_ERROR), QMessageBox::Warning);
    EXPECT_EQ(CQtMessagePresenter::IconOf(LOG_FATAL), QMessageBox::Critical);
    EXPECT_EQ(CQtMessagePresenter::IconOf(9), QMessageBox::Information);
}

TEST(MessagePresenter, InformationWarningAndErrorBoxesHaveOneOkButton) {
    for (int kind : {LOG_DEBUG, LOG_INFO, LOG_WARN, LOG_ERROR, LOG_FATAL}) {
        Seen seen;
        EXPECT_EQ(ShowAndPress(Request(kind), QStringLiteral("OK"), &seen), IDOK) << kind;
        EXPECT_EQ(seen.icon, CQtMessagePresenter::IconOf(kind));
        EXPECT_EQ(seen.title, QStringLiteral("Corvane"));
        EXPECT_EQ(seen.text, Request(kind).text);
        EXPECT_EQ(seen.buttons.size(), 1);
        EXPECT_EQ(seen.parent, nullptr);
    }
}

TEST(MessagePresenter, QuestionHasRelabelledYesAndNoWithNoAsDefault) {
    Seen seen;
    EXPECT_EQ(ShowAndPress(Request(LOG_CONFIRM), QStringLiteral("はい(&Y)"), &seen), IDYES);
    EXPECT_EQ(seen.icon, QMessageBox::Question);
    EXPECT_EQ(seen.buttons.size(), 2);
    EXPECT_TRUE(seen.buttons.contains(QStringLiteral("はい(&Y)")));
    EXPECT_TRUE(seen.buttons.contains(QStringLiteral("いいえ(&N)")));
    EXPECT_EQ(seen.defaultButton, QStringLiteral("いいえ(&N)"));
    Seen no;
    EXPECT_EQ(ShowAndPress(Request(LOG_CONFIRM), QStringLiteral("いいえ(&N)"), &no), IDNO);
    // Escape and Enter answer No.
    Seen esc;
    EXPECT_EQ(ShowAndPress(Request(LOG_CONFIRM), QString(), &esc), IDNO);
    CQtMessagePresenter presenter;
    uitest::WhenModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Return); });
    EXPECT_EQ(presenter.Present(Request(LOG_CONFIRM)), IDNO);
}

TEST(MessagePresenter, OwnerWindowFromTheRequest) {
    QWidget owner;
    owner.show();
    CMessageBoxRequest r = Request(LOG_INFO);
    r.owner = &owner;
    Seen seen;
    EXPECT_EQ(ShowAndPress(r, QStringLiteral("OK"), &seen), IDOK);
    EXPECT_EQ(seen.parent, &owner);
    // A non-widget owner is ignored.
    QObject notAWindow;
    r.owner = &notAWindow;
    Seen seen2;
    EXPECT_EQ(ShowAndPress(r, QStringLiteral("OK"), &seen2), IDOK);
    EXPECT_EQ(seen2.parent, nullptr);
}
