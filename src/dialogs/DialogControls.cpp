#include "DialogControls.h"

#include <QAbstractButton>
#include <QDialog>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QLabel>

#include "StringTable.h"

namespace updatetool {

namespace {

// Names that follow a control's own text carry this mark, so a later relabel
// (Cancel -> Close) updates them while names from the template stay.
constexpr char kNameFromTextProperty[] = "accessibleNameFromText";

} // namespace

QWidget* controlById(QWidget* dialog, int id)
{
    if (dialog == nullptr)
        return nullptr;
    for (QWidget* child : dialog->findChildren<QWidget*>()) {
        const QVariant value = child->property(kControlIdProperty);
        if (value.isValid() && value.toInt() == id)
            return child;
    }
    return nullptr;
}

QString fromBoxText(std::string_view text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

QByteArray toBoxText(const QString& text, qsizetype length)
{
    return text.left(length).toLatin1();
}

QString nameRefusal(const QString& field, const QString& name)
{
    if (name.isEmpty())
        return {};
    if (name.trimmed().isEmpty())
        return QStringLiteral("%1 cannot be only blanks: enter at least one letter, digit or sign.").arg(field);
    for (const char32_t code : name.toUcs4()) {
        // Control codes have no picture in the lists either.
        if (code < 0x20 || (code >= 0x7F && code < 0xA0) || code > 0xFF)
            return QStringLiteral("%1 cannot hold \"%2\": only single-byte (Latin-1) letters, digits and signs "
                                  "can be stored.").arg(field, QString::fromUcs4(&code, 1));
    }
    return {};
}

QString sixteenBitRefusal(const QString& field, std::uint32_t value)
{
    if (value <= 0xFFFF)
        return {};
    return QStringLiteral("%1 must be a number from 0 to 65535.").arg(field);
}

QString tableText(unsigned stringId)
{
    const std::string_view text = loadString(stringId);
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QDialogButtonBox* okCancelButtons(QDialog* dialog, const QString& okText)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    if (!okText.isEmpty())
        ok->setText(okText);
    ok->setProperty(kControlIdProperty, 1);
    buttons->button(QDialogButtonBox::Cancel)->setProperty(kControlIdProperty, 2);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

QPushButton* okButton(QDialogButtonBox* buttons)
{
    return buttons->button(QDialogButtonBox::Ok);
}

std::optional<std::uint32_t> parseUnsigned(const QString& text)
{
    const QString digits = text.trimmed();
    if (digits.isEmpty() || digits.size() > 10)
        return std::nullopt;
    std::uint64_t value = 0;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c.unicode() - '0');
    }
    if (value > 0xFFFFFFFFull)
        return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

QString accessibleText(const QString& label)
{
    QString text;
    text.reserve(label.size());
    for (qsizetype i = 0; i < label.size(); ++i) {
        // "&&" is a literal ampersand, a single '&' marks the mnemonic.
        if (label[i] == QLatin1Char('&') && i + 1 < label.size()) {
            ++i;
        }
        text += label[i];
    }
    text = text.trimmed();
    while (text.endsWith(QLatin1Char(':')))
        text = text.chopped(1).trimmed();
    return text;
}

void setControlText(QWidget* dialog, int id, const QString& text)
{
    QWidget* control = controlById(dialog, id);
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        button->setText(text);
    else if (auto* label = qobject_cast<QLabel*>(control))
        label->setText(text);
    else
        return;
    if (control->property(kNameFromTextProperty).toBool())
        control->setAccessibleName(accessibleText(text));
}

void applyAccessibleNames(QWidget* dialog)
{
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        QWidget* field = label->buddy();
        if (field != nullptr && field->accessibleName().isEmpty())
            field->setAccessibleName(accessibleText(label->text()));
    }
    for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>()) {
        if (button->accessibleName().isEmpty()) {
            button->setAccessibleName(accessibleText(button->text()));
            button->setProperty(kNameFromTextProperty, true);
        }
    }
    // A label is heard as the text it shows, and setControlText keeps that in
    // step, so a screen reader learns when a status or result line changes.
    for (QLabel* label : dialog->findChildren<QLabel*>()) {
        if (label->accessibleName().isEmpty()) {
            label->setAccessibleName(accessibleText(label->text()));
            label->setProperty(kNameFromTextProperty, true);
        }
    }
}

} // namespace updatetool
