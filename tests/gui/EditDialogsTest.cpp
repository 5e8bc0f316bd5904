// The transponder, channel and satellite dialogs and Out Text: what the user types,
// what they say, what they store. The database steps behind them are tested with the
// database.
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>

#include "ChannelDatabase.h"
#include "ChannelDlg.h"
#include "ChannelEditCommands.h"
#include "ChannelEditorDlg.h"
#include "GuiTestBase.h"
#include "SampleImages.h"
#include "EditorTexts.h"
#include "SatelliteDlg.h"
#include "TextListing.h"
#include "TransponderDlg.h"

using namespace updatetool;
using namespace updatetool::test;

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

class EditDialogsTest : public GuiTestBase {
protected:
    void SetUp() override
    {
        database->loadFromBytes(samples::channelImage());
        database->rebuildCountersAndFavorites();
        database->sourceKind = 'c';
    }
    static void type(QDialog& dialog, int id, const QString& text) { controlAs<QLineEdit>(&dialog, id)->setText(text); }
    static QString field(QDialog& dialog, int id) { return controlAs<QLineEdit>(&dialog, id)->text(); }
    // Presses OK; true when the dialog closed with it.
    bool ok(QDialog& dialog)
    {
        dialogs.calls.clear();
        controlAs<QPushButton>(&dialog, 1)->click();
        return dialog.result() == QDialog::Accepted;
    }
    QString said() const { return dialogs.messageTexts().empty() ? QString() : dialogs.messageTexts().back(); }

    std::unique_ptr<ChannelDatabase> database = std::make_unique<ChannelDatabase>();
    ChannelEditCommands commands{*database};
};

TEST_F(EditDialogsTest, TransponderRangesAreCheckedFrequencyFirst)
{
    const QString frequencyRange = "Invalid Frequency Range\n(3500 - 12750 MHz)";
    const QString symbolRange = "Invalid Symbolrate Range\n(2000 - 45000 Kbaud)";
    const struct {
        int satelliteRow;
        const char* frequency;
        const char* second;
        QString message; // empty: stored
    } cases[] = {
        {2, "3499", "27500", frequencyRange}, {2, "12751", "27500", frequencyRange},
        {2, "3500", "1999", symbolRange},     {2, "12750", "45001", symbolRange},
        {2, "1", "1", frequencyRange},        {2, "x12", "27500", "Please enter a positive integer."},
        {2, "3500", "2000", ""},              {2, "12750", "45000", ""},
        {128, "44999", "10", frequencyRange}, {128, "999001", "10", frequencyRange},
        {128, "45000", "201", symbolRange},   {128, "45000", "0", ""},
        {128, "999000", "200", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.frequency) + " / " + c.second);
        database->currentSatellite = c.satelliteRow - 1;
        CTransponderDlg dialog(commands, dialogs, CTransponderDlg::kInsert, c.satelliteRow, -1);
        type(dialog, CTransponderDlg::kFrequency, QString::fromLatin1(c.frequency));
        type(dialog, CTransponderDlg::kSymbolRate, QString::fromLatin1(c.second));
        EXPECT_EQ(ok(dialog), c.message.isEmpty());
        EXPECT_EQ(said(), c.message);
    }
}

TEST_F(EditDialogsTest, TerrestrialTranspondersCountIn100KilohertzSteps)
{
    database->currentSatellite = kTerrestrialSatellite;
    CTransponderDlg insert(commands, dialogs, CTransponderDlg::kInsert, kTerrestrialSatellite + 1, -1);
    EXPECT_EQ(insert.windowTitle(), "TP - Insert");
    EXPECT_EQ(textOf(&insert, CTransponderDlg::kSecondLabel), "Channel No.");
    EXPECT_EQ(textOf(&insert, CTransponderDlg::kFrequencyUnit), "KHz");
    EXPECT_FALSE(controlById(&insert, CTransponderDlg::kPolarity)->isVisibleTo(&insert));
    EXPECT_EQ(controlById(&insert, CTransponderDlg::kSymbolRate)->accessibleName(), "Channel No.");
    type(insert, CTransponderDlg::kFrequency, "474050");
    type(insert, CTransponderDlg::kSymbolRate, "21");
    ASSERT_TRUE(ok(insert)); // differs from 474.5 MHz on channel 21
    const TransponderRecord& stored = database->transponders[insert.transponder()];
    EXPECT_EQ(stored.frequency, 4740);
    EXPECT_EQ(QString::fromStdString(transponderRowText(stored)), "CH21   HP   474.0");

    CTransponderDlg edit(commands, dialogs, CTransponderDlg::kEdit, 0, insert.transponder());
    EXPECT_EQ(field(edit, CTransponderDlg::kFrequency), "474000");
    database->modified = false;
    EXPECT_TRUE(ok(edit)); // nothing changed: closes, writes nothing
    EXPECT_FALSE(database->modified);
    // Another transponder's values are refused.
    CTransponderDlg clash(commands, dialogs, CTransponderDlg::kEdit, 0, insert.transponder());
    type(clash, CTransponderDlg::kFrequency, "474500");
    EXPECT_FALSE(ok(clash));
    EXPECT_EQ(said(), "Transponder infomation is duplicated");
}

TEST_F(EditDialogsTest, ChannelFieldsAreCheckedAndStored)
{
    const struct {
        const char* serviceId;
        const char* videoPid;
        QString message;
    } cases[] = {
        {"0", "100", "Please enter an integer between 1 and 65535."},
        {"65536", "100", "Please enter an integer between 1 and 65535."},
        {"1", "-5", "Please enter a positive integer."},
        {"65535", "70000", "Vid PID must be a number from 0 to 65535."},
        {"65535", "4464", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.serviceId);
        CChannelDlg dialog(commands, dialogs, {CChannelDlg::kEdit, false, 0, -1, 2}, nullptr);
        // The stored name starts with 0x05, which is not shown.
        EXPECT_EQ(field(dialog, CChannelDlg::kName), "Kanal Sieben");
        type(dialog, CChannelDlg::kServiceId, QString::fromLatin1(c.serviceId));
        type(dialog, CChannelDlg::kVideoPid, QString::fromLatin1(c.videoPid));
        EXPECT_EQ(ok(dialog), c.message.isEmpty());
        EXPECT_EQ(said(), c.message);
    }
    const ChannelRecord& channel = database->channels[2];
    EXPECT_EQ(channel.videoPid, 4464);
    EXPECT_EQ(channel.serviceId, 65535);
    EXPECT_EQ(std::string(channel.name.data()), "Kanal Sieben");

    CChannelDlg unnamed(commands, dialogs, {CChannelDlg::kEdit, false, 0, -1, 2}, nullptr);
    type(unnamed, CChannelDlg::kName, QString());
    EXPECT_FALSE(ok(unnamed));
    EXPECT_EQ(said(), "Need text input");
}

TEST_F(EditDialogsTest, InputThatDoesNotFitIsRefusedWithTheDialogOpen)
{
    const QString latin1Only = "only single-byte (Latin-1) letters, digits and signs can be stored.";
    const struct {
        bool satellite; // else the channel dialog
        int id;
        QString text;
        QString message; // empty: stored
    } cases[] = {
        {false, CChannelDlg::kName, "Kan\u00e4l Zw\u00f6lf", ""},
        {false, CChannelDlg::kName, "Kanal \u20ac", "Channel Name cannot hold \"\u20ac\": " + latin1Only},
        {false, CChannelDlg::kName, "Kanal \U0001F4FA", "Channel Name cannot hold \"\U0001F4FA\": " + latin1Only},
        {false, CChannelDlg::kName, "   ", "Channel Name cannot be only blanks: enter at least one letter, digit or sign."},
        {false, CChannelDlg::kAudioPid, "70000", "Aud PID must be a number from 0 to 65535."},
        {false, CChannelDlg::kPcrPid, "65536", "PCR PID must be a number from 0 to 65535."},
        {false, CChannelDlg::kPcrPid, "65535", ""},
        {true, CSatelliteDlg::kHighLo, "65536", "High L.O. must be a number from 0 to 65535."},
        {true, CSatelliteDlg::kLowLo, "70000", "Low L.O. must be a number from 0 to 65535."},
        {true, CSatelliteDlg::kName, "\u0391\u03a3\u03a4\u03a1\u0391", "Satellite Name cannot hold \"\u0391\": " + latin1Only},
        {true, CSatelliteDlg::kName, " ", "Satellite Name cannot be only blanks: enter at least one letter, digit or sign."},
        {true, CSatelliteDlg::kLowLo, "65535", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        std::unique_ptr<QDialog> dialog;
        if (c.satellite)
            dialog = std::make_unique<CSatelliteDlg>(commands, dialogs, 3);
        else
            dialog = std::make_unique<CChannelDlg>(commands, dialogs, CChannelDlg::Opening{CChannelDlg::kEdit, false, 0, -1, 2});
        type(*dialog, c.id, c.text);
        EXPECT_EQ(ok(*dialog), c.message.isEmpty());
        EXPECT_EQ(said(), c.message);
        if (!c.message.isEmpty()) {
            EXPECT_EQ(dialogs.calls.back().message.icon, MessageIcon::Stop);
            EXPECT_EQ(field(*dialog, c.id), c.text);
        }
    }
    EXPECT_EQ(QString::fromLatin1(database->channels[2].name.data()), "Kan\u00e4l Zw\u00f6lf");
}

TEST_F(EditDialogsTest, AChIdTakenOnTheSameTransponderIsAskedAbout)
{
    // TV channels 2 and 36 share transponder 2.
    const std::uint16_t taken = database->channels[36].serviceId;
    const QString question = QStringLiteral("Ch. ID %1 is already used by %2 on this transponder. Keep it?")
                                 .arg(taken)
                                 .arg(QString::fromLatin1(database->channels[36].name.data()));
    for (const MessageAnswer answer : {MessageAnswer::No, MessageAnswer::Yes}) {
        CChannelDlg dialog(commands, dialogs, {CChannelDlg::kEdit, false, 0, -1, 2});
        type(dialog, CChannelDlg::kServiceId, QString::number(taken));
        dialogs.answers = {answer};
        EXPECT_EQ(ok(dialog), answer == MessageAnswer::Yes);
        EXPECT_EQ(said(), question);
        EXPECT_EQ(dialogs.calls.back().message.buttons, MessageButtons::YesNo);
    }
    EXPECT_EQ(database->channels[2].serviceId, taken);
    // The pair stands already: OK asks no more.
    CChannelDlg again(commands, dialogs, {CChannelDlg::kEdit, false, 0, -1, 2});
    EXPECT_TRUE(ok(again));
    EXPECT_TRUE(dialogs.calls.empty());
}

TEST_F(EditDialogsTest, TheChannelDialogShowsTheChannelsOwnTransponderOrSaysItIsUnknown)
{
    // Transponder 3 takes transponder 2's frequency: 2 vertical, 3 horizontal.
    database->transponders[3].frequency = database->transponders[2].frequency;
    database->transponders[3].symbolRate = database->transponders[2].symbolRate;
    database->transportStreams[3].tsFrequency = database->transponders[2].frequency;
    database->transportStreams[3].tsSymbolRate = database->transponders[2].symbolRate;
    for (const int onTwin : {2, 3}) { // TV channel n is on transponder n
        CChannelDlg twin(commands, dialogs, {CChannelDlg::kEdit, false, 0, -1, onTwin});
        EXPECT_EQ(controlAs<QComboBox>(&twin, CChannelDlg::kTransponder)->currentData().toInt(), onTwin);
    }

    // Channel 4's stream record leads to no transponder.
    database->transportStreams[4].tsFrequency = 11111;
    const ChannelRecord before = database->channels[4];
    CChannelDlg unknown(commands, dialogs, {CChannelDlg::kEdit, false, 0, -1, 4});
    auto* transponder = controlAs<QComboBox>(&unknown, CChannelDlg::kTransponder);
    EXPECT_EQ(transponder->currentIndex(), 0);
    EXPECT_EQ(transponder->currentText(), "(unknown transponder)");
    ASSERT_TRUE(ok(unknown));
    EXPECT_EQ(database->channels[4].streamRef, before.streamRef);
}

TEST_F(EditDialogsTest, AnUntouchedTerrestrialTransponderKeepsEveryStoredFrequency)
{
    database->transponders[30].frequency = 65534; // 65535 would end the table
    CTransponderDlg edit(commands, dialogs, CTransponderDlg::kEdit, 0, 30);
    EXPECT_EQ(field(edit, CTransponderDlg::kFrequency), "6553400");
    database->modified = false;
    EXPECT_TRUE(ok(edit));
    EXPECT_EQ(database->transponders[30].frequency, 65534);
    EXPECT_FALSE(database->modified);
}

TEST_F(EditDialogsTest, RadioChannelsKeepTheirVideoPid)
{
    const int position = database->tvCount; // the first radio channel
    const std::uint16_t videoPid = database->channels[database->channelOrder[position]].videoPid;
    CChannelDlg dialog(commands, dialogs, {CChannelDlg::kEdit, true, 0, -1, position}, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "RADIO Ch. - Edit");
    EXPECT_FALSE(controlById(&dialog, CChannelDlg::kVideoPid)->isEnabled());
    controlAs<QCheckBox>(&dialog, CChannelDlg::kFirstFavorite + 6)->setChecked(true);
    ASSERT_TRUE(ok(dialog));
    const ChannelRecord& channel = database->channels[database->channelOrder[position]];
    EXPECT_EQ(channel.videoPid, videoPid);
    EXPECT_TRUE(channel.flags & channelflag::favorite(7));
}

TEST_F(EditDialogsTest, SatelliteSettingsRoundTrip)
{
    CSatelliteDlg dialog(commands, dialogs, 3);
    auto* type_ = controlAs<QComboBox>(&dialog, CSatelliteDlg::kLnbType);
    type_->setCurrentIndex(3);
    emit type_->activated(3);
    EXPECT_EQ(field(dialog, CSatelliteDlg::kHighLo), "5150");
    EXPECT_EQ(field(dialog, CSatelliteDlg::kLowLo), "0");
    type_->setCurrentIndex(0);
    emit type_->activated(0);
    EXPECT_EQ(field(dialog, CSatelliteDlg::kHighLo), "10600");
    EXPECT_EQ(field(dialog, CSatelliteDlg::kLowLo), "9750");
    type(dialog, CSatelliteDlg::kHighLo, "12000");
    controlAs<QComboBox>(&dialog, CSatelliteDlg::kCommitted)->setCurrentIndex(4);
    controlAs<QComboBox>(&dialog, CSatelliteDlg::kUncommitted)->setCurrentIndex(16);
    controlAs<QComboBox>(&dialog, CSatelliteDlg::kRepeat)->setCurrentIndex(3);
    controlAs<QComboBox>(&dialog, CSatelliteDlg::kPower)->setEditText("19V"); // names no entry
    type(dialog, CSatelliteDlg::kName, "EUTELSAT 9E");
    ASSERT_TRUE(ok(dialog));

    const SatelliteRecord& satellite = database->satellites[2];
    EXPECT_EQ(satellite.loHigh, 12000);
    EXPECT_EQ(satellite.diseqc, 0x84);
    EXPECT_EQ(satellite.diseqcRepeat, 3);
    EXPECT_EQ(satellite.lnbPower, 0xFF);
    EXPECT_EQ(std::string(satellite.name.data()), "EUTELSAT 9E");

    CSatelliteDlg again(commands, dialogs, 3);
    EXPECT_EQ(controlAs<QComboBox>(&again, CSatelliteDlg::kCommitted)->currentText(), "#4");
    EXPECT_EQ(controlAs<QComboBox>(&again, CSatelliteDlg::kUncommitted)->currentText(), "#16");
    EXPECT_EQ(controlAs<QComboBox>(&again, CSatelliteDlg::kRepeat)->currentIndex(), 3);
    EXPECT_EQ(controlAs<QComboBox>(&again, CSatelliteDlg::kPower)->currentText(), "");
    EXPECT_EQ(controlById(&again, CSatelliteDlg::kHighLo)->accessibleName(), "High L.O.");
    type(again, CSatelliteDlg::kName, QString());
    database->modified = false;
    EXPECT_FALSE(ok(again));
    EXPECT_EQ(said(), "Need text input");
    EXPECT_TRUE(database->modified);
}

// The editor's side: the dialogs open from its menus and it shows what they stored.
TEST_F(EditDialogsTest, TheEditorInsertsWhatTheDialogsAddAndWritesTheListing)
{
    const QString path = pathOf(QStringLiteral("channels.img"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const auto image = samples::channelImage();
    file.write(reinterpret_cast<const char*>(image.data()), static_cast<qint64>(image.size()));
    file.close();
    database->reset();
    database->sourceKind = 'c';
    database->filePath = path.toStdString();
    CChannelEditorDlg editor(*database, dialogs);
    editor.show();
    editor.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&editor));
    editor.setModalRunner([&](QDialog& dialog) {
        if (auto* transponder = qobject_cast<CTransponderDlg*>(&dialog)) {
            type(*transponder, CTransponderDlg::kFrequency, "11111");
            type(*transponder, CTransponderDlg::kSymbolRate, "27500");
        } else {
            type(dialog, CChannelDlg::kName, "Brand New");
        }
        controlAs<QPushButton>(&dialog, 1)->click();
        return dialog.result();
    });

    auto* satellites = controlAs<QListView>(&editor, CChannelEditorDlg::kSatelliteList);
    satellites->setCurrentIndex(satellites->model()->index(2, 0)); // HOTBIRD
    auto* transponders = controlAs<QListView>(&editor, CChannelEditorDlg::kTransponderList);
    transponders->setFocus();
    editor.runCommand(CChannelEditorDlg::kCmdNewTransponder);
    EXPECT_EQ(transponders->model()->rowCount(), 9);
    EXPECT_EQ(transponders->currentIndex().data().toString(), "11111 VER 27500");

    auto* tv = controlAs<CDragDropListBox>(&editor, CChannelEditorDlg::kTvList);
    const int rows = tv->rowCount();
    tv->setFocus();
    editor.runCommand(CChannelEditorDlg::kCmdInsertChannel);
    ASSERT_EQ(tv->rowCount(), rows + 1);
    EXPECT_EQ(tv->model()->index(rows, 0).data().toString(), QString::asprintf("%4d Brand New", rows + 1));
    EXPECT_TRUE(tv->isRowSelected(rows));

    // Out Text: ".TXT" added, the same bytes the command line's export writes.
    dialogs.fileAnswers = {pathOf(QStringLiteral("list"))};
    QTest::keyClick(tv, Qt::Key_T, Qt::ControlModifier);
    QFile listing(pathOf(QStringLiteral("list.TXT")));
    ASSERT_TRUE(listing.open(QIODevice::ReadOnly));
    EXPECT_EQ(listing.readAll().toStdString(), channelListingText(*database));
    dialogs.fileAnswers = {pathOf(QStringLiteral("no/such/folder/list.txt"))};
    QTest::keyClick(tv, Qt::Key_T, Qt::ControlModifier);
    EXPECT_EQ(said(), "Could not open \"" + pathOf(QStringLiteral("no/such/folder/list.txt")) + "\"");
}

} // namespace
