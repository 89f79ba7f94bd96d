// The drawn DB-25 socket on Qt: painted from the shared drawing, a click on a
// contact delivered as a pin number, the contact's line as its tooltip.
#include "ConnectorDrawing.h"
#include "EventDelivery.h"
#include "QtRuntime.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
#include <QToolTip>

namespace runtime::qt {
namespace {

QColor colour(drawing::Colour c) { return {c.red, c.green, c.blue}; }
QRect boxRect(const drawing::Box &box) { return {box.left, box.top, box.width, box.height}; }

class ConnectorWidget : public QWidget {
  public:
    ConnectorWidget(const Connector &source, QWidget *parent) : QWidget(parent), source_(source)
    {
        setMouseTracking(true);
    }
    std::function<void(int)> clicked;

  protected:
    void paintEvent(QPaintEvent *) override
    {
        const drawing::Layout layout = drawing::layOut(width(), height());
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(colour(drawing::outline), 1));
        painter.setBrush(colour(drawing::shellFill));
        QPolygon shell;
        for (const drawing::Point &corner : layout.shell)
            shell << QPoint(corner.x, corner.y);
        painter.drawPolygon(shell);
        QFont font = this->font();
        font.setPixelSize(layout.fontPixels);
        for (std::size_t i = 0; i < layout.contacts.size(); ++i)
            paintPin(painter, font, layout.contacts[i], source_.pins()[i], static_cast<int>(i) + 1);
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        const QPoint at = event->position().toPoint();
        if (const int number = drawing::pinAt(drawing::layOut(width(), height()), at.x(), at.y());
            number && clicked && event->button() == Qt::LeftButton)
            deliver([this, number] { clicked(number); });
    }

    void mouseMoveEvent(QMouseEvent *event) override
    {
        const QPoint at = event->position().toPoint();
        const int number = drawing::pinAt(drawing::layOut(width(), height()), at.x(), at.y());
        const bool output =
            number &&
            source_.pins().at(static_cast<std::size_t>(number - 1)).role == DrawnPin::Role::Output;
        setCursor(output ? Qt::PointingHandCursor : Qt::ArrowCursor);
    }

    bool event(QEvent *event) override
    {
        if (event->type() != QEvent::ToolTip)
            return QWidget::event(event);
        const auto *help = static_cast<QHelpEvent *>(event);
        const int number =
            drawing::pinAt(drawing::layOut(width(), height()), help->pos().x(), help->pos().y());
        if (number)
            QToolTip::showText(help->globalPos(),
                               QString::fromStdString(
                                   source_.pins().at(static_cast<std::size_t>(number - 1)).line),
                               this);
        else
            QToolTip::hideText();
        return true;
    }

  private:
    static void paintPin(QPainter &painter, QFont font, const drawing::Contact &at,
                         const DrawnPin &pin, int number)
    {
        painter.setPen(QPen(colour(drawing::outline), 1));
        painter.setBrush(colour(drawing::fill(pin)));
        if (pin.role == DrawnPin::Role::Output)
            painter.drawRect(boxRect(at.contact));
        else
            painter.drawEllipse(boxRect(at.contact));
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(colour(drawing::ink(pin)));
        painter.drawText(boxRect(at.contact), Qt::AlignCenter, drawing::levelText(pin));
        painter.setPen(colour(drawing::labelInk));
        painter.drawText(boxRect(at.name), Qt::AlignCenter, QString::fromStdString(pin.name));
        font.setBold(false);
        painter.setFont(font);
        painter.drawText(boxRect(at.number), Qt::AlignCenter, QString::number(number));
        painter.drawText(boxRect(at.detail), Qt::AlignCenter, QString::fromStdString(pin.detail));
    }

    const Connector &source_;
};

class QtConnector : public Connector, public Shown {
  public:
    QtConnector(const char *name, QWidget *parent)
        : Connector(name), widget_(new ConnectorWidget(*this, parent))
    {
    }
    [[nodiscard]] QWidget *shown() const override { return widget_; }
    void onPinClick(std::function<void(int)> handler) override
    {
        widget_->clicked = std::move(handler);
    }

  protected:
    void redraw() override { widget_->update(); }

  private:
    ConnectorWidget *widget_;
};

} // namespace

std::unique_ptr<Control> makeConnector(const char *name, QWidget *parent)
{
    return std::make_unique<QtConnector>(name, parent);
}

} // namespace runtime::qt
