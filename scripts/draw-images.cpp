// Paints the pictures of the waveform views into resources/. Run through
// scripts/draw-images; the PNGs it writes are committed.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>

#include <cmath>
#include <cstdio>

namespace {

const QColor kInk(200, 200, 200, 255);

bool save(const QImage& image, const QString& dir, const char* name)
{
    const QString path = dir + "/" + name;
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s (%dx%d)\n", qPrintable(path), image.width(), image.height());
    return true;
}

// The invitation shown in the empty slice editing view: a waveform card with
// an arrow dropping onto it and the words below.
QImage dragHere()
{
    QImage image(220, 120, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // Card with a short waveform.
    QPen pen(kInk, 2.0);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    const QRectF card(70, 34, 80, 48);
    p.drawRoundedRect(card, 6, 6);
    QPainterPath wave;
    const double mid = card.center().y();
    for (int i = 0; i <= 64; ++i) {
        const double x = card.left() + 8 + i;
        const double envelope = std::exp(-i / 18.0);
        const double y = mid - 16 * envelope * std::sin(i * 0.9);
        if (i == 0)
            wave.moveTo(x, y);
        else
            wave.lineTo(x, y);
    }
    p.setPen(QPen(QColor(140, 247, 0, 255), 1.5));
    p.drawPath(wave);

    // Arrow coming down onto the card.
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRect(QRectF(105, 4, 10, 16));
    const QPolygonF head({QPointF(96, 18), QPointF(124, 18), QPointF(110, 32)});
    p.drawPolygon(head);

    QFont font;
    font.setPixelSize(14);
    p.setFont(font);
    p.setPen(kInk);
    p.drawText(QRectF(0, 88, image.width(), 28), Qt::AlignCenter,
               QStringLiteral("Drag an audio file here"));
    return image;
}

// The loop symbol of the transport bar: two arcs chasing each other round.
QImage transportLoop()
{
    QImage image(18, 12, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kInk, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    const QRectF ring(2.5, 2.0, 13.0, 8.0);
    // Upper arc left to right, lower arc right to left, each ending in a head.
    p.drawArc(ring, 30 * 16, 140 * 16);
    p.drawArc(ring, 210 * 16, 140 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawPolygon(QPolygonF({QPointF(13.0, 0.5), QPointF(17.0, 3.2), QPointF(12.6, 5.0)}));
    p.drawPolygon(QPolygonF({QPointF(5.0, 11.5), QPointF(1.0, 8.8), QPointF(5.4, 7.0)}));
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources");
    const bool ok =
        save(dragHere(), dir, "draghere.png") && save(transportLoop(), dir, "transport_loop.png");
    return ok ? 0 : 1;
}
