#include "FuzzSupport.h"
#include "StreamingAudioFile.h"

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzSupport::init();
    StreamingAudioFile preview(FuzzSupport::writeInput(data, size, "input"));
    // Device-sized blocks, then one as large as a whole-loop export asks for.
    std::vector<float> out(20000 + 2, 0.0f);
    for (int block = 0; block < 64; ++block)
        preview.read(out.data(), 2048);
    preview.read(out.data(), 20000);
    if (out[20000] != 0.0f || out[20001] != 0.0f)
        FuzzSupport::fail("the preview wrote beyond the request");
    return 0;
}
