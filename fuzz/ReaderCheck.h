#pragma once

#include "AudioFile.h"
#include "FuzzSupport.h"

#include <cmath>
#include <vector>

// Reads a file to its end in 4096-sample requests, as the cache does, and
// stops the process where the reader breaks its contract.
inline void readToTheEnd(AudioFile& file)
{
    const unsigned long length = file.getLength();
    const int rate = file.getSampleRate();
    if (length % 2 != 0)
        FuzzSupport::fail("odd length");
    if (length > 0 && (rate < 1000 || rate > 768000))
        FuzzSupport::fail("a rate outside 1 kHz to 768 kHz was accepted");
    const unsigned kRequest = 4096;
    const float kUntouched = 12345.0f;
    std::vector<float> block(kRequest + 2);
    unsigned long delivered = 0;
    for (;;) {
        std::fill(block.begin(), block.end(), kUntouched);
        const unsigned got = file.read(block.data(), kRequest);
        if (got % 2 != 0 || got > kRequest)
            FuzzSupport::fail("read delivered an odd or oversized count");
        const unsigned long cut = std::min<unsigned long>(kRequest, length - delivered);
        for (unsigned i = got; i < cut; ++i) {
            if (block[i] != 0.0f)
                FuzzSupport::fail("the rest of the request was not zeroed");
        }
        if (block[kRequest] != kUntouched)
            FuzzSupport::fail("read wrote beyond the request");
        delivered += got;
        if (delivered > length)
            FuzzSupport::fail("read delivered more than the length");
        if (got < kRequest)
            break;
    }
    if (delivered != length)
        FuzzSupport::fail("read delivered less than the length");
    if (file.read(block.data(), kRequest) != 0)
        FuzzSupport::fail("read after the end delivered samples");
}
