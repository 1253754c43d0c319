#include "Led.h"

#include <QPainter>
#include <QRadialGradient>

#include <algorithm>

TLed::TLed(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TLed::SetTrueColor(const QColor& color)
{
    if (trueColor_ == color)
        return;
    trueColor_ = color;
    update();
}

void TLed::SetFalseColor(const QColor& color)
{
    if (falseColor_ == color)
        return;
    falseColor_ = color;
    update();
}

void TLed::SetValue(bool value)
{
    if (value_ == value)
        return;
    value_ = value;
    update();
}

QSize TLed::sizeHint() const
{
    return {30, 30};
}

QSize TLed::minimumSizeHint() const
{
    return {8, 8};
}

void TLed::paintEvent(QPaintEvent* /*event*/)
{
    const qreal side = std::min(width(), height()) - 2.0;
    if (side <= 0)
        return;
    const QRectF disc((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    const QColor color = ShownColor();

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    // A lamp whose two colours are the same is a blank: it must vanish into
    // its background, so it gets no shading that would outline it.
    if (trueColor_ == falseColor_) {
        painter.setBrush(color);
    } else {
        QRadialGradient gradient(disc.center(), side / 2.0,
                                 disc.topLeft() + QPointF(side * 0.35, side * 0.3));
        gradient.setColorAt(0.0, color.lighter(170));
        gradient.setColorAt(0.55, color);
        gradient.setColorAt(1.0, color.darker(140));
        painter.setBrush(gradient);
    }
    painter.drawEllipse(disc);
}
