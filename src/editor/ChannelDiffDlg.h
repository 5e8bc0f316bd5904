#pragma once

#include <QDialog>

#include <functional>
#include <vector>

#include "ChannelImageDiff.h"

class QLabel;
class QListWidget;

namespace updatetool {

// The lines of a compare, beside the editor: a double click on a channel's line asks
// the editor to show that channel in its lists.
class CChannelDiffDlg : public QDialog {
    Q_OBJECT
public:
    using Activate = std::function<void(const ChannelDiffLine&)>;
    CChannelDiffDlg(const QString& otherFile, std::vector<ChannelDiffLine> lines, Activate activate,
                    QWidget* parent = nullptr);

    QListWidget* lineList() const { return list_; }
    QLabel* summary() const { return summary_; }
    const std::vector<ChannelDiffLine>& lines() const { return lines_; }

private:
    std::vector<ChannelDiffLine> lines_;
    Activate activate_;
    QListWidget* list_ = nullptr;
    QLabel* summary_ = nullptr;
};

} // namespace updatetool
