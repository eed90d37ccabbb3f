#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>

// What every harness needs: a quiet log, private settings and audio devices,
// and the input written to a file, since every loader reads from disk.
namespace FuzzSupport {

// Once per process: silences the debug log (TAMBERLO_FUZZ_LOG=1 keeps it),
// points the settings store at a private data folder and ALSA's default
// device at a null sink.
void init();
// The private folder of this process.
QString scratch();
// Writes the input under name in the private folder; returns the path.
QString writeInput(const std::uint8_t* data, std::size_t size, const QString& name);
// A short 16-bit stereo WAV of decaying noise, for pads and loops.
QString writeShortWav(const QString& path, long frames = 4410);
// Stops the process with a message, as a sanitizer would, so that the
// fuzzer keeps the input.
[[noreturn]] void fail(const char* what);

} // namespace FuzzSupport
