#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// Test audio made by the tests themselves: files written with libsndfile, and
// compressed versions encoded with the ffmpeg command line.
namespace TestAudio {

// A fresh directory for one test, below the suite's scratch folder; removed
// and recreated on each call with the same name.
QString scratchDir(const QString& name);

// Value of channel `channel` at frame `frame`.
using Generator = std::function<float(long frame, int channel)>;

// A deterministic signal that differs per frame and per channel, well inside
// [-1, 1], so misplaced or swapped samples show up.
float ramp(long frame, int channel);
// A sine of `hz` at `rate`, amplitude 0.5, same on every channel.
Generator sine(double hz, int rate);

// Writes a file with libsndfile; format is an SF_FORMAT_* combination
// (e.g. SF_FORMAT_WAV | SF_FORMAT_PCM_16). Returns false on failure.
bool writeFile(const QString& path, long frames, int channels, int rate, int format,
               const Generator& gen = ramp);

// Reads a whole file with libsndfile as interleaved floats in its own channel count.
std::vector<float> readFile(const QString& path, int* channels = nullptr, int* rate = nullptr);

// Writes raw bytes (for non-audio and truncated files).
bool writeBytes(const QString& path, const QByteArray& bytes);

// Runs the ffmpeg command line with the arguments (-y and quiet logging added);
// true when it exited 0.
bool ffmpeg(const QStringList& args);
// Decodes a file with the ffmpeg command to interleaved float32 in its own
// channel count (-f f32le).
std::vector<float> ffmpegDecode(const QString& path);

// White noise in [-1, 1), the same for the same seed on every machine.
class Noise
{
public:
    explicit Noise(unsigned seed) : m_seed(seed) {}
    double operator()()
    {
        m_seed = m_seed * 1664525u + 1013904223u;
        return (int(m_seed >> 9) % 2000 - 1000) / 1000.0;
    }

private:
    unsigned m_seed;
};

} // namespace TestAudio
