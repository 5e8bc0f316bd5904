#include "AboutDlg.h"

#include <QIcon>

#include "DialogControls.h"
#include "ui_AboutDlg.h"

namespace updatetool {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent)
    , ui_(std::make_unique<Ui::AboutDlg>())
{
    ui_->setupUi(this);
    const QIcon icon(QStringLiteral(":/icons/icon128.png"));
    setWindowIcon(icon);
    ui_->iconLabel->setPixmap(icon.pixmap(32, 32));
    applyAccessibleNames(this);
}

CAboutDlg::~CAboutDlg() = default;

} // namespace updatetool
