#include "SatelliteDlg.h"

#include <array>
#include <tuple>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "ChannelEditCommands.h"
#include "DialogControls.h"
#include "DialogService.h"
#include "EditorTexts.h"

namespace updatetool {

namespace {

constexpr char kNeedText[] = "Need text input";
constexpr int kNameLength = 15;
constexpr int kLoDigits = 5;

struct LnbType {
    const char* name;
    std::uint16_t high, low; // MHz
};
constexpr std::array<LnbType, 4> kLnbTypes{{
    {"Universal", 10600, 9750},
    {"Wideband", 10750, 9750},
    {"OCS C-band", 5750, 5150},
    {"C-Band", 5150, 0},
}};

QStringList uncommittedPorts()
{
    QStringList items{QStringLiteral("--")};
    for (int port = 1; port <= 16; ++port)
        items << QStringLiteral("#%1").arg(port);
    return items;
}

} // namespace

CSatelliteDlg::CSatelliteDlg(ChannelEditCommands& commands, DialogService& dialogs, int satelliteRow, QWidget* parent)
    : QDialog(parent), commands_(commands), dialogs_(dialogs)
{
    setProperty(kTemplateIdProperty, kTemplateId);
    setWindowTitle(QStringLiteral("Satellite"));
    if (satelliteRow >= 1 && satelliteRow <= kSatelliteCapacity)
        satellite_ = satelliteRow - 1;

    auto* grid = new QGridLayout(this);
    const auto field = [this](int id) {
        auto* edit = new QLineEdit(this);
        edit->setProperty(kControlIdProperty, id);
        return edit;
    };
    // Editable lists: typed text that names no entry leaves the setting unchosen.
    const auto combo = [this](int id, const QStringList& items) {
        auto* box = new QComboBox(this);
        box->setProperty(kControlIdProperty, id);
        box->addItems(items);
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        return box;
    };
    const auto addRow = [this](QGridLayout* layout, int row, const QString& text, QWidget* widget) {
        auto* caption = new QLabel(text, this);
        caption->setBuddy(widget);
        layout->addWidget(caption, row, 0);
        layout->addWidget(widget, row, 1);
    };

    name_ = field(kName);
    name_->setMaxLength(kNameLength);
    addRow(grid, 0, QStringLiteral("Satellite Name"), name_);
    auto* select = new QCheckBox(QStringLiteral("Satellite Select"), this);
    select->setProperty(kControlIdProperty, kSatelliteSelect);
    grid->addWidget(select, 1, 0, 1, 2);

    auto* lnb = new QGroupBox(QStringLiteral("LNB"), this);
    auto* lnbGrid = new QGridLayout(lnb);
    QStringList typeNames;
    for (const LnbType& type : kLnbTypes)
        typeNames << QString::fromLatin1(type.name);
    lnbType_ = combo(kLnbType, typeNames);
    highLo_ = field(kHighLo);
    lowLo_ = field(kLowLo);
    for (QLineEdit* lo : {highLo_, lowLo_}) {
        lo->setMaxLength(kLoDigits);
        lo->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), lo));
    }
    power_ = combo(kPower, {QStringLiteral("AUTO"), QStringLiteral("13V"), QStringLiteral("18V"), QStringLiteral("OFF")});
    tone22k_ = combo(kTone22k, {QStringLiteral("AUTO"), QStringLiteral("OFF"), QStringLiteral("ON")});
    lnb12V_ = combo(kLnb12V, {QStringLiteral("OFF"), QStringLiteral("ON")});
    addRow(lnbGrid, 0, QStringLiteral("LNB Type"), lnbType_);
    addRow(lnbGrid, 1, QStringLiteral("High L.O."), highLo_);
    addRow(lnbGrid, 2, QStringLiteral("Low L.O."), lowLo_);
    addRow(lnbGrid, 3, QStringLiteral("Power"), power_);
    addRow(lnbGrid, 4, QStringLiteral("22KHz"), tone22k_);
    addRow(lnbGrid, 5, QStringLiteral("12V"), lnb12V_);
    grid->addWidget(lnb, 2, 0, 1, 2);

    auto* diseqc = new QGroupBox(QStringLiteral("DiSEqC"), this);
    auto* diseqcGrid = new QGridLayout(diseqc);
    committed_ = combo(kCommitted, {QStringLiteral("--"), QStringLiteral("#1"), QStringLiteral("#2"), QStringLiteral("#3"),
                                    QStringLiteral("#4")});
    uncommitted_ = combo(kUncommitted, uncommittedPorts());
    repeat_ = combo(kRepeat, {QStringLiteral("OFF"), QStringLiteral("1"), QStringLiteral("2"), QString()});
    addRow(diseqcGrid, 0, QStringLiteral("Committed"), committed_);
    addRow(diseqcGrid, 1, QStringLiteral("Uncommitted"), uncommitted_);
    addRow(diseqcGrid, 2, QStringLiteral("Repeat"), repeat_);
    grid->addWidget(diseqc, 3, 0, 1, 2);

    QDialogButtonBox* buttons = okCancelButtons(this);
    connect(okButton(buttons), &QPushButton::clicked, this, &CSatelliteDlg::onOk);
    grid->addWidget(buttons, 4, 0, 1, 2);

    if (satellite_ >= 0) {
        const SatelliteRecord& record = commands_.database().satellites[static_cast<std::size_t>(satellite_)];
        name_->setText(fromBoxText(storedName(record.name)));
        // A stored index that names no entry shows the list empty.
        const auto show = [](QComboBox* box, int index) {
            if (index < box->count()) {
                box->setCurrentIndex(index);
            } else {
                box->setCurrentIndex(-1);
                box->setEditText(QString());
            }
        };
        show(lnbType_, record.lnbType);
        highLo_->setText(QString::number(record.loHigh));
        lowLo_->setText(QString::number(record.loLow));
        show(power_, record.lnbPower);
        show(tone22k_, record.tone22k);
        show(lnb12V_, record.lnb12V);
        show(committed_, record.diseqc & 7);
        show(uncommitted_, record.diseqc >> 3);
        show(repeat_, record.diseqcRepeat);
    }
    // Connected after loading, so that opening shows the stored L.O. values.
    connect(lnbType_, &QComboBox::activated, this, &CSatelliteDlg::onLnbTypeChosen);
    applyAccessibleNames(this);
}

int CSatelliteDlg::chosenIndex(const QComboBox* combo)
{
    // An empty field is "nothing chosen", even where an entry has no text (Repeat's
    // fourth one) — unless that entry is the one chosen.
    const QString text = combo->currentText();
    if (combo->currentIndex() >= 0 && combo->itemText(combo->currentIndex()) == text)
        return combo->currentIndex();
    return text.isEmpty() ? -1 : combo->findText(text, Qt::MatchExactly);
}

void CSatelliteDlg::onLnbTypeChosen(int index)
{
    // An L.O. field that holds no number leaves both as they are.
    if (!parseUnsigned(highLo_->text()) || !parseUnsigned(lowLo_->text()))
        return;
    if (index < 0 || index >= static_cast<int>(kLnbTypes.size()))
        return;
    highLo_->setText(QString::number(kLnbTypes[static_cast<std::size_t>(index)].high));
    lowLo_->setText(QString::number(kLnbTypes[static_cast<std::size_t>(index)].low));
}

void CSatelliteDlg::onOk()
{
    const auto high = parseUnsigned(highLo_->text());
    const auto low = high ? parseUnsigned(lowLo_->text()) : std::nullopt;
    if (!high || !low) {
        dialogs_.warn(this, QString::fromLatin1(kNotAPositiveInteger));
        return;
    }
    // An L.O. past 16 bits would be stored cut to its low bits: another frequency than typed.
    for (const auto& [field, value, text] : {std::tuple{highLo_, *high, "High L.O."}, std::tuple{lowLo_, *low, "Low L.O."}}) {
        if (const QString refusal = sixteenBitRefusal(QString::fromLatin1(text), value); !refusal.isEmpty()) {
            field->setFocus();
            dialogs_.stopText(this, refusal);
            return;
        }
    }
    commands_.database().modified = true;
    if (name_->text().isEmpty()) {
        dialogs_.stopText(this, QString::fromLatin1(kNeedText));
        return;
    }
    if (const QString refusal = nameRefusal(QStringLiteral("Satellite Name"), name_->text()); !refusal.isEmpty()) {
        name_->setFocus();
        dialogs_.stopText(this, refusal);
        return;
    }
    ChannelDatabase::SatelliteSettings settings;
    const QByteArray name = toBoxText(name_->text(), kNameLength);
    std::copy_n(name.constData(), std::min<qsizetype>(name.size(), kNameLength), settings.name.begin());
    const auto index = [](const QComboBox* box) { return static_cast<std::uint8_t>(chosenIndex(box)); };
    settings.lnbType = index(lnbType_);
    settings.loHigh = static_cast<std::uint16_t>(*high);
    settings.loLow = static_cast<std::uint16_t>(*low);
    settings.lnbPower = index(power_);
    settings.tone22k = index(tone22k_);
    settings.lnb12V = index(lnb12V_);
    settings.diseqc = static_cast<std::uint8_t>(chosenIndex(committed_) | (chosenIndex(uncommitted_) << 3));
    settings.diseqcRepeat = index(repeat_);
    commands_.editSatellite(satellite_, settings);
    accept();
}

} // namespace updatetool
