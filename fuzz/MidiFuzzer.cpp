#include "BankSampler.h"
#include "FuzzSupport.h"
#include "LoopingSamplerBank.h"
#include "MidiInputDevice.h"

#include <cstring>
#include <vector>

// The input as PortMidi events, 8 bytes each, read a buffer at a time with a
// render cycle between, as the engine polls.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static BankSampler* bank = nullptr;
    static LoopingSamplerBank* loopers = nullptr;
    static MidiInputDevice* midi = nullptr;
    if (!bank) {
        FuzzSupport::init();
        const QString kick = FuzzSupport::writeShortWav(FuzzSupport::scratch() + "/kick.wav");
        bank = new BankSampler();
        const char* groups[] = {"None", "Hi-hats", "Hi-hats", "Other"};
        for (int pad = 0; pad < 4; ++pad)
            bank->loadSample(pad * 4, kick, 0, 1.0, pad % 3, 0, 0, 1.0f, false, groups[pad]);
        loopers = new LoopingSamplerBank();
        midi = new MidiInputDevice(bank, loopers);
    }
    std::vector<PmEvent> events(size / sizeof(PmEvent));
    if (!events.empty())
        std::memcpy(events.data(), data, events.size() * sizeof(PmEvent));
    std::vector<float> out(2048);
    for (std::size_t done = 0; done < events.size();) {
        const int n = static_cast<int>(
            std::min<std::size_t>(MidiInputDevice::EventBufferSize, events.size() - done));
        midi->handleEvents(events.data() + done, n);
        done += static_cast<std::size_t>(n);
        bank->render(out.data(), out.size());
        loopers->recordAll(out.data(), out.size());
        loopers->renderAll(out.data(), out.size());
    }
    return 0;
}
