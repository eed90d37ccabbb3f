#include "TimeStretchWidget.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

TimeStretchWidget::TimeStretchWidget(QWidget* parent) : QWidget(parent)
{
    setToolTip(tr("Left-click and drag to change the stretch length"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize TimeStretchWidget::sizeHint() const
{
    return QSize(140, 90);
}

QSize TimeStretchWidget::minimumSizeHint() const
{
    return QSize(kCellsPerRow * 8, kRows * 8);
}

int TimeStretchWidget::cellsInRow(int row)
{
    return row == 0 ? kTopRowCells : kCellsPerRow;
}

float TimeStretchWidget::cellValue(int row, int column)
{
    if (row == 0)
        return 0.25f * float(column + 1);
    return float((row - 1) * kCellsPerRow + column + 1);
}

QRect TimeStretchWidget::cellRect(int row, int column) const
{
    // Edges at i * size / count, so the cells fill the widget exactly and
    // neighbouring cells share their border.
    const int cells = cellsInRow(row);
    const int left = column * width() / cells;
    const int right = (column + 1) * width() / cells;
    const int top = row * height() / kRows;
    const int bottom = (row + 1) * height() / kRows;
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

float TimeStretchWidget::valueAt(const QPoint& point) const
{
    if (!rect().contains(point))
        return 0.0f;
    const int row = std::clamp(point.y() * kRows / height(), 0, kRows - 1);
    const int cells = cellsInRow(row);
    const int column = std::clamp(point.x() * cells / width(), 0, cells - 1);
    return cellValue(row, column);
}

void TimeStretchWidget::updateStretchBeats(float beats)
{
    m_stretchBeats = beats;
    update();
}

void TimeStretchWidget::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const float value = valueAt(event->pos());
    if (value <= 0.0f)
        return;
    m_stretchBeats = value;
    repaint();
    emit stretch(value);
}

void TimeStretchWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    QFont font = painter.font();
    // Two digits fit the narrow cells of the lower rows.
    font.setPixelSize(
        std::max(std::min(height() / kRows * 6 / 10, width() / kCellsPerRow * 4 / 10), 6));
    painter.setFont(font);
    const QColor grid(200, 200, 200, 255);
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < cellsInRow(row); ++column) {
            const QRect cell = cellRect(row, column);
            const float value = cellValue(row, column);
            // 1 beat has a cell in the top row and one below it; both show.
            const bool current = value == m_stretchBeats;
            if (current)
                painter.fillRect(cell, Qt::green);
            painter.setPen(grid);
            painter.drawRect(cell);
            painter.setPen(current ? Qt::black : grid);
            painter.drawText(cell, Qt::AlignCenter, QString::number(double(value)));
        }
    }
}
