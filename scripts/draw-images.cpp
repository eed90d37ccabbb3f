// Paints the pictures of the views, the tool bar, the about box and the
// application icon into resources/. Run through scripts/draw-images; the PNGs
// it writes are committed.
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>

#include <cmath>
#include <cstdio>

namespace {

const QColor kInk(200, 200, 200, 255);
// The waveform green of the views, the slice-point red and the tile behind
// every tool bar symbol.
const QColor kWave(140, 247, 0, 255);
const QColor kCut(230, 40, 40, 255);
const QColor kTile(44, 44, 48, 255);
const QColor kTileEdge(90, 90, 96, 255);

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

// A drum-hit-like wave between x0 and x1 around the middle line mid: a few
// decaying bursts, the same picture in every icon.
QPainterPath drumWave(double x0, double x1, double mid, double height)
{
    QPainterPath wave;
    const int steps = 96;
    for (int i = 0; i <= steps; ++i) {
        const double t = double(i) / steps;
        // Four hits per bar, each decaying fast.
        const double phase = std::fmod(t * 4.0, 1.0);
        const double envelope = std::exp(-phase * 3.5);
        const double y = mid - height * envelope * std::sin(i * 1.7);
        const double x = x0 + (x1 - x0) * t;
        if (i == 0)
            wave.moveTo(x, y);
        else
            wave.lineTo(x, y);
    }
    return wave;
}

// The dark rounded tile every tool bar symbol sits on, size x size.
QImage tile(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kTileEdge, 1.0));
    p.setBrush(kTile);
    p.drawRoundedRect(QRectF(1.5, 1.5, size - 3.0, size - 3.0), size / 6.0, size / 6.0);
    return image;
}

// The application icon at any size: a loop waveform cut by three red slice
// lines.
QImage appIcon(int size)
{
    QImage image = tile(size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 32.0;
    p.setPen(QPen(kWave, 1.6 * s));
    p.drawPath(drumWave(5 * s, 27 * s, 16 * s, 9 * s));
    p.setPen(QPen(kCut, 1.0 * s, Qt::SolidLine, Qt::RoundCap));
    for (double x : {11.0, 16.5, 22.0})
        p.drawLine(QPointF(x * s, 5 * s), QPointF(x * s, 27 * s));
    return image;
}

QImage playIcon()
{
    QImage image = tile(32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kWave);
    p.drawPolygon(QPolygonF({QPointF(11, 8), QPointF(25, 16), QPointF(11, 24)}));
    return image;
}

// A wave cut into `parts` equal pieces, the number written below it.
QImage sliceIcon(int parts)
{
    QImage image = tile(32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kWave, 1.2));
    p.drawPath(drumWave(4, 28, 12, 6));
    p.setPen(QPen(kCut, parts > 8 ? 0.8 : 1.2));
    for (int i = 1; i < parts; ++i) {
        const double x = 4 + 24.0 * i / parts;
        p.drawLine(QPointF(x, 5), QPointF(x, 19));
    }
    QFont font;
    font.setPixelSize(10);
    font.setBold(true);
    p.setFont(font);
    p.setPen(kInk);
    p.drawText(QRectF(0, 19, 32, 11), Qt::AlignCenter, QString::number(parts));
    return image;
}

// The wave cut where each of its hits starts, a flag on every cut, above a
// slider: cuts found at a sensitivity.
QImage sliceHitsIcon()
{
    QImage image = tile(32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kWave, 1.2));
    p.drawPath(drumWave(4, 28, 12, 6));
    for (double x : {10.0, 16.0, 22.0}) {
        p.setPen(QPen(kCut, 1.2));
        p.drawLine(QPointF(x, 6), QPointF(x, 19));
        p.setPen(Qt::NoPen);
        p.setBrush(kCut);
        p.drawPolygon(QPolygonF({QPointF(x - 2.5, 4), QPointF(x + 2.5, 4), QPointF(x, 7)}));
    }
    p.setPen(QPen(kInk, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(7, 25), QPointF(25, 25));
    p.setPen(QPen(kTile, 1.0));
    p.setBrush(kWave);
    p.drawEllipse(QPointF(19, 25), 3.0, 3.0);
    return image;
}

// The wave with its slice lines struck out.
QImage sliceClearIcon()
{
    QImage image = tile(32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kWave, 1.2));
    p.drawPath(drumWave(4, 28, 16, 8));
    p.setPen(QPen(QColor(kCut.red(), kCut.green(), kCut.blue(), 110), 1.2, Qt::DashLine));
    for (double x : {10.0, 16.0, 22.0})
        p.drawLine(QPointF(x, 6), QPointF(x, 26));
    p.setPen(QPen(kInk, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(9, 9), QPointF(23, 23));
    p.drawLine(QPointF(23, 9), QPointF(9, 23));
    return image;
}

// Three slices flying out of the wave into a folder.
QImage quickExportIcon()
{
    QImage image = tile(32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Folder.
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(QColor(120, 120, 128, 255));
    QPainterPath folder;
    folder.moveTo(14, 16);
    folder.lineTo(19, 16);
    folder.lineTo(21, 18);
    folder.lineTo(28, 18);
    folder.lineTo(28, 27);
    folder.lineTo(14, 27);
    folder.closeSubpath();
    p.drawPath(folder);
    // Slices as small cards with a wave each.
    p.setBrush(kTile);
    for (int i = 0; i < 3; ++i) {
        const QRectF card(4 + i * 3.0, 5 + i * 3.0, 9, 7);
        p.setPen(QPen(kInk, 0.8));
        p.drawRect(card);
        p.setPen(QPen(kWave, 0.9));
        p.drawPath(drumWave(card.left() + 1, card.right() - 1, card.center().y(), 2.5));
    }
    // Arrow into the folder.
    p.setPen(QPen(kWave, 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(15, 12), QPointF(21, 21));
    p.setPen(Qt::NoPen);
    p.setBrush(kWave);
    p.drawPolygon(QPolygonF({QPointF(23, 24), QPointF(17.5, 21.5), QPointF(22.5, 18.5)}));
    return image;
}

// Behind the about box: the name and a sliced wave above the licence text
// (which covers 10..310 x 110..270), a quiet band for the notices below.
QImage aboutBackground()
{
    QImage image(320, 340, QImage::Format_ARGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, 340);
    background.setColorAt(0, QColor(34, 36, 40));
    background.setColorAt(1, QColor(16, 16, 18));
    p.fillRect(image.rect(), background);

    const QImage icon = appIcon(64);
    p.drawImage(QPointF(18, 22), icon);

    QFont title;
    title.setPixelSize(34);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(235, 235, 235));
    p.drawText(QRectF(94, 18, 220, 44), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Tamberlo"));
    QFont subtitle;
    subtitle.setPixelSize(12);
    p.setFont(subtitle);
    p.setPen(kInk);
    p.drawText(QRectF(96, 60, 220, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Loop slicer  \u00b7  version 1.2"));

    // A long wave across the top edge of the text area, cut at the beats.
    p.setPen(QPen(QColor(kWave.red(), kWave.green(), kWave.blue(), 160), 1.2));
    p.drawPath(drumWave(10, 310, 97, 8));
    p.setPen(QPen(QColor(kCut.red(), kCut.green(), kCut.blue(), 170), 1.0));
    for (int i = 1; i < 8; ++i) {
        const double x = 10 + 300.0 * i / 8;
        p.drawLine(QPointF(x, 88), QPointF(x, 106));
    }
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    const QString dir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("resources");
    const bool ok =
        save(dragHere(), dir, "draghere.png") && save(transportLoop(), dir, "transport_loop.png") &&
        save(appIcon(32), dir, "icon32.png") && save(appIcon(128), dir, "tamberlo-128.png") &&
        save(playIcon(), dir, "play.png") && save(sliceIcon(4), dir, "slice4.png") &&
        save(sliceIcon(8), dir, "slice8.png") && save(sliceIcon(16), dir, "slice16.png") &&
        save(sliceHitsIcon(), dir, "slicehits.png") &&
        save(sliceClearIcon(), dir, "sliceclr.png") &&
        save(quickExportIcon(), dir, "quickexport.png") &&
        save(aboutBackground(), dir, "aboutbg.png");
    return ok ? 0 : 1;
}
