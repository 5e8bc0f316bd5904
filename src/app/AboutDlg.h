#pragma once

#include <memory>

#include <QDialog>

namespace Ui {
class AboutDlg;
}

namespace updatetool {

// The About box (template 100): icon, name, version and year, and OK.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
    ~CAboutDlg() override;

private:
    std::unique_ptr<Ui::AboutDlg> ui_;
};

} // namespace updatetool
