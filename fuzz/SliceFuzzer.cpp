#include "AudioCache.h"
#include "FuzzSupport.h"
#include "Slice.h"

#include <QElapsedTimer>
#include <QThread>

#include <vector>

// Loads the input as a loop, then plays it once, looped and reversed through
// the resampler, as the loop and the pads play.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzSupport::init();
    Slice slice(FuzzSupport::writeInput(data, size, "input"));
    const QSharedPointer<AudioCache> cache = slice.getAudioCache();
    QElapsedTimer timer;
    timer.start();
    while (cache && !cache->isFilled()) {
        if (timer.elapsed() > 20000)
            FuzzSupport::fail("the background fill did not end");
        QThread::msleep(1);
    }
    std::vector<float> out(4096);
    for (int mode = 0; mode < 3; ++mode) {
        if (mode == 2)
            slice.reverse();
        slice.setLoopMode(mode == 0 ? 0 : 1);
        slice.setLoopStart(slice.getLength() / 4 * 2 / 2);
        slice.setLoopEnd(slice.getLength());
        slice.play(true, 0.0, 1.0);
        for (int block = 0; block < 16; ++block)
            slice.render(out.data(), 4096);
        slice.play(false, 0.0, 1.0);
        for (int block = 0; block < 8; ++block)
            slice.render(out.data(), 4096);
    }
    return 0;
}
