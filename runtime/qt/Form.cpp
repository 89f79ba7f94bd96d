// Forms and controls on Qt Widgets, built from the form's layout.
#include "Controls.h"
#include "EventDelivery.h"
#include "MaskEdBox.h"
#include "QtRuntime.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QResizeEvent>
#include <QShortcut>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

namespace runtime {
namespace {

QString fromUtf8(const std::string &text) { return QString::fromStdString(text); }

using qt::Shown;

// Each control keeps its widget; the window owns the widgets.
template <class Base, class Widget> class Held : public Base, public Shown {
  public:
    Held(const char *name, Widget *widget) : Base(name), widget_(widget) {}
    [[nodiscard]] QWidget *shown() const override { return widget_; }

  protected:
    Widget *widget_;
};

// Line edits, labels, buttons and check boxes all hold their text the same way.
template <class Base, class Widget> class Wrapped : public Held<Base, Widget> {
  public:
    using Held<Base, Widget>::Held;
    [[nodiscard]] std::string text() const override { return this->widget_->text().toStdString(); }
    bool setText(const std::string &text) override
    {
        this->widget_->setText(fromUtf8(text));
        return true;
    }
};

using QtTextBox = Wrapped<TextBox, QLineEdit>;
using QtLabel = Wrapped<Label, QLabel>;

class QtMaskEdBox : public Wrapped<MaskEdBox, qt::MaskEdBox> {
  public:
    using Wrapped::Wrapped;
    bool setText(const std::string &text) override { return widget_->setMaskText(fromUtf8(text)); }
};

// A button or check box: each click runs the handler through event delivery.
template <class Base, class Widget> class Clicked : public Wrapped<Base, Widget> {
  public:
    using Wrapped<Base, Widget>::Wrapped;
    void onClick(std::function<void()> handler) override
    {
        QObject::connect(this->widget_, &Widget::clicked, this->widget_,
                         [handler = std::move(handler)] { deliver(handler); });
    }
};

using QtCommandButton = Clicked<CommandButton, QPushButton>;

class QtCheckBox : public Clicked<CheckBox, QCheckBox> {
  public:
    using Clicked::Clicked;
    [[nodiscard]] bool checked() const override { return widget_->isChecked(); }
    void setChecked(bool checked) override { widget_->setChecked(checked); }
    void setAccessibleName(const std::string &name) override
    {
        widget_->setAccessibleName(fromUtf8(name));
    }
};

class QtListBox : public Held<ListBox, QListWidget> {
  public:
    using Held::Held;
    [[nodiscard]] std::string text() const override
    {
        const QListWidgetItem *item = widget_->currentItem();
        return item ? item->text().toStdString() : std::string();
    }
    bool setText(const std::string &) override { return false; } // lines come by insertFirst
    void insertFirst(const std::string &line) override { widget_->insertItem(0, fromUtf8(line)); }
    void removeLast() override { delete widget_->takeItem(widget_->count() - 1); }
    [[nodiscard]] int count() const override { return widget_->count(); }
    [[nodiscard]] std::string line(int index) const override
    {
        const QListWidgetItem *item = widget_->item(index);
        return item ? item->text().toStdString() : std::string();
    }
};

class QtComboBox : public Held<ComboBox, QComboBox> {
  public:
    using Held::Held;
    [[nodiscard]] std::string text() const override { return widget_->currentText().toStdString(); }
    bool setText(const std::string &text) override
    {
        widget_->setEditText(fromUtf8(text));
        return true;
    }
    void setItems(const std::vector<std::string> &items) override
    {
        const QString kept = widget_->currentText();
        widget_->clear();
        for (const std::string &item : items)
            widget_->addItem(fromUtf8(item));
        widget_->setEditText(kept);
    }
};

// Follows its window's state, so that a minimised window wakes for nothing.
class QtTimer : public Timer, public QObject {
  public:
    QtTimer(const char *name, QWidget *window, int interval) : Timer(name), window_(window)
    {
        timer_.setInterval(interval);
        timer_.setTimerType(Qt::PreciseTimer);
        window_->installEventFilter(this);
    }
    [[nodiscard]] std::string text() const override { return std::to_string(timer_.interval()); }
    bool setText(const std::string &text) override
    {
        const int interval = std::atoi(text.c_str());
        if (interval < 1)
            return false;
        timer_.setInterval(interval);
        return true;
    }
    void setEnabled(bool enabled) override
    {
        enabled_ = enabled;
        follow();
    }
    [[nodiscard]] bool enabled() const override { return enabled_; }
    [[nodiscard]] bool ticking() const override { return timer_.isActive(); }
    void onTick(std::function<void()> handler) override
    {
        QObject::connect(&timer_, &QTimer::timeout, &timer_,
                         [handler = std::move(handler)] { deliver(handler); });
    }

  protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type == QEvent::Show || type == QEvent::Hide || type == QEvent::WindowStateChange)
            follow();
        return false;
    }

  private:
    void follow()
    {
        if (enabled_ && window_->isVisible() && !window_->isMinimized())
            timer_.start();
        else
            timer_.stop();
    }
    QWidget *window_;
    QTimer timer_;
    bool enabled_ = false;
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
    case Kind::CheckBox:
        return std::make_unique<QtCheckBox>(layout.name, new QCheckBox(text, parent));
    case Kind::ListBox:
        return std::make_unique<QtListBox>(layout.name, new QListWidget(parent));
    case Kind::ComboBox: {
        auto *box = new QComboBox(parent);
        box->setEditable(true);
        box->setInsertPolicy(QComboBox::NoInsert);
        box->setEditText(text);
        return std::make_unique<QtComboBox>(layout.name, box);
    }
    case Kind::Timer:
        return std::make_unique<QtTimer>(layout.name, parent, std::atoi(layout.text));
    case Kind::Connector:
        return qt::makeConnector(layout.name, parent);
    }
    return nullptr;
}

// A resizable form zooms: each control keeps its place in proportion and the
// text grows with it, never below the layout's own size.
class Zooming : public QWidget {
  public:
    void fit(const FormLayout &layout)
    {
        designed_ = QSize(layout.width, layout.height) / twipsPerPixel;
        if (!layout.resizable)
            return setFixedSize(designed_);
        setMinimumSize(designed_);
        resize(designed_);
        font_ = font();
        zooms_ = true;
    }
    void place(QWidget *control, const Twips &at)
    {
        placed_.emplace_back(control, at);
        control->setGeometry(pixels(at, 1.0));
    }

  protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QWidget::resizeEvent(event);
        if (zooms_)
            zoom(std::min(static_cast<double>(width()) / designed_.width(),
                          static_cast<double>(height()) / designed_.height()));
    }

  private:
    // Qt scales logical pixels with the screen itself.
    static QRect pixels(const Twips &at, double zoom)
    {
        const auto scaled = [zoom](int twips) {
            return static_cast<int>(std::lround(twips * zoom / twipsPerPixel));
        };
        return {scaled(at.left), scaled(at.top), scaled(at.width), scaled(at.height)};
    }
    void zoom(double zoom)
    {
        QFont grown = font_;
        if (font_.pointSizeF() > 0)
            grown.setPointSizeF(font_.pointSizeF() * zoom);
        else
            grown.setPixelSize(static_cast<int>(std::lround(font_.pixelSize() * zoom)));
        setFont(grown);
        for (const auto &[control, at] : placed_)
            control->setGeometry(pixels(at, zoom));
    }

    QSize designed_;
    QFont font_;
    bool zooms_ = false;
    std::vector<std::pair<QWidget *, Twips>> placed_;
};

} // namespace

struct Form::Window {
    Zooming widget;
};

Form::Form(const FormLayout &layout) : window_(std::make_unique<Window>())
{
    Zooming &form = window_->widget;
    form.setObjectName(QString::fromUtf8(layout.name));
    form.setWindowTitle(QString::fromUtf8(layout.caption));
    form.fit(layout);
    QWidget *previous = nullptr; // the last control that takes focus
    for (const ControlLayout &item : layout.controls) {
        auto built = build(item, &form);
        QWidget *shown = qt::widget(built.get());
        if (!shown) { // a timer
            controls_.push_back(std::move(built));
            continue;
        }
        shown->setObjectName(QString::fromUtf8(item.name));
        form.place(shown, item.place);
        if (item.accessibleName) {
            shown->setAccessibleName(QString::fromUtf8(item.accessibleName));
            // On Linux Qt names a drop-down by its text: its edit part, which
            // takes the focus, says the name.
            if (auto *box = qobject_cast<QComboBox *>(shown))
                box->lineEdit()->setAccessibleName(QString::fromUtf8(item.accessibleName));
        }
        if (item.kind == Kind::Label || item.kind == Kind::Connector) {
            shown->setFocusPolicy(Qt::NoFocus);
            // A label made two lines high or more is meant to wrap.
            if (auto *label = qobject_cast<QLabel *>(shown))
                label->setWordWrap(item.place.height >= 2 * 255);
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

void Form::onKey(char key, std::function<void()> handler)
{
    auto *shortcut = new QShortcut(QKeySequence(QString(QChar(key))), &window_->widget);
    QObject::connect(shortcut, &QShortcut::activated, shortcut,
                     [handler = std::move(handler)] { deliver(handler); });
}

namespace qt {

QWidget *widget(const Control *control)
{
    const auto *shown = dynamic_cast<const Shown *>(control);
    return shown ? shown->shown() : nullptr;
}

QWidget *widget(const Form &form) { return &form.window().widget; }

} // namespace qt
} // namespace runtime
