#pragma once

#include <cstdint>
#include <optional>

#include <QString>
#include <QWidget>

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

// An unsigned decimal number as a field holds it (blanks around it allowed); nothing
// for empty text, a sign, other characters or a value past 32 bits.
std::optional<std::uint32_t> parseUnsigned(const QString& text);
// What a dialog says when a number field holds something else.
inline constexpr char kNotAPositiveInteger[] = "Please enter a positive integer.";

// "Browse File :" -> "Browse File", "&Send" -> "Send".
QString accessibleText(const QString& label);

} // namespace updatetool
