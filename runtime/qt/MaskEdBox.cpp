#include "MaskEdBox.h"

#include "Mask.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QValidator>

namespace runtime::qt {
namespace {

class ThreeDigits : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        return mask::isThreeDigits(input.toStdString()) ? Acceptable : Invalid;
    }
};

bool isDigit(const QString &typed)
{
    return typed.size() == 1 && mask::isDigits(typed.toStdString());
}

} // namespace

MaskEdBox::MaskEdBox(QWidget *parent) : QLineEdit(parent)
{
    setMaxLength(static_cast<int>(mask::positions));
    setValidator(new ThreeDigits(this));
    QLineEdit::setText(QString::fromStdString(mask::Field{}.text));
    setCursorPosition(0);
}

bool MaskEdBox::setMaskText(const QString &text)
{
    if (!mask::isThreeDigits(text.toStdString()))
        return false;
    QLineEdit::setText(text);
    return true;
}

// Reads the field's state, applies one edit, and shows the result.
template <class Edit> void MaskEdBox::edit(Edit change)
{
    mask::Field field{text().toStdString(), static_cast<std::size_t>(cursorPosition()),
                      static_cast<std::size_t>(hasSelectedText() ? selectionStart() : 0),
                      static_cast<std::size_t>(selectedText().size())};
    change(field);
    QLineEdit::setText(QString::fromStdString(field.text));
    setCursorPosition(static_cast<int>(field.caret));
}

void MaskEdBox::keyPressEvent(QKeyEvent *event)
{
    const QString typed = event->text();
    if (event->matches(QKeySequence::Paste)) {
        const std::string pasted = QGuiApplication::clipboard()->text().toStdString();
        edit([&](mask::Field &field) { mask::paste(field, pasted); });
    } else if (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete) {
        const int offset = event->key() == Qt::Key_Backspace ? -1 : 0;
        edit([offset](mask::Field &field) { mask::erase(field, offset); });
    } else if (isDigit(typed)) {
        edit([&](mask::Field &field) { mask::type(field, typed.front().toLatin1()); });
    } else if (typed.isEmpty() || !typed.front().isPrint()) {
        QLineEdit::keyPressEvent(event); // caret moves, selection, copy, Enter
        return;
    }
    event->accept();
}

void MaskEdBox::inputMethodEvent(QInputMethodEvent *event)
{
    for (const QChar c : event->commitString())
        if (isDigit(QString(c)))
            edit([c](mask::Field &field) { mask::type(field, c.toLatin1()); });
    event->accept();
}

} // namespace runtime::qt
