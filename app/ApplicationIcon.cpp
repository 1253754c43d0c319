#include "ApplicationIcon.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

QIcon ApplicationIcon()
{
    QSvgRenderer renderer(QStringLiteral(":/APPL_ICON"));
    QIcon icon;
    if (!renderer.isValid()) {
        return icon;
    }
    // Rendered here rather than through Qt's SVG icon plugin, which the
    // program would load at run time and could miss.
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
