#include "AudioFileSndFile.h"
#include "FuzzSupport.h"
#include "ReaderCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FuzzSupport::init();
    AudioFileSndFile reader(FuzzSupport::writeInput(data, size, "input"));
    readToTheEnd(reader);
    return 0;
}
