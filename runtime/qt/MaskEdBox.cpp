#include "MaskEdBox.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QValidator>

namespace runtime {
namespace {

bool allDigits(const QString &text)
{
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
}

// The last guard: whatever route an edit takes, it must leave three digits.
class ThreeDigits : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString &input, int &) const override
    {
        return input.size() == MaskEdBox::positions && allDigits(input) ? Acceptable : Invalid;
    }
};

} // namespace

MaskEdBox::MaskEdBox(QWidget *parent) : QLineEdit(parent)
{
    setMaxLength(positions);
    setValidator(new ThreeDigits(this));
    QLineEdit::setText(QString(positions, QLatin1Char(prompt)));
    setCursorPosition(0);
}

bool MaskEdBox::setMaskText(const QString &text)
{
    if (text.size() != positions || !allDigits(text))
        return false;
    QLineEdit::setText(text);
    return true;
}

void MaskEdBox::putAt(int position, const QString &digits)
{
    QString shown = text();
    shown.replace(position, digits.size(), digits);
    QLineEdit::setText(shown);
    setCursorPosition(position + static_cast<int>(digits.size()));
}

// Puts prompts back in the selected positions; returns where the caret goes.
int MaskEdBox::clearSelection()
{
    if (!hasSelectedText())
        return cursorPosition();
    const int start = selectionStart();
    putAt(start, QString(selectedText().size(), QLatin1Char(prompt)));
    setCursorPosition(start);
    return start;
}

void MaskEdBox::typeDigit(QChar digit)
{
    const int position = clearSelection();
    if (position < positions)
        putAt(position, digit);
}

void MaskEdBox::erase(int offset)
{
    if (hasSelectedText()) {
        clearSelection();
        return;
    }
    const int position = cursorPosition() + offset;
    if (position < 0 || position >= positions)
        return;
    putAt(position, QString(QLatin1Char(prompt)));
    setCursorPosition(position);
}

void MaskEdBox::pasteDigits()
{
    const QString pasted = QGuiApplication::clipboard()->text();
    const int start = hasSelectedText() ? selectionStart() : cursorPosition();
    if (pasted.isEmpty() || !allDigits(pasted) || start + pasted.size() > positions)
        return;
    clearSelection();
    putAt(start, pasted);
}

void MaskEdBox::keyPressEvent(QKeyEvent *event)
{
    const QString typed = event->text();
    if (event->matches(QKeySequence::Paste)) {
        pasteDigits();
    } else if (event->key() == Qt::Key_Backspace) {
        erase(-1);
    } else if (event->key() == Qt::Key_Delete) {
        erase(0);
    } else if (typed.size() == 1 && allDigits(typed)) {
        typeDigit(typed.front());
    } else if (typed.isEmpty() || !typed.front().isPrint()) {
        QLineEdit::keyPressEvent(event); // caret moves, selection, copy, Enter
        return;
    }
    event->accept();
}

void MaskEdBox::inputMethodEvent(QInputMethodEvent *event)
{
    for (const QChar c : event->commitString())
        if (allDigits(QString(c)))
            typeDigit(c);
    event->accept();
}

} // namespace runtime
