#pragma once

#include <array>
#include <functional>
#include <memory>
#include <vector>

#include <QDialog>
#include <QHash>
#include <QRect>

#include "ChannelEditCommands.h"
#include "FileLock.h"
#include "DragDropListBox.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QPushButton;

namespace updatetool {

class ChannelDatabase;
class DialogService;
class EditorListModel;
class ListRowDelegate;

// The channel editor: the satellites, their transponders and the TV and radio
// channels of the one channel database in four linked lists, an information panel,
// popup menus with the delete commands, Save and Quit. It loads the database from its
// file as it opens and writes it back on Save.
class CChannelEditorDlg : public QDialog, private DragDropListOwner {
    Q_OBJECT
public:
    // Control ids of the template.
    enum ControlId : int {
        kOutText = 1021,
        kSave = 1,
        kQuit = 2,
        kFactoryDefaultLabel = 1023,
        kHelp = 1024,
        kFocusMarker = 1038,
        kSatelliteLabel = 1042,
        kTransponderLabel = 1043,
        kTvLabel = 1044,
        kRadioLabel = 1045,
        kSatelliteList = 1013,
        kTransponderList = 1032,
        kTvList = 1036,
        kRadioList = 1037,
        kFirstFavorite = 1080,
        kFavLabel = 1041,
        kInfoLabel = 1039,
        kInfoPanel = 1073,
    };
    // Popup menu commands.
    enum Command : int {
        kCmdInsertChannel = 32771,
        kCmdEditChannel = 32772,
        kCmdDeleteSelect = 32773,
        kCmdDeleteAll = 32774,
        kCmdEditSatellite = 32777,
        kCmdNewTransponder = 32778,
        kCmdEditTransponder = 32779,
        kCmdDeleteOne = 32780,
        // Ours, after the specified entries of the TV and radio menus.
        kCmdSortByName = 33001,
        kCmdSortByServiceId = 33002,
        kCmdSelectDuplicates = 33003,
        kCmdApplyOrder = 33004,
        kCmdExportCsv = 33005,
        kCmdCompareWith = 33006,
        // Ours, after the specified entries of the transponder menu.
        kCmdImportTransponders = 33101,
        kCmdExportTransponders = 33102,
    };
    enum class InfoKind { Empty, Satellite, Transponder, Tv, Radio };

    static constexpr int kTemplateId = 134;
    static constexpr char kTitle[] = "VornLoader Channel Editor";
    static constexpr char kFactoryTitle[] = "VornLoader Factory Default Channel Editor - Can't Edit Satellite info";

    CChannelEditorDlg(ChannelDatabase& database, DialogService& dialogs, QWidget* parent = nullptr);
    ~CChannelEditorDlg() override;

    // The lists' behaviour, by the names the rest of the editor knows them by.
    void refreshLists(int mode, int arg);
    void fillChannelLists(int mode, int arg, int which);
    void showInfo(InfoKind kind, int index);
    void updateCountLabel(int labelId);
    void runCommand(int command);

    // The header label id of the list that last had the focus.
    int activeList() const { return activeList_; }
    ChannelEditCommands& commands() { return commands_; }

    void reject() override;
    // A file another program is editing, or one that is no whole channel image, is
    // refused as the window opens: it then closes at once instead of running.
    int exec() override;
    bool loadRefused() const { return loadRefused_; }

    // How the edit dialogs are run: modally, unless a test answers for the user.
    using ModalRunner = std::function<int(QDialog&)>;
    void setModalRunner(ModalRunner runner) { modalRunner_ = std::move(runner); }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showChannelInfo(int listId, int row) override;
    std::vector<int> moveSelectedRows(int listId, const std::vector<int>& selectedRows, int target) override;
    void deleteSelectedChannels(int listId) override;
    std::vector<int> shiftSelectedRows(int listId, const std::vector<int>& selectedRows, RowShift shift) override;

    void createControls();
    void createModels();
    void open();
    void connectLists();
    void repaintSatelliteAndTransponderLists();
    void setLiveText(int id, const QString& text);
    void fitCountLabel(QLabel* label);
    void clearStatus();
    // The panel for what the lists now show as chosen.
    void showCurrentInfo();

    void onSatelliteSelected(int row);
    void onTransponderSelected();
    void onChannelSelected(bool radio);
    void onActiveListChanged(int labelId, QWidget* list);
    void enterOrSave(QWidget* focus);
    void save();
    void deleteAll();
    void deleteOneTransponder();
    void openHelp();
    void editChannel(bool insert);
    // Edits the channel of that row, or inserts one (row -1), for that list.
    void editChannelAt(CDragDropListBox* list, int row);
    void editSatellite();
    void editTransponder(bool insert);
    void outText();
    void sortRows(ChannelDatabase::SortKey key);
    void selectDuplicates();
    void applyOrderFrom();
    void exportCsv();
    void importTransponders();
    void exportTransponders();
    void compareWith();
    // Shows the channel at this channel-order position, every satellite listed.
    void selectChannelAt(bool radio, int position);
    // After a step that may have changed any table: the lists again for the same choice.
    void showEverythingAgain();
    void undoOrRedo(bool undo);
    void showAllRowsChanged(CDragDropListBox* list, const std::vector<int>& selected);
    int runModal(QDialog& dialog);

    std::unique_ptr<QMenu> popupMenuFor(int labelId);
    CDragDropListBox* activeChannelList() const;
    EditorListModel* modelOf(const CDragDropListBox* list) const;
    int satelliteRow() const;
    int transponderRow() const;
    static int selectedRow(const QListView* list);
    void selectRow(QListView* list, int row);

    ChannelDatabase& database_;
    DialogService& dialogs_;
    ChannelEditCommands commands_;

    QListView* satelliteList_ = nullptr;
    QListView* transponderList_ = nullptr;
    CDragDropListBox* tvList_ = nullptr;
    CDragDropListBox* radioList_ = nullptr;
    QLabel* infoPanel_ = nullptr;
    QLineEdit* filter_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* focusMarker_ = nullptr;
    QPushButton* saveButton_ = nullptr;
    std::array<QCheckBox*, kFavoriteGroupCount> favoriteChecks_{};

    EditorListModel* satelliteModel_ = nullptr;
    EditorListModel* transponderModel_ = nullptr;
    EditorListModel* tvModel_ = nullptr;
    EditorListModel* radioModel_ = nullptr;
    ListRowDelegate* sideDelegate_ = nullptr;

    std::array<std::uint32_t, kFavoriteGroupCount> favoriteFlags_{};
    int activeList_ = kSatelliteLabel;
    int lastMode_ = 0;
    int lastArg_ = 0;
    // Set while the editor changes a list's rows or selection itself, so that the
    // change is not taken for the user's.
    bool updatingLists_ = false;
    QDialog* help_ = nullptr;
    QDialog* compare_ = nullptr;
    // Where the template puts each control, for labels that grow with their text.
    QHash<int, QRect> templateGeometry_;
    ModalRunner modalRunner_;
    // Held from the load until the window closes, so no other program saves the file meanwhile.
    channelfile::FileLock fileLock_;
    bool loadRefused_ = false;
};

} // namespace updatetool
