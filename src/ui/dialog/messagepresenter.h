#pragma once
// Renders the log's message boxes as Qt message boxes: the kind's icon and buttons, the caption
// of the request and the Yes/No/Cancel buttons labelled with the request's texts.
#include <QMessageBox>

#include "services/applog.h"

class CQtMessagePresenter : public IMessagePresenter {
public:
    int Present(const CMessageBoxRequest& request) override;

    // Nobody is there to answer any more (the program closes on a signal): from now on no box
    // is shown, each is answered with its default button (OK, or No for a question); the log
    // still records it. Any thread.
    static void SetUnattended();

    // The icon of a message kind: 1 question, 3 and 4 warning, 5 error, others information.
    static QMessageBox::Icon IconOf(int kind);
};
