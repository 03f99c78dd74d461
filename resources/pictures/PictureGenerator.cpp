// Draws the application's pictures at 1x and 2x so they stay sharp on any screen.
// Usage: hotspot-picturegen <output folder>

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QString>
#include <cstdio>
#include <functional>

namespace {

using Drawing = std::function<void(QPainter&)>;

bool render(const QString& folder, const QString& name, QSize logical, const Drawing& draw) {
    for (int scale : {1, 2}) {
        QImage image(logical * scale, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        image.setDevicePixelRatio(scale);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            draw(p);
        }
        const QString file = folder + QLatin1Char('/') + name +
                             (scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale)) +
                             QStringLiteral(".png");
        if (!image.save(file, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
            return false;
        }
    }
    return true;
}

// An upright exclamation mark centred on `c`, `h` tall.
void exclamation(QPainter& p, QPointF c, qreal h, const QColor& color) {
    const qreal w = h * 0.2;
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    const QRectF bar(c.x() - w / 2, c.y() - h / 2, w, h * 0.58);
    p.drawRoundedRect(bar, w / 2, w / 2);
    p.drawEllipse(QPointF(c.x(), c.y() + h / 2 - w * 0.6), w * 0.6, w * 0.6);
}

void errorIcon(QPainter& p) {
    const QRectF disc(4, 4, 56, 56);
    QLinearGradient g(disc.topLeft(), disc.bottomLeft());
    g.setColorAt(0, QColor(0xf0, 0x5a, 0x5f));
    g.setColorAt(1, QColor(0xc9, 0x2a, 0x30));
    p.setPen(QPen(QColor(0xa8, 0x1e, 0x24), 1));
    p.setBrush(g);
    p.drawEllipse(disc);
    exclamation(p, disc.center(), 32, Qt::white);
}

void warningIcon(QPainter& p) {
    QPainterPath tri;
    tri.moveTo(10, 1.5);
    tri.lineTo(19, 17.5);
    tri.lineTo(1, 17.5);
    tri.closeSubpath();
    QPen edge(QColor(0xd9, 0x8a, 0x00), 1.5);
    edge.setJoinStyle(Qt::RoundJoin);
    p.setPen(edge);
    p.setBrush(QColor(0xf8, 0xb5, 0x1c));
    p.drawPath(tri);
    exclamation(p, QPointF(10, 11.2), 9, QColor(0x3a, 0x28, 0x00));
}

// Concentric signal arcs above `c`.
void waves(QPainter& p, QPointF c, const QList<qreal>& radii, qreal width, const QColor& color) {
    QPen pen(color, width);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    for (qreal r : radii)
        p.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
}

// A pocket hotspot: a rounded body with a small display and three status lights.
void hotspot(QPainter& p, const QRectF& body, const QColor& shell, const QColor& face) {
    p.setPen(Qt::NoPen);
    p.setBrush(shell);
    p.drawRoundedRect(body, body.height() * 0.28, body.height() * 0.28);
    const QRectF screen = body.adjusted(body.width() * 0.12, body.height() * 0.2,
                                        -body.width() * 0.45, -body.height() * 0.2);
    p.setBrush(face);
    p.drawRoundedRect(screen, 3, 3);
    const qreal r = body.height() * 0.07;
    const QColor lights[] = {QColor(0x4c, 0xd9, 0x64), QColor(0x4c, 0xd9, 0x64),
                             QColor(0x5a, 0xa9, 0xff)};
    for (int i = 0; i < 3; ++i) {
        p.setBrush(lights[i]);
        p.drawEllipse(QPointF(body.right() - body.width() * (0.34 - i * 0.1), body.center().y()), r, r);
    }
}

// A round badge with a downward arrow: new firmware going in.
void downloadBadge(QPainter& p, QPointF c, qreal r, const QColor& fill) {
    p.setPen(QPen(Qt::white, r * 0.12));
    p.setBrush(fill);
    p.drawEllipse(c, r, r);
    QPen arrow(Qt::white, r * 0.2);
    arrow.setCapStyle(Qt::RoundCap);
    arrow.setJoinStyle(Qt::RoundJoin);
    p.setPen(arrow);
    p.drawLine(QPointF(c.x(), c.y() - r * 0.5), QPointF(c.x(), c.y() + r * 0.42));
    QPainterPath head;
    head.moveTo(c.x() - r * 0.38, c.y() + r * 0.05);
    head.lineTo(c.x(), c.y() + r * 0.45);
    head.lineTo(c.x() + r * 0.38, c.y() + r * 0.05);
    p.setBrush(Qt::NoBrush);
    p.drawPath(head);
}

// Shown in place of the info text while the firmware is written.
void updatingPicture(QPainter& p) {
    const QRectF body(40, 52, 120, 56);
    hotspot(p, body, QColor(0x2d, 0x37, 0x48), QColor(0x5f, 0x7d, 0xa3));
    waves(p, QPointF(100, 50), {12, 24, 36}, 5, QColor(0x3b, 0x8c, 0xf0));
    downloadBadge(p, QPointF(172, 100), 20, QColor(0x22, 0xa0, 0x5a));
}

void appIcon(QPainter& p) {
    const QRectF tile(6, 6, 116, 116);
    QLinearGradient g(tile.topLeft(), tile.bottomRight());
    g.setColorAt(0, QColor(0x4b, 0x9b, 0xf5));
    g.setColorAt(1, QColor(0x1c, 0x5f, 0xc9));
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawRoundedRect(tile, 26, 26);
    hotspot(p, QRectF(24, 68, 80, 36), QColor(0xf4, 0xf7, 0xfb), QColor(0x9c, 0xb8, 0xdc));
    waves(p, QPointF(64, 62), {10, 21, 32}, 6, Qt::white);
    downloadBadge(p, QPointF(100, 98), 17, QColor(0x22, 0xa0, 0x5a));
}

// The application icon in the icon theme's sizes: <folder>/<n>x<n>/apps/hotspot-updater.png.
bool renderThemeIcons(const QString& folder) {
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256, 512}) {
        const QString dir = folder + QStringLiteral("/%1x%1/apps").arg(size);
        QDir().mkpath(dir);
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(size / 128.0, size / 128.0);
            appIcon(p);
        }
        if (!image.save(dir + QStringLiteral("/hotspot-updater.png"), "PNG")) {
            std::fprintf(stderr, "cannot write the %dx%d icon in %s\n", size, size, qPrintable(dir));
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s <output folder> [<icon theme folder>]\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    const bool ok = render(folder, QStringLiteral("error"), {64, 64}, errorIcon) &&
                    render(folder, QStringLiteral("warning"), {20, 20}, warningIcon) &&
                    render(folder, QStringLiteral("updating"), {200, 130}, updatingPicture) &&
                    render(folder, QStringLiteral("app-icon"), {128, 128}, appIcon) &&
                    (argc < 3 || renderThemeIcons(QString::fromLocal8Bit(argv[2])));
    return ok ? 0 : 1;
}
