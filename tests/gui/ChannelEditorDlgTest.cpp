// The channel editor window over generated channel images, driven by mouse and key
// events as a user would. The rules of the edits themselves are tested on the database.
#include <QAbstractItemView>
#include <QAccessible>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>

#include "ChannelDatabase.h"
#include "ChannelDlg.h"
#include "ChannelEditorDlg.h"
#include "ChannelDiffDlg.h"
#include "TransponderImportDlg.h"
#include "FileLock.h"
#include "GuiTestBase.h"
#include "SampleImages.h"
#include "TransponderDlg.h"

using namespace updatetool;
using namespace updatetool::test;

// Readable failures: QStrings print as text.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

using Editor = CChannelEditorDlg;
using Bytes = std::vector<std::uint8_t>;

// Counts the drag notifications the lists post to the window.
class DragDropSpy : public QObject {
public:
    bool eventFilter(QObject*, QEvent* event) override
    {
        const DragDropMessages messages = registerDragDropMessages();
        if (event->type() == messages.beginDragDrop)
            ++begins;
        else if (event->type() == messages.doDrop)
            ++drops;
        return false;
    }
    int begins = 0;
    int drops = 0;
};

class ChannelEditorDlgTest : public GuiTestBase {
protected:
    void open(const Bytes& image = samples::channelImage(), char kind = 'c')
    {
        path = pathOf(QStringLiteral("channels.img"));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
        file.close();
        database->reset();
        database->sourceKind = kind;
        database->filePath = path.toStdString();
        // One editor at a time, as the main window runs them: the last one lets go of the file first.
        editor.reset();
        editor = std::make_unique<Editor>(*database, dialogs);
        editor->installEventFilter(&spy);
        editor->show();
        // Focus changes, and so the active list, need an active window.
        editor->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(editor.get()));
    }

    QListView* view(int id) const { return controlAs<QListView>(editor.get(), id); }
    CDragDropListBox* channels(int id) const { return controlAs<CDragDropListBox>(editor.get(), id); }

    static QStringList rows(const QAbstractItemView* list)
    {
        QStringList texts;
        for (int row = 0; row < list->model()->rowCount(); ++row)
            texts << list->model()->index(row, 0).data().toString();
        return texts;
    }
    static QPoint centre(const QAbstractItemView* list, int row)
    {
        return list->visualRect(list->model()->index(row, 0)).center();
    }
    // A mouse event on the list's rows, at a point in the rows' coordinates.
    static void mouse(QAbstractItemView* list, QEvent::Type type, QPoint point, Qt::KeyboardModifiers keys = {})
    {
        QWidget* viewport = list->viewport();
        const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, point, viewport->mapToGlobal(point), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          held, keys);
        QApplication::sendEvent(viewport, &event);
    }
    static void click(QAbstractItemView* list, int row, Qt::KeyboardModifiers keys = {})
    {
        list->setFocus(Qt::MouseFocusReason); // as a real click does before the list sees it
        mouse(list, QEvent::MouseButtonPress, centre(list, row), keys);
        mouse(list, QEvent::MouseButtonRelease, centre(list, row), keys);
    }
    static void drag(QAbstractItemView* list, QPoint from, QPoint to)
    {
        mouse(list, QEvent::MouseButtonPress, from);
        mouse(list, QEvent::MouseMove, from + QPoint(0, 4));
        mouse(list, QEvent::MouseMove, to);
        mouse(list, QEvent::MouseButtonRelease, to);
    }
    void rightClick(QWidget* widget, QPoint point)
    {
        QContextMenuEvent event(QContextMenuEvent::Mouse, point, widget->mapToGlobal(point));
        QApplication::sendEvent(widget, &event);
    }
    QString panel() const { return textOf(editor.get(), Editor::kInfoPanel); }
    QString editorStatus() const
    {
        for (QLabel* label : editor->findChildren<QLabel*>())
            if (label->accessibleName() == "Status")
                return label->text();
        return QStringLiteral("(no status line)");
    }

    std::unique_ptr<ChannelDatabase> database = std::make_unique<ChannelDatabase>();
    std::unique_ptr<Editor> editor;
    DragDropSpy spy;
    QString path;
};

TEST_F(ChannelEditorDlgTest, OpensWithEveryListFilledAndAllSelected)
{
    Bytes image = samples::channelImage();
    // Transponder 3 marked deleted: never listed.
    image[0x0B8D18 + 8 * 3 + 2] = 0x07, image[0x0B8D18 + 8 * 3 + 3] = 0x07;
    image[0x0B8D18 + 8 * 3 + 4] = 0x07, image[0x0B8D18 + 8 * 3 + 5] = 0x07;
    open(image);

    EXPECT_EQ(editor->windowTitle(), QString::fromLatin1(Editor::kTitle));
    EXPECT_FALSE(controlById(editor.get(), Editor::kFactoryDefaultLabel)->isVisible());
    EXPECT_FALSE(controlById(editor.get(), Editor::kOutText)->isVisible());
    const QStringList satellites = rows(view(Editor::kSatelliteList));
    ASSERT_EQ(satellites.size(), 129);
    EXPECT_EQ(satellites.mid(0, 3), (QStringList{"All", "ASTRA 19.2E", "HOTBIRD 13.0E"}));
    EXPECT_TRUE(view(Editor::kSatelliteList)->selectionModel()->isRowSelected(0, {}));

    const QStringList transponders = rows(view(Editor::kTransponderList));
    EXPECT_EQ(textOf(editor.get(), Editor::kTransponderLabel), "  33 - Trasponders");
    EXPECT_EQ(transponders.front(), "10714 VER 22000");
    EXPECT_FALSE(transponders.contains(" 1799 VER  1799"));
    EXPECT_EQ(transponders[29], "CH21   Auto   474.5"); // the first terrestrial one

    EXPECT_EQ(textOf(editor.get(), Editor::kTvLabel), " 240 - TV Channels");
    EXPECT_EQ(textOf(editor.get(), Editor::kRadioLabel), "  60 - Radio Channels");
    const QStringList tv = rows(channels(Editor::kTvList));
    EXPECT_EQ(tv.mid(0, 3), (QStringList{"   1 News 24 1", "   2 Sport 1", "   3 Kanal Sieben"}));
    EXPECT_EQ(rows(channels(Editor::kRadioList)).front(), "   1 Radio Pop 1");
    EXPECT_TRUE(dialogs.calls.empty());
}

TEST_F(ChannelEditorDlgTest, FactoryDefaultModeAndFilesWithoutChannels)
{
    open(samples::channelImage(), 0);
    EXPECT_EQ(editor->windowTitle(), QString::fromLatin1(Editor::kFactoryTitle));
    EXPECT_TRUE(controlById(editor.get(), Editor::kFactoryDefaultLabel)->isVisible());
    view(Editor::kSatelliteList)->setFocus();
    view(Editor::kSatelliteList)->setCurrentIndex(view(Editor::kSatelliteList)->model()->index(1, 0));
    rightClick(controlById(editor.get(), Editor::kInfoLabel), {2, 2});
    EXPECT_TRUE(dialogs.menus.empty()); // no satellite menu in this mode

    Bytes empty = samples::channelImage();
    for (int slot : {0, 7000}) {
        empty[0x10 + 48 * slot] = empty[0x11 + 48 * slot] = 0xFF;
        empty[0x12 + 48 * slot] = empty[0x13 + 48 * slot] = 0xFF;
    }
    open(empty);
    EXPECT_EQ(dialogs.messageTexts(), std::vector<QString>{"No Channel"});
    EXPECT_EQ(dialogs.calls.back().message.icon, MessageIcon::Exclamation);
    EXPECT_EQ(channels(Editor::kTvList)->rowCount(), 0);
}

// A file another program edits, or a cut-off image, never reaches the lists: the
// window says why and closes before anything could be saved over it.
TEST_F(ChannelEditorDlgTest, RefusesAFileInUseOrCutOff)
{
    const Bytes whole = samples::channelImage();
    open(Bytes(whole.begin(), whole.begin() + 5000));
    EXPECT_TRUE(editor->loadRefused());
    EXPECT_EQ(editor->exec(), QDialog::Rejected);
    ASSERT_EQ(dialogs.messageTexts().size(), 1u);
    EXPECT_TRUE(dialogs.messageTexts().front().endsWith("it has 5,000 bytes; a channel image has 851,984"));

    open();
    EXPECT_FALSE(editor->loadRefused());
    channelfile::FileLock other;
    EXPECT_EQ(other.acquire(path.toStdString()), channelfile::FileLock::Result::Busy);
    editor.reset();
    ASSERT_EQ(other.acquire(path.toStdString()), channelfile::FileLock::Result::Locked);
    dialogs.calls.clear();
    open(whole);
    EXPECT_TRUE(editor->loadRefused());
    ASSERT_EQ(dialogs.messageTexts().size(), 1u);
    EXPECT_TRUE(dialogs.messageTexts().front().endsWith("is being edited by another program"));
}

TEST_F(ChannelEditorDlgTest, SelectionsLinkTheListsAndFillThePanel)
{
    open();
    QListView* satellites = view(Editor::kSatelliteList);
    click(satellites, 2); // HOTBIRD, satellite 1
    EXPECT_EQ(panel(), "=======[ Satellite Information ]=======\nName : HOTBIRD 13.0E\n");
    EXPECT_EQ(textOf(editor.get(), Editor::kTransponderLabel), "   8 - Trasponders");
    EXPECT_EQ(rows(channels(Editor::kTvList)).front(), "   1 Weather 1"); // numbered from 1 again

    click(view(Editor::kTransponderList), 0);
    EXPECT_EQ(panel(), "sat  : [1] (HOTBIRD 13.0E)\n");
    EXPECT_EQ(rows(channels(Editor::kTvList)).mid(0, 2), (QStringList{"   1 Weather 1", "   2 Shop 4"}));

    click(channels(Editor::kTvList), 0);
    EXPECT_EQ(panel(), "sat  : [1] (HOTBIRD 13.0E)\nts   : [8] 10725 VER 22000\n"
                       "pid  : A=0109/V=0108/PCR=0108/TXT=0128\nnet=[318] prg=[264] ch=[8]");
    // Favourite boxes follow the channel: TV channel 8 belongs to no group.
    EXPECT_FALSE(controlAs<QCheckBox>(editor.get(), Editor::kFirstFavorite)->isChecked());

    click(satellites, 6); // the terrestrial one is not in the first rows: use All
    click(satellites, 0);
    click(channels(Editor::kTvList), 30);
    EXPECT_EQ(panel(), "sat  : [127] (Terrestrial)\nts   : [30] CH21   Auto   474.5\n"
                       "pid  : A=011f/V=011e/PCR=011e/TXT=013e\nnet=[8468] prg=[286] ch=[30]");
    // The keyboard moves the selection and the panel follows.
    QTest::keyClick(channels(Editor::kTvList), Qt::Key_Down);
    EXPECT_TRUE(panel().endsWith("ch=[31]"));
    // What a screen reader is told follows the texts.
    EXPECT_EQ(controlById(editor.get(), Editor::kInfoPanel)->accessibleDescription(), panel());
    EXPECT_EQ(controlById(editor.get(), Editor::kTvLabel)->accessibleName(), "240 - TV Channels");
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(channels(Editor::kTvList));
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->text(QAccessible::Name), "TV Channels");
}

TEST_F(ChannelEditorDlgTest, PopupMenusGreyWhatCannotBeDone)
{
    open();
    CDragDropListBox* tv = channels(Editor::kTvList);
    const struct {
        const char* what;
        std::function<void()> act;
        QStringList menu; // empty: no menu
    } cases[] = {
        {"satellite list", [&] { rightClick(view(Editor::kSatelliteList)->viewport(), {5, 5}); }, {}},
        {"TV list, nothing selected", [&] { tv->selectRows({}); rightClick(tv->viewport(), centre(tv, 0)); },
         {"[ TV Ch. ] [off]", "-", "New", "Edit [off]", "Delete Select [off]", "Delete All"}},
        {"TV list, a row selected", [&] { tv->selectRows({4}); rightClick(tv->viewport(), centre(tv, 0)); },
         {"[ TV Ch. ] [off]", "-", "New", "Edit", "Delete Select", "Delete All"}},
        {"the menu selected nothing in the list it opened on",
         [&] { EXPECT_EQ(tv->selectedRows(), std::vector<int>{4}); }, {}},
        {"transponder row under the pointer, All chosen",
         [&] { rightClick(view(Editor::kTransponderList)->viewport(), centre(view(Editor::kTransponderList), 1)); },
         {"[ Transponder ] [off]", "-", "New [off]", "Edit", "Delete One"}},
        {"Menu key on the TV list", [&] { tv->setFocus(); QTest::keyClick(tv, Qt::Key_Menu); },
         {"[ TV Ch. ] [off]", "-", "New", "Edit [off]", "Delete Select [off]", "Delete All"}},
        {"Shift+F10 on the radio list",
         [&] { channels(Editor::kRadioList)->setFocus(); QTest::keyClick(channels(Editor::kRadioList), Qt::Key_F10, Qt::ShiftModifier); },
         {"[ RADIO Ch. ] [off]", "-", "New", "Edit [off]", "Delete Select [off]", "Delete All"}},
        {"satellite chosen, pointer elsewhere",
         [&] { click(view(Editor::kSatelliteList), 1); rightClick(controlById(editor.get(), Editor::kInfoLabel), {2, 2}); },
         {"[ Satellite ] [off]", "-", "Edit"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dialogs.menus.clear();
        c.act();
        if (c.menu.isEmpty()) {
            EXPECT_TRUE(dialogs.menus.empty());
            continue;
        }
        ASSERT_EQ(dialogs.menus.size(), 1u);
        // The channel and transponder menus go on, behind a separator, with entries of our own.
        EXPECT_EQ(dialogs.menus[0].mid(0, c.menu.size()), c.menu);
        if (dialogs.menus[0].size() > c.menu.size()) {
            const QStringList extras = c.menu[0].startsWith("[ Transponder")
                ? QStringList{"-", "Import Transponders... [off]", "Export Transponders..."}
                : QStringList{"-", "Sort by Name", "Sort by Ch. ID", "Select Duplicates", "Apply Order From...",
                              "Export CSV...", "Compare With..."};
            EXPECT_EQ(dialogs.menus[0].mid(c.menu.size()), extras);
        }
    }
}

TEST_F(ChannelEditorDlgTest, DeletesReselectAndCount)
{
    open();
    CDragDropListBox* tv = channels(Editor::kTvList);
    click(tv, 3);
    click(tv, 4, Qt::ControlModifier);
    QTest::keyClick(tv, Qt::Key_Delete);
    EXPECT_EQ(tv->rowCount(), 238);
    EXPECT_EQ(tv->selectedRows(), std::vector<int>{3});
    EXPECT_EQ(textOf(editor.get(), Editor::kTvLabel), " 238 - TV Channels");
    EXPECT_EQ(rows(tv)[3], "   4 Music TV 1"); // numbered again after the refill

    click(tv, 236);
    click(tv, 237, Qt::ShiftModifier);
    dialogs.menuChoices = {"Delete Select"};
    rightClick(tv->viewport(), centre(tv, 0));
    EXPECT_EQ(tv->selectedRows(), std::vector<int>{235}); // the new last row

    CDragDropListBox* radio = channels(Editor::kRadioList);
    dialogs.menuChoices = {"Delete All"};
    rightClick(radio->viewport(), centre(radio, 0));
    EXPECT_EQ(radio->rowCount(), 0);
    EXPECT_EQ(textOf(editor.get(), Editor::kRadioLabel), "   0 - Radio Channels");
    EXPECT_EQ(tv->rowCount(), 236);
    EXPECT_EQ(database->deletedTvCount, 4);
    EXPECT_EQ(database->deletedRadioCount, 60);

    // Emptying the TV list moves every radio position: the radio list still names its channels.
    open();
    const QStringList radioRows = rows(channels(Editor::kRadioList));
    dialogs.menuChoices = {"Delete All"};
    rightClick(channels(Editor::kTvList)->viewport(), centre(channels(Editor::kTvList), 0));
    EXPECT_EQ(channels(Editor::kTvList)->rowCount(), 0);
    EXPECT_EQ(rows(channels(Editor::kRadioList)), radioRows);
}

TEST_F(ChannelEditorDlgTest, DeleteOneEmptiesTheChannelListsAndWarnsOnceForMissingStreams)
{
    Bytes image = samples::channelImage();
    for (int slot : {2, 5}) // past the loaded stream records
        image[0x10 + 48 * slot + 24] = 0xBF, image[0x10 + 48 * slot + 25] = 0xEC, image[0x10 + 48 * slot + 26] = 0x55;
    open(image);
    QListView* transponders = view(Editor::kTransponderList);
    dialogs.menuChoices = {"Delete One"};
    rightClick(transponders->viewport(), centre(transponders, 9));

    EXPECT_EQ(dialogs.messageTexts(), std::vector<QString>{"TS Index is overflow"});
    EXPECT_EQ(dialogs.calls.back().message.icon, MessageIcon::None);
    EXPECT_EQ(transponders->model()->rowCount(), 33);
    EXPECT_EQ(channels(Editor::kTvList)->rowCount(), 0);
    EXPECT_EQ(channels(Editor::kRadioList)->rowCount(), 0);
    EXPECT_EQ(textOf(editor.get(), Editor::kTvLabel), QString::asprintf("%4d - TV Channels", database->tvCount));
}

TEST_F(ChannelEditorDlgTest, SaveWritesTheFileAndAFailedSaveKeepsTheEdits)
{
    open();
    CDragDropListBox* tv = channels(Editor::kTvList);
    const QString moved = rows(tv)[1].mid(5);
    click(tv, 1);
    drag(tv, centre(tv, 1), centre(tv, 5));
    EXPECT_EQ(rows(tv)[4], "   5 " + moved); // just before the row that was at 5

    QFile::rename(path, path + ".away");
    controlAs<QPushButton>(editor.get(), Editor::kSave)->click();
    EXPECT_TRUE(editor->isVisible());
    ASSERT_EQ(dialogs.messageTexts().size(), 1u);
    EXPECT_TRUE(dialogs.messageTexts()[0].contains(path));
    EXPECT_EQ(dialogs.calls[0].message.icon, MessageIcon::Stop);

    QFile::rename(path + ".away", path);
    controlAs<QPushButton>(editor.get(), Editor::kSave)->click();
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(editor->result(), QDialog::Accepted);

    auto reloaded = std::make_unique<ChannelDatabase>();
    reloaded->filePath = path.toStdString();
    ASSERT_EQ(reloaded->load(), LoadResult::Loaded);
    EXPECT_EQ(QString::fromLatin1(reloaded->channels[4].name.data()), moved);
}

TEST_F(ChannelEditorDlgTest, QuitAsksOnlyWhenSomethingChanged)
{
    open();
    QTest::keyClick(editor.get(), Qt::Key_Escape);
    EXPECT_FALSE(editor->isVisible());
    EXPECT_TRUE(dialogs.calls.empty());

    open();
    click(channels(Editor::kTvList), 0);
    QTest::keyClick(channels(Editor::kTvList), Qt::Key_Delete);
    dialogs.answers = {MessageAnswer::No, MessageAnswer::Yes};
    controlAs<QPushButton>(editor.get(), Editor::kQuit)->click();
    EXPECT_TRUE(editor->isVisible());
    EXPECT_EQ(dialogs.messageTexts(), std::vector<QString>{"Discard Modified Data?"});
    QTest::keyClick(editor.get(), Qt::Key_Escape);
    EXPECT_FALSE(editor->isVisible());
    EXPECT_EQ(editor->result(), QDialog::Rejected);
}

TEST_F(ChannelEditorDlgTest, MouseSelectionAndDragRules)
{
    open();
    CDragDropListBox* tv = channels(Editor::kTvList);
    const QStringList before = rows(tv);

    // A press on an unselected row selects it at once; Shift-dragging extends from the anchor.
    click(tv, 2);
    mouse(tv, QEvent::MouseButtonPress, centre(tv, 4), Qt::ShiftModifier);
    mouse(tv, QEvent::MouseMove, centre(tv, 6));
    mouse(tv, QEvent::MouseButtonRelease, centre(tv, 6));
    EXPECT_EQ(tv->selectedRows(), (std::vector<int>{2, 3, 4, 5, 6}));

    // Three pixels do not start a drag, four do; releasing on the press row selects nothing.
    mouse(tv, QEvent::MouseButtonPress, centre(tv, 3));
    mouse(tv, QEvent::MouseMove, centre(tv, 3) + QPoint(3, 3));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(spy.begins, 0);
    mouse(tv, QEvent::MouseMove, centre(tv, 3) + QPoint(0, -4));
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(spy.begins, 1);
    mouse(tv, QEvent::MouseButtonRelease, centre(tv, 3));
    EXPECT_TRUE(tv->selectedRows().empty());
    EXPECT_EQ(rows(tv), before);

    // Released outside the list: nothing moves.
    click(tv, 1);
    drag(tv, centre(tv, 1), QPoint(-40, 10));
    EXPECT_EQ(rows(tv), before);

    // Below the last row of the radio list: the selection goes to the end.
    CDragDropListBox* radio = channels(Editor::kRadioList);
    const QStringList radioBefore = rows(radio);
    click(radio, 0);
    const QRect last = radio->visualRect(radio->model()->index(59, 0));
    drag(radio, centre(radio, 0), QPoint(last.center().x(), last.bottom() + 6));
    EXPECT_EQ(rows(radio)[59], "  60 " + radioBefore[0].mid(5));
    EXPECT_EQ(rows(radio)[0], "   1 " + radioBefore[1].mid(5));
    EXPECT_EQ(radio->selectedRows(), std::vector<int>{59});
    EXPECT_TRUE(database->modified);
}

TEST_F(ChannelEditorDlgTest, DraggingBesideTheListScrollsByWholeColumns)
{
    open();
    CDragDropListBox* tv = channels(Editor::kTvList);
    const int perColumn = tv->rowsPerColumn();
    ASSERT_LT(perColumn * 3, tv->rowCount());
    click(tv, 0);
    mouse(tv, QEvent::MouseButtonPress, centre(tv, 0));
    mouse(tv, QEvent::MouseMove, centre(tv, 0) + QPoint(0, 5));
    // The strip just right of the list's frame, in the rows' coordinates.
    const QPoint strip = tv->viewport()->mapFrom(tv, QPoint(tv->width() + 2, 20));
    mouse(tv, QEvent::MouseMove, strip);
    EXPECT_EQ(tv->topRow(), perColumn);
    mouse(tv, QEvent::MouseMove, strip + QPoint(0, 8)); // not far enough to scroll again
    EXPECT_EQ(tv->topRow(), perColumn);
    mouse(tv, QEvent::MouseMove, strip + QPoint(0, 17));
    EXPECT_EQ(tv->topRow(), 2 * perColumn);
    mouse(tv, QEvent::MouseButtonRelease, strip + QPoint(0, 17));
    EXPECT_EQ(tv->selectedRows(), std::vector<int>{0}); // released outside: nothing moved
}

} // namespace

namespace {

TEST_F(ChannelEditorDlgTest, FilterNarrowsBothListsAndKeepsNumbers)
{
    open();
    QTest::keyClick(editor.get(), Qt::Key_F, Qt::ControlModifier);
    auto* filter = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(filter, nullptr);
    EXPECT_EQ(filter->accessibleName(), "Filter");
    QTest::keyClicks(filter, "NEWS 24");
    CDragDropListBox* tv = channels(Editor::kTvList);
    EXPECT_EQ(rows(tv).mid(0, 2), (QStringList{"   1 News 24 1", "  13 News 24 2"}));
    EXPECT_EQ(textOf(editor.get(), Editor::kTvLabel), QString::asprintf("%4d - TV Channels", tv->rowCount()));
    EXPECT_EQ(channels(Editor::kRadioList)->rowCount(), 0);

    // A drag moves the channels among the rows shown; the hidden ones stay where they were.
    const QString hiddenBetween = QString::fromLatin1(database->channels[1].name.data());
    click(tv, 0);
    drag(tv, centre(tv, 0), centre(tv, 3));
    EXPECT_EQ(rows(tv).mid(0, 3), (QStringList{"   1 News 24 2", "  13 News 24 3", "  25 News 24 1"}));
    EXPECT_EQ(QString::fromLatin1(database->channels[1].name.data()), hiddenBetween);

    QTest::keyClick(filter, Qt::Key_Escape);
    EXPECT_TRUE(filter->text().isEmpty());
    EXPECT_TRUE(editor->isVisible()); // Escape cleared the filter, it did not quit
    EXPECT_EQ(tv->rowCount(), 240);
    EXPECT_EQ(rows(tv)[24], "  25 News 24 1");
}

} // namespace

namespace {

TEST_F(ChannelEditorDlgTest, KeyboardMovesSortDuplicatesAndUndo)
{
    open();
    // TV channel 34 repeats the Ch. ID of channel 0 on the same transponder (0).
    database->channels[34].serviceId = database->channels[0].serviceId;
    CDragDropListBox* tv = channels(Editor::kTvList);
    const QStringList before = rows(tv);

    click(tv, 1);
    QTest::keyClick(tv, Qt::Key_Down, Qt::AltModifier);
    EXPECT_EQ(rows(tv)[2], "   3 " + before[1].mid(5));
    EXPECT_EQ(tv->selectedRows(), std::vector<int>{2});
    QTest::keyClick(tv, Qt::Key_End, Qt::AltModifier);
    EXPECT_EQ(rows(tv).back(), " 240 " + before[1].mid(5));

    dialogs.menuChoices = {"Select Duplicates"};
    rightClick(tv->viewport(), centre(tv, 0));
    EXPECT_EQ(tv->selectedRows(), std::vector<int>{33}); // the rows below the moved one went up by one

    tv->selectRows({0, 1, 2, 3});
    dialogs.menuChoices = {"Sort by Name"};
    rightClick(tv->viewport(), centre(tv, 0));
    EXPECT_EQ(rows(tv).mid(0, 4), (QStringList{"   1 Docu 1", "   2 Kanal Sieben", "   3 Kids 1", "   4 News 24 1"}));

    // Three steps back: the file's own state again, so leaving asks nothing.
    for (int step = 0; step < 3; ++step)
        QTest::keyClick(tv, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rows(tv), before);
    EXPECT_FALSE(database->modified);
    QTest::keyClick(tv, Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(rows(tv)[2], "   3 " + before[1].mid(5));
    QTest::keyClick(tv, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(editor.get(), Qt::Key_Escape);
    EXPECT_FALSE(editor->isVisible());
    EXPECT_TRUE(dialogs.messageTexts().empty());
}

TEST_F(ChannelEditorDlgTest, ApplyOrderFromAnExportedList)
{
    open();
    CDragDropListBox* tv = channels(Editor::kTvList);
    const QStringList original = rows(tv);
    dialogs.fileAnswers = {pathOf(QStringLiteral("order"))};
    dialogs.menuChoices = {"Export CSV..."};
    rightClick(tv->viewport(), centre(tv, 0));
    ASSERT_TRUE(QFile::exists(pathOf(QStringLiteral("order.CSV"))));

    tv->selectRows({0, 1, 2, 3, 4, 5});
    dialogs.menuChoices = {"Sort by Ch. ID"};
    rightClick(tv->viewport(), centre(tv, 0));
    tv->selectRows({0, 1, 2, 3, 4, 5});
    QTest::keyClick(tv, Qt::Key_End, Qt::AltModifier);
    ASSERT_NE(rows(tv), original);

    dialogs.fileAnswers = {pathOf(QStringLiteral("order.CSV"))};
    dialogs.menuChoices = {"Apply Order From..."};
    rightClick(tv->viewport(), centre(tv, 0));
    EXPECT_EQ(rows(tv), original);
    EXPECT_EQ(dialogs.messageTexts().back(), "Order applied: 240 matched, 0 unmatched (kept after the matched ones), 0 reference entries ignored.");
}

TEST_F(ChannelEditorDlgTest, ImportTransponderTableUndoItAndCompareWithTheFileAsItWas)
{
    open();
    QListView* transponders = view(Editor::kTransponderList);
    CDragDropListBox* tv = channels(Editor::kTvList);
    click(view(Editor::kSatelliteList), 2); // HOTBIRD 13.0E
    ASSERT_EQ(rows(transponders).size(), 8);
    QFile table(pathOf(QStringLiteral("satellites.xml")));
    ASSERT_TRUE(table.open(QIODevice::WriteOnly));
    table.write("<satellites><sat name='Astra' position='192'/><sat name='Hot Bird' position='130'>"
                "<transponder frequency='10719000' symbol_rate='27500000' polarization='1'/>"
                "<transponder frequency='10723000' symbol_rate='29900000' polarization='0' system='1'/>"
                "<transponder frequency='10757000' symbol_rate='27500000' polarization='2'/></sat></satellites>");
    table.close();
    int preselected = -1;
    editor->setModalRunner([&](QDialog& dialog) {
        auto& ask = dynamic_cast<CTransponderImportDlg&>(dialog);
        preselected = ask.satelliteList()->currentRow();
        ask.dvbs2Check()->setChecked(true);
        return int(QDialog::Accepted);
    });
    dialogs.fileAnswers = {table.fileName()};
    dialogs.menuChoices = {"Import Transponders..."};
    rightClick(transponders->viewport(), centre(transponders, 0));
    EXPECT_EQ(preselected, 1) << "the <sat> at the position the satellite's name ends in";
    EXPECT_EQ(rows(transponders).size(), 10);
    EXPECT_EQ(dialogs.messageTexts().back(), "Added 2 transponders.\nSkipped 1 circular, 0 DVB-S2, 0 out of range, "
                                             "0 already there.\nLeft out for want of room: 0.");
    EXPECT_EQ(editorStatus(), "Added 2 transponders. Skipped 1 circular, 0 DVB-S2, 0 out of range, 0 already there. "
                              "Left out for want of room: 0.");
    QTest::keyClick(editor.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(rows(transponders).size(), 8) << "the whole import is one step";
    QTest::keyClick(editor.get(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_EQ(rows(transponders).size(), 10);

    // The satellite's table goes out as it is now, in the form the name asks for.
    dialogs.fileAnswers = {pathOf(QStringLiteral("hotbird.xml"))};
    dialogs.menuChoices = {"Export Transponders..."};
    rightClick(transponders->viewport(), centre(transponders, 0));
    const auto exported = TransponderTable::readFile(pathOf(QStringLiteral("hotbird.xml")).toStdString());
    ASSERT_EQ(exported.format, TransponderTable::Format::SatellitesXml);
    ASSERT_EQ(exported.satellites.size(), 1u);
    EXPECT_EQ(exported.satellites[0].transponders.size(), 10u);

    // A refused table changes nothing and says where it is wrong.
    table.open(QIODevice::WriteOnly);
    table.write("[CHANNEL]\nFREQUENCY = 10719000\n");
    table.close();
    dialogs.fileAnswers = {table.fileName()};
    dialogs.menuChoices = {"Import Transponders..."};
    rightClick(transponders->viewport(), centre(transponders, 0));
    EXPECT_TRUE(dialogs.messageTexts().back().contains("line 1: the entry has no SYMBOL_RATE")) << dialogs.messageTexts().back().toStdString();
    EXPECT_EQ(rows(transponders).size(), 10);

    // Compared with the file as it is on disk: the two transponders and a moved channel,
    // whose line leads to it in the lists.
    click(view(Editor::kSatelliteList), 0);
    tv->selectRows({3});
    QTest::keyClick(tv, Qt::Key_End, Qt::AltModifier);
    dialogs.fileAnswers = {path};
    dialogs.menuChoices = {"Compare With..."};
    rightClick(tv->viewport(), tv->viewport()->rect().center()); // the list has scrolled to the moved row
    auto* compare = editor->findChild<CChannelDiffDlg*>();
    ASSERT_NE(compare, nullptr);
    QStringList lines = rows(compare->lineList());
    ASSERT_EQ(lines.size(), 3) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith("Transponder added: HOTBIRD 13.0E 10719 VER 27500"));
    EXPECT_TRUE(lines[2].startsWith("TV moved: ") && lines[2].endsWith(" from 4 to 240")) << lines[2].toStdString();
    click(view(Editor::kSatelliteList), 2);
    QListWidget* list = compare->lineList();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(compare));
    const QPoint line = list->visualItemRect(list->item(2)).center();
    for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease, QEvent::MouseButtonDblClick,
                                    QEvent::MouseButtonRelease})
        mouse(list, type, line);
    EXPECT_EQ(view(Editor::kSatelliteList)->currentIndex().row(), 0);
    EXPECT_EQ(tv->selectedRows(), std::vector<int>{239});
}

} // namespace

namespace {

TEST_F(ChannelEditorDlgTest, ADoubleClickEditsTheRowDoubleClicked)
{
    open();
    CDragDropListBox* tv = channels(Editor::kTvList);
    QStringList edited;
    editor->setModalRunner([&](QDialog& dialog) {
        edited << controlAs<QLineEdit>(&dialog, CChannelDlg::kName)->text();
        return int(QDialog::Rejected);
    });
    const auto doubleClick = [&](int row) {
        mouse(tv, QEvent::MouseButtonPress, centre(tv, row));
        mouse(tv, QEvent::MouseButtonRelease, centre(tv, row));
        mouse(tv, QEvent::MouseButtonDblClick, centre(tv, row));
        mouse(tv, QEvent::MouseButtonRelease, centre(tv, row));
    };
    click(tv, 3);
    click(tv, 5, Qt::ControlModifier);
    doubleClick(3); // a row of the selection, not the current one (5)
    doubleClick(10); // a row outside it
    const auto nameAt = [&](int row) { return rows(tv)[row].mid(5); };
    EXPECT_EQ(edited, (QStringList{nameAt(3), nameAt(10)}));
}

TEST_F(ChannelEditorDlgTest, EnterAndKeypadEnterActByFocusAndOnlySaveSaves)
{
    const struct {
        const char* focus;
        bool selectRow;
        int dialogsOpened;
        bool saved;
    } cases[] = {
        {"filter", false, 0, false}, {"quit", false, 0, false},  {"tv", true, 1, false},
        {"tv", false, 0, false},     {"transponders", true, 1, false}, {"save", false, 0, true},
    };
    for (const auto& c : cases) {
        for (const Qt::KeyboardModifiers keys : {Qt::KeyboardModifiers(Qt::KeypadModifier), Qt::KeyboardModifiers()}) {
            SCOPED_TRACE(std::string(c.focus) + (keys ? " keypad Enter" : " Return"));
            open();
            int opened = 0;
            editor->setModalRunner([&](QDialog&) { return ++opened, int(QDialog::Rejected); });
            const std::string focus = c.focus;
            QWidget* target = nullptr;
            if (focus == "filter") {
                for (QLineEdit* field : editor->findChildren<QLineEdit*>())
                    if (field->accessibleName() == "Filter")
                        target = field;
            } else if (focus == "tv" || focus == "transponders") {
                auto* list = focus == "tv" ? static_cast<QAbstractItemView*>(channels(Editor::kTvList))
                                           : view(Editor::kTransponderList);
                if (c.selectRow)
                    click(list, 1);
                target = list;
            } else {
                target = controlById(editor.get(), focus == "save" ? Editor::kSave : Editor::kQuit);
            }
            ASSERT_NE(target, nullptr);
            target->setFocus(Qt::TabFocusReason);
            QTest::keyClick(target, keys ? Qt::Key_Enter : Qt::Key_Return, keys);
            EXPECT_EQ(opened, c.dialogsOpened);
            EXPECT_EQ(editor->isVisible(), !c.saved);
            EXPECT_EQ(editor->result() == QDialog::Accepted, c.saved);
        }
    }
}

TEST_F(ChannelEditorDlgTest, CountLabelsShowTheirWholeText)
{
    open(samples::fullChannelImage());
    for (const int id : {Editor::kTransponderLabel, Editor::kTvLabel, Editor::kRadioLabel}) {
        auto* label = controlAs<QLabel>(editor.get(), id);
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
        EXPECT_GE(label->x(), 0);
        EXPECT_LE(label->x() + label->width(), editor->width());
    }
    EXPECT_EQ(textOf(editor.get(), Editor::kTransponderLabel), "1200 - Trasponders");
}

TEST_F(ChannelEditorDlgTest, ThePanelDescribesWhatIsCurrentAfterEachStep)
{
    open();
    CDragDropListBox* tv = channels(Editor::kTvList);
    const auto panelOfRow = [&](int row) {
        click(tv, row);
        return panel();
    };
    const QString fourth = panelOfRow(4);
    click(tv, 3);
    QTest::keyClick(tv, Qt::Key_Delete);
    EXPECT_EQ(panel(), fourth); // the row now selected, where the deleted one was

    // "All" is already chosen: choosing it again still empties the panel.
    click(view(Editor::kSatelliteList), 0);
    EXPECT_EQ(panel(), "");

    // A drop: the panel follows the moved channel, not the row dropped on.
    const QString first = panelOfRow(0);
    drag(tv, centre(tv, 0), centre(tv, 5));
    EXPECT_EQ(panel(), first);

    // What a command found is cleared by the next step.
    dialogs.menuChoices = {"Select Duplicates"};
    rightClick(tv->viewport(), centre(tv, 0));
    EXPECT_FALSE(editorStatus().isEmpty());
    click(tv, 1);
    QTest::keyClick(tv, Qt::Key_Delete);
    EXPECT_TRUE(editorStatus().isEmpty());

    // A new transponder is the chosen one: its panel, and its (no) channels.
    editor->setModalRunner([&](QDialog& dialog) {
        controlAs<QLineEdit>(&dialog, CTransponderDlg::kFrequency)->setText("11111");
        controlAs<QLineEdit>(&dialog, CTransponderDlg::kSymbolRate)->setText("27500");
        controlAs<QPushButton>(&dialog, 1)->click();
        return dialog.result();
    });
    click(view(Editor::kSatelliteList), 2);
    view(Editor::kTransponderList)->setFocus();
    editor->runCommand(Editor::kCmdNewTransponder);
    EXPECT_EQ(panel(), "sat  : [1] (HOTBIRD 13.0E)\n");
    EXPECT_EQ(tv->rowCount(), 0);
    EXPECT_EQ(textOf(editor.get(), Editor::kTvLabel), "   0 - TV Channels");

    // Undo: the transponder is gone, the satellite is what is chosen.
    QTest::keyClick(editor.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(panel(), "=======[ Satellite Information ]=======\nName : HOTBIRD 13.0E\n");
}

} // namespace
