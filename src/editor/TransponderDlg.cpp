#include "TransponderDlg.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ChannelEditCommands.h"
#include "DialogControls.h"
#include "DialogService.h"
#include "EditorTexts.h"

namespace updatetool {

namespace {

constexpr char kFrequencyRange[] = "Invalid Frequency Range\n(3500 - 12750 MHz)";
constexpr char kSymbolRateRange[] = "Invalid Symbolrate Range\n(2000 - 45000 Kbaud)";
constexpr char kDuplicated[] = "Transponder infomation is duplicated";
constexpr char kNoMemory[] = "Not enough TP memory";

struct Range {
    std::uint32_t low, high;
    bool holds(std::uint32_t value) const { return value >= low && value <= high; }
};
// Satellite: MHz and kbaud. Terrestrial: kHz and the channel number.
constexpr Range kSatelliteFrequency{3500, 12750};
constexpr Range kSatelliteSymbolRate{2000, 45000};
constexpr Range kTerrestrialFrequency{45000, 999000};
constexpr Range kTerrestrialChannel{0, 200};
// Terrestrial frequencies are stored in units of 100 kHz.
constexpr std::uint32_t kKhzPerStoredUnit = 100;

QLabel* label(QWidget* parent, int id, const QString& text)
{
    auto* control = new QLabel(text, parent);
    control->setProperty(kControlIdProperty, id);
    return control;
}

} // namespace

CTransponderDlg::CTransponderDlg(ChannelEditCommands& commands, DialogService& dialogs, int mode, int satelliteRow,
                                 int transponder, QWidget* parent)
    : QDialog(parent), commands_(commands), dialogs_(dialogs), mode_(mode)
{
    setProperty(kTemplateIdProperty, kTemplateId);
    const ChannelDatabase& database = commands_.database();
    if (mode_ == kInsert) {
        satellite_ = satelliteRow - 1;
    } else if (transponder >= 0 && transponder < kTransponderCapacity) {
        transponder_ = transponder;
        satellite_ = database.transponders[static_cast<std::size_t>(transponder)].satellite;
    }
    if (satellite_ >= kSatelliteCapacity)
        satellite_ = -1;

    setWindowTitle(mode_ == kInsert ? QStringLiteral("TP - Insert") : QStringLiteral("TP - Edit"));
    auto* grid = new QGridLayout(this);
    const QString satelliteName =
        satellite_ >= 0 ? fromBoxText(storedName(database.satellites[static_cast<std::size_t>(satellite_)].name)) : QString();
    QLabel* name = label(this, kSatelliteName, satelliteName);
    name->setAccessibleName(QStringLiteral("Satellite ") + satelliteName);
    grid->addWidget(name, 0, 0, 1, 3);

    const bool isTerrestrial = terrestrial();
    QLabel* first = label(this, kFirstLabel, isTerrestrial ? QStringLiteral("Priority") : QStringLiteral("Polarity"));
    polarity_ = new QComboBox(this);
    polarity_->setProperty(kControlIdProperty, kPolarity);
    polarity_->addItems({QStringLiteral("VERT"), QStringLiteral("HOR")});
    polarity_->setEditable(true);
    polarity_->setInsertPolicy(QComboBox::NoInsert);
    polarity_->setAccessibleName(QStringLiteral("Polarity"));
    priority_ = new QComboBox(this);
    priority_->setProperty(kControlIdProperty, kPriority);
    priority_->addItems({QStringLiteral("HP"), QStringLiteral("LP"), QStringLiteral("Auto")});
    priority_->setAccessibleName(QStringLiteral("Priority"));
    polarity_->setVisible(!isTerrestrial);
    priority_->setVisible(isTerrestrial);
    first->setBuddy(isTerrestrial ? static_cast<QWidget*>(priority_) : polarity_);
    grid->addWidget(first, 1, 0);
    grid->addWidget(polarity_, 1, 1);
    grid->addWidget(priority_, 1, 1);

    frequency_ = new QLineEdit(this);
    frequency_->setProperty(kControlIdProperty, kFrequency);
    // A terrestrial record holds up to 65535 units of 100 kHz: 6553500 kHz takes seven digits.
    frequency_->setMaxLength(isTerrestrial ? 7 : 6);
    auto* frequencyLabel = new QLabel(QStringLiteral("Frequency"), this);
    frequencyLabel->setBuddy(frequency_);
    grid->addWidget(frequencyLabel, 2, 0);
    grid->addWidget(frequency_, 2, 1);
    grid->addWidget(label(this, kFrequencyUnit, isTerrestrial ? QStringLiteral("KHz") : QStringLiteral("MHz")), 2, 2);

    symbolRate_ = new QLineEdit(this);
    symbolRate_->setProperty(kControlIdProperty, kSymbolRate);
    symbolRate_->setMaxLength(5);
    QLabel* second = label(this, kSecondLabel, isTerrestrial ? QStringLiteral("Channel No.") : QStringLiteral("Symbolrate"));
    second->setBuddy(symbolRate_);
    grid->addWidget(second, 3, 0);
    grid->addWidget(symbolRate_, 3, 1);
    grid->addWidget(label(this, kSymbolRateUnit, isTerrestrial ? QString() : QStringLiteral("Kbaud")), 3, 2);

    QDialogButtonBox* buttons = okCancelButtons(this, mode_ == kInsert ? QStringLiteral("Insert") : QStringLiteral("Edit"));
    connect(okButton(buttons), &QPushButton::clicked, this, &CTransponderDlg::onOk);
    grid->addWidget(buttons, 4, 0, 1, 3);

    // What the fields show first.
    std::uint32_t frequencyShown = 0;
    std::uint32_t secondShown = 0;
    int choice = 0;
    if (mode_ == kEdit && transponder_ >= 0) {
        const TransponderRecord& record = database.transponders[static_cast<std::size_t>(transponder_)];
        frequencyShown = isTerrestrial ? record.frequency * kKhzPerStoredUnit : record.frequency;
        secondShown = record.symbolRate;
        choice = isTerrestrial ? std::min<int>(record.priority, 2) : record.polarity;
    }
    frequency_->setText(QString::number(frequencyShown));
    symbolRate_->setText(QString::number(secondShown));
    shownFrequency_ = frequency_->text();
    shownSecond_ = symbolRate_->text();
    (isTerrestrial ? priority_ : polarity_)->setCurrentIndex(choice);
    // The numbers are what the user came to type: start there, ready to be replaced.
    frequency_->setFocus();
    frequency_->selectAll();
    applyAccessibleNames(this);
}

bool CTransponderDlg::terrestrial() const
{
    return satellite_ == kTerrestrialSatellite;
}

void CTransponderDlg::refuse(const char* text)
{
    dialogs_.stopText(this, QString::fromUtf8(text));
}

void CTransponderDlg::onOk()
{
    const auto frequency = parseUnsigned(frequency_->text());
    const auto second = frequency ? parseUnsigned(symbolRate_->text()) : std::nullopt;
    if (!frequency || !second) {
        refuse(kNotAPositiveInteger);
        return;
    }
    const bool isTerrestrial = terrestrial();
    // Values a file brought along and the user left as they were are not refused: an
    // untouched OK changes nothing, even where a stored value lies outside the ranges.
    const bool untouched = mode_ == kEdit && frequency_->text() == shownFrequency_ && symbolRate_->text() == shownSecond_;
    if (!untouched && !(isTerrestrial ? kTerrestrialFrequency : kSatelliteFrequency).holds(*frequency)) {
        refuse(kFrequencyRange);
        return;
    }
    if (!untouched && !(isTerrestrial ? kTerrestrialChannel : kSatelliteSymbolRate).holds(*second)) {
        refuse(kSymbolRateRange);
        return;
    }

    ChannelDatabase::TransponderValues values;
    values.satellite = static_cast<std::uint8_t>(satellite_);
    values.frequency = static_cast<std::uint16_t>(isTerrestrial ? *frequency / kKhzPerStoredUnit : *frequency);
    values.symbolRate = static_cast<std::uint16_t>(*second);
    // Typed text that names no entry leaves no selection: -1, which reads as horizontal.
    const int polarity = polarity_->findText(polarity_->currentText());
    values.polarity = static_cast<std::uint8_t>(polarity & 1);
    values.priority = static_cast<std::uint8_t>(priority_->currentIndex() & 3);

    ChannelDatabase::EditResult result;
    if (mode_ == kInsert)
        result = commands_.insertTransponder(values, transponder_);
    else
        result = commands_.editTransponder(transponder_, values);
    switch (result) {
    case ChannelDatabase::EditResult::Stored:
    case ChannelDatabase::EditResult::Unchanged:
        accept();
        break;
    case ChannelDatabase::EditResult::Duplicate:
        refuse(kDuplicated);
        break;
    default:
        refuse(kNoMemory);
        break;
    }
}

} // namespace updatetool
