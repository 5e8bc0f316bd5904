#pragma once

#include <QDialog>

class QComboBox;
class QLineEdit;

namespace updatetool {

class ChannelEditCommands;
class DialogService;

// Adds a transponder to the chosen satellite (insert) or changes the chosen one (edit):
// frequency and symbol rate with polarity for a satellite, frequency in kHz, channel
// number and priority for the terrestrial one. Range, duplicate and capacity checks
// keep the dialog open with what was typed.
class CTransponderDlg : public QDialog {
    Q_OBJECT
public:
    enum Mode { kInsert = 1, kEdit = 2 };
    enum ControlId : int {
        kPolarity = 1078,
        kSatelliteName = 1070,
        kFrequency = 1046,
        kFrequencyUnit = 1091,
        kSymbolRate = 1050,
        kSymbolRateUnit = 1092,
        kPriority = 1093,
        kFirstLabel = 1089,
        kSecondLabel = 1090,
    };
    static constexpr int kTemplateId = 139;

    // `satelliteRow`: the editor's satellite list row (0 is "All"); `transponder`: the
    // transponder being edited.
    CTransponderDlg(ChannelEditCommands& commands, DialogService& dialogs, int mode, int satelliteRow, int transponder,
                    QWidget* parent = nullptr);

    // False when there is nothing to work on (no satellite chosen for an insert).
    bool usable() const { return satellite_ >= 0; }
    // The record inserted or edited after OK.
    int transponder() const { return transponder_; }
    bool terrestrial() const;

private:
    void onOk();
    void refuse(const char* text);

    ChannelEditCommands& commands_;
    DialogService& dialogs_;
    const int mode_;
    int satellite_ = -1;
    int transponder_ = -1;
    QComboBox* polarity_ = nullptr;
    QComboBox* priority_ = nullptr;
    QLineEdit* frequency_ = nullptr;
    QLineEdit* symbolRate_ = nullptr;
    // What the two number fields showed when the dialog opened.
    QString shownFrequency_;
    QString shownSecond_;
};

} // namespace updatetool
