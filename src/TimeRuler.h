#pragma once

#include <QString>
#include <QVector>

#include <functional>

// The ticks of a time ruler over a view of the loop. Labelled ticks fall on
// round times, 1, 2 or 5 times a power of ten seconds apart, the closest
// such spacing at which no label runs into the next; unlabelled ticks divide
// the space between them while they stay a few pixels apart.
class TimeRuler
{
public:
    struct Tick
    {
        double x = 0.0;
        // Empty for an unlabelled tick.
        QString label;
    };
    // Pixels a label takes when drawn.
    using TextWidth = std::function<int(const QString&)>;

    // Ticks for a view from viewStart to viewEnd (samples of the interleaved
    // stereo stream, samplesPerSecond of them a second: twice the loop's own
    // rate) drawn width pixels wide, in order; none when the view or the width
    // is empty.
    static QVector<Tick> ticks(double viewStart, double viewEnd, int width, double samplesPerSecond,
                               const TextWidth& textWidth);

    // The label at a time that is a whole multiple of step seconds: in seconds
    // from steps of 0.1 s, in milliseconds below, with just the decimals the
    // step needs ("0.5s", "1s", "950ms", "0.25ms").
    static QString label(double seconds, double step);
};
