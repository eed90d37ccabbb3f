#include "BankSampler.h"
#include "FuzzSupport.h"
#include "Settings.h"
#include "SliceEngine.h"

#include <QFile>

#include <vector>

namespace {

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The input as a project beside two samples: loaded, every pad played and
// looped through the engine's render, then saved, loaded and saved again,
// which must write the same project.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static SliceEngine* engine = nullptr;
    if (!engine) {
        FuzzSupport::init();
        Settings::instance()->setSetting("AudioDevice", "99. none (fuzz)");
        Settings::instance()->setSetting("MidiDevice", "None");
        FuzzSupport::writeShortWav(FuzzSupport::scratch() + "/kick.wav");
        FuzzSupport::writeShortWav(FuzzSupport::scratch() + "/loop.m8a", 22050);
        engine = new SliceEngine();
    }
    BankSampler* bank = engine->getBankSampler();
    engine->newProject();
    engine->loadProject(FuzzSupport::writeInput(data, size, "input.tmx"));

    std::vector<float> out(4096);
    for (int pad = 0; pad < BankSampler::PadCount; ++pad)
        bank->handleNote(BankSampler::FirstNote + pad, true);
    for (int block = 0; block < 24; ++block)
        engine->render(out.data(), out.size());
    for (int pad = 0; pad < BankSampler::PadCount; ++pad)
        bank->handleNote(BankSampler::FirstNote + pad, false);
    for (int block = 0; block < 4; ++block)
        engine->render(out.data(), out.size());

    // What is loaded must come back unchanged through its own project.
    const QString first = FuzzSupport::scratch() + "/first.tmx";
    const QString second = FuzzSupport::scratch() + "/second.tmx";
    if (!engine->saveProject(first) || !engine->loadProject(first) || !engine->saveProject(second))
        FuzzSupport::fail("a loaded project could not be saved and loaded again");
    if (bytesOf(first) != bytesOf(second))
        FuzzSupport::fail("pads came back changed from their own project");
    return 0;
}
