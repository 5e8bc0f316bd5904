#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace updatetool {

class ChannelEditCommands;
class DialogService;

// A satellite's name and reception settings: LNB type and local oscillators, power,
// 22 kHz tone, 12 V and DiSEqC ports. The name is saved with the file; the other
// settings live in memory only, as the channel block has no place for them.
class CSatelliteDlg : public QDialog {
    Q_OBJECT
public:
    enum ControlId : int {
        kName = 1063,
        kSatelliteSelect = 1064,
        kLnbType = 1066,
        kHighLo = 1065,
        kLowLo = 1051,
        kPower = 1069,
        kTone22k = 1067,
        kLnb12V = 1068,
        kCommitted = 1070,
        kUncommitted = 1071,
        kRepeat = 1072,
    };
    static constexpr int kTemplateId = 137;

    // `satelliteRow`: the editor's satellite list row; rows from 1 are satellites.
    CSatelliteDlg(ChannelEditCommands& commands, DialogService& dialogs, int satelliteRow, QWidget* parent = nullptr);

    // False for the "All" row: there is no satellite to edit.
    bool usable() const { return satellite_ >= 0; }

private:
    void onLnbTypeChosen(int index);
    void onOk();
    static int chosenIndex(const QComboBox* combo);

    ChannelEditCommands& commands_;
    DialogService& dialogs_;
    int satellite_ = -1;
    QLineEdit* name_ = nullptr;
    QLineEdit* highLo_ = nullptr;
    QLineEdit* lowLo_ = nullptr;
    QComboBox* lnbType_ = nullptr;
    QComboBox* power_ = nullptr;
    QComboBox* tone22k_ = nullptr;
    QComboBox* lnb12V_ = nullptr;
    QComboBox* committed_ = nullptr;
    QComboBox* uncommitted_ = nullptr;
    QComboBox* repeat_ = nullptr;
};

} // namespace updatetool
