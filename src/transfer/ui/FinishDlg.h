#pragma once

#include <memory>

#include <QDialog>

#include "TransferJob.h"

namespace Ui {
class FinishDlg;
}

namespace updatetool {

// The finish dialog (template 148): confirms a successful send or erase.
class CFinishDlg : public QDialog {
    Q_OBJECT
public:
    enum ControlId { kIdMessage = 1109, kIdOk = 1 };

    explicit CFinishDlg(TransferJob& job, QWidget* parent = nullptr);
    ~CFinishDlg() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::FinishDlg> ui_;
    TransferJob& job_;
    bool opened_ = false;
};

} // namespace updatetool
