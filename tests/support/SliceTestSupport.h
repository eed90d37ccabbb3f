#pragma once

#include <QByteArray>
#include <QSharedPointer>
#include <QString>

#include <functional>
#include <utility>
#include <vector>

class AudioCache;
class Slice;

// Helpers for tests that play slices loaded from real files.
namespace SliceTestSupport {

// A fresh scratch directory named after the running test; forgets the log so far.
QString freshTestDir();
// 32-bit float WAVs (the cache holds the exact values): a ramp, or a sine; the path.
QString writeWav(const QString& dir, const QString& name, long frames, int channels = 2,
                 int rate = 44100);
QString writeSine(const QString& dir, const QString& name, double hz, long frames, int rate,
                  int channels = 1);
// The file as the slice should present it: interleaved stereo, mono doubled.
std::vector<float> stereoSamples(const QString& path);
// Waits until the cache's background fill has ended; false after timeoutMs.
bool waitFilled(AudioCache* cache, int timeoutMs = 20000);
// A slice of the file with its cache completely filled.
QSharedPointer<Slice> loadFilled(const QString& path);
// Left-channel frequency of stereo at 44100 Hz from rising zero crossings in frames [from, to).
double frequency(const std::vector<float>& stereo, std::size_t from, std::size_t to);
// Everything render() delivers, block by block, until it delivers nothing.
std::vector<float> renderAll(Slice& slice, unsigned block = 512, int maxBlocks = 100000);
// One renderRaw() block of n samples into silence.
std::vector<float> rawBlock(Slice& slice, unsigned n);
// The samples of `audio` at the index ranges [from, to), one after another, times gain.
std::vector<float> pick(const std::vector<float>& audio,
                        std::initializer_list<std::pair<unsigned, unsigned>> ranges,
                        float gain = 1.0f);
// Runs write under a file size limit of `bytes` (a disk full midway, binding root too).
bool withFileSizeLimit(unsigned long bytes, const std::function<bool()>& write);
// The file's bytes; empty when it cannot be read.
QByteArray readBytes(const QString& path);

} // namespace SliceTestSupport
