#include "TestAudio.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtGlobal>

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace TestAudio {

QString scratchDir(const QString& name)
{
    QString base = qEnvironmentVariable("TAMBERLO_TEST_TMP");
    if (base.isEmpty())
        base = QDir::tempPath() + "/tamberlo-tests";
    QDir dir(base + "/" + name);
    dir.removeRecursively();
    QDir().mkpath(dir.path());
    return dir.absolutePath();
}

float ramp(long frame, int channel)
{
    // Distinct values per frame and channel, exactly representable in 16 bits
    // (multiples of 1/32768), cycling well inside full scale.
    const long v = (frame * 37 + channel * 5003) % 24001 - 12000;
    return static_cast<float>(v) / 32768.0f;
}

Generator sine(double hz, int rate)
{
    return [hz, rate](long frame, int) {
        return static_cast<float>(0.5 * std::sin(2.0 * M_PI * hz * frame / rate));
    };
}

bool writeFile(const QString& path, long frames, int channels, int rate, int format,
               const Generator& gen)
{
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    info.format = format;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!f)
        return false;
    std::vector<float> block;
    const long blockFrames = 4096;
    for (long start = 0; start < frames; start += blockFrames) {
        const long n = std::min(blockFrames, frames - start);
        block.resize(static_cast<size_t>(n * channels));
        for (long i = 0; i < n; ++i)
            for (int c = 0; c < channels; ++c)
                block[static_cast<size_t>(i * channels + c)] = gen(start + i, c);
        if (sf_writef_float(f, block.data(), n) != n) {
            sf_close(f);
            return false;
        }
    }
    return sf_close(f) == 0;
}

std::vector<float> readFile(const QString& path, int* channels, int* rate)
{
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    std::vector<float> out;
    if (!f)
        return out;
    out.resize(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, out.data(), info.frames);
    sf_close(f);
    if (channels)
        *channels = info.channels;
    if (rate)
        *rate = info.samplerate;
    return out;
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(bytes) == bytes.size();
}

bool ffmpeg(const QStringList& args)
{
    QProcess p;
    QStringList all{"-hide_banner", "-loglevel", "error", "-nostdin", "-y"};
    all += args;
    p.start("ffmpeg", all);
    if (!p.waitForFinished(120000))
        return false;
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("ffmpeg failed: %s", p.readAllStandardError().constData());
        return false;
    }
    return true;
}

std::vector<float> ffmpegDecode(const QString& path)
{
    QProcess p;
    p.start("ffmpeg",
            {"-hide_banner", "-loglevel", "error", "-nostdin", "-i", path, "-f", "f32le", "-"});
    std::vector<float> out;
    if (!p.waitForFinished(120000))
        return out;
    const QByteArray bytes = p.readAllStandardOutput();
    out.resize(static_cast<size_t>(bytes.size()) / sizeof(float));
    std::memcpy(out.data(), bytes.constData(), out.size() * sizeof(float));
    return out;
}

} // namespace TestAudio
