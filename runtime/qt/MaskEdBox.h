#pragma once

#include <QLineEdit>

namespace runtime {

// A masked field of three digit positions whose prompt is "0": untouched it
// shows and reads "000"; with only the first position typed it reads "500".
// Typing overwrites the position at the caret; any edit that would leave
// anything but three digits is refused.
class MaskEdBox : public QLineEdit {
    Q_OBJECT
  public:
    static constexpr int positions = 3;
    static constexpr char prompt = '0';

    explicit MaskEdBox(QWidget *parent = nullptr);

    [[nodiscard]] QString Text() const { return text(); }
    // False, and nothing changed, unless the text is exactly three digits.
    bool setMaskText(const QString &text);

  protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

  private:
    int clearSelection();
    void typeDigit(QChar digit);
    void erase(int offset);
    void pasteDigits();
    void putAt(int position, const QString &digits);
};

} // namespace runtime
