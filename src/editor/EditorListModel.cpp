#include "EditorListModel.h"

namespace updatetool {

EditorListModel::EditorListModel(RowText text, RowFlag scrambled, QObject* parent)
    : QAbstractListModel(parent), text_(std::move(text)), scrambled_(std::move(scrambled))
{
}

void EditorListModel::setItems(std::vector<std::uint16_t> items, std::vector<int> numbers)
{
    beginResetModel();
    items_ = std::move(items);
    numbers_ = numbers.size() == items_.size() ? std::move(numbers) : std::vector<int>{};
    endResetModel();
}

int EditorListModel::number(int row) const
{
    return numbers_.empty() ? row + 1 : numbers_[static_cast<std::size_t>(row)];
}

void EditorListModel::insertItem(int row, std::uint16_t item)
{
    row = std::clamp(row, 0, rowCount());
    beginInsertRows(QModelIndex(), row, row);
    if (!numbers_.empty())
        numbers_.insert(numbers_.begin() + row, row > 0 ? numbers_[static_cast<std::size_t>(row - 1)] + 1 : 1);
    items_.insert(items_.begin() + row, item);
    endInsertRows();
}

void EditorListModel::shiftItemsFrom(std::uint16_t first, int delta)
{
    for (std::uint16_t& item : items_)
        if (item >= first)
            item = static_cast<std::uint16_t>(item + delta);
    if (!items_.empty())
        emit dataChanged(index(0), index(rowCount() - 1));
}

void EditorListModel::rowsChanged(int first, int last)
{
    if (items_.empty())
        return;
    first = std::clamp(first, 0, rowCount() - 1);
    last = std::clamp(last, first, rowCount() - 1);
    emit dataChanged(index(first), index(last));
}

int EditorListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

QVariant EditorListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const std::uint16_t item = items_[static_cast<std::size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return text_(number(index.row()), item);
    case ItemDataRole:
        return item;
    case ScrambledRole:
        return scrambled_ ? scrambled_(item) : false;
    default:
        return {};
    }
}

} // namespace updatetool
