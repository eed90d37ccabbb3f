#pragma once

#include <QWidget>

// Picks a pad's stretch length in beats from a grid of five equal rows: the
// top row holds 0.25, 0.5, 0.75 and 1 beat, the four rows below it 1 to 32
// beats, eight to a row. A left press chooses the cell under the mouse.
class TimeStretchWidget : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kRows = 5;
    static constexpr int kTopRowCells = 4;
    static constexpr int kCellsPerRow = 8;

    explicit TimeStretchWidget(QWidget* parent = nullptr);

    float getStretchBeats() const { return m_stretchBeats; }
    // The value of the cell at a point of the widget, 0 outside it.
    float valueAt(const QPoint& point) const;
    // The cell of row and column (the top row has four).
    QRect cellRect(int row, int column) const;
    static float cellValue(int row, int column);
    static int cellsInRow(int row);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void stretch(float beats);

public slots:
    // Shows a length chosen elsewhere; emits nothing.
    void updateStretchBeats(float beats);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    float m_stretchBeats = 0.0f;
};
