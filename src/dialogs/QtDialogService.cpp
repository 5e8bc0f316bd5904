#include "QtDialogService.h"

#include <QFileDialog>
#include <QMessageBox>

namespace updatetool {

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon)
{
    switch (icon) {
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

std::optional<QString> runFileDialog(QWidget* owner, const FileDialogRequest& request, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(owner);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // The pattern part repeats what the template's text already says.
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setNameFilters(QtDialogService::qtNameFilters(request.filter));
    if (!request.initialName.isEmpty())
        dialog.selectFile(request.initialName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
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

} // namespace updatetool
