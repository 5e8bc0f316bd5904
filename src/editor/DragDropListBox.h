#pragma once

#include <vector>

#include <QEvent>
#include <QListView>
#include <QPoint>

#include "DragDropMessages.h"

namespace updatetool {

// The keyboard's moves of the selected rows: by one row, or to either end.
enum class RowShift { Up, Down, Top, Bottom };

// What a drag-and-drop list asks of the window it sits in.
class DragDropListOwner {
public:
    // After every selection step made with the mouse: the row that was hit.
    virtual void showChannelInfo(int listId, int row) = 0;
    // Moves the selected rows' channels to the target row; returns the rows selected
    // afterwards.
    virtual std::vector<int> moveSelectedRows(int listId, const std::vector<int>& selectedRows, int target) = 0;
    // The Delete key.
    virtual void deleteSelectedChannels(int listId) = 0;
    // Alt+Up, Alt+Down, Alt+Home, Alt+End: moves like a drag; returns the rows selected afterwards.
    virtual std::vector<int> shiftSelectedRows(int listId, const std::vector<int>& selectedRows, RowShift shift) = 0;

protected:
    ~DragDropListOwner() = default;
};

// Posted to the list's parent at the start of a drag, while it moves and at the drop,
// carrying the list's id and the pointer in the list's coordinates. The editor takes no
// action on them; they are there for anything that wants to watch a drag.
class DragDropEvent : public QEvent {
public:
    DragDropEvent(int type, int listId, QPoint point)
        : QEvent(static_cast<QEvent::Type>(type)), listId(listId), point(point) {}
    const int listId;
    const QPoint point;
};

// The channel editor's TV and radio lists: rows in columns with a horizontal scroll
// bar, and a mouse handling of their own. A click selects (Ctrl adds, Shift takes the
// range from the anchor), Shift-dragging extends the range, and dragging selected rows
// moves their channels to where the button is released. While dragging, holding the
// pointer just beside the list scrolls it by whole columns.
class CDragDropListBox : public QListView {
    Q_OBJECT
public:
    CDragDropListBox(int controlId, QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    void setOwner(DragDropListOwner* owner) { owner_ = owner; }
    void setDragDropMessages(const DragDropMessages& messages) { messages_ = messages; }
    int controlId() const { return controlId_; }

    int rowCount() const;
    // Selected rows, ascending.
    std::vector<int> selectedRows() const;
    // Replaces the selection.
    void selectRows(const std::vector<int>& rows);
    // The row a command on "the selected channel" means: the current row when it is
    // selected, else the first selected row; -1 when none is selected.
    int chosenRow() const;
    bool isRowSelected(int row) const;
    // The row at the top of the leftmost column shown.
    int topRow() const;
    void setTopRow(int row);
    int rowsPerColumn() const;

    // How far the pointer must move before a press on a selected row starts a drag,
    // and how far beside the list the scroll strips reach.
    static constexpr int kDragThreshold = 3;
    static constexpr int kScrollStrip = 10;
    static constexpr int kScrollRepeatDistance = 8;

signals:
    // The selection changed by the keyboard (the mouse steps tell the owner directly).
    void selectionChangedByKeyboard();
    void rowDoubleClicked(int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int rowAt(QPoint point) const;
    // The row a release at this point drops on: the row under it, or the row after the
    // nearest one when the point lies beside the rows (the row count below the last).
    int dropRowAt(QPoint point) const;
    QRect screenRect() const;
    void clickSelect(int row);
    void rangeSelect(int row);
    void releaseSelect(int row);
    void autoScroll(QPoint screenPoint);
    void post(int type, QPoint point);
    void setAnchor(int row);
    void selectRange(int from, int to);

    const int controlId_;
    DragDropListOwner* owner_ = nullptr;
    DragDropMessages messages_;

    bool tracking_ = false;
    bool dragMode_ = false;
    bool dragStarted_ = false;
    QPoint pressPoint_;
    int pressRow_ = -1;
    int lastRow_ = -1;
    Qt::KeyboardModifiers pressKeys_;
    QPoint lastScrollPoint_;
    int anchor_ = 0;
    int insertionMark_ = -1;
    // Selection steps made here are not the keyboard's.
    bool selectingByMouse_ = false;
};

} // namespace updatetool
