// The header of the policy list: fixed column widths, the arrow pointer over dividers and the
// sort mark of the sorted column.
#include "ui/policylistctrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionHeader>

CPolicyListHeaderCtrl::CPolicyListHeaderCtrl(QWidget* parent)
    : QHeaderView(Qt::Horizontal, parent) {
    setSectionsClickable(true);
    setSectionsMovable(false);
    setSortIndicatorShown(true);
    setSortIndicator(-1, Qt::DescendingOrder);
    setStretchLastSection(false);
    setMinimumSectionSize(0);
    setDefaultSectionSize(0);
    setSectionResizeMode(QHeaderView::Fixed);
    setHighlightSections(false);
    setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

int CPolicyListHeaderCtrl::GetSortColumn() const { return sortIndicatorSection(); }

bool CPolicyListHeaderCtrl::IsAscending() const {
    if (GetSortColumn() < 0) return false;
    return sortIndicatorOrder() == Qt::AscendingOrder;
}

void CPolicyListHeaderCtrl::SetSortColumn(int column, bool ascending) {
    setSortIndicator(column, ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
}

bool CPolicyListHeaderCtrl::IsOnDivider(int x) const {
    const int grip = style()->pixelMetric(QStyle::PM_HeaderGripMargin, nullptr, this);
    bool seenVisible = false;
    for (int visual = 0; visual < count(); ++visual) {
        const int logical = logicalIndex(visual);
        if (isSectionHidden(logical)) continue;
        const int left = sectionViewportPosition(logical);
        const int right = left + sectionSize(logical);
        // The left edge of the first visible section is the header's border, not a divider.
        if (seenVisible && x >= left - grip && x <= left + grip) return true;
        if (x >= right - grip && x <= right + grip) return true;
        seenVisible = true;
    }
    return false;
}

void CPolicyListHeaderCtrl::mousePressEvent(QMouseEvent* event) {
    // A press on a divider would start a drag: refused, and it is no click either.
    if (IsOnDivider(event->position().toPoint().x())) {
        event->accept();
        return;
    }
    QHeaderView::mousePressEvent(event);
}

void CPolicyListHeaderCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click on a divider would fit the column to its content: refused.
    if (IsOnDivider(event->position().toPoint().x())) {
        event->accept();
        return;
    }
    QHeaderView::mouseDoubleClickEvent(event);
}

void CPolicyListHeaderCtrl::mouseMoveEvent(QMouseEvent* event) {
    QHeaderView::mouseMoveEvent(event);
    KeepArrowCursor();
}

bool CPolicyListHeaderCtrl::viewportEvent(QEvent* event) {
    const bool handled = QHeaderView::viewportEvent(event);
    if (event->type() == QEvent::CursorChange) KeepArrowCursor();
    return handled;
}

bool CPolicyListHeaderCtrl::event(QEvent* event) {
    const bool handled = QHeaderView::event(event);
    if (event->type() == QEvent::CursorChange) KeepArrowCursor();
    return handled;
}

void CPolicyListHeaderCtrl::initStyleOptionForIndex(QStyleOptionHeader* option,
                                                    int logicalIndex) const {
    QHeaderView::initStyleOptionForIndex(option, logicalIndex);
    // The sort mark is drawn by paintSection, above the title, so that it never covers the
    // title of a narrow column.
    option->sortIndicator = QStyleOptionHeader::None;
}

void CPolicyListHeaderCtrl::paintSection(QPainter* painter, const QRect& rect,
                                         int logicalIndex) const {
    QHeaderView::paintSection(painter, rect, logicalIndex);
    if (!isSortIndicatorShown() || logicalIndex != sortIndicatorSection() || !rect.isValid())
        return;
    // A small caret centred over the title: pointing up for ascending, down for descending.
    const int half = 4;
    const int height = 3;
    const int cx = rect.center().x();
    const int top = rect.top() + 1;
    QPolygon caret;
    if (sortIndicatorOrder() == Qt::AscendingOrder)
        caret << QPoint(cx - half, top + height) << QPoint(cx + half, top + height)
              << QPoint(cx, top);
    else
        caret << QPoint(cx - half, top) << QPoint(cx + half, top) << QPoint(cx, top + height);
    painter->save();
    // The style may leave a clip behind; the caret belongs to this section only.
    painter->setClipRect(rect);
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setPen(Qt::NoPen);
    painter->setBrush(palette().color(QPalette::Dark));
    painter->drawPolygon(caret);
    painter->restore();
}

void CPolicyListHeaderCtrl::KeepArrowCursor() {
    // The pointer keeps its ordinary shape over the whole header.
    if (testAttribute(Qt::WA_SetCursor)) unsetCursor();
    if (viewport() && viewport()->testAttribute(Qt::WA_SetCursor)) viewport()->unsetCursor();
}
