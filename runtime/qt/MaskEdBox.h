#pragma once

#include <QLineEdit>

namespace runtime::qt {

// The value field on Qt: a line edit whose edits follow runtime::mask, and a
// validator that refuses any other edit (context menu, Ctrl+K, middle-click
// paste) that would leave anything but three digits.
class MaskEdBox : public QLineEdit {
    Q_OBJECT
  public:
    explicit MaskEdBox(QWidget *parent = nullptr);

    [[nodiscard]] QString Text() const { return text(); }
    // False, and nothing changed, unless the text is exactly three digits.
    bool setMaskText(const QString &text);

  protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;

  private:
    template <class Edit> void edit(Edit change);
};

} // namespace runtime::qt
