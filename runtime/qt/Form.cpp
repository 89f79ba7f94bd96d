// Forms and controls on Qt Widgets, built from the form's layout.
#include "Controls.h"
#include "EventDelivery.h"
#include "MaskEdBox.h"
#include "QtRuntime.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace runtime {
namespace {

QString fromUtf8(const std::string &text) { return QString::fromStdString(text); }

struct Shown {
    virtual ~Shown() = default;
    [[nodiscard]] virtual QWidget *shown() const = 0;
};

// Each control keeps its widget; the window owns the widgets. Line edits,
// labels and buttons all hold their text the same way.
template <class Base, class Widget> class Wrapped : public Base, public Shown {
  public:
    Wrapped(const char *name, Widget *widget) : Base(name), widget_(widget) {}
    [[nodiscard]] QWidget *shown() const override { return widget_; }
    [[nodiscard]] std::string text() const override { return widget_->text().toStdString(); }
    bool setText(const std::string &text) override
    {
        widget_->setText(fromUtf8(text));
        return true;
    }

  protected:
    Widget *widget_;
};

using QtTextBox = Wrapped<TextBox, QLineEdit>;
using QtLabel = Wrapped<Label, QLabel>;

class QtMaskEdBox : public Wrapped<MaskEdBox, qt::MaskEdBox> {
  public:
    using Wrapped::Wrapped;
    bool setText(const std::string &text) override { return widget_->setMaskText(fromUtf8(text)); }
};

class QtCommandButton : public Wrapped<CommandButton, QPushButton> {
  public:
    using Wrapped::Wrapped;
    void onClick(std::function<void()> handler) override
    {
        QObject::connect(widget_, &QPushButton::clicked, widget_,
                         [handler = std::move(handler)] { deliver(handler); });
    }
};

std::unique_ptr<Control> build(const ControlLayout &layout, QWidget *parent)
{
    const QString text = QString::fromUtf8(layout.text);
    switch (layout.kind) {
    case Kind::TextBox:
        return std::make_unique<QtTextBox>(layout.name, new QLineEdit(text, parent));
    case Kind::MaskEdBox:
        return std::make_unique<QtMaskEdBox>(layout.name, new qt::MaskEdBox(parent));
    case Kind::Label:
        return std::make_unique<QtLabel>(layout.name, new QLabel(text, parent));
    case Kind::CommandButton: {
        auto *button = new QPushButton(text, parent);
        button->setAutoDefault(false); // Enter in a text box presses nothing
        return std::make_unique<QtCommandButton>(layout.name, button);
    }
    }
    return nullptr;
}

// Qt scales logical pixels with the screen itself.
QRect pixels(const Twips &place)
{
    return {place.left / twipsPerPixel, place.top / twipsPerPixel, place.width / twipsPerPixel,
            place.height / twipsPerPixel};
}

} // namespace

struct Form::Window {
    QWidget widget;
};

Form::Form(const FormLayout &layout) : window_(std::make_unique<Window>())
{
    QWidget &form = window_->widget;
    form.setObjectName(QString::fromUtf8(layout.name));
    form.setWindowTitle(QString::fromUtf8(layout.caption));
    form.setFixedSize(layout.width / twipsPerPixel, layout.height / twipsPerPixel);
    QWidget *previous = nullptr; // the last control that takes focus
    for (const ControlLayout &item : layout.controls) {
        auto built = build(item, &form);
        QWidget *shown = qt::widget(built.get());
        shown->setObjectName(QString::fromUtf8(item.name));
        shown->setGeometry(pixels(item.place));
        if (item.accessibleName)
            shown->setAccessibleName(QString::fromUtf8(item.accessibleName));
        if (item.kind == Kind::Label) {
            shown->setFocusPolicy(Qt::NoFocus);
        } else {
            if (previous)
                QWidget::setTabOrder(previous, shown);
            else
                shown->setFocus();
            previous = shown;
        }
        controls_.push_back(std::move(built));
    }
}

Form::~Form() = default;

namespace qt {

QWidget *widget(const Control *control)
{
    const auto *shown = dynamic_cast<const Shown *>(control);
    return shown ? shown->shown() : nullptr;
}

QWidget *widget(const Form &form) { return &form.window().widget; }

} // namespace qt
} // namespace runtime
