#include "DialogService.h"

#include <QCoreApplication>
#include <QFileInfo>

#include "DialogControls.h"

namespace updatetool {

void DialogService::warn(QWidget* owner, const QString& text)
{
    showMessage(owner, {applicationTitle(), text, MessageIcon::Exclamation, MessageButtons::Ok});
}

void DialogService::stop(QWidget* owner, unsigned stringId)
{
    showMessage(owner, {applicationTitle(), tableText(stringId), MessageIcon::Stop, MessageButtons::Ok});
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
