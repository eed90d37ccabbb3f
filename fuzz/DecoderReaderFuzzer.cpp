#include "AudioFileAudioDecoder.h"
#include "FuzzSupport.h"
#include "ReaderCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzSupport::init();
    AudioFileAudioDecoder reader(FuzzSupport::writeInput(data, size, "input"));
    readToTheEnd(reader);
    return 0;
}
