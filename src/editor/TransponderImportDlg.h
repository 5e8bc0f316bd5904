#pragma once

#include <QDialog>

#include <vector>

#include "TransponderTable.h"

class QCheckBox;
class QListWidget;

namespace updatetool {

// Asked before an import: which satellite of a satellites.xml to take (the one at the
// position the receiving satellite's name carries is chosen already), and whether to
// take DVB-S2 transponders too. A scan file holds one satellite, so only the check box
// is asked then.
class CTransponderImportDlg : public QDialog {
    Q_OBJECT
public:
    CTransponderImportDlg(const QString& satelliteName, const QString& fileName,
                          const TransponderTable::ReadResult& table, QWidget* parent = nullptr);

    // Index into the table's satellites; -1 when none is chosen.
    int chosenSatellite() const;
    bool includeDvbs2() const;
    // The row preselected for a name such as "HOTBIRD 13.0E"; -1 when none matches.
    static int preselectedRow(const std::vector<SatelliteTable>& satellites, const QString& satelliteName);

    QListWidget* satelliteList() const { return list_; }
    QCheckBox* dvbs2Check() const { return dvbs2_; }

private:
    QListWidget* list_ = nullptr;
    QCheckBox* dvbs2_ = nullptr;
    bool oneSatellite_ = false;
};

} // namespace updatetool
