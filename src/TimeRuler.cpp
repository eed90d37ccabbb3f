#include "TimeRuler.h"

#include <algorithm>
#include <cmath>

namespace {

// Labelled steps from 10 microseconds (a view is never narrower than 101
// samples, about a millisecond) to a day, longer than any loop.
const int kSmallestExponent = -5;
const int kLargestExponent = 5;
const int kMantissas[] = {1, 2, 5};
// Least space from the end of one label to the next labelled tick, and the
// offset of a label right of its tick.
const int kLabelGap = 16;
// Unlabelled ticks closer than this are left out.
const double kMinTickSpacing = 5.0;

struct Step
{
    int mantissa = 0;
    int exponent = 0;
    double seconds() const { return mantissa * std::pow(10.0, exponent); }
};

// Decimals that show every multiple of the step exactly in the label's unit.
int decimalsFor(double stepInUnit)
{
    return std::max(0, -int(std::floor(std::log10(stepInUnit) + 1e-9)));
}

bool fits(const Step& step, double startSeconds, double endSeconds, double pixelsPerSecond,
          const TimeRuler::TextWidth& textWidth)
{
    const double seconds = step.seconds();
    // The widest labels are those with the most digits: the ends of the view.
    const double first = std::ceil(startSeconds / seconds) * seconds;
    const double last = std::floor(endSeconds / seconds) * seconds;
    const int widest = std::max(textWidth(TimeRuler::label(first, seconds)),
                                textWidth(TimeRuler::label(last, seconds)));
    return seconds * pixelsPerSecond >= widest + kLabelGap;
}

Step chooseStep(double viewStart, double viewEnd, int width, double samplesPerSecond,
                const TimeRuler::TextWidth& textWidth)
{
    if (!(samplesPerSecond > 0.0))
        return Step();
    const double span = viewEnd - viewStart;
    if (!(span > 0.0) || width <= 0)
        return Step();
    const double pixelsPerSecond = width / (span / samplesPerSecond);
    const double startSeconds = viewStart / samplesPerSecond;
    const double endSeconds = viewEnd / samplesPerSecond;
    for (int exponent = kSmallestExponent; exponent <= kLargestExponent; ++exponent)
        for (int mantissa : kMantissas) {
            const Step step{mantissa, exponent};
            if (fits(step, startSeconds, endSeconds, pixelsPerSecond, textWidth))
                return step;
        }
    return Step();
}

} // namespace

QVector<TimeRuler::Tick> TimeRuler::ticks(double viewStart, double viewEnd, int width,
                                          double samplesPerSecond, const TextWidth& textWidth)
{
    QVector<Tick> result;
    const Step step = chooseStep(viewStart, viewEnd, width, samplesPerSecond, textWidth);
    if (step.mantissa == 0)
        return result;
    const double seconds = step.seconds();
    const double span = viewEnd - viewStart;
    const double pixelsPerSecond = width / (span / samplesPerSecond);

    // A 2 divides into quarters, a 1 or a 5 into fifths; fewer, or none, when
    // the ticks would crowd.
    int divisions = step.mantissa == 2 ? 4 : 5;
    if (seconds / divisions * pixelsPerSecond < kMinTickSpacing)
        divisions = step.mantissa == 5 ? 1 : 2;
    if (seconds / divisions * pixelsPerSecond < kMinTickSpacing)
        divisions = 1;

    const double tick = seconds / divisions;
    const qint64 first = qint64(std::ceil(viewStart / samplesPerSecond / tick - 1e-9));
    const qint64 last = qint64(std::floor(viewEnd / samplesPerSecond / tick + 1e-9));
    for (qint64 k = std::max<qint64>(first, 0); k <= last; ++k) {
        const double at = double(k) * tick;
        Tick t;
        t.x = (at * samplesPerSecond - viewStart) * width / span;
        if (k % divisions == 0)
            t.label = label(double(k / divisions) * seconds, seconds);
        result.append(t);
    }
    return result;
}

QString TimeRuler::label(double seconds, double step)
{
    if (step >= 0.1 - 1e-12)
        return QString::number(seconds, 'f', decimalsFor(step)) + "s";
    return QString::number(seconds * 1000.0, 'f', decimalsFor(step * 1000.0)) + "ms";
}
