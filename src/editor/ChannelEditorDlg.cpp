#include "ChannelEditorDlg.h"

#include <algorithm>
#include <numeric>
#include <utility>

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "ChannelCsv.h"
#include "ChannelDatabase.h"
#include "ChannelDiffDlg.h"
#include "ChannelDlg.h"
#include "ChannelImageDiff.h"
#include "DialogControls.h"
#include "DialogService.h"
#include "DialogUnits.h"
#include "EditorListModel.h"
#include "EditorLists.h"
#include "EditorTexts.h"
#include "ListRowDelegate.h"
#include "ReferenceOrder.h"
#include "SatelliteDlg.h"
#include "StringTable.h"
#include "TextListing.h"
#include "TransponderDlg.h"
#include "TransponderImportDlg.h"
#include "TransponderTable.h"

namespace updatetool {

namespace {

constexpr char kNoChannel[] = "No Channel";
constexpr char kDiscardQuestion[] = "Discard Modified Data?";
constexpr char kStreamOverflow[] = "TS Index is overflow";
constexpr char kAllRow[] = "All";
constexpr char kFocusMarkerPath[] = ":/bitmaps/bitmap138.xpm";
constexpr char kHelpPath[] = ":/help/editor.html";
constexpr char kTextFilter[] = "Text File(*.txt)|*.txt|All File(*.*)|*.*||";
constexpr char kCouldNotOpen[] = "Could not open \"%1\"";
constexpr int kFocusMarkerSize = 10;
constexpr int kFocusMarkerGap = 9;

enum class Kind { Button, DefaultButton, Label, SunkenLabel, Bitmap, List, ChannelList, Check, Panel };
enum : unsigned { kHidden = 1, kDisabled = 2 };

struct ControlTemplate {
    int id;
    Kind kind;
    int x, y, width, height; // dialog units
    const char* text;
    unsigned style = 0;
};

// The editor's template (dialog 134, 443 x 359 units), in tab order.
constexpr ControlTemplate kControls[] = {
    {CChannelEditorDlg::kOutText, Kind::Button, 7, 7, 38, 14, "Out Text", kHidden},
    {CChannelEditorDlg::kSave, Kind::DefaultButton, 92, 7, 31, 14, "Save"},
    {CChannelEditorDlg::kQuit, Kind::Button, 136, 7, 32, 14, "Quit"},
    {CChannelEditorDlg::kFactoryDefaultLabel, Kind::SunkenLabel, 174, 7, 79, 14, "Factory Default Channel"},
    {CChannelEditorDlg::kHelp, Kind::Button, 422, 7, 14, 14, "?"},
    {CChannelEditorDlg::kFocusMarker, Kind::Bitmap, 10, 26, 7, 6, ""},
    {CChannelEditorDlg::kSatelliteLabel, Kind::Label, 17, 24, 57, 8, "Satellite"},
    {CChannelEditorDlg::kTransponderLabel, Kind::Label, 101, 24, 62, 8, "Transponder"},
    {CChannelEditorDlg::kTvLabel, Kind::Label, 180, 24, 121, 8, "TV Channels"},
    {CChannelEditorDlg::kRadioLabel, Kind::Label, 311, 24, 123, 8, "Radio Channels"},
    {CChannelEditorDlg::kSatelliteList, Kind::List, 7, 33, 82, 210, ""},
    {CChannelEditorDlg::kTransponderList, Kind::List, 91, 33, 77, 210, ""},
    {CChannelEditorDlg::kTvList, Kind::ChannelList, 169, 33, 132, 312, ""},
    {CChannelEditorDlg::kRadioList, Kind::ChannelList, 306, 33, 130, 312, ""},
    {1080, Kind::Check, 7, 230, 162, 9, "favorite1", kHidden | kDisabled},
    {1081, Kind::Check, 7, 241, 162, 9, "favorite2", kHidden | kDisabled},
    {1082, Kind::Check, 7, 252, 162, 9, "favorite3", kHidden | kDisabled},
    {1083, Kind::Check, 7, 265, 162, 9, "favorite4", kHidden | kDisabled},
    {1084, Kind::Check, 7, 274, 162, 9, "favorite5", kHidden | kDisabled},
    {1085, Kind::Check, 7, 285, 162, 9, "favorite6", kHidden | kDisabled},
    {1086, Kind::Check, 7, 296, 162, 9, "favorite7", kHidden | kDisabled},
    {CChannelEditorDlg::kFavLabel, Kind::Label, 68, 246, 44, 8, "FAV", kHidden},
    {CChannelEditorDlg::kInfoLabel, Kind::Label, 59, 254, 61, 20, "Info"},
    {CChannelEditorDlg::kInfoPanel, Kind::Panel, 7, 283, 161, 60, ""},
};
constexpr int kWidthUnits = 443;
constexpr int kFilterX = 258;
constexpr int kFilterWidth = 158;
constexpr int kHeightUnits = 359;

struct MenuItem {
    int command;
    const char* text;
};
struct MenuTemplate {
    int labelId;
    const char* title;
    std::vector<MenuItem> items;
};

// Menus 144 (satellite), 145 (transponder) and 146 (channels), with the title row each gets.
const MenuTemplate& menuTemplate(int labelId)
{
    static const MenuTemplate kMenus[] = {
        {CChannelEditorDlg::kSatelliteLabel, "[ Satellite ]", {{CChannelEditorDlg::kCmdEditSatellite, "Edit"}}},
        {CChannelEditorDlg::kTransponderLabel, "[ Transponder ]",
         {{CChannelEditorDlg::kCmdNewTransponder, "New"},
          {CChannelEditorDlg::kCmdEditTransponder, "Edit"},
          {CChannelEditorDlg::kCmdDeleteOne, "Delete One"}}},
        {CChannelEditorDlg::kTvLabel, "[ TV Ch. ]",
         {{CChannelEditorDlg::kCmdInsertChannel, "New"},
          {CChannelEditorDlg::kCmdEditChannel, "Edit"},
          {CChannelEditorDlg::kCmdDeleteSelect, "Delete Select"},
          {CChannelEditorDlg::kCmdDeleteAll, "Delete All"}}},
        {CChannelEditorDlg::kRadioLabel, "[ RADIO Ch. ]",
         {{CChannelEditorDlg::kCmdInsertChannel, "New"},
          {CChannelEditorDlg::kCmdEditChannel, "Edit"},
          {CChannelEditorDlg::kCmdDeleteSelect, "Delete Select"},
          {CChannelEditorDlg::kCmdDeleteAll, "Delete All"}}},
    };
    for (const MenuTemplate& menu : kMenus)
        if (menu.labelId == labelId)
            return menu;
    return kMenus[0];
}

// Our own entries of the TV and radio menus, after a separator below the specified ones.
constexpr MenuItem kChannelListExtras[] = {
    {CChannelEditorDlg::kCmdSortByName, "Sort by Name"},
    {CChannelEditorDlg::kCmdSortByServiceId, "Sort by Ch. ID"},
    {CChannelEditorDlg::kCmdSelectDuplicates, "Select Duplicates"},
    {CChannelEditorDlg::kCmdApplyOrder, "Apply Order From..."},
    {CChannelEditorDlg::kCmdExportCsv, "Export CSV..."},
    {CChannelEditorDlg::kCmdCompareWith, "Compare With..."},
};
// And of the transponder menu.
constexpr MenuItem kTransponderListExtras[] = {
    {CChannelEditorDlg::kCmdImportTransponders, "Import Transponders..."},
    {CChannelEditorDlg::kCmdExportTransponders, "Export Transponders..."},
};
// Where Debian's dtv-scan-tables puts the satellite scan files.
constexpr char kScanTableFolder[] = "/usr/share/dvb/dvb-s";
constexpr char kTableFilter[] = "Transponder Table(*)|*|satellites.xml(*.xml)|*.xml|";
constexpr char kImageFilter[] = "Channel Image(*.img)|*.img|All File(*.*)|*.*|";
constexpr char kReferenceFilter[] = "Channel Image or CSV(*.img;*.csv)|*.img;*.csv|All File(*.*)|*.*|";
constexpr char kCsvFilter[] = "CSV File(*.csv)|*.csv|All File(*.*)|*.*|";

// The panel's text keeps the box's '\r' line breaks; a label breaks lines at '\n'.
QString panelText(const std::string& text)
{
    QString shown = fromBoxText(text);
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

// Return, or Enter on the keypad (which comes with the keypad modifier): both act by
// the focus, and neither may reach the dialog's default button, which would save.
bool isEnterKey(const QKeyEvent* key)
{
    return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)
        && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

QString saveFailureReason(SaveError error)
{
    switch (error) {
    case SaveError::CantOpen:
        return QStringLiteral("The file cannot be opened for writing.");
    case SaveError::TooShort:
        return QStringLiteral("The file is shorter than a channel image.");
    case SaveError::BackupFailed:
        return QStringLiteral("The copy of the file as it was (.bak) could not be made, so nothing was written.");
    case SaveError::TooLarge:
        return QStringLiteral("The file is far larger than a channel image, so it was not rewritten.");
    case SaveError::WriteFailed:
        return QStringLiteral("The new content could not be written (is the disk full?). The file was left as it was.");
    case SaveError::None:
        break;
    }
    return QStringLiteral("The file could not be written.");
}

} // namespace

CChannelEditorDlg::CChannelEditorDlg(ChannelDatabase& database, DialogService& dialogs, QWidget* parent)
    : QDialog(parent), database_(database), dialogs_(dialogs), commands_(database)
{
    setProperty(kTemplateIdProperty, kTemplateId);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    createControls();
    createModels();
    connectLists();
    applyAccessibleNames(this);
    open();
}

CChannelEditorDlg::~CChannelEditorDlg()
{
    // The database outlives the window; its next save is no longer this window's.
    if (database_.saveOptions.lock == &fileLock_)
        database_.saveOptions.lock = nullptr;
}

int CChannelEditorDlg::exec()
{
    if (loadRefused_)
        return QDialog::Rejected;
    return QDialog::exec();
}

void CChannelEditorDlg::createControls()
{
    const DialogUnits units(font());
    setFixedSize(units.x(kWidthUnits), units.y(kHeightUnits));
    for (const ControlTemplate& control : kControls) {
        const QString text = QString::fromLatin1(control.text);
        QWidget* widget = nullptr;
        switch (control.kind) {
        case Kind::Button:
        case Kind::DefaultButton: {
            auto* button = new QPushButton(text, this);
            button->setAutoDefault(false);
            button->setDefault(control.kind == Kind::DefaultButton);
            widget = button;
            break;
        }
        case Kind::Label:
        case Kind::SunkenLabel:
        case Kind::Panel:
        case Kind::Bitmap: {
            auto* label = new QLabel(text, this);
            label->setTextFormat(Qt::PlainText);
            if (control.kind == Kind::Label) {
                label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
            } else if (control.kind == Kind::SunkenLabel) {
                label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
            } else if (control.kind == Kind::Panel) {
                label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                label->setWordWrap(false);
            }
            widget = label;
            break;
        }
        case Kind::List:
            widget = new QListView(this);
            break;
        case Kind::ChannelList:
            widget = new CDragDropListBox(control.id, this);
            break;
        case Kind::Check: {
            auto* check = new QCheckBox(text, this);
            check->setLayoutDirection(Qt::RightToLeft); // the text stands left of the box
            widget = check;
            break;
        }
        }
        widget->setProperty(kControlIdProperty, control.id);
        widget->setGeometry(units.rect(control.x, control.y, control.width, control.height));
        templateGeometry_.insert(control.id, widget->geometry());
        widget->setVisible(!(control.style & kHidden));
        widget->setEnabled(!(control.style & kDisabled));
    }

    // Not in the template: narrows both channel lists to names holding the text.
    filter_ = new QLineEdit(this);
    filter_->setGeometry(units.rect(kFilterX, 7, kFilterWidth, 14));
    filter_->setPlaceholderText(QStringLiteral("Filter (Ctrl+F)"));
    filter_->setAccessibleName(QStringLiteral("Filter"));
    filter_->setClearButtonEnabled(true);
    filter_->installEventFilter(this);
    connect(filter_, &QLineEdit::textChanged, this, [this] { fillChannelLists(lastMode_, lastArg_, 3); });
    auto* filterKeys = new QShortcut(QKeySequence::Find, this);
    connect(filterKeys, &QShortcut::activated, this, [this] {
        filter_->setFocus(Qt::ShortcutFocusReason);
        filter_->selectAll();
    });

    // Not in the template either: what the last command found, for eyes and screen readers.
    status_ = new QLabel(this);
    status_->setGeometry(units.rect(7, 347, 429, 10));
    status_->setAccessibleName(QStringLiteral("Status"));
    const auto addKeys = [this](QKeySequence keys, auto action) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, action);
    };
    addKeys(QKeySequence::Undo, [this] { undoOrRedo(true); });
    addKeys(QKeySequence(QStringLiteral("Ctrl+Y")), [this] { undoOrRedo(false); });
    addKeys(QKeySequence(QStringLiteral("Ctrl+Shift+Z")), [this] { undoOrRedo(false); });

    satelliteList_ = controlAs<QListView>(this, kSatelliteList);
    transponderList_ = controlAs<QListView>(this, kTransponderList);
    tvList_ = controlAs<CDragDropListBox>(this, kTvList);
    radioList_ = controlAs<CDragDropListBox>(this, kRadioList);
    infoPanel_ = controlAs<QLabel>(this, kInfoPanel);
    focusMarker_ = controlAs<QLabel>(this, kFocusMarker);
    saveButton_ = controlAs<QPushButton>(this, kSave);
    for (int group = 0; group < kFavoriteGroupCount; ++group)
        favoriteChecks_[group] = controlAs<QCheckBox>(this, kFirstFavorite + group);

    focusMarker_->setPixmap(QPixmap(QString::fromLatin1(kFocusMarkerPath)));
    focusMarker_->setAccessibleName(QStringLiteral("Active list marker"));
    // Each list is named by its header; the panel by the label above it.
    controlAs<QLabel>(this, kSatelliteLabel)->setBuddy(satelliteList_);
    controlAs<QLabel>(this, kTransponderLabel)->setBuddy(transponderList_);
    controlAs<QLabel>(this, kTvLabel)->setBuddy(tvList_);
    controlAs<QLabel>(this, kRadioLabel)->setBuddy(radioList_);
    controlAs<QLabel>(this, kInfoLabel)->setBuddy(infoPanel_);
    controlAs<QPushButton>(this, kHelp)->setAccessibleName(QStringLiteral("Help"));
    controlAs<QPushButton>(this, kHelp)->setShortcut(QKeySequence::HelpContents);

    for (QListView* list : {satelliteList_, transponderList_}) {
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        list->setUniformItemSizes(true);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    }
    for (QWidget* list : std::initializer_list<QWidget*>{satelliteList_, transponderList_, tvList_, radioList_}) {
        // The window decides which menu a list gets.
        list->setContextMenuPolicy(Qt::NoContextMenu);
        list->installEventFilter(this);
    }
    tvList_->setOwner(this);
    radioList_->setOwner(this);
    tvList_->setDragDropMessages(registerDragDropMessages());
    radioList_->setDragDropMessages(registerDragDropMessages());

    connect(saveButton_, &QPushButton::clicked, this, &CChannelEditorDlg::save);
    connect(controlAs<QPushButton>(this, kQuit), &QPushButton::clicked, this, &CChannelEditorDlg::reject);
    connect(controlAs<QPushButton>(this, kHelp), &QPushButton::clicked, this, &CChannelEditorDlg::openHelp);
    connect(controlAs<QPushButton>(this, kOutText), &QPushButton::clicked, this, &CChannelEditorDlg::outText);
    // The button stays hidden as the template has it; the keys reach the command.
    auto* outTextKeys = new QShortcut(QKeySequence(QStringLiteral("Ctrl+T")), this);
    connect(outTextKeys, &QShortcut::activated, this, &CChannelEditorDlg::outText);
}

void CChannelEditorDlg::createModels()
{
    const ChannelDatabase& database = database_;
    satelliteModel_ = new EditorListModel(
        [&database](int, std::uint16_t item) {
            if (item == 0)
                return QString::fromLatin1(kAllRow);
            return fromBoxText(storedName(database.satellites[std::min<int>(item - 1, kSatelliteCapacity - 1)].name));
        },
        {}, this);
    transponderModel_ = new EditorListModel(
        [&database](int, std::uint16_t item) {
            return fromBoxText(transponderRowText(database.transponders[std::min<int>(item, kTransponderCapacity - 1)]));
        },
        {}, this);
    const auto channelAt = [&database](std::uint16_t position) -> const ChannelRecord* {
        const std::uint16_t slot = position < kChannelSlots ? database.channelOrder[position] : 0xFFFF;
        return slot < kChannelSlots ? &database.channels[slot] : nullptr;
    };
    const auto channelText = [channelAt](int number, std::uint16_t position) {
        const ChannelRecord* channel = channelAt(position);
        return channel ? fromBoxText(channelRowText(number, channel->name)) : QString();
    };
    const auto scrambled = [channelAt](std::uint16_t position) {
        const ChannelRecord* channel = channelAt(position);
        return channel != nullptr && (channel->flags & channelflag::kScrambled) != 0;
    };
    tvModel_ = new EditorListModel(channelText, scrambled, this);
    radioModel_ = new EditorListModel(channelText, scrambled, this);

    satelliteList_->setModel(satelliteModel_);
    transponderList_->setModel(transponderModel_);
    tvList_->setModel(tvModel_);
    radioList_->setModel(radioModel_);

    // The satellite and transponder lists share one widest-row width; each channel list
    // has its own, starting at ten characters so that its first rows show before they
    // are measured.
    sideDelegate_ = new ListRowDelegate(palette(), 0, this);
    satelliteList_->setItemDelegate(sideDelegate_);
    transponderList_->setItemDelegate(sideDelegate_);
    connect(sideDelegate_, &ListRowDelegate::rowWidthChanged, this, [this] {
        satelliteList_->doItemsLayout();
        transponderList_->doItemsLayout();
    });
    for (CDragDropListBox* list : {tvList_, radioList_}) {
        auto* delegate = new ListRowDelegate(palette(), fontMetrics().averageCharWidth() * 10, list);
        list->setItemDelegate(delegate);
        connect(delegate, &ListRowDelegate::rowWidthChanged, list, [list] { list->doItemsLayout(); });
    }
}

void CChannelEditorDlg::connectLists()
{
    connect(satelliteList_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!updatingLists_)
            onSatelliteSelected(satelliteRow());
    });
    connect(transponderList_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (!updatingLists_)
            onTransponderSelected();
    });
    connect(tvList_, &CDragDropListBox::selectionChangedByKeyboard, this, [this] {
        if (!updatingLists_)
            onChannelSelected(false);
    });
    connect(radioList_, &CDragDropListBox::selectionChangedByKeyboard, this, [this] {
        if (!updatingLists_)
            onChannelSelected(true);
    });
    connect(transponderList_, &QListView::doubleClicked, this, [this] { runCommand(kCmdEditTransponder); });
    // The row double-clicked is the one edited, whatever was selected before.
    connect(tvList_, &CDragDropListBox::rowDoubleClicked, this, [this](int row) { editChannelAt(tvList_, row); });
    connect(radioList_, &CDragDropListBox::rowDoubleClicked, this, [this](int row) { editChannelAt(radioList_, row); });
    // Choosing "All" when it is already chosen changes no selection, but still asks for
    // the empty panel.
    connect(satelliteList_, &QListView::clicked, this, [this](const QModelIndex& index) {
        if (index.row() == 0 && satelliteRow() == 0)
            showInfo(InfoKind::Empty, 0);
    });
}

void CChannelEditorDlg::open()
{
    const bool channelFile = database_.sourceKind == 'c';
    setWindowTitle(QString::fromLatin1(channelFile ? kTitle : kFactoryTitle));
    controlById(this, kFactoryDefaultLabel)->setVisible(!channelFile);

    const QString shownPath = QString::fromLocal8Bit(database_.filePath.c_str());
    if (fileLock_.acquire(database_.filePath) == channelfile::FileLock::Result::Busy) {
        dialogs_.stopText(this, shownPath + QString::fromLatin1(" ") + QString::fromLatin1(channelfile::kFileBusyText));
        loadRefused_ = true;
        return;
    }
    database_.saveOptions.lock = &fileLock_;
    const LoadResult loaded = database_.load();
    commands_.startSession();
    if (loaded == LoadResult::TooShort) {
        dialogs_.stopText(this, QString::fromLatin1(loadString(ids::kInvalidChannelFile)) + QString::fromLatin1(": ") + shownPath
                                    + QString::fromLatin1(": ") + QString::fromStdString(database_.lastLoadReason));
        loadRefused_ = true;
        return;
    }
    if (loaded == LoadResult::CantOpen)
        dialogs_.stop(this, ids::kCantOpenFile);
    else if (loaded == LoadResult::NoChannel)
        dialogs_.warn(this, QString::fromLatin1(kNoChannel));
    database_.rebuildCountersAndFavorites();

    repaintSatelliteAndTransponderLists();
    activeList_ = kSatelliteLabel;
    refreshLists(kFilterAll, 0);
}

void CChannelEditorDlg::setLiveText(int id, const QString& text)
{
    auto* label = controlAs<QLabel>(this, id);
    if (label == nullptr || label->text() == text)
        return;
    label->setText(text);
    if (id == kTransponderLabel || id == kTvLabel || id == kRadioLabel)
        fitCountLabel(label);
    // A screen reader hears the label as it is now, not as it was when the window opened.
    if (label == infoPanel_) {
        label->setAccessibleDescription(text);
    } else {
        label->setAccessibleName(text.trimmed());
    }
}

void CChannelEditorDlg::fitCountLabel(QLabel* label)
{
    // A count can make the text wider than the template's label ("1200 - Trasponders"):
    // the label grows about its own centre rather than cut the text off.
    const QRect planned = templateGeometry_.value(label->property(kControlIdProperty).toInt());
    if (planned.isNull())
        return;
    const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 2 * label->margin() + 4;
    const int width = std::max(planned.width(), needed);
    const int left = std::clamp(planned.center().x() - width / 2, 0, std::max(0, this->width() - width));
    label->setGeometry(left, planned.y(), width, planned.height());
    if (focusMarker_ != nullptr && controlById(this, activeList_) == label)
        onActiveListChanged(activeList_, nullptr);
}

void CChannelEditorDlg::clearStatus()
{
    if (status_ != nullptr && !status_->text().isEmpty()) {
        status_->clear();
        status_->setAccessibleDescription(QString());
    }
}

void CChannelEditorDlg::showCurrentInfo()
{
    // The most specific choice the lists show: a channel, else a transponder, else a satellite.
    CDragDropListBox* list = activeList_ == kTvLabel || activeList_ == kRadioLabel ? activeChannelList() : nullptr;
    if (list != nullptr) {
        const int row = list->chosenRow();
        if (row >= 0) {
            showInfo(list == tvList_ ? InfoKind::Tv : InfoKind::Radio, modelOf(list)->itemData(row));
            return;
        }
    }
    if (transponderRow() >= 0)
        showInfo(InfoKind::Transponder, transponderModel_->itemData(transponderRow()));
    else if (satelliteRow() > 0)
        showInfo(InfoKind::Satellite, std::min(satelliteRow() - 1, kSatelliteCapacity - 1));
    else
        showInfo(InfoKind::Empty, 0);
}

void CChannelEditorDlg::repaintSatelliteAndTransponderLists()
{
    satelliteList_->viewport()->update();
    transponderList_->viewport()->update();
}

int CChannelEditorDlg::selectedRow(const QListView* list)
{
    const QModelIndexList rows = list->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.front().row();
}

int CChannelEditorDlg::satelliteRow() const
{
    return selectedRow(satelliteList_);
}

int CChannelEditorDlg::transponderRow() const
{
    return selectedRow(transponderList_);
}

void CChannelEditorDlg::selectRow(QListView* list, int row)
{
    const bool wasUpdating = std::exchange(updatingLists_, true);
    if (row < 0)
        list->selectionModel()->clear();
    else
        list->selectionModel()->setCurrentIndex(list->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
    updatingLists_ = wasUpdating;
}

void CChannelEditorDlg::refreshLists(int mode, int arg)
{
    const bool wasUpdating = std::exchange(updatingLists_, true);
    if (mode == kFilterAll) {
        std::vector<std::uint16_t> rows(static_cast<std::size_t>(database_.satelliteCount) + 1);
        std::iota(rows.begin(), rows.end(), std::uint16_t{0});
        satelliteModel_->setItems(std::move(rows));
    }
    const bool channelMode = mode == kFilterTvChannel || mode == kFilterRadioChannel;
    const bool refillTransponders = mode == kFilterAll || mode == kFilterSatellite || (channelMode && satelliteRow() < 0);
    if (refillTransponders) {
        if (mode == kFilterSatellite)
            database_.currentSatellite = arg;
        transponderModel_->setItems(listedTransponders(database_, mode, arg));
        setLiveText(kTransponderLabel, QString::asprintf("%4d - Trasponders", transponderModel_->rowCount()));
    }
    if (!channelMode) {
        lastMode_ = mode;
        lastArg_ = arg;
        fillChannelLists(mode, arg, 3);
    }
    if (mode == kFilterAll)
        selectRow(satelliteList_, 0);
    updatingLists_ = wasUpdating;
}

void CChannelEditorDlg::fillChannelLists(int mode, int arg, int which)
{
    if (mode == kFilterTvChannel || mode == kFilterRadioChannel)
        return;
    const bool wasUpdating = std::exchange(updatingLists_, true);
    ListedChannels rows = listedChannels(database_, mode, arg);
    // The filter narrows what the selection listed; each row keeps the number it has
    // in the whole list.
    const QString wanted = filter_->text();
    const auto narrowed = [&](std::vector<std::uint16_t>& positions, EditorListModel* model) {
        if (wanted.isEmpty()) {
            model->setItems(std::move(positions));
            return;
        }
        std::vector<std::uint16_t> kept;
        std::vector<int> numbers;
        for (std::size_t row = 0; row < positions.size(); ++row) {
            const ChannelRecord& channel = database_.channels[database_.channelOrder[positions[row]]];
            if (fromBoxText(shownChannelName(channel.name)).contains(wanted, Qt::CaseInsensitive)) {
                kept.push_back(positions[row]);
                numbers.push_back(static_cast<int>(row) + 1);
            }
        }
        model->setItems(std::move(kept), std::move(numbers));
    };
    if (which & 1)
        narrowed(rows.tv, tvModel_);
    if (which & 2)
        narrowed(rows.radio, radioModel_);
    updateCountLabel(kTvLabel);
    updateCountLabel(kRadioLabel);
    updatingLists_ = wasUpdating;
}

void CChannelEditorDlg::updateCountLabel(int labelId)
{
    if (labelId == kTvLabel)
        setLiveText(kTvLabel, QString::asprintf("%4d - TV Channels", tvModel_->rowCount()));
    else if (labelId == kRadioLabel)
        setLiveText(kRadioLabel, QString::asprintf("%4d - Radio Channels", radioModel_->rowCount()));
}

void CChannelEditorDlg::showInfo(InfoKind kind, int index)
{
    std::string text;
    switch (kind) {
    case InfoKind::Satellite:
        text = satellitePanelText(database_, index);
        break;
    case InfoKind::Transponder:
        text = transponderPanelText(database_, index);
        break;
    case InfoKind::Tv:
    case InfoKind::Radio:
        text = channelPanelText(database_, index);
        if (index >= 0 && index < kChannelSlots && database_.channelOrder[index] < kChannelSlots) {
            const std::uint16_t flags = database_.channels[database_.channelOrder[index]].flags;
            for (int group = 1; group <= kFavoriteGroupCount; ++group) {
                favoriteFlags_[group - 1] = (flags & channelflag::favorite(group)) ? 1 : 0;
                favoriteChecks_[group - 1]->setChecked(favoriteFlags_[group - 1] != 0);
            }
        }
        break;
    case InfoKind::Empty:
        break;
    }
    setLiveText(kInfoPanel, panelText(text));
}

void CChannelEditorDlg::onSatelliteSelected(int row)
{
    if (row < 0)
        return;
    selectRow(transponderList_, -1);
    if (row == 0) {
        refreshLists(kFilterAll, 0);
        showInfo(InfoKind::Empty, 0);
        return;
    }
    const int satellite = std::min(row - 1, kSatelliteCapacity - 1);
    refreshLists(kFilterSatellite, database_.satellites[satellite].number);
    showInfo(InfoKind::Satellite, satellite);
}

void CChannelEditorDlg::onTransponderSelected()
{
    const int row = transponderRow();
    if (row < 0) {
        showInfo(InfoKind::Empty, 0);
        return;
    }
    const int transponder = transponderModel_->itemData(row);
    refreshLists(kFilterTransponder, transponder);
    showInfo(InfoKind::Transponder, transponder);
}

void CChannelEditorDlg::onChannelSelected(bool radio)
{
    CDragDropListBox* list = radio ? radioList_ : tvList_;
    const int row = list->chosenRow();
    if (row < 0)
        return;
    const int position = modelOf(list)->itemData(row);
    int arg = satelliteRow() - 1;
    if (satelliteRow() < 0) {
        const std::uint16_t slot = database_.channelOrder[position];
        arg = slot < kChannelSlots ? database_.channels[slot].satellite : -1;
    }
    refreshLists(radio ? kFilterRadioChannel : kFilterTvChannel, arg);
    showInfo(radio ? InfoKind::Radio : InfoKind::Tv, position);
}

void CChannelEditorDlg::showChannelInfo(int listId, int row)
{
    CDragDropListBox* list = listId == kTvList ? tvList_ : listId == kRadioList ? radioList_ : nullptr;
    if (list == nullptr || row < 0 || row >= list->rowCount())
        return;
    showInfo(listId == kTvList ? InfoKind::Tv : InfoKind::Radio, modelOf(list)->itemData(row));
}

EditorListModel* CChannelEditorDlg::modelOf(const CDragDropListBox* list) const
{
    return list == tvList_ ? tvModel_ : radioModel_;
}

CDragDropListBox* CChannelEditorDlg::activeChannelList() const
{
    return activeList_ == kTvLabel ? tvList_ : radioList_;
}

std::vector<int> CChannelEditorDlg::moveSelectedRows(int listId, const std::vector<int>& selectedRows, int target)
{
    CDragDropListBox* list = listId == kTvList ? tvList_ : radioList_;
    EditorListModel* model = modelOf(list);
    clearStatus();
    const std::vector<int> after = commands_.moveSelectedRows(model->items(), selectedRows, target);
    if (!selectedRows.empty()) {
        const int first = std::min({selectedRows.front(), target, after.empty() ? target : after.front()});
        const int last = std::max({selectedRows.back(), target, after.empty() ? target : after.back()});
        model->rowsChanged(first, last);
    }
    repaintSatelliteAndTransponderLists();
    return after;
}

void CChannelEditorDlg::deleteSelectedChannels(int listId)
{
    CDragDropListBox* list = listId == kTvList ? tvList_ : radioList_;
    const std::vector<int> rows = list->selectedRows();
    if (rows.empty())
        return;
    clearStatus();
    std::vector<int> positions;
    positions.reserve(rows.size());
    for (const int row : rows)
        positions.push_back(modelOf(list)->itemData(row));
    commands_.deleteChannels(positions);

    const int remaining = list->rowCount() - static_cast<int>(rows.size());
    if (remaining > 0) {
        fillChannelLists(lastMode_, lastArg_, 3);
        const bool wasUpdating = std::exchange(updatingLists_, true);
        const int row = std::min(rows.front(), list->rowCount() - 1);
        list->selectRows({row});
        list->selectionModel()->setCurrentIndex(modelOf(list)->index(row), QItemSelectionModel::NoUpdate);
        updatingLists_ = wasUpdating;
        // The panel describes the row now selected, not the deleted channel.
        showInfo(list == tvList_ ? InfoKind::Tv : InfoKind::Radio, modelOf(list)->itemData(row));
    } else {
        // This list stays empty, but the deletion moved the other list's channel-order
        // positions down: its rows must be made again or they would name other channels.
        fillChannelLists(lastMode_, lastArg_, list == tvList_ ? 2 : 1);
        modelOf(list)->clear();
        showCurrentInfo();
    }
    repaintSatelliteAndTransponderLists();
    updateCountLabel(list == tvList_ ? kTvLabel : kRadioLabel);
}

void CChannelEditorDlg::deleteAll()
{
    CDragDropListBox* list = activeChannelList();
    if (list->rowCount() == 0)
        return;
    std::vector<int> rows(static_cast<std::size_t>(list->rowCount()));
    std::iota(rows.begin(), rows.end(), 0);
    list->selectRows(rows);
    deleteSelectedChannels(list->controlId());
}

void CChannelEditorDlg::deleteOneTransponder()
{
    const int row = transponderRow();
    if (row < 0)
        return;
    const int transponder = transponderModel_->itemData(row);
    const ChannelDatabase::TransponderDeletion deletion = commands_.deleteTransponder(transponder);
    // One message however many channels had no stream record, not one each.
    if (deletion.streamMissing)
        dialogs_.tell(this, QString::fromLatin1(kStreamOverflow));

    const bool wasUpdating = std::exchange(updatingLists_, true);
    // The row goes first: with no satellite chosen the re-selection below refills nothing.
    std::vector<std::uint16_t> left = transponderModel_->items();
    left.erase(left.begin() + row);
    transponderModel_->setItems(std::move(left));
    setLiveText(kTransponderLabel, QString::asprintf("%4d - Trasponders", transponderModel_->rowCount()));
    onSatelliteSelected(satelliteRow());
    updatingLists_ = wasUpdating;
    repaintSatelliteAndTransponderLists();
    if (deletion.channelsDeleted > 0) {
        // The header labels keep the counts of the refilled lists.
        tvModel_->clear();
        radioModel_->clear();
    }
}

void CChannelEditorDlg::runCommand(int command)
{
    // What the last command found no longer holds once the next one runs.
    clearStatus();
    switch (command) {
    case kCmdInsertChannel:
        editChannel(true);
        break;
    case kCmdEditChannel:
        editChannel(false);
        break;
    case kCmdDeleteSelect:
        deleteSelectedChannels(activeChannelList()->controlId());
        break;
    case kCmdDeleteAll:
        deleteAll();
        break;
    case kCmdEditSatellite:
        if (database_.sourceKind == 'c')
            editSatellite();
        break;
    case kCmdNewTransponder:
        editTransponder(true);
        break;
    case kCmdEditTransponder:
        editTransponder(false);
        break;
    case kCmdDeleteOne:
        deleteOneTransponder();
        break;
    case kCmdSortByName:
        sortRows(ChannelDatabase::SortKey::Name);
        break;
    case kCmdSortByServiceId:
        sortRows(ChannelDatabase::SortKey::ServiceId);
        break;
    case kCmdSelectDuplicates:
        selectDuplicates();
        break;
    case kCmdApplyOrder:
        applyOrderFrom();
        break;
    case kCmdExportCsv:
        exportCsv();
        break;
    case kCmdCompareWith:
        compareWith();
        break;
    case kCmdImportTransponders:
        importTransponders();
        break;
    case kCmdExportTransponders:
        exportTransponders();
        break;
    default:
        break;
    }
}

int CChannelEditorDlg::runModal(QDialog& dialog)
{
    return modalRunner_ ? modalRunner_(dialog) : dialog.exec();
}

void CChannelEditorDlg::editChannel(bool insert)
{
    if (insert) {
        editChannelAt(activeChannelList(), -1);
        return;
    }
    CDragDropListBox* list = activeChannelList();
    if (const int row = list->chosenRow(); row >= 0)
        editChannelAt(list, row);
}

void CChannelEditorDlg::editChannelAt(CDragDropListBox* list, int row)
{
    clearStatus();
    const bool insert = row < 0;
    EditorListModel* model = modelOf(list);
    if (!insert && row >= model->rowCount())
        return;
    onActiveListChanged(list == tvList_ ? kTvLabel : kRadioLabel, list);
    CChannelDlg::Opening opening;
    opening.mode = insert ? CChannelDlg::kInsert : CChannelDlg::kEdit;
    opening.radio = activeList_ != kTvLabel;
    opening.satelliteRow = satelliteRow();
    opening.transponder = transponderRow() >= 0 ? transponderModel_->itemData(transponderRow()) : -1;
    if (!insert)
        opening.position = model->itemData(row);
    CChannelDlg dialog(commands_, dialogs_, opening, this);
    if (runModal(dialog) != QDialog::Accepted)
        return;

    const bool wasUpdating = std::exchange(updatingLists_, true);
    if (insert) {
        // A TV channel goes in before the radio ones, whose positions move up by one.
        if (!opening.radio)
            radioModel_->shiftItemsFrom(static_cast<std::uint16_t>(dialog.position()), 1);
        row = model->rowCount();
        if (filter_->text().isEmpty()) {
            model->insertItem(row, static_cast<std::uint16_t>(dialog.position()));
        } else {
            // A narrowed list numbers rows by the whole list: made again, the new row
            // gets its number there (and shows only if its name passes the filter).
            fillChannelLists(lastMode_, lastArg_, 3);
            const auto& items = model->items();
            row = static_cast<int>(std::find(items.begin(), items.end(), dialog.position()) - items.begin());
        }
        updateCountLabel(list == tvList_ ? kTvLabel : kRadioLabel);
    } else {
        model->rowsChanged(row, row);
    }
    updatingLists_ = wasUpdating;
    repaintSatelliteAndTransponderLists();
    if (row < 0 || row >= model->rowCount())
        return;
    updatingLists_ = true;
    list->selectionModel()->select(model->index(row), QItemSelectionModel::Select);
    list->selectionModel()->setCurrentIndex(model->index(row), QItemSelectionModel::NoUpdate);
    updatingLists_ = wasUpdating;
    showInfo(list == radioList_ ? InfoKind::Radio : InfoKind::Tv, model->itemData(row));
}

void CChannelEditorDlg::editSatellite()
{
    CSatelliteDlg dialog(commands_, dialogs_, satelliteRow(), this);
    if (!dialog.usable())
        return;
    if (runModal(dialog) == QDialog::Accepted)
        satelliteModel_->rowsChanged(satelliteRow(), satelliteRow());
}

void CChannelEditorDlg::editTransponder(bool insert)
{
    const int row = transponderRow();
    if (!insert && row < 0)
        return;
    CTransponderDlg dialog(commands_, dialogs_, insert ? CTransponderDlg::kInsert : CTransponderDlg::kEdit,
                           satelliteRow(), row >= 0 ? transponderModel_->itemData(row) : -1, this);
    if (!dialog.usable() || runModal(dialog) != QDialog::Accepted)
        return;

    const bool wasUpdating = std::exchange(updatingLists_, true);
    const int transponder = dialog.transponder();
    int shown = row;
    if (insert) {
        // The list runs in record order: the new line goes before the first higher record.
        const auto& items = transponderModel_->items();
        shown = static_cast<int>(std::upper_bound(items.begin(), items.end(), transponder) - items.begin());
        transponderModel_->insertItem(shown, static_cast<std::uint16_t>(transponder));
        setLiveText(kTransponderLabel, QString::asprintf("%4d - Trasponders", transponderModel_->rowCount()));
    } else {
        transponderModel_->rowsChanged(row, row);
    }
    selectRow(transponderList_, shown);
    updatingLists_ = wasUpdating;
    // The chosen transponder is now this one: its channels and its panel, as a click on
    // its row would show them.
    onTransponderSelected();
}

void CChannelEditorDlg::outText()
{
    // The dialog knows the extension, so a question about replacing a file names the real one.
    const auto chosen = dialogs_.getSaveFileName(this, {QString(), QString::fromLatin1(kTextFilter), QStringLiteral("TXT")});
    if (!chosen)
        return;
    // The same listing, written by the same code, as the command line's export-text.
    const std::string path = listingPathFor(QFile::encodeName(*chosen).toStdString());
    if (!writeChannelListing(database_, path))
        dialogs_.showMessage(this, {applicationTitle(), QString::fromLatin1(kCouldNotOpen).arg(QFile::decodeName(path.c_str())),
                                    MessageIcon::Information, MessageButtons::Ok});
}

void CChannelEditorDlg::showAllRowsChanged(CDragDropListBox* list, const std::vector<int>& selected)
{
    EditorListModel* model = modelOf(list);
    model->rowsChanged(0, model->rowCount() - 1);
    const bool wasUpdating = std::exchange(updatingLists_, true);
    list->selectRows(selected);
    updatingLists_ = wasUpdating;
    repaintSatelliteAndTransponderLists();
}

std::vector<int> CChannelEditorDlg::shiftSelectedRows(int listId, const std::vector<int>& selectedRows, RowShift shift)
{
    CDragDropListBox* list = listId == kTvList ? tvList_ : radioList_;
    static constexpr ChannelDatabase::Shift kShifts[] = {ChannelDatabase::Shift::Up, ChannelDatabase::Shift::Down,
                                                         ChannelDatabase::Shift::Top, ChannelDatabase::Shift::Bottom};
    clearStatus();
    const std::vector<int> after =
        commands_.moveSelectedBy(modelOf(list)->items(), selectedRows, kShifts[static_cast<int>(shift)]);
    modelOf(list)->rowsChanged(0, list->rowCount() - 1);
    repaintSatelliteAndTransponderLists();
    return after;
}

void CChannelEditorDlg::sortRows(ChannelDatabase::SortKey key)
{
    CDragDropListBox* list = activeChannelList();
    showAllRowsChanged(list, commands_.sortRows(modelOf(list)->items(), list->selectedRows(), key));
}

void CChannelEditorDlg::selectDuplicates()
{
    CDragDropListBox* list = activeChannelList();
    const std::vector<int> rows = duplicateRows(database_, modelOf(list)->items());
    const bool wasUpdating = std::exchange(updatingLists_, true);
    list->selectRows(rows);
    updatingLists_ = wasUpdating;
    status_->setText(rows.empty() ? QStringLiteral("No duplicates: no channel repeats the Ch. ID of an earlier one on its transponder.")
                                  : QStringLiteral("%1 duplicates selected: each repeats the Ch. ID of an earlier channel on "
                                                   "its transponder. Delete removes them.").arg(rows.size()));
    status_->setAccessibleDescription(status_->text());
}

void CChannelEditorDlg::applyOrderFrom()
{
    const auto chosen = dialogs_.getOpenFileName(this, {QString(), QString::fromLatin1(kReferenceFilter)});
    if (!chosen)
        return;
    const ReferenceFile reference = readReferenceFile(QFile::encodeName(*chosen).toStdString());
    if (!reference.lists) {
        dialogs_.stopText(this, QStringLiteral("Could not use \"%1\" as a reference: %2")
                                    .arg(*chosen, QString::fromStdString(reference.error)));
        return;
    }
    CDragDropListBox* list = activeChannelList();
    const auto& entries = list == tvList_ ? reference.lists->tv : reference.lists->radio;
    const ReferenceOrderSummary summary = commands_.applyReferenceOrder(modelOf(list)->items(), entries);
    showAllRowsChanged(list, {});
    const QString text = QStringLiteral("Order applied: %1 matched, %2 unmatched (kept after the matched ones), "
                                        "%3 reference entries ignored.")
                             .arg(summary.matched).arg(summary.unmatched).arg(summary.ignored);
    status_->setText(text);
    status_->setAccessibleDescription(text);
    dialogs_.showMessage(this, {applicationTitle(), text, MessageIcon::Information, MessageButtons::Ok});
}

void CChannelEditorDlg::exportCsv()
{
    const auto chosen = dialogs_.getSaveFileName(this, {QString(), QString::fromLatin1(kCsvFilter), QStringLiteral("CSV")});
    if (!chosen)
        return;
    const QString named = withRequiredExtension(*chosen, QStringLiteral("CSV"));
    if (!writeChannelCsv(database_, QFile::encodeName(named).toStdString()))
        dialogs_.stopText(this, QString::fromLatin1(kCouldNotOpen).arg(named));
}

void CChannelEditorDlg::undoOrRedo(bool undo)
{
    const std::string label(undo ? commands_.undoLabel() : commands_.redoLabel());
    if (!(undo ? commands_.undo() : commands_.redo()))
        return;
    showEverythingAgain();
    const QString text = QString::fromLatin1(undo ? "Undone: %1" : "Redone: %1").arg(QString::fromStdString(label));
    status_->setText(text);
    status_->setAccessibleDescription(text);
}

void CChannelEditorDlg::showEverythingAgain()
{
    const int satellite = satelliteRow();
    const int transponder = lastMode_ == kFilterTransponder ? lastArg_ : -1;
    const bool wasUpdating = std::exchange(updatingLists_, true);
    satelliteModel_->rowsChanged(0, satelliteModel_->rowCount() - 1);
    if (satellite <= 0) {
        refreshLists(kFilterAll, 0);
    } else {
        refreshLists(kFilterSatellite, database_.satellites[std::min(satellite - 1, kSatelliteCapacity - 1)].number);
        const auto& items = transponderModel_->items();
        const auto found = std::find(items.begin(), items.end(), transponder);
        if (transponder >= 0 && found != items.end()) {
            selectRow(transponderList_, static_cast<int>(found - items.begin()));
            refreshLists(kFilterTransponder, transponder);
        }
    }
    updatingLists_ = wasUpdating;
    showCurrentInfo();
}

void CChannelEditorDlg::importTransponders()
{
    const int satellite = satelliteRow() - 1;
    if (satellite < 0 || satellite == kTerrestrialSatellite)
        return;
    const QString folder = QDir(QString::fromLatin1(kScanTableFolder)).exists() ? QString::fromLatin1(kScanTableFolder) + QLatin1Char('/')
                                                                                : QString();
    const auto chosen = dialogs_.getOpenFileName(this, {folder, QString::fromLatin1(kTableFilter)});
    if (!chosen)
        return;
    const TransponderTable::ReadResult table = TransponderTable::readFile(QFile::encodeName(*chosen).toStdString());
    if (!table.ok()) {
        dialogs_.stopText(this, QStringLiteral("Could not import \"%1\": %2\nNothing was changed.")
                                    .arg(*chosen, QString::fromStdString(table.error)));
        return;
    }
    const QString satelliteName = fromBoxText(storedName(database_.satellites[static_cast<std::size_t>(satellite)].name));
    CTransponderImportDlg ask(satelliteName, QFileInfo(*chosen).fileName(), table, this);
    if (runModal(ask) != QDialog::Accepted || ask.chosenSatellite() < 0)
        return;
    const SatelliteTable& entries = table.satellites[static_cast<std::size_t>(ask.chosenSatellite())];
    const TransponderImportSummary summary =
        commands_.importTransponders(satellite, entries.transponders, ask.includeDvbs2());
    showEverythingAgain();
    const QString text = QString::fromStdString(summary.text());
    // The status line is one line.
    const QString status = QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '));
    status_->setText(status);
    status_->setAccessibleDescription(status);
    dialogs_.showMessage(this, {applicationTitle(), text, MessageIcon::Information, MessageButtons::Ok});
}

void CChannelEditorDlg::exportTransponders()
{
    // The chosen satellite's table, or every satellite's when "All" is chosen.
    const int satellite = satelliteRow() - 1;
    const auto chosen = dialogs_.getSaveFileName(
        this, {QString(), QStringLiteral("satellites.xml(*.xml)|*.xml|dvbv5 Scan File(*)|*|")});
    if (!chosen)
        return;
    const std::string path = QFile::encodeName(*chosen).toStdString();
    if (QFileInfo(*chosen) == QFileInfo(QFile::decodeName(database_.filePath.c_str()))) {
        dialogs_.stopText(this, QStringLiteral("\"%1\" is the channel image itself; nothing was written.").arg(*chosen));
        return;
    }
    const auto tables = TransponderTable::fromDatabase(database_, satellite == kTerrestrialSatellite ? -1 : satellite);
    const std::string text = chosen->endsWith(QStringLiteral(".xml"), Qt::CaseInsensitive)
                               ? TransponderTable::writeSatellitesXml(tables)
                               : TransponderTable::writeDvbv5(tables);
    std::string reason;
    if (!TransponderTable::writeFile(path, text, &reason))
        dialogs_.stopText(this, QStringLiteral("Could not write \"%1\": %2").arg(*chosen, QString::fromStdString(reason)));
}

void CChannelEditorDlg::compareWith()
{
    const auto chosen = dialogs_.getOpenFileName(this, {QString(), QString::fromLatin1(kImageFilter)});
    if (!chosen)
        return;
    std::string error;
    const auto other = ChannelImageDiff::loadImage(QFile::encodeName(*chosen).toStdString(), error);
    if (!other) {
        dialogs_.stopText(this, QStringLiteral("Could not compare: %1").arg(QString::fromStdString(error)));
        return;
    }
    // The chosen file is the old state, the lists as they are now the new one, so each
    // line about a channel still there can lead to it.
    if (compare_ != nullptr)
        compare_->deleteLater();
    compare_ = new CChannelDiffDlg(*chosen, ChannelImageDiff::compare(*other, database_),
                                   [this](const ChannelDiffLine& line) {
                                       if (line.positionInSecond >= 0)
                                           selectChannelAt(line.radio, line.positionInSecond);
                                   },
                                   this);
    // Beside the editor, not over it: the user goes through the lines while looking at the lists.
    compare_->show();
    compare_->raise();
}

void CChannelEditorDlg::selectChannelAt(bool radio, int position)
{
    if (position < 0 || position >= kChannelSlots || database_.channelOrder[static_cast<std::size_t>(position)] >= kChannelSlots)
        return;
    filter_->clear();
    if (satelliteRow() != 0) {
        selectRow(satelliteList_, 0);
        onSatelliteSelected(0);
    }
    CDragDropListBox* list = radio ? radioList_ : tvList_;
    const auto& items = modelOf(list)->items();
    const auto found = std::find(items.begin(), items.end(), position);
    if (found == items.end())
        return;
    const int row = static_cast<int>(found - items.begin());
    list->selectRows({row});
    list->setCurrentIndex(list->model()->index(row, 0));
    list->scrollTo(list->model()->index(row, 0));
    list->setFocus(Qt::OtherFocusReason);
    onActiveListChanged(radio ? kRadioLabel : kTvLabel, list);
    onChannelSelected(radio);
}

void CChannelEditorDlg::save()
{
    if (commands_.save()) {
        accept();
        return;
    }
    // The window stays open with every edit, so nothing is lost to a full disk.
    dialogs_.stopText(this, QStringLiteral("Could not save \"%1\".\n%2")
                                .arg(QFile::decodeName(database_.filePath.c_str()),
                                     saveFailureReason(database_.lastSaveError)));
}

void CChannelEditorDlg::enterOrSave(QWidget* focus)
{
    if (focus == saveButton_) {
        save();
    } else if (focus == satelliteList_) {
        if (satelliteRow() > 0)
            runCommand(kCmdEditSatellite);
    } else if (focus == transponderList_) {
        if (transponderRow() >= 0)
            runCommand(kCmdEditTransponder);
    } else if (focus == tvList_ || focus == radioList_) {
        if (!static_cast<CDragDropListBox*>(focus)->selectedRows().empty())
            runCommand(kCmdEditChannel);
    }
}

void CChannelEditorDlg::reject()
{
    if (database_.modified
        && dialogs_.ask(this, QString::fromLatin1(kDiscardQuestion)) != MessageAnswer::Yes)
        return;
    QDialog::reject();
}

void CChannelEditorDlg::keyPressEvent(QKeyEvent* event)
{
    if (isEnterKey(event)) {
        enterOrSave(QApplication::focusWidget());
        return;
    }
    QDialog::keyPressEvent(event);
}

bool CChannelEditorDlg::event(QEvent* event)
{
    // The lists' drag notifications are answered and otherwise ignored.
    const DragDropMessages messages = registerDragDropMessages();
    const int type = event->type();
    if (type == messages.beginDragDrop || type == messages.queryDrop || type == messages.doDrop)
        return true;
    return QDialog::event(event);
}

bool CChannelEditorDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == satelliteList_)
            onActiveListChanged(kSatelliteLabel, satelliteList_);
        else if (watched == transponderList_)
            onActiveListChanged(kTransponderLabel, transponderList_);
        else if (watched == tvList_)
            onActiveListChanged(kTvLabel, tvList_);
        else if (watched == radioList_)
            onActiveListChanged(kRadioLabel, radioList_);
    } else if (event->type() == QEvent::KeyPress && watched == filter_) {
        // Escape clears the filter first; only an empty filter lets Escape leave the window.
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && !filter_->text().isEmpty()) {
            filter_->clear();
            return true;
        }
    } else if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // Enter on a list edits its row, whatever the list would do with it.
        if (isEnterKey(key)) {
            enterOrSave(static_cast<QWidget*>(watched));
            return true;
        }
        // The keyboard's way to the list's menu, handled here so it works the same on
        // every platform.
        if (key->key() == Qt::Key_Menu || (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier)) {
            auto* list = static_cast<QWidget*>(watched);
            QContextMenuEvent menu(QContextMenuEvent::Keyboard, list->rect().center(), list->mapToGlobal(list->rect().center()));
            contextMenuEvent(&menu);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CChannelEditorDlg::onActiveListChanged(int labelId, QWidget*)
{
    activeList_ = labelId;
    const QWidget* label = controlById(this, labelId);
    focusMarker_->setGeometry(label->x() - kFocusMarkerGap, label->y(), kFocusMarkerSize, kFocusMarkerSize);
}

std::unique_ptr<QMenu> CChannelEditorDlg::popupMenuFor(int labelId)
{
    const MenuTemplate& layout = menuTemplate(labelId);
    auto menu = std::make_unique<QMenu>(this);
    QAction* title = menu->addAction(QString::fromLatin1(layout.title));
    title->setEnabled(false);
    menu->addSeparator();

    const CDragDropListBox* channelList = labelId == kTvLabel ? tvList_ : labelId == kRadioLabel ? radioList_ : nullptr;
    for (const MenuItem& item : layout.items) {
        bool enabled = true;
        switch (item.command) {
        case kCmdNewTransponder:
            enabled = satelliteRow() > 0;
            break;
        case kCmdEditTransponder:
        case kCmdDeleteOne:
            enabled = transponderRow() >= 0;
            break;
        case kCmdEditChannel:
        case kCmdDeleteSelect:
            enabled = channelList != nullptr && !channelList->selectedRows().empty();
            break;
        case kCmdDeleteAll:
            enabled = channelList != nullptr && channelList->rowCount() > 0;
            break;
        default:
            break;
        }
        QAction* action = menu->addAction(QString::fromLatin1(item.text));
        action->setData(item.command);
        action->setEnabled(enabled);
    }
    if (channelList != nullptr) {
        menu->addSeparator();
        for (const MenuItem& item : kChannelListExtras) {
            QAction* action = menu->addAction(QString::fromLatin1(item.text));
            action->setData(item.command);
            const bool needsRows =
                item.command != kCmdApplyOrder && item.command != kCmdExportCsv && item.command != kCmdCompareWith;
            action->setEnabled(!needsRows || channelList->rowCount() > 1);
        }
    }
    if (labelId == kTransponderLabel) {
        menu->addSeparator();
        const int satellite = satelliteRow() - 1;
        for (const MenuItem& item : kTransponderListExtras) {
            QAction* action = menu->addAction(QString::fromLatin1(item.text));
            action->setData(item.command);
            // Satellite transponders go to one satellite; the terrestrial slot takes none.
            if (item.command == kCmdImportTransponders)
                action->setEnabled(satellite >= 0 && satellite != kTerrestrialSatellite);
        }
    }
    return menu;
}

void CChannelEditorDlg::contextMenuEvent(QContextMenuEvent* event)
{
    const QPoint screenPoint = event->globalPos();
    const auto contains = [&](const QWidget* widget) {
        return widget->isVisible() && widget->rect().contains(widget->mapFromGlobal(screenPoint));
    };
    QWidget* focus = QApplication::focusWidget();
    const bool byKeyboard = event->reason() == QContextMenuEvent::Keyboard;
    const auto hit = [&](const QWidget* list) { return byKeyboard ? focus == list : contains(list); };

    // A right-click there opens nothing; the keyboard still reaches the satellite menu.
    if (!byKeyboard && hit(satelliteList_))
        return;
    QPoint menuPoint = screenPoint;
    if (hit(tvList_) || hit(radioList_)) {
        // The list takes the focus; its selection stays as it is.
        CDragDropListBox* list = hit(tvList_) ? tvList_ : radioList_;
        list->setFocus(Qt::OtherFocusReason);
        onActiveListChanged(list == tvList_ ? kTvLabel : kRadioLabel, list);
        if (byKeyboard)
            menuPoint = list->mapToGlobal(list->rect().center());
    } else if (hit(transponderList_)) {
        if (byKeyboard) {
            menuPoint = transponderList_->mapToGlobal(transponderList_->rect().center());
        } else {
            // A click there first: the list selects the row under the pointer and takes the focus.
            QWidget* viewport = transponderList_->viewport();
            const QPoint local = viewport->mapFromGlobal(screenPoint);
            QMouseEvent press(QEvent::MouseButtonPress, local, screenPoint, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
            QMouseEvent release(QEvent::MouseButtonRelease, local, screenPoint, Qt::LeftButton, Qt::NoButton,
                                Qt::NoModifier);
            QApplication::sendEvent(viewport, &press);
            QApplication::sendEvent(viewport, &release);
            transponderList_->setFocus(Qt::MouseFocusReason);
            onActiveListChanged(kTransponderLabel, transponderList_);
        }
    }

    if (database_.sourceKind != 'c' && activeList_ == kSatelliteLabel)
        return;
    if (activeList_ == kSatelliteLabel && satelliteRow() <= 0)
        return;
    const std::unique_ptr<QMenu> menu = popupMenuFor(activeList_);
    if (QAction* chosen = dialogs_.execPopupMenu(this, *menu, menuPoint))
        runCommand(chosen->data().toInt());
}

void CChannelEditorDlg::openHelp()
{
    if (help_ == nullptr) {
        help_ = new QDialog(this);
        help_->setWindowTitle(QStringLiteral("Channel Editor Help"));
        auto* layout = new QVBoxLayout(help_);
        auto* page = new QTextBrowser(help_);
        page->setAccessibleName(QStringLiteral("Help"));
        QFile file(QString::fromLatin1(kHelpPath));
        if (file.open(QIODevice::ReadOnly))
            page->setHtml(QString::fromUtf8(file.readAll()));
        layout->addWidget(page);
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, help_);
        connect(buttons, &QDialogButtonBox::rejected, help_, &QDialog::hide);
        layout->addWidget(buttons);
        help_->resize(520, 560);
    }
    // Beside the editor, not over it: the user reads it while trying what it says.
    help_->show();
    help_->raise();
}

} // namespace updatetool
