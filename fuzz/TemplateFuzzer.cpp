#include "AudioCache.h"
#include "FuzzSupport.h"
#include "Kerfer.h"
#include "Slice.h"

#include <QThread>

#include <vector>

// The input as a slice template applied to a loaded loop: what it leaves must
// be a valid set of cuts that plays and comes back unchanged through a saved
// template.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Kerfer* kerfer = nullptr;
    if (!kerfer) {
        FuzzSupport::init();
        kerfer = new Kerfer();
        kerfer->slotLoadLoop(
            FuzzSupport::writeShortWav(FuzzSupport::scratch() + "/loop.wav", 22050));
        while (!kerfer->getLoop()->getAudioCache()->isFilled())
            QThread::msleep(1);
    }
    kerfer->clearSlicePoints();
    kerfer->setStartMarker(0);
    kerfer->setEndMarker(kerfer->getLoop()->getLength());
    if (!kerfer->loadSliceTemplate(FuzzSupport::writeInput(data, size, "input.tmst")))
        return 0;

    const unsigned long length = kerfer->getLoop()->getLength();
    const unsigned long start = kerfer->getStartMarker();
    const unsigned long end = kerfer->getEndMarker();
    const QList<unsigned long> points = kerfer->getSlicePoints();
    if (start % 2 || end % 2 || start >= end || end > length)
        FuzzSupport::fail("markers outside the loop or out of order");
    for (int i = 0; i < points.size(); ++i) {
        if (points[i] % 2 || points[i] >= length || (i > 0 && points[i] <= points[i - 1]))
            FuzzSupport::fail("slice points odd, outside the loop or out of order");
    }

    std::vector<float> out(2048);
    kerfer->playSlice(0);
    for (unsigned long point : points) {
        kerfer->playSlice(point);
        kerfer->render(out.data(), out.size());
        kerfer->toggleSliceLoop(point);
        kerfer->render(out.data(), out.size());
    }
    kerfer->playLoop(false);

    const QString copy = FuzzSupport::scratch() + "/copy.tmst";
    if (!kerfer->saveSliceTemplate(copy) || !kerfer->loadSliceTemplate(copy))
        FuzzSupport::fail("applied cuts could not be saved and applied again");
    if (kerfer->getSlicePoints() != points || kerfer->getStartMarker() != start ||
        kerfer->getEndMarker() != end)
        FuzzSupport::fail("cuts came back changed from their own template");
    return 0;
}
