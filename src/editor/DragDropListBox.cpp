#include "DragDropListBox.h"

#include <algorithm>
#include <cstdlib>

#include <QCoreApplication>
#include <QCursor>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QScrollBar>

#include "DialogControls.h"

namespace updatetool {

namespace {

// Loaded once for every list of the program; the hot spot is the top-left corner.
const QCursor& dragCursor()
{
    static const QCursor cursor(QPixmap(QStringLiteral(":/cursors/cursor149.xpm")), 0, 0);
    return cursor;
}

const QCursor& noDropCursor()
{
    static const QCursor cursor(QPixmap(QStringLiteral(":/cursors/cursor150.xpm")), 0, 0);
    return cursor;
}

bool shiftOnly(Qt::KeyboardModifiers keys)
{
    return (keys & Qt::ShiftModifier) && !(keys & Qt::ControlModifier);
}

} // namespace

CDragDropListBox::CDragDropListBox(int controlId, QWidget* parent)
    : QListView(parent), controlId_(controlId)
{
    setProperty(kControlIdProperty, controlId);
    setViewMode(QListView::ListMode);
    setFlow(QListView::TopToBottom);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(true);
    setSpacing(0);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setTextElideMode(Qt::ElideNone);
    setFocusPolicy(Qt::StrongFocus);
}

void CDragDropListBox::setModel(QAbstractItemModel* newModel)
{
    QListView::setModel(newModel);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!selectingByMouse_)
            emit selectionChangedByKeyboard();
    });
}

int CDragDropListBox::rowCount() const
{
    return model() ? model()->rowCount() : 0;
}

std::vector<int> CDragDropListBox::selectedRows() const
{
    std::vector<int> rows;
    if (!selectionModel())
        return rows;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    return rows;
}

int CDragDropListBox::chosenRow() const
{
    const QModelIndex current = currentIndex();
    if (current.isValid() && isRowSelected(current.row()))
        return current.row();
    const std::vector<int> selected = selectedRows();
    return selected.empty() ? -1 : selected.front();
}

bool CDragDropListBox::isRowSelected(int row) const
{
    return selectionModel() && row >= 0 && row < rowCount() && selectionModel()->isRowSelected(row, QModelIndex());
}

void CDragDropListBox::selectRows(const std::vector<int>& rows)
{
    if (!selectionModel())
        return;
    // Runs of neighbouring rows become one range, so a block of a thousand rows is one.
    QItemSelection selection;
    for (std::size_t i = 0; i < rows.size();) {
        std::size_t end = i + 1;
        while (end < rows.size() && rows[end] == rows[end - 1] + 1)
            ++end;
        if (rows[i] >= 0 && rows[end - 1] < rowCount())
            selection.select(model()->index(rows[i], 0), model()->index(rows[end - 1], 0));
        i = end;
    }
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
}

void CDragDropListBox::selectRange(int from, int to)
{
    const int count = rowCount();
    if (count == 0)
        return;
    from = std::clamp(from, 0, count - 1);
    to = std::clamp(to, 0, count - 1);
    selectionModel()->select(QItemSelection(model()->index(std::min(from, to), 0), model()->index(std::max(from, to), 0)),
                             QItemSelectionModel::ClearAndSelect);
}

void CDragDropListBox::setAnchor(int row)
{
    anchor_ = row;
    selectionModel()->setCurrentIndex(model()->index(row, 0), QItemSelectionModel::NoUpdate);
}

int CDragDropListBox::rowsPerColumn() const
{
    const int rowHeight = std::max(1, rowCount() > 0 ? sizeHintForRow(0) : fontMetrics().height());
    return std::max(1, viewport()->height() / rowHeight);
}

int CDragDropListBox::topRow() const
{
    const QModelIndex index = indexAt(QPoint(1, 1));
    return index.isValid() ? index.row() : 0;
}

void CDragDropListBox::setTopRow(int row)
{
    if (rowCount() == 0)
        return;
    const int columnWidth = std::max(1, visualRect(model()->index(0, 0)).width());
    horizontalScrollBar()->setValue(row / rowsPerColumn() * columnWidth);
}

int CDragDropListBox::rowAt(QPoint point) const
{
    const QModelIndex index = indexAt(point);
    return index.isValid() ? index.row() : -1;
}

int CDragDropListBox::dropRowAt(QPoint point) const
{
    const int count = rowCount();
    if (count == 0)
        return -1;
    if (const int row = rowAt(point); row >= 0)
        return row;
    // Beside the rows: the nearest row's column and place in it, and the drop goes after it.
    const QRect first = visualRect(model()->index(0, 0));
    const int columnWidth = std::max(1, first.width());
    const int rowHeight = std::max(1, first.height());
    const int perColumn = rowsPerColumn();
    const int lastColumn = (count - 1) / perColumn;
    const int column = std::clamp((point.x() - first.left()) / columnWidth, 0, lastColumn);
    const int inColumn = std::clamp((point.y() - first.top()) / rowHeight, 0, perColumn - 1);
    return std::min(column * perColumn + inColumn, count - 1) + 1;
}

QRect CDragDropListBox::screenRect() const
{
    return QRect(mapToGlobal(QPoint(0, 0)), size());
}

void CDragDropListBox::post(int type, QPoint point)
{
    if (type != 0 && parentWidget() != nullptr)
        QCoreApplication::postEvent(parentWidget(), new DragDropEvent(type, controlId_, point));
}

void CDragDropListBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || model() == nullptr)
        return;
    const QPoint point = event->position().toPoint();
    const int row = rowAt(point);
    if (row < 0)
        return;
    setFocus(Qt::MouseFocusReason);
    pressPoint_ = point;
    pressRow_ = lastRow_ = row;
    pressKeys_ = event->modifiers();
    tracking_ = true;
    dragStarted_ = false;
    dragMode_ = isRowSelected(row);
    if (!dragMode_)
        clickSelect(row);
}

void CDragDropListBox::clickSelect(int row)
{
    selectingByMouse_ = true;
    if (pressKeys_ & Qt::ControlModifier) {
        selectionModel()->select(model()->index(row, 0), QItemSelectionModel::Select);
        setAnchor(row);
    } else if (pressKeys_ & Qt::ShiftModifier) {
        selectRange(anchor_, row);
    } else {
        selectionModel()->select(model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
        setAnchor(row);
    }
    selectingByMouse_ = false;
    if (owner_)
        owner_->showChannelInfo(controlId_, row);
}

void CDragDropListBox::rangeSelect(int row)
{
    if (shiftOnly(pressKeys_)) {
        selectingByMouse_ = true;
        selectRange(anchor_, row);
        selectingByMouse_ = false;
    }
    lastRow_ = row;
}

void CDragDropListBox::mouseMoveEvent(QMouseEvent* event)
{
    if (!tracking_)
        return;
    const QPoint point = event->position().toPoint();
    if (!dragMode_) {
        const int row = rowAt(point);
        if (row >= 0 && row != lastRow_)
            rangeSelect(row);
        return;
    }
    const QPoint distance = point - pressPoint_;
    if (!dragStarted_ && (std::abs(distance.x()) > kDragThreshold || std::abs(distance.y()) > kDragThreshold)) {
        post(messages_.beginDragDrop, point);
        dragStarted_ = true;
        viewport()->setCursor(dragCursor());
        return;
    }
    const QPoint screenPoint = event->globalPosition().toPoint();
    autoScroll(screenPoint);
    const bool inside = screenRect().contains(screenPoint);
    viewport()->setCursor(inside ? dragCursor() : noDropCursor());
    const int mark = dragStarted_ && inside ? dropRowAt(viewport()->mapFromGlobal(screenPoint)) : -1;
    if (mark != insertionMark_) {
        insertionMark_ = mark;
        viewport()->update();
    }
    post(messages_.queryDrop, point);
}

void CDragDropListBox::autoScroll(QPoint screenPoint)
{
    const QRect window = screenRect();
    if (window.contains(screenPoint))
        lastScrollPoint_ = QPoint(0, 0);
    const bool inRows = screenPoint.y() >= window.top() && screenPoint.y() < window.top() + window.height();
    const bool backward = inRows && screenPoint.x() >= window.left() - kScrollStrip && screenPoint.x() < window.left();
    const int rightEdge = window.left() + window.width();
    const bool forward = inRows && screenPoint.x() >= rightEdge && screenPoint.x() < rightEdge + kScrollStrip;
    if (!backward && !forward)
        return;
    const QPoint moved = screenPoint - lastScrollPoint_;
    if (std::abs(moved.x()) <= kScrollRepeatDistance && std::abs(moved.y()) <= kScrollRepeatDistance)
        return;
    const int top = topRow();
    const int newTop = backward ? std::max(top - rowsPerColumn(), 0) : std::min(top + rowsPerColumn(), rowCount() - 1);
    if (newTop != top && newTop >= 0)
        setTopRow(newTop);
    lastScrollPoint_ = screenPoint;
}

void CDragDropListBox::mouseReleaseEvent(QMouseEvent* event)
{
    if (!tracking_)
        return;
    if (dragMode_) {
        const QPoint point = event->position().toPoint();
        post(messages_.doDrop, point);
        if (screenRect().contains(event->globalPosition().toPoint())) {
            const int row = dropRowAt(point);
            if (row != -1)
                releaseSelect(row);
        }
    }
    tracking_ = false;
    if (insertionMark_ >= 0) {
        insertionMark_ = -1;
        viewport()->update();
    }
    viewport()->unsetCursor();
}

void CDragDropListBox::releaseSelect(int row)
{
    const bool ctrl = pressKeys_ & Qt::ControlModifier;
    selectingByMouse_ = true;
    int shown = row;
    if (row == pressRow_) {
        if (ctrl)
            selectionModel()->select(model()->index(row, 0), QItemSelectionModel::Deselect);
        else if (pressKeys_ & Qt::ShiftModifier)
            selectRange(anchor_, row);
        else
            selectionModel()->clearSelection();
    } else if (!ctrl) {
        if (pressKeys_ & Qt::ShiftModifier) {
            selectRange(anchor_, row);
        } else if (owner_) {
            const std::vector<int> after = owner_->moveSelectedRows(controlId_, selectedRows(), row);
            selectRows(after);
            // The row dropped on now holds another channel: the panel follows the moved one.
            if (!after.empty())
                shown = after.front();
        }
    }
    selectingByMouse_ = false;
    if (owner_)
        owner_->showChannelInfo(controlId_, shown);
}

void CDragDropListBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int row = rowAt(event->position().toPoint());
    if (row >= 0)
        emit rowDoubleClicked(row);
}

void CDragDropListBox::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::NoModifier) {
        if (owner_)
            owner_->deleteSelectedChannels(controlId_);
        return;
    }
    if (event->modifiers() == Qt::AltModifier && owner_ != nullptr) {
        static constexpr std::pair<int, RowShift> kShifts[] = {
            {Qt::Key_Up, RowShift::Up}, {Qt::Key_Down, RowShift::Down},
            {Qt::Key_Home, RowShift::Top}, {Qt::Key_End, RowShift::Bottom}};
        for (const auto& [key, shift] : kShifts) {
            if (event->key() != key)
                continue;
            const std::vector<int> before = selectedRows();
            if (before.empty())
                return;
            const std::vector<int> after = owner_->shiftSelectedRows(controlId_, before, shift);
            selectingByMouse_ = true; // the owner has shown what it moved
            selectRows(after);
            selectingByMouse_ = false;
            if (!after.empty()) {
                const int lead = shift == RowShift::Down || shift == RowShift::Bottom ? after.back() : after.front();
                setAnchor(lead);
                scrollTo(model()->index(lead, 0));
            }
            return;
        }
    }
    QListView::keyPressEvent(event);
}

void CDragDropListBox::paintEvent(QPaintEvent* event)
{
    QListView::paintEvent(event);
    const int count = rowCount();
    if (insertionMark_ < 0 || count == 0)
        return;
    // A bar where the dragged rows would go: above the row under the pointer, or below the last.
    const bool after = insertionMark_ >= count;
    const QRect row = visualRect(model()->index(after ? count - 1 : insertionMark_, 0));
    const int y = after ? row.bottom() + 1 : row.top();
    QPainter painter(viewport());
    painter.fillRect(QRect(row.left(), y - 1, row.width(), 2), palette().color(QPalette::Text));
}

} // namespace updatetool
