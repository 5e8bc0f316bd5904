#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include <QAbstractListModel>

namespace updatetool {

// One of the channel editor's lists as a view of the database: each row holds only its
// item data (a satellite row, a transponder index or a channel-order position), and
// the row texts are made from the database when a view asks for them.
class EditorListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        ItemDataRole = Qt::UserRole + 1,
        ScrambledRole,
    };
    // `number`: the row's running number, 1 for the first row unless the rows were
    // given numbers of their own (a filtered list keeps the numbers of the whole one).
    using RowText = std::function<QString(int number, std::uint16_t item)>;
    using RowFlag = std::function<bool(std::uint16_t item)>;

    explicit EditorListModel(RowText text, RowFlag scrambled = {}, QObject* parent = nullptr);

    void setItems(std::vector<std::uint16_t> items, std::vector<int> numbers = {});
    void clear() { setItems({}); }
    const std::vector<std::uint16_t>& items() const { return items_; }
    std::uint16_t itemData(int row) const { return items_.at(static_cast<std::size_t>(row)); }
    // A new row; it is numbered one after the row before it.
    void insertItem(int row, std::uint16_t item);
    int number(int row) const;
    // Adds `delta` to every item from `first` up: rows whose channel-order positions
    // moved when a channel was put in before them.
    void shiftItemsFrom(std::uint16_t first, int delta);
    // The database changed what rows first..last show.
    void rowsChanged(int first, int last);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    RowText text_;
    RowFlag scrambled_;
    std::vector<std::uint16_t> items_;
    std::vector<int> numbers_; // empty: rows are numbered 1, 2, 3...
};

} // namespace updatetool
