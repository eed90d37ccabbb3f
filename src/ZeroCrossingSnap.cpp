#include "ZeroCrossingSnap.h"

#include "AudioCache.h"
#include "Kerfer.h"
#include "Settings.h"
#include "Slice.h"
#include "ZeroCrossing.h"

const char* const ZeroCrossingSnap::kSettingKey = "SnapToZeroCrossings";
const char* const ZeroCrossingSnap::kAdvancedSlicingKey = "AdvancedSlicingSnapToZeroCrossings";

bool ZeroCrossingSnap::isEnabled(const char* key)
{
    const QString value = Settings::instance()->getSetting(QString::fromLatin1(key));
    if (value.isEmpty())
        return QLatin1String(key) == QLatin1String(kSettingKey);
    return value != QLatin1String("0");
}

void ZeroCrossingSnap::setEnabled(bool on, const char* key)
{
    Settings::instance()->setSetting(QString::fromLatin1(key), on ? "1" : "0");
}

unsigned long ZeroCrossingSnap::snap(const Slice& loop, unsigned long sample)
{
    const QSharedPointer<AudioCache> cache = loop.getAudioCache();
    if (!cache)
        return sample;
    // The reach in samples of the loop's own rate, both channels.
    const unsigned long reach =
        2 * static_cast<unsigned long>(ZeroCrossing::framesForMs(kReachMs, loop.getSampleRate()));
    const long crossing = ZeroCrossing::nearestSample(*cache, sample, reach, reach);
    return crossing < 0 ? sample : static_cast<unsigned long>(crossing);
}

void ZeroCrossingSnap::snapPoints(Kerfer& kerfer, const QList<unsigned long>& points)
{
    const QSharedPointer<Slice> loop = kerfer.getLoop();
    if (!loop)
        return;
    for (unsigned long point : points) {
        const unsigned long snapped = snap(*loop, point);
        if (snapped != point)
            kerfer.moveSlicePoint(point, snapped);
    }
}
