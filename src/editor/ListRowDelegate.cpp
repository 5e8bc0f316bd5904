#include "ListRowDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include "EditorListModel.h"

namespace updatetool {

ListRowDelegate::ListRowDelegate(const QPalette& palette, int minimumWidth, QObject* parent)
    : QStyledItemDelegate(parent)
    // Read once, like the lists' colours: a row never changes colour while it is shown.
    , window_(palette.color(QPalette::Base))
    , highlight_(palette.color(QPalette::Highlight))
    , windowText_(palette.color(QPalette::Text))
    , highlightText_(palette.color(QPalette::HighlightedText))
    , minimumWidth_(minimumWidth)
{
}

int ListRowDelegate::rowWidth() const
{
    return std::max(minimumWidth_, widest_ + widest_ / 32);
}

void ListRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const bool selected = option.state & QStyle::State_Selected;
    QColor background = window_;
    if (selected)
        background = highlight_;
    else if (index.data(EditorListModel::ScrambledRole).toBool())
        background = QColor(kScrambledBackground);
    const QString text = index.data(Qt::DisplayRole).toString();

    painter->save();
    painter->fillRect(option.rect, background);
    painter->setClipRect(option.rect);
    painter->setFont(option.font);
    painter->setPen(selected ? highlightText_ : windowText_);
    painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs, text);
    painter->restore();

    const int scrollBarWidth = QApplication::style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int width = option.fontMetrics.horizontalAdvance(text) + scrollBarWidth;
    if (width > widest_) {
        widest_ = width;
        // Laid out again after this paint, not during it.
        QMetaObject::invokeMethod(const_cast<ListRowDelegate*>(this), &ListRowDelegate::rowWidthChanged,
                                  Qt::QueuedConnection);
    }

    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.rect = option.rect;
        focus.state = option.state;
        focus.backgroundColor = background;
        QApplication::style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter);
    }
}

QSize ListRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const
{
    // Fixed-height rows: the text height of the list's font.
    return {rowWidth(), option.fontMetrics.height()};
}

} // namespace updatetool
