#pragma once

#include "DialogService.h"

namespace updatetool {

// The real message boxes and file dialogs.
class QtDialogService : public DialogService {
public:
    MessageAnswer showMessage(QWidget* owner, const MessageRequest& request) override;
    std::optional<QString> getOpenFileName(QWidget* owner, const FileDialogRequest& request) override;
    std::optional<QString> getSaveFileName(QWidget* owner, const FileDialogRequest& request) override;

    // "Image File(*.img)|*.img|All File(*.*)|*.*|" -> Qt's "Text (patterns);;..." list.
    // "*.*" becomes "*" because names without a dot are common here, and every
    // extension is offered in both cases because Linux file names are case-sensitive.
    static QStringList qtNameFilters(const QString& filter);
};

} // namespace updatetool
