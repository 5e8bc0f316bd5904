#pragma once

#include <optional>

#include <QString>

class QAction;
class QMenu;
class QPoint;
class QWidget;

namespace updatetool {

enum class MessageIcon { None, Exclamation, Stop, Question, Information };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct MessageRequest {
    QString caption;
    QString text;
    MessageIcon icon = MessageIcon::Exclamation;
    MessageButtons buttons = MessageButtons::Ok;
};

struct FileDialogRequest {
    QString initialName;
    // "Text|pattern|Text|pattern|", the way the templates spell their filters.
    QString filter;
    // Save only: the extension the caller adds to a chosen name that does not end
    // in it, so the dialog asks before replacing the file of the real name.
    QString requiredExtension{};
};

// "backup" -> "backup.IMG", "backup.bin" -> "backup.bin.IMG"; a name that ends
// in the extension already, in any case, stays as it is.
QString withRequiredExtension(const QString& path, const QString& extension);

// Every message box and file dialog of the program goes through this, so tests
// can record what a window says and answer for the user without a real dialog.
class DialogService {
public:
    virtual ~DialogService() = default;

    virtual MessageAnswer showMessage(QWidget* owner, const MessageRequest& request) = 0;
    // The chosen path, or nothing when the user cancels. The open dialog only
    // accepts a file that exists.
    virtual std::optional<QString> getOpenFileName(QWidget* owner, const FileDialogRequest& request) = 0;
    virtual std::optional<QString> getSaveFileName(QWidget* owner, const FileDialogRequest& request) = 0;
    // Shows a popup menu at a screen position and returns the chosen entry, or null.
    virtual QAction* execPopupMenu(QWidget* owner, QMenu& menu, const QPoint& globalPos) = 0;

    // A literal text: exclamation icon and OK, the application title as caption.
    void warn(QWidget* owner, const QString& text);
    // A string-table message by number: stop icon and OK.
    void stop(QWidget* owner, unsigned stringId);
    // A literal text with the stop icon, or with no icon at all.
    void stopText(QWidget* owner, const QString& text);
    void tell(QWidget* owner, const QString& text);
    // A question with Yes and No.
    MessageAnswer ask(QWidget* owner, const QString& text, MessageIcon icon = MessageIcon::Question);
};

// The executable's base name: the caption of every message box.
QString applicationTitle();

} // namespace updatetool
