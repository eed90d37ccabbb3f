#include "FuzzSupport.h"

#include "Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QtGlobal>

#include <sndfile.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace FuzzSupport {

namespace {

QString g_scratch;

void quiet(QtMsgType, const QMessageLogContext&, const QString&) {}

} // namespace

void init()
{
    if (!g_scratch.isEmpty())
        return;
    static int argc = 1;
    static char name[] = "tamberlo-fuzz";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
    if (qgetenv("TAMBERLO_FUZZ_LOG").isEmpty())
        qInstallMessageHandler(quiet);
    g_scratch = QDir::temp().filePath(QStringLiteral("tamberlo-fuzz-%1").arg(getpid()));
    QDir(g_scratch).removeRecursively();
    QDir().mkpath(g_scratch + "/data");
    qputenv("XDG_DATA_HOME", QFile::encodeName(g_scratch + "/data"));
    const QString alsa = g_scratch + "/asound.conf";
    QFile conf(alsa);
    if (conf.open(QIODevice::WriteOnly))
        conf.write("pcm.!default { type null }\n");
    conf.close();
    qputenv("ALSA_CONFIG_PATH", QFile::encodeName("/usr/share/alsa/alsa.conf:" + alsa));
}

QString scratch()
{
    return g_scratch;
}

QString writeInput(const std::uint8_t* data, std::size_t size, const QString& name)
{
    const QString path = g_scratch + "/" + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        fail("cannot write the input file");
    file.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    return path;
}

QString writeShortWav(const QString& path, long frames)
{
    SF_INFO info{};
    info.channels = 2;
    info.samplerate = 44100;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        fail("cannot write a sample");
    std::vector<float> samples(static_cast<std::size_t>(frames) * 2);
    unsigned seed = 1;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        const float decay = 1.0f - static_cast<float>(i) / samples.size();
        samples[i] = decay * (static_cast<float>(seed >> 16 & 0x7fff) / 16384.0f - 1.0f);
    }
    sf_writef_float(file, samples.data(), frames);
    sf_close(file);
    return path;
}

void fail(const char* what)
{
    std::fprintf(stderr, "==FUZZ== %s\n", what);
    std::abort();
}

} // namespace FuzzSupport
