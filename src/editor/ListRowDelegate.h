#pragma once

#include <QColor>
#include <QStyledItemDelegate>

namespace updatetool {

// Draws the editor's list rows: the selection colours of the palette, scrambled
// channels on light yellow, the text at the row's top left, clipped. It remembers the
// widest row drawn so far and offers that (plus a thirty-second) as every row's width,
// which gives a single-column list its horizontal scroll range and a multi-column list
// its column width. Lists that share one delegate share that width.
class ListRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    // `minimumWidth`: the row width before any row was drawn.
    ListRowDelegate(const QPalette& palette, int minimumWidth, QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    int rowWidth() const;
    static constexpr QRgb kScrambledBackground = qRgb(255, 255, 192);

signals:
    // A wider row was drawn: the lists lay their rows out again.
    void rowWidthChanged();

private:
    QColor window_;
    QColor highlight_;
    QColor windowText_;
    QColor highlightText_;
    int minimumWidth_;
    mutable int widest_ = 0;
};

} // namespace updatetool
