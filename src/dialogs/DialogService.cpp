#include "DialogService.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "DialogControls.h"

namespace updatetool {

QString withRequiredExtension(const QString& path, const QString& extension)
{
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot >= 0 && name.mid(dot + 1).compare(extension, Qt::CaseInsensitive) == 0)
        return path;
    return path + QLatin1Char('.') + extension;
}

void DialogService::warn(QWidget* owner, const QString& text)
{
    showMessage(owner, {applicationTitle(), text, MessageIcon::Exclamation, MessageButtons::Ok});
}

void DialogService::stop(QWidget* owner, unsigned stringId)
{
    showMessage(owner, {applicationTitle(), tableText(stringId), MessageIcon::Stop, MessageButtons::Ok});
}

void DialogService::stopText(QWidget* owner, const QString& text)
{
    showMessage(owner, {applicationTitle(), text, MessageIcon::Stop, MessageButtons::Ok});
}

void DialogService::tell(QWidget* owner, const QString& text)
{
    showMessage(owner, {applicationTitle(), text, MessageIcon::None, MessageButtons::Ok});
}

MessageAnswer DialogService::ask(QWidget* owner, const QString& text, MessageIcon icon)
{
    return showMessage(owner, {applicationTitle(), text, icon, MessageButtons::YesNo});
}

QString applicationTitle()
{
    const QString path = QCoreApplication::applicationFilePath();
    return path.isEmpty() ? QCoreApplication::applicationName() : QFileInfo(path).completeBaseName();
}

} // namespace updatetool
