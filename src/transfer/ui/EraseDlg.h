#pragma once

#include <memory>

#include "ProgressDlg.h"

namespace Ui {
class EraseDlg;
}

namespace updatetool {

// The erase window (template 152): asks the user to reset the box, then says
// the erase is under way once the command is out, or shows the failure.
class CEraseDlg : public CProgressDlg {
    Q_OBJECT
public:
    enum ControlId { kIdNotice = 1096 };

    explicit CEraseDlg(TransferJob& job, QWidget* parent = nullptr);
    ~CEraseDlg() override;

protected:
    void showResultText(const QString& text) override;
    void updateDisplay(bool running) override;

private:
    std::unique_ptr<Ui::EraseDlg> ui_;
};

} // namespace updatetool
