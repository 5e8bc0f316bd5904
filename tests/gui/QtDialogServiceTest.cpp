// The real save dialog, driven the way a user would: type a name, accept,
// answer the question about replacing a file.
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>

#include "GuiTestBase.h"
#include "QtDialogService.h"

namespace updatetool::test {
namespace {

class QtDialogServiceTest : public GuiTestBase {};

// Typing "backup" where backup.IMG exists must ask about backup.IMG, since
// that is the file the receive job would replace.
TEST_F(QtDialogServiceTest, SaveAsksAboutTheNameWithTheRequiredExtension)
{
    writeFile(QStringLiteral("backup.IMG"), "old data");
    const struct {
        const char* typed;
        QMessageBox::StandardButton answer; // NoButton: no question expected
        const char* result;                  // empty: the user cancels in the end
    } cases[] = {
        {"backup", QMessageBox::Yes, "backup.IMG"},
        {"backup", QMessageBox::No, ""},
        {"fresh", QMessageBox::NoButton, "fresh.IMG"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        QString question;
        bool accepted = false;
        // Steps through the modal dialogs as they come up: the file dialog, the
        // question, then the file dialog again if it is still open.
        QTimer driver;
        QObject::connect(&driver, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                question = box->text();
                box->button(c.answer)->click();
            } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
                if (accepted) {
                    QMetaObject::invokeMethod(dialog, "reject");
                    return;
                }
                accepted = true;
                // What the user types into the name field, then the Save button.
                dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromLatin1(c.typed));
                // Queued: the question runs its own loop, which must not sit inside this tick.
                QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
            }
        });
        driver.start(20);
        QtDialogService dialogs;
        const auto chosen = dialogs.getSaveFileName(nullptr, {dir.path() + QLatin1Char('/'), QStringLiteral("IMG File(*.IMG)|*.IMG|"),
                                                              QStringLiteral("IMG")});
        driver.stop();
        if (c.answer == QMessageBox::NoButton) {
            EXPECT_TRUE(question.isEmpty()) << question.toStdString();
        } else {
            EXPECT_TRUE(question.startsWith(QStringLiteral("backup.IMG already exists"))) << question.toStdString();
        }
        if (*c.result == '\0') {
            EXPECT_FALSE(chosen.has_value());
        } else {
            EXPECT_EQ(chosen, pathOf(QString::fromLatin1(c.result)));
        }
    }
}

} // namespace
} // namespace updatetool::test
