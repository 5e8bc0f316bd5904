#include "ChannelDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ChannelEditCommands.h"
#include "DialogControls.h"
#include "DialogService.h"
#include "EditorLists.h"
#include "EditorTexts.h"

namespace updatetool {

namespace {

constexpr char kServiceIdRange[] = "Please enter an integer between 1 and 65535.";
constexpr char kNeedText[] = "Need text input";
constexpr char kCountOverflow[] = "Channel Count is Over flow!!";
constexpr char kChooseTransponder[] = "Choose the channel's transponder first.";
constexpr char kStreamTableFull[] =
    "There is no room for another transport stream record (all 1200 are in use); nothing was changed.";
constexpr char kReadsAsEmpty[] =
    "Vid PID 65535 together with Ch. ID 65535 marks an empty channel slot; change one of them.";
constexpr char kUnknownTransponder[] = "(unknown transponder)";
constexpr char kServiceIdTaken[] = "Ch. ID %1 is already used by %2 on this transponder. Keep it?";
constexpr int kNameLength = 15;
// Item data of the entry that stands for a transponder the channel's stream record does not lead to.
constexpr int kUnknownEntry = -1;

QLineEdit* numberField(QWidget* parent, int id)
{
    auto* field = new QLineEdit(parent);
    field->setProperty(kControlIdProperty, id);
    return field;
}

} // namespace

CChannelDlg::CChannelDlg(ChannelEditCommands& commands, DialogService& dialogs, const Opening& opening, QWidget* parent)
    : QDialog(parent), commands_(commands), dialogs_(dialogs), opening_(opening)
{
    setProperty(kTemplateIdProperty, kTemplateId);
    const ChannelDatabase& database = commands_.database();
    const bool edit = opening_.mode == kEdit;
    const ChannelRecord* channel = nullptr;
    if (edit && opening_.position >= 0 && opening_.position < kChannelSlots
        && database.channelOrder[static_cast<std::size_t>(opening_.position)] < kChannelSlots)
        channel = &database.channels[database.channelOrder[static_cast<std::size_t>(opening_.position)]];

    // The satellite: the chosen one for an insert, the one the channel's transponder
    // belongs to for an edit.
    satellite_ = std::clamp(opening_.satelliteRow - 1, 0, kSatelliteCapacity - 1);
    std::uint16_t tuned = kNoTransponder;
    if (channel != nullptr) {
        tuned = transponderOfChannel(database, *channel);
        satellite_ = tuned < kTransponderCapacity ? database.transponders[tuned].satellite : channel->satellite;
    }
    // A damaged file's index names no satellite: nothing to choose from, so OK is refused
    // rather than a satellite made up.
    const bool satelliteKnown = satellite_ >= 0 && satellite_ < kSatelliteCapacity;
    const SatelliteRecord noSatellite{};
    const SatelliteRecord& satellite =
        satelliteKnown ? database.satellites[static_cast<std::size_t>(satellite_)] : noSatellite;

    setWindowTitle(QString::fromLatin1(opening_.radio ? "RADIO Ch." : "TV Ch.")
                   + QString::fromLatin1(edit ? " - Edit" : " - Insert"));
    auto* grid = new QGridLayout(this);
    int row = 0;
    const auto addRow = [&](const QString& text, QWidget* field, int column = 0) {
        auto* caption = new QLabel(text, this);
        caption->setBuddy(field);
        grid->addWidget(caption, row, column);
        grid->addWidget(field, row, column + 1);
    };

    auto* satelliteName = new QLabel(fromBoxText(storedName(satellite.name)), this);
    satelliteName->setProperty(kControlIdProperty, kSatelliteName);
    addRow(QStringLiteral("Satellite"), satelliteName);
    satelliteName->setAccessibleName(QStringLiteral("Satellite Name"));
    satelliteName->setAccessibleDescription(satelliteName->text());
    ++row;

    // Only the satellite's transponders, without deleted ones; no typing, so every
    // choice is a real transponder.
    transponder_ = new QComboBox(this);
    transponder_->setProperty(kControlIdProperty, kTransponder);
    for (int index = 0; index < kTransponderCapacity; ++index) {
        const TransponderRecord& record = database.transponders[static_cast<std::size_t>(index)];
        if (satelliteKnown && record.satellite == satellite.number && transponderListable(record, database.satelliteCount))
            transponder_->addItem(fromBoxText(transponderRowText(record)), index);
    }
    // A channel whose stream record leads to no listed transponder says so, and keeps its
    // tuning while that entry stays chosen, rather than taking the first transponder.
    if (channel != nullptr && transponder_->findData(tuned) < 0)
        transponder_->insertItem(0, QString::fromLatin1(kUnknownTransponder), kUnknownEntry);
    addRow(QStringLiteral("Transponder"), transponder_);
    ++row;

    name_ = new QLineEdit(this);
    name_->setProperty(kControlIdProperty, kName);
    name_->setMaxLength(kNameLength);
    addRow(QStringLiteral("Channel Name"), name_);
    ++row;

    videoPid_ = numberField(this, kVideoPid);
    serviceId_ = numberField(this, kServiceId);
    addRow(QStringLiteral("Vid PID"), videoPid_);
    addRow(QStringLiteral("Ch. ID"), serviceId_, 2);
    ++row;
    audioPid_ = numberField(this, kAudioPid);
    pcrPid_ = numberField(this, kPcrPid);
    addRow(QStringLiteral("Aud PID"), audioPid_);
    addRow(QStringLiteral("PCR PID"), pcrPid_, 2);
    ++row;

    auto* flagRow = new QHBoxLayout;
    scrambled_ = new QCheckBox(QStringLiteral("Scrambled"), this);
    locked_ = new QCheckBox(QStringLiteral("Locked"), this);
    infoMark_ = new QCheckBox(QStringLiteral("'i' Mark"), this);
    scrambled_->setProperty(kControlIdProperty, kScrambled);
    locked_->setProperty(kControlIdProperty, kLocked);
    infoMark_->setProperty(kControlIdProperty, kInfoMark);
    for (QCheckBox* box : {scrambled_, locked_, infoMark_})
        flagRow->addWidget(box);
    grid->addLayout(flagRow, row++, 0, 1, 4);
    auto* favoriteRow = new QHBoxLayout;
    for (int group = 0; group < 7; ++group) {
        favorites_[group] = new QCheckBox(QStringLiteral("Fav %1").arg(group + 1), this);
        favorites_[group]->setProperty(kControlIdProperty, kFirstFavorite + group);
        favoriteRow->addWidget(favorites_[group]);
    }
    grid->addLayout(favoriteRow, row++, 0, 1, 4);

    QDialogButtonBox* buttons = okCancelButtons(this, edit ? QStringLiteral("Edit") : QStringLiteral("Insert"));
    connect(okButton(buttons), &QPushButton::clicked, this, &CChannelDlg::onOk);
    grid->addWidget(buttons, row, 0, 1, 4);

    videoPid_->setEnabled(!opening_.radio);
    transponder_->setCurrentIndex(transponder_->count() > 0 ? 0 : -1);
    videoPid_->setText(QStringLiteral("0"));
    audioPid_->setText(QStringLiteral("0"));
    pcrPid_->setText(QStringLiteral("0"));
    serviceId_->setText(QString::number(database.nextFreeServiceId));
    if (channel != nullptr) {
        name_->setText(fromBoxText(shownChannelName(channel->name)));
        if (const int entry = transponder_->findData(tuned); entry >= 0)
            transponder_->setCurrentIndex(entry);
        initialEntry_ = transponder_->currentIndex();
        initialServiceId_ = channel->serviceId;
        for (int group = 1; group <= 7; ++group)
            favorites_[group - 1]->setChecked(channel->flags & channelflag::favorite(group));
        audioPid_->setText(QString::number(channel->audioPid));
        videoPid_->setText(QString::number(channel->videoPid));
        pcrPid_->setText(QString::number(channel->pcrPid));
        serviceId_->setText(QString::number(channel->serviceId));
        scrambled_->setChecked(channel->flags & channelflag::kScrambled);
        locked_->setChecked(channel->flags & channelflag::kLocked);
        infoMark_->setChecked(channel->infoMark);
    } else if (opening_.transponder >= 0) {
        if (const int entry = transponder_->findData(opening_.transponder); entry >= 0)
            transponder_->setCurrentIndex(entry);
    }
    name_->setFocus();
    name_->selectAll();
    applyAccessibleNames(this);
}

void CChannelDlg::onOk()
{
    // The fields in the order they are taken; the first that holds no number is named.
    std::array<std::uint32_t, 4> numbers{};
    const std::array<QLineEdit*, 4> fields{videoPid_, serviceId_, audioPid_, pcrPid_};
    const std::array<const char*, 4> names{"Vid PID", "Ch. ID", "Aud PID", "PCR PID"};
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const auto value = parseUnsigned(fields[i]->text());
        if (!value) {
            fields[i]->setFocus();
            dialogs_.warn(this, QString::fromLatin1(kNotAPositiveInteger));
            return;
        }
        numbers[i] = *value;
        if (fields[i] == serviceId_ && (*value < 1 || *value > 65535)) {
            serviceId_->setFocus();
            dialogs_.warn(this, QString::fromLatin1(kServiceIdRange));
            return;
        }
        // A PID past 16 bits would be stored cut to its low bits: another PID than typed.
        if (const QString refusal = sixteenBitRefusal(QString::fromLatin1(names[i]), *value); !refusal.isEmpty()) {
            fields[i]->setFocus();
            dialogs_.stopText(this, refusal);
            return;
        }
    }
    if (name_->text().isEmpty()) {
        dialogs_.stopText(this, QString::fromLatin1(kNeedText));
        return;
    }
    if (const QString refusal = nameRefusal(QStringLiteral("Channel Name"), name_->text()); !refusal.isEmpty()) {
        name_->setFocus();
        dialogs_.stopText(this, refusal);
        return;
    }
    if (transponder_->currentIndex() < 0) {
        dialogs_.stopText(this, QString::fromLatin1(kChooseTransponder));
        return;
    }

    const ChannelDatabase& database = commands_.database();
    const bool edit = opening_.mode == kEdit;
    ChannelDatabase::ChannelValues values;
    // The choice the dialog opened with: the channel's tuning is not derived again.
    values.keepTuning = edit && transponder_->currentIndex() == initialEntry_;
    const int chosen = transponder_->currentData().toInt();
    values.satellite = static_cast<std::uint8_t>(satellite_);
    values.transponder = static_cast<std::uint16_t>(chosen == kUnknownEntry ? kNoTransponder : chosen);
    const QByteArray name = toBoxText(name_->text(), kNameLength);
    std::copy_n(name.constData(), std::min<qsizetype>(name.size(), kNameLength), values.name.begin());
    values.videoPid = lowBits(numbers[0]);
    values.serviceId = lowBits(numbers[1]);
    values.audioPid = lowBits(numbers[2]);
    values.pcrPid = lowBits(numbers[3]);
    values.scrambled = scrambled_->isChecked();
    values.locked = locked_->isChecked();
    values.infoMark = infoMark_->isChecked();
    for (int group = 0; group < 7; ++group)
        if (favorites_[group]->isChecked())
            values.favorites |= static_cast<std::uint8_t>(1u << group);

    // Two channels with one Ch. ID on one transponder are usually a mistake, but some lists
    // carry such pairs on purpose: ask, and only about a pair this OK would make.
    const bool pairUnchanged = values.keepTuning && values.serviceId == initialServiceId_;
    if (chosen != kUnknownEntry && !pairUnchanged) {
        const int other = channelWithServiceId(database, chosen, values.serviceId, edit ? opening_.position : -1);
        if (other >= 0) {
            const ChannelRecord& taken = database.channels[database.channelOrder[static_cast<std::size_t>(other)]];
            const QString question = QString::fromLatin1(kServiceIdTaken)
                                         .arg(values.serviceId)
                                         .arg(fromBoxText(shownChannelName(taken.name)));
            if (dialogs_.ask(this, question) != MessageAnswer::Yes) {
                serviceId_->setFocus();
                return;
            }
        }
    }

    ChannelDatabase::EditResult result;
    if (!edit) {
        result = commands_.insertChannel(opening_.radio, values, position_);
    } else {
        position_ = opening_.position;
        result = commands_.editChannel(position_, values);
    }
    switch (result) {
    case ChannelDatabase::EditResult::Stored:
        accept();
        break;
    case ChannelDatabase::EditResult::ChannelsFull:
        // Nothing was stored; the dialog has nothing more to offer.
        dialogs_.tell(this, QString::fromLatin1(kCountOverflow));
        reject();
        break;
    case ChannelDatabase::EditResult::StreamTableFull:
        dialogs_.stopText(this, QString::fromLatin1(kStreamTableFull));
        break;
    case ChannelDatabase::EditResult::ReadsAsEmpty:
        dialogs_.stopText(this, QString::fromLatin1(kReadsAsEmpty));
        break;
    default:
        dialogs_.stopText(this, QString::fromLatin1(kChooseTransponder));
        break;
    }
}

} // namespace updatetool
