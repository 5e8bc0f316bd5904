#include "TransponderImportDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace updatetool {

namespace {

QString positionText(const std::optional<int>& position)
{
    if (!position)
        return QString();
    const int tenths = *position < 0 ? -*position : *position;
    return QStringLiteral("%1.%2%3").arg(tenths / 10).arg(tenths % 10).arg(*position < 0 ? QLatin1Char('W') : QLatin1Char('E'));
}

} // namespace

CTransponderImportDlg::CTransponderImportDlg(const QString& satelliteName, const QString& fileName,
                                             const TransponderTable::ReadResult& table, QWidget* parent)
    : QDialog(parent), oneSatellite_(table.format == TransponderTable::Format::Dvbv5)
{
    setWindowTitle(QStringLiteral("Import Transponders"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Into %1 from %2").arg(satelliteName, fileName), this));
    if (!oneSatellite_) {
        layout->addWidget(new QLabel(QStringLiteral("Satellite in the file:"), this));
        list_ = new QListWidget(this);
        list_->setAccessibleName(QStringLiteral("Satellites"));
        for (const SatelliteTable& satellite : table.satellites) {
            const QString position = positionText(satellite.position);
            list_->addItem(QStringLiteral("%1%2  (%3 transponders)")
                               .arg(QString::fromStdString(satellite.name),
                                    position.isEmpty() ? QString() : QStringLiteral("  [%1]").arg(position))
                               .arg(satellite.transponders.size()));
        }
        list_->setCurrentRow(std::max(preselectedRow(table.satellites, satelliteName), 0));
        layout->addWidget(list_);
        connect(list_, &QListWidget::itemDoubleClicked, this, &QDialog::accept);
    }
    dvbs2_ = new QCheckBox(QStringLiteral("Include DVB-S2 transponders (the box's tuner is DVB-S)"), this);
    layout->addWidget(dvbs2_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Import"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    resize(420, oneSatellite_ ? 120 : 420);
}

int CTransponderImportDlg::chosenSatellite() const
{
    return oneSatellite_ ? 0 : list_->currentRow();
}

bool CTransponderImportDlg::includeDvbs2() const
{
    return dvbs2_->isChecked();
}

int CTransponderImportDlg::preselectedRow(const std::vector<SatelliteTable>& satellites, const QString& satelliteName)
{
    const auto position = TransponderTable::positionFromName(satelliteName.toStdString());
    if (!position)
        return -1;
    for (std::size_t row = 0; row < satellites.size(); ++row) {
        if (satellites[row].position == position)
            return static_cast<int>(row);
    }
    return -1;
}

} // namespace updatetool
