#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QWidget>

#include <string>

namespace viewstest {

// Renders a widget as the screen would at the given device pixel ratio;
// without its background, what it paints itself is left on transparency.
inline QImage Render(QWidget& widget, qreal dpr, bool background = true)
{
    QImage image((QSizeF(widget.size()) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    const QWidget::RenderFlags flags =
        background ? QWidget::DrawWindowBackground | QWidget::DrawChildren : QWidget::DrawChildren;
    widget.render(&image, QPoint(), QRegion(), flags);
    return image;
}

// Colour at a point given in the widget's logical coordinates.
inline QColor PixelAt(const QImage& image, QPoint logical)
{
    const qreal dpr = image.devicePixelRatio();
    return image.pixelColor(qRound(logical.x() * dpr), qRound(logical.y() * dpr));
}

// Writes the picture for a look by eye when KSN_VIEWS_SNAPSHOT_DIR names a folder.
inline void KeepSnapshot(const QImage& image, const QString& name)
{
    const QString folder = qEnvironmentVariable("KSN_VIEWS_SNAPSHOT_DIR");
    if (folder.isEmpty())
        return;
    image.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// Every visible child gets at least the room it asks for, lies inside its
// parent and does not cover a visible sibling.
inline void ExpectLaidOutCleanly(const QWidget& parent)
{
    const auto children = parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const QWidget* child : children) {
        if (!child->isVisible() || child->isWindow())
            continue;
        const std::string name = child->objectName().toStdString();
        EXPECT_TRUE(parent.rect().contains(child->geometry()))
            << name << " sticks out of " << parent.objectName().toStdString();
        const QSize wanted = child->minimumSizeHint().expandedTo(child->minimumSize());
        if (wanted.isValid()) {
            EXPECT_GE(child->width(), wanted.width()) << name << " is clipped";
            EXPECT_GE(child->height(), wanted.height()) << name << " is clipped";
        }
        for (const QWidget* other : children) {
            if (other == child || !other->isVisible() || other->isWindow())
                continue;
            EXPECT_FALSE(child->geometry().intersects(other->geometry()))
                << name << " overlaps " << other->objectName().toStdString();
        }
        ExpectLaidOutCleanly(*child);
    }
}

}  // namespace viewstest
