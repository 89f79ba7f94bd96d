// The drawn DB-25 socket on Qt: painted from the shared drawing, a click on a
// contact delivered as a pin number, the contact's line as its tooltip, and
// each contact a child on the accessibility bus named as the pin is.
#include "ConnectorDrawing.h"
#include "EventDelivery.h"
#include "QtRuntime.h"

#include <QAccessibleWidget>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QPolygon>
#include <QToolTip>

namespace runtime::qt {
namespace {

QColor colour(drawing::Colour c) { return {c.red, c.green, c.blue}; }
QRect boxRect(const drawing::Box &box) { return {box.left, box.top, box.width, box.height}; }

class ConnectorWidget : public QWidget {
  public:
    ConnectorWidget(const Connector &source, QWidget *parent) : QWidget(parent), source_(&source)
    {
        setMouseTracking(true);
    }
    std::function<void(int)> clicked;
    // Ground, undrawn, once the control is gone and only the widget is left.
    [[nodiscard]] const DrawnPin &pin(int number) const
    {
        static const DrawnPin gone{};
        return source_ ? source_->pins().at(static_cast<std::size_t>(number - 1)) : gone;
    }
    void forget() { source_ = nullptr; }
    [[nodiscard]] drawing::Layout laidOut() const { return drawing::layOut(width(), height()); }

  protected:
    void paintEvent(QPaintEvent *) override
    {
        const drawing::Layout drawn = laidOut();
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(colour(drawing::outline), 1));
        painter.setBrush(colour(drawing::shellFill));
        QPolygon shell;
        for (const drawing::Point &corner : drawn.shell)
            shell << QPoint(corner.x, corner.y);
        painter.drawPolygon(shell);
        QFont font = this->font();
        font.setPixelSize(drawn.fontPixels);
        for (std::size_t i = 0; i < drawn.contacts.size(); ++i)
            paintPin(painter, font, drawn.contacts[i], pin(static_cast<int>(i) + 1),
                     static_cast<int>(i) + 1);
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        const QPoint at = event->position().toPoint();
        if (const int number = drawing::pinAt(laidOut(), at.x(), at.y());
            number && clicked && event->button() == Qt::LeftButton)
            deliver([this, number] { clicked(number); });
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        const QPoint at = event->position().toPoint();
        const int number = drawing::pinAt(laidOut(), at.x(), at.y());
        const bool output = number && pin(number).role == DrawnPin::Role::Output;
        setCursor(output ? Qt::PointingHandCursor : Qt::ArrowCursor);
    }

    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::ToolTip)
            return QWidget::event(event);
        const auto *help = static_cast<QHelpEvent *>(event);
        const int number = drawing::pinAt(laidOut(), help->pos().x(), help->pos().y());
        if (number)
            QToolTip::showText(help->globalPos(), QString::fromStdString(pin(number).line), this);
        else
            QToolTip::hideText();
        return true;
    }

  private:
    static void paintPin(QPainter &painter, QFont font, const drawing::Contact &at,
                         const DrawnPin &pin, int number)
    {
        painter.setPen(QPen(colour(drawing::rim(pin)), drawing::rimWidth(pin, at.contact)));
        painter.setBrush(colour(drawing::fill(pin)));
        if (pin.role == DrawnPin::Role::Output)
            painter.drawRect(boxRect(at.contact));
        else
            painter.drawEllipse(boxRect(at.contact));
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(colour(drawing::ink(pin)));
        painter.drawText(boxRect(at.contact), Qt::AlignCenter, drawing::levelText(pin));
        painter.setPen(colour(drawing::nameInk(pin)));
        painter.drawText(boxRect(at.name), Qt::AlignCenter, QString::fromStdString(pin.name));
        painter.setPen(colour(drawing::labelInk));
        font.setBold(false);
        painter.setFont(font);
        painter.drawText(boxRect(at.number), Qt::AlignCenter, QString::number(number));
        painter.drawText(boxRect(at.detail), Qt::AlignCenter, QString::fromStdString(pin.detail));
    }

    const Connector *source_;
};

// A drawn pin as a screen reader sees it: its name, its full line, its place.
class PinAccessible : public QAccessibleInterface {
  public:
    PinAccessible(ConnectorWidget *widget, int number) : widget_(widget), number_(number) {}
    [[nodiscard]] bool isValid() const override { return !widget_.isNull(); }
    [[nodiscard]] QObject *object() const override { return nullptr; }
    [[nodiscard]] QWindow *window() const override { return widget_->window()->windowHandle(); }
    [[nodiscard]] QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    [[nodiscard]] QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(widget_);
    }
    [[nodiscard]] QAccessibleInterface *child(int) const override { return nullptr; }
    [[nodiscard]] int childCount() const override { return 0; }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    [[nodiscard]] QString text(QAccessible::Text kind) const override
    {
        const DrawnPin &pin = widget_->pin(number_);
        if (kind == QAccessible::Name)
            return QString::fromStdString(pin.accessibleName);
        return kind == QAccessible::Description ? QString::fromStdString(pin.line) : QString();
    }
    void setText(QAccessible::Text, const QString &) override {}
    [[nodiscard]] QRect rect() const override
    {
        const drawing::Box box =
            widget_->laidOut().contacts.at(static_cast<std::size_t>(number_ - 1)).contact;
        return {widget_->mapToGlobal(QPoint(box.left, box.top)), QSize(box.width, box.height)};
    }
    [[nodiscard]] QAccessible::Role role() const override { return QAccessible::StaticText; }
    [[nodiscard]] QAccessible::State state() const override { return {}; }

  private:
    QPointer<ConnectorWidget> widget_;
    int number_;
};

class ConnectorAccessible : public QAccessibleWidget {
  public:
    explicit ConnectorAccessible(ConnectorWidget *widget)
        : QAccessibleWidget(widget, QAccessible::Graphic)
    {
    }
    ~ConnectorAccessible() override
    {
        for (const QAccessible::Id id : ids_)
            if (id)
                QAccessible::deleteAccessibleInterface(id);
    }
    ConnectorAccessible(const ConnectorAccessible &) = delete;
    ConnectorAccessible &operator=(const ConnectorAccessible &) = delete;

    [[nodiscard]] int childCount() const override { return static_cast<int>(ids_.size()); }
    [[nodiscard]] QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        QAccessible::Id &id = ids_.at(static_cast<std::size_t>(index));
        if (!id)
            id = QAccessible::registerAccessibleInterface(
                new PinAccessible(static_cast<ConnectorWidget *>(widget()), index + 1));
        return QAccessible::accessibleInterface(id);
    }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface *child) const override
    {
        for (int i = 0; i < childCount(); ++i)
            if (this->child(i) == child)
                return i;
        return -1;
    }
    [[nodiscard]] QAccessibleInterface *childAt(int x, int y) const override
    {
        const auto *drawn = static_cast<ConnectorWidget *>(widget());
        const QPoint at = drawn->mapFromGlobal(QPoint(x, y));
        return child(drawing::pinAt(drawn->laidOut(), at.x(), at.y()) - 1);
    }

  private:
    mutable std::array<QAccessible::Id, std::tuple_size_v<DrawnPins>> ids_{};
};

QAccessibleInterface *accessibleConnector(const QString &, QObject *object)
{
    auto *drawn = dynamic_cast<ConnectorWidget *>(object);
    return drawn ? new ConnectorAccessible(drawn) : nullptr;
}

class QtConnector : public Connector, public Shown {
  public:
    QtConnector(const char *name, QWidget *parent)
        : Connector(name), widget_(new ConnectorWidget(*this, parent))
    {
    }
    ~QtConnector() override { widget_->forget(); }
    QtConnector(const QtConnector &) = delete;
    QtConnector &operator=(const QtConnector &) = delete;
    [[nodiscard]] QWidget *shown() const override { return widget_; }
    void onPinClick(std::function<void(int)> handler) override
    {
        widget_->clicked = std::move(handler);
    }

  protected:
    void redraw(const DrawnPins &) override { widget_->update(); }

  private:
    ConnectorWidget *widget_;
};

} // namespace

std::unique_ptr<Control> makeConnector(const char *name, QWidget *parent)
{
    static const bool installed = (QAccessible::installFactory(accessibleConnector), true);
    (void)installed;
    return std::make_unique<QtConnector>(name, parent);
}

} // namespace runtime::qt
