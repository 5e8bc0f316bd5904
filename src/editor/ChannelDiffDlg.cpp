#include "ChannelDiffDlg.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace updatetool {

CChannelDiffDlg::CChannelDiffDlg(const QString& otherFile, std::vector<ChannelDiffLine> lines, Activate activate,
                                 QWidget* parent)
    : QDialog(parent), lines_(std::move(lines)), activate_(std::move(activate))
{
    setWindowTitle(QStringLiteral("Compare With %1").arg(QFileInfo(otherFile).fileName()));
    auto* layout = new QVBoxLayout(this);
    summary_ = new QLabel(lines_.empty()
                              ? QStringLiteral("No differences: the lists are those of %1.").arg(otherFile)
                              : QStringLiteral("%1 differences from %2 to the lists as they are now. Double-click a "
                                               "channel's line to select it.")
                                    .arg(lines_.size())
                                    .arg(otherFile),
                          this);
    summary_->setWordWrap(true);
    layout->addWidget(summary_);
    list_ = new QListWidget(this);
    list_->setAccessibleName(QStringLiteral("Differences"));
    for (const ChannelDiffLine& line : lines_)
        list_->addItem(QString::fromLatin1(line.text.c_str()));
    connect(list_, &QListWidget::itemActivated, this, [this](QListWidgetItem* item) {
        const int row = list_->row(item);
        if (row >= 0 && row < static_cast<int>(lines_.size()) && activate_)
            activate_(lines_[static_cast<std::size_t>(row)]);
    });
    layout->addWidget(list_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
    resize(620, 420);
}

} // namespace updatetool
