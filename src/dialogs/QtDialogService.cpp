#include "QtDialogService.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>

namespace updatetool {

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::None: return QMessageBox::NoIcon;
    case MessageIcon::Exclamation: return QMessageBox::Warning;
    case MessageIcon::Stop: return QMessageBox::Critical;
    case MessageIcon::Question: return QMessageBox::Question;
    case MessageIcon::Information: return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

QString bothCases(const QString& pattern)
{
    if (pattern == QLatin1String("*.*"))
        return QStringLiteral("*");
    const QString lower = pattern.toLower();
    const QString upper = pattern.toUpper();
    return lower == upper ? pattern : lower + QLatin1Char(' ') + upper;
}

// Qt's own question before replacing a file is about the name as typed, but the
// caller adds the required extension afterwards: "backup" would replace an
// existing backup.IMG without a word. This dialog asks about the real name.
class RequiredExtensionDialog : public QFileDialog {
public:
    RequiredExtensionDialog(QWidget* owner, const QString& extension) : QFileDialog(owner), extension_(extension)
    {
        if (extension_.isEmpty())
            return;
        setOption(QFileDialog::DontConfirmOverwrite);
        // A platform dialog would answer for itself and never come through accept().
        setOption(QFileDialog::DontUseNativeDialog);
    }

    void accept() override
    {
        const QStringList files = selectedFiles();
        if (!extension_.isEmpty() && acceptMode() == QFileDialog::AcceptSave && !files.isEmpty() &&
            !QFileInfo(files.constFirst()).isDir()) {
            const QFileInfo real(withRequiredExtension(files.constFirst(), extension_));
            if (real.exists()) {
                const QString question = tr("%1 already exists.\nDo you want to replace it?").arg(real.fileName());
                if (QMessageBox::warning(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                                         QMessageBox::No) != QMessageBox::Yes)
                    return;
            }
        }
        QFileDialog::accept();
    }

private:
    QString extension_;
};

std::optional<QString> runFileDialog(QWidget* owner, const FileDialogRequest& request, QFileDialog::AcceptMode mode)
{
    const QString extension = mode == QFileDialog::AcceptSave ? request.requiredExtension : QString();
    RequiredExtensionDialog dialog(owner, extension);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // The pattern part repeats what the template's text already says.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(QtDialogService::qtNameFilters(request.filter));
    if (!request.initialName.isEmpty())
        dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    const QString chosen = dialog.selectedFiles().constFirst();
    return extension.isEmpty() ? chosen : withRequiredExtension(chosen, extension);
}

} // namespace

MessageAnswer QtDialogService::showMessage(QWidget* owner, const MessageRequest& request)
{
    QMessageBox box(boxIcon(request.icon), request.caption, request.text,
                    request.buttons == MessageButtons::YesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok,
                    owner);
    const int answer = box.exec();
    if (request.buttons == MessageButtons::Ok)
        return MessageAnswer::Ok;
    return answer == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

std::optional<QString> QtDialogService::getOpenFileName(QWidget* owner, const FileDialogRequest& request)
{
    return runFileDialog(owner, request, QFileDialog::AcceptOpen);
}

std::optional<QString> QtDialogService::getSaveFileName(QWidget* owner, const FileDialogRequest& request)
{
    return runFileDialog(owner, request, QFileDialog::AcceptSave);
}

QStringList QtDialogService::qtNameFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts))
            patterns << bothCases(pattern.trimmed());
        filters << parts[i] + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return filters;
}

QAction* QtDialogService::execPopupMenu(QWidget*, QMenu& menu, const QPoint& globalPos)
{
    return menu.exec(globalPos);
}

} // namespace updatetool
