#pragma once

#include <array>

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace updatetool {

class ChannelEditCommands;
class DialogService;

// Adds a TV or radio channel (insert) or changes one (edit): its transponder among the
// satellite's, name, PIDs, Ch. ID, flags and favourite groups.
class CChannelDlg : public QDialog {
    Q_OBJECT
public:
    enum Mode { kInsert = 1, kEdit = 2 };
    enum ControlId : int {
        kName = 1074,
        kSatelliteName = 1079,
        kTransponder = 1075,
        kScrambled = 1047,
        kLocked = 1048,
        kInfoMark = 1049,
        kVideoPid = 1076,
        kServiceId = 1077,
        kAudioPid = 1052,
        kPcrPid = 1053,
        kFirstFavorite = 1054,
    };
    static constexpr int kTemplateId = 135;

    struct Opening {
        int mode = kEdit;
        bool radio = false;
        int satelliteRow = 0;   // the editor's satellite list row (0 is "All")
        int transponder = -1;   // the editor's chosen transponder, or -1
        int position = -1;      // edit: the channel's channel-order position
    };
    CChannelDlg(ChannelEditCommands& commands, DialogService& dialogs, const Opening& opening, QWidget* parent = nullptr);

    // After OK: the channel's channel-order position.
    int position() const { return position_; }

private:
    void onOk();
    std::uint16_t lowBits(std::uint32_t value) const { return static_cast<std::uint16_t>(value & 0xFFFF); }

    ChannelEditCommands& commands_;
    DialogService& dialogs_;
    const Opening opening_;
    int satellite_ = 0;
    int position_ = -1;
    // Edit: the transponder entry and Ch. ID the dialog opened with.
    int initialEntry_ = -1;
    std::uint16_t initialServiceId_ = 0;
    QLineEdit* name_ = nullptr;
    QComboBox* transponder_ = nullptr;
    QLineEdit* videoPid_ = nullptr;
    QLineEdit* serviceId_ = nullptr;
    QLineEdit* audioPid_ = nullptr;
    QLineEdit* pcrPid_ = nullptr;
    QCheckBox* scrambled_ = nullptr;
    QCheckBox* locked_ = nullptr;
    QCheckBox* infoMark_ = nullptr;
    std::array<QCheckBox*, 7> favorites_{};
};

} // namespace updatetool
