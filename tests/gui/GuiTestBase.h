#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <QAbstractButton>
#include <QDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>
#include <gtest/gtest.h>

#include "DialogControls.h"
#include "FakeDialogService.h"
#include "TransferJob.h"

namespace updatetool::test {

using namespace std::chrono_literals;

// Runs the event loop until the condition holds or the time is up.
bool waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 10s);

// Shared by the window tests: one job record, a fake for the user's answers,
// a temporary folder for files, and bounded waits that keep the event loop running.
class GuiTestBase : public ::testing::Test {
protected:
    std::unique_ptr<TransferJob> job = std::make_unique<TransferJob>();
    FakeDialogService dialogs;
    QTemporaryDir dir;

    QString pathOf(const QString& name) const { return dir.filePath(name); }

    QString writeFile(const QString& name, std::string_view bytes) const;
    // An application image of `size` bytes whose header check holds.
    QString writeApplicationImage(const QString& name, std::size_t size) const;

    // Opens the dialog window-modally (never exec) and waits for it to close;
    // returns its closing code, or -1 if it was still open at the limit.
    static int runUntilClosed(QDialog& dialog, std::chrono::milliseconds limit = 20s);

    static QString textOf(QWidget* dialog, int id);
};

// Reads the texts a label takes while the event loop runs, in order, once each.
class TextRecorder {
public:
    explicit TextRecorder(QLabel* label);
    ~TextRecorder();
    TextRecorder(const TextRecorder&) = delete;
    TextRecorder& operator=(const TextRecorder&) = delete;
    const std::vector<QString>& texts() const { return texts_; }

private:
    std::vector<QString> texts_;
    std::unique_ptr<QTimer> sampler_;
};

} // namespace updatetool::test
