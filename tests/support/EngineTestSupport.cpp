#include "EngineTestSupport.h"

#include "Settings.h"

#include <QDir>
#include <QFile>
#include <QtGlobal>

#include <sndfile.h>

namespace EngineTestSupport {

void useFreshSettings(const QString& dir, const QMap<QString, QString>& values)
{
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir));
    Settings::resetInstanceForTests();
    Settings* settings = Settings::instance();
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        settings->setSetting(it.key(), it.value());
}

QMap<QString, QString> silentDevices()
{
    return {{"AudioDevice", "99. none (test)"}, {"MidiDevice", "None"}};
}

WrittenFile readWritten(const QString& path)
{
    WrittenFile file;
    SF_INFO info{};
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!f)
        return file;
    file.format = info.format;
    file.rate = info.samplerate;
    file.frames = static_cast<long>(info.frames);
    file.samples.resize(static_cast<size_t>(info.frames * info.channels));
    if (!file.samples.empty())
        sf_readf_float(f, file.samples.data(), info.frames);
    sf_close(f);
    return file;
}

} // namespace EngineTestSupport
