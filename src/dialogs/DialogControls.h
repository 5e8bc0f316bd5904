#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <QString>
#include <QWidget>

class QDialog;
class QDialogButtonBox;
class QPushButton;

namespace updatetool {

// The dialog templates give every control its numeric id as the dynamic
// property "controlId", and each dialog its template number as "templateId".
inline constexpr char kControlIdProperty[] = "controlId";
inline constexpr char kTemplateIdProperty[] = "templateId";

// The control with that id inside the dialog, or null.
QWidget* controlById(QWidget* dialog, int id);

template <class Control>
Control* controlAs(QWidget* dialog, int id)
{
    return qobject_cast<Control*>(controlById(dialog, id));
}

// The box's single-byte text (names, list lines) as a QString.
QString fromBoxText(std::string_view text);
// And back: at most `length` bytes, a character the box cannot hold as '?'.
QByteArray toBoxText(const QString& text, qsizetype length);

// Why a name typed for `field` cannot be stored as it is, or an empty text when it can:
// a name of blanks only, or a character outside the box's single-byte (Latin-1) set,
// which would otherwise be stored as '?'. An empty name is the caller's own message.
QString nameRefusal(const QString& field, const QString& name);
// Why a number typed for `field` does not fit the 16 bits it is stored in, or an empty
// text when it fits; it would otherwise be cut to its low 16 bits.
QString sixteenBitRefusal(const QString& field, std::uint32_t value);

// A string-table text as a QString.
QString tableText(unsigned stringId);

// Sets the text of a label or button and keeps its accessible name in step
// where the name comes from the text.
void setControlText(QWidget* dialog, int id, const QString& text);

// Gives each control an accessible name from its label: a field from the label
// that names it (its buddy), a button, check box or label from its own text,
// which setControlText then keeps current. Controls whose template already
// names them keep that name.
void applyAccessibleNames(QWidget* dialog);

// OK (control id 1) and Cancel (id 2) for an edit dialog: Cancel rejects it; the
// caller connects OK, which keeps the dialog open until its checks pass. An empty
// `okText` keeps the usual label.
QDialogButtonBox* okCancelButtons(QDialog* dialog, const QString& okText = QString());
QPushButton* okButton(QDialogButtonBox* buttons);

// An unsigned decimal number as a field holds it (blanks around it allowed); nothing
// for empty text, a sign, other characters or a value past 32 bits.
std::optional<std::uint32_t> parseUnsigned(const QString& text);
// What a dialog says when a number field holds something else.
inline constexpr char kNotAPositiveInteger[] = "Please enter a positive integer.";

// "Browse File :" -> "Browse File", "&Send" -> "Send".
QString accessibleText(const QString& label);

} // namespace updatetool
