#include "SliceTool.h"

#include "AudioFileAudioDecoder.h"
#include "HitAnalysis.h"
#include "Slice.h"
#include "SliceNaming.h"
#include "SliceTemplate.h"
#include "TempoEstimator.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace {

// Before the first hit, what lies below this is silence that may be left out.
const float kSilence = 0.001f; // -60 dB
// A fade shorter than this could not bring a slice's edges to rest once the
// export converts its rate.
const long kMinFadeFrames = 16;

// Names claimed by the files of this run, so two inputs with the same name
// never write over each other's slices.
std::mutex g_claimMutex;
std::set<QString> g_claimed;

bool takeNumber(const QString& text, double* value)
{
    bool ok = false;
    *value = text.toDouble(&ok);
    return ok && std::isfinite(*value);
}

bool takeInt(const QString& text, int* value)
{
    bool ok = false;
    *value = text.toInt(&ok);
    return ok;
}

// Frames of a tempo step, truncated as the window's tempo slicing does.
unsigned long stepFrames(double frames)
{
    if (!(frames >= 1.0))
        return 0;
    return frames >= 4294967295.0 ? 4294967295ul : static_cast<unsigned long>(frames);
}

std::vector<float> decode(const QString& file, int* rate, QString* error)
{
    const QFileInfo info(file);
    if (!info.exists()) {
        *error = QStringLiteral("no such file");
        return {};
    }
    if (info.isDir()) {
        *error = QStringLiteral("is a folder");
        return {};
    }
    // Each worker decodes its own file: a reader of its own, no shared thread.
    AudioFileAudioDecoder reader(file);
    const unsigned long length = reader.getLength();
    *rate = reader.getSampleRate();
    if (length == 0 || *rate <= 0) {
        *error = QStringLiteral("cannot be read as audio");
        return {};
    }
    std::vector<float> audio(length);
    unsigned long done = 0;
    while (done < length) {
        const unsigned want = static_cast<unsigned>(std::min<unsigned long>(4096, length - done));
        const unsigned got = reader.read(audio.data() + done, want);
        done += got;
        if (got < want)
            break;
    }
    audio.resize(done & ~1ul);
    if (audio.empty())
        *error = QStringLiteral("holds no audio");
    return audio;
}

// Slice boundaries (frames, ascending, first and last included).
bool boundaries(const SliceTool::Options& o, const std::vector<float>& audio, int rate,
                const HitAnalysis& analysis, double bpm, std::vector<unsigned long>* bounds,
                QString* error)
{
    const unsigned long frames = audio.size() / 2;
    std::vector<unsigned long>& b = *bounds;
    switch (o.mode) {
    case SliceTool::Mode::Hits: {
        const std::vector<unsigned long> cuts = analysis.pick(o.sensitivity, 0, frames);
        unsigned long first = 0;
        if (!cuts.empty()) {
            const auto lead = std::minmax_element(audio.begin(), audio.begin() + 2 * cuts.front());
            if (cuts.front() > 0 && std::max(-*lead.first, *lead.second) < kSilence)
                first = cuts.front();
        }
        b.push_back(first);
        for (unsigned long c : cuts)
            if (c > first)
                b.push_back(c);
        break;
    }
    case SliceTool::Mode::Even:
        for (int i = 0; i < o.even; ++i)
            b.push_back(static_cast<unsigned long>(std::uint64_t(i) * frames / unsigned(o.even)));
        break;
    case SliceTool::Mode::Beats:
    case SliceTool::Mode::Bars: {
        if (!(bpm > 0.0)) {
            *error = QStringLiteral("no tempo could be estimated; give --bpm");
            return false;
        }
        const double beats =
            o.mode == SliceTool::Mode::Bars ? o.interval * o.meterNumerator : o.interval;
        const unsigned long step = stepFrames(beats / bpm * 60.0 * rate);
        if (step == 0) {
            *error = QStringLiteral("the interval is shorter than one frame");
            return false;
        }
        for (std::uint64_t p = 0; p < frames; p += step)
            b.push_back(static_cast<unsigned long>(p));
        break;
    }
    case SliceTool::Mode::Template: {
        SliceTemplate t;
        if (!SliceTemplate::read(o.templateFile, &t, error))
            return false;
        const auto at = [frames](double fraction) {
            return static_cast<unsigned long>(
                std::clamp(std::round(fraction * double(frames)), 0.0, double(frames)));
        };
        const unsigned long start = at(t.startMarker);
        const unsigned long end = at(t.endMarker);
        if (end <= start) {
            *error = QStringLiteral("the template's markers enclose no audio of this file");
            return false;
        }
        b.push_back(start);
        std::set<unsigned long> points;
        for (double p : t.points) {
            const double position = std::round(start + p * double(end - start));
            if (position > double(start) && position < double(end))
                points.insert(static_cast<unsigned long>(position));
        }
        b.insert(b.end(), points.begin(), points.end());
        b.push_back(end);
        return true;
    }
    }
    b.push_back(frames);
    return true;
}

// Raised-cosine fades, so the first and last frame are exactly silent and
// the gain leaves zero gently.
void fade(std::vector<float>& audio, long fadeFrames)
{
    const long frames = long(audio.size() / 2);
    fadeFrames = std::min(fadeFrames, frames / 2);
    for (long i = 0; i < fadeFrames; ++i) {
        const float gain = float(0.5 - 0.5 * std::cos(M_PI * double(i) / fadeFrames));
        for (int c = 0; c < 2; ++c) {
            audio[2 * i + c] *= gain;
            audio[2 * (frames - 1 - i) + c] *= gain;
        }
    }
}

bool write(const SliceTool::Options& o, const SliceTool::Result& r,
           const QSharedPointer<std::vector<float>>& audio, QString* error)
{
    if (!QDir().mkpath(o.outputDir)) {
        *error = QString("the folder %1 cannot be created").arg(o.outputDir);
        return false;
    }
    const QString base = QDir(o.outputDir)
                             .filePath(SliceNaming::stem(r.file) +
                                       (o.aiff ? QStringLiteral(".aif") : QStringLiteral(".wav")));
    QStringList names;
    for (size_t i = 0; i < r.slices.size(); ++i)
        names.append(SliceNaming::numbered(base, int(i + 1)));
    {
        std::lock_guard<std::mutex> lock(g_claimMutex);
        for (const QString& name : names) {
            if (QFileInfo::exists(name) || g_claimed.count(name)) {
                *error = QString("%1 exists and is not replaced; nothing written").arg(name);
                return false;
            }
        }
        g_claimed.insert(names.begin(), names.end());
    }
    const long fadeFrames =
        o.fadeMs > 0.0 ? std::max(kMinFadeFrames, std::lround(o.fadeMs * 0.001 * r.rate)) : 0;
    for (size_t i = 0; i < r.slices.size(); ++i) {
        const unsigned long start = r.slices[i].first, end = r.slices[i].second;
        QSharedPointer<Slice> piece;
        if (fadeFrames > 0) {
            QSharedPointer<std::vector<float>> faded(
                new std::vector<float>(audio->begin() + 2 * start, audio->begin() + 2 * end));
            fade(*faded, fadeFrames);
            piece.reset(new Slice(faded, {}, r.rate, 0, faded->size()));
        } else {
            piece.reset(new Slice(audio, {}, r.rate, 2 * start, 2 * (end - start)));
        }
        // The window's own writer: the same format, rate conversion and
        // never a half-written file.
        if (!piece->save(names[int(i)], 0, 0)) {
            *error = QString("%1 could not be written").arg(names[int(i)]);
            return false;
        }
    }
    return true;
}

QString jsonString(const QString& text)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"':
            out += QStringLiteral("\\\"");
            break;
        case '\\':
            out += QStringLiteral("\\\\");
            break;
        case '\n':
            out += QStringLiteral("\\n");
            break;
        case '\t':
            out += QStringLiteral("\\t");
            break;
        case '\r':
            out += QStringLiteral("\\r");
            break;
        default:
            if (c.unicode() < 0x20)
                out += QString("\\u%1").arg(c.unicode(), 4, 16, QChar('0'));
            else
                out += c;
        }
    }
    return out + QLatin1Char('"');
}

} // namespace

QString SliceTool::usage()
{
    return QStringLiteral(
        "Usage: tamberlo-slice [OPTIONS] FILE...\n"
        "Slices drum loops and lists the slices or writes them as numbered files.\n"
        "\n"
        "Slicing, one of:\n"
        "  --hits [--sensitivity 0-100]  at the hits (the default); higher sensitivity\n"
        "                                finds more, quieter hits (default 50)\n"
        "  --even N                      N equal slices\n"
        "  --beats N | --bars N [--bpm B] [--meter 4/4]\n"
        "                                a slice every N beats or bars from the start;\n"
        "                                B defaults to the estimated tempo, a bar is\n"
        "                                the meter's numerator in beats\n"
        "  --template FILE.tmst          the markers and slice points of a slice template\n"
        "\n"
        "Output:\n"
        "  --list        write nothing; print one JSON object per input file, one line\n"
        "                each, in the order given:\n"
        "                {\"file\": \"<path as given>\", \"rate\": 44100, \"frames\": 154642,\n"
        "                 \"bpm\": 136.9, \"slices\": [{\"start\": 0, \"end\": 9650}, ...]}\n"
        "                positions in frames at the file's own rate, \"end\" exclusive;\n"
        "                \"bpm\" is the estimate (or --bpm when given), null when none\n"
        "  --output DIR  write the slices of each file into DIR (created when missing)\n"
        "                as <name>_<n>.wav, n from 1, named as File > Save Slices names\n"
        "                them; existing files are never replaced: such an input is\n"
        "                reported and nothing of it is written\n"
        "  --format wav|aiff  (default wav; 16-bit 44.1 kHz as the window exports,\n"
        "                AIFF files end in .aif)\n"
        "  --fade MS     fade each slice in and out over MS milliseconds (default 0:\n"
        "                samples untouched; at least 16 frames when given)\n"
        "  --jobs N      files processed in parallel (default: the number of cores)\n"
        "  --quiet       no progress\n"
        "  --help        this text\n"
        "\n"
        "At the hits, slices run from the first hit (silence before it is left out)\n"
        "to the end without gaps; each cut sits at a hit's attack start, moved back to\n"
        "a zero crossing at most 1 ms earlier, and hits closer than 30 ms are one.\n"
        "The tempo is estimated as whole bars of 4/4 between 70 and 180 bpm.\n"
        "\n"
        "Progress goes to standard error when it is a terminal, with a summary line.\n"
        "A file that cannot be read or written is reported on standard error and the\n"
        "others are still processed.\n"
        "Exit status: 0 when every file was sliced, 1 when some file failed,\n"
        "2 for invalid options.\n");
}

bool SliceTool::parse(const QStringList& arguments, Options* options, QString* error)
{
    Options o;
    int modes = 0;
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        QString arg = arguments.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1String("--"))) {
            o.files.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString value;
        bool hasValue = false;
        const int equals = arg.indexOf('=');
        if (equals > 0) {
            value = arg.mid(equals + 1);
            arg = arg.left(equals);
            hasValue = true;
        }
        const auto need = [&]() {
            if (hasValue)
                return true;
            if (i + 1 >= arguments.size()) {
                *error = QString("%1 needs a value").arg(arg);
                return false;
            }
            value = arguments.at(++i);
            hasValue = true;
            return true;
        };
        const auto bad = [&]() {
            *error = QString("invalid value for %1: %2").arg(arg, value);
            return false;
        };
        if (arg == QLatin1String("--hits")) {
            o.mode = Mode::Hits, ++modes;
        } else if (arg == QLatin1String("--list")) {
            o.list = true;
        } else if (arg == QLatin1String("--quiet")) {
            o.quiet = true;
        } else if (arg == QLatin1String("--sensitivity")) {
            if (!need())
                return false;
            if (!takeNumber(value, &o.sensitivity) || o.sensitivity < 0 || o.sensitivity > 100)
                return bad();
        } else if (arg == QLatin1String("--even")) {
            if (!need())
                return false;
            o.mode = Mode::Even, ++modes;
            if (!takeInt(value, &o.even) || o.even < 1)
                return bad();
        } else if (arg == QLatin1String("--beats") || arg == QLatin1String("--bars")) {
            if (!need())
                return false;
            o.mode = arg == QLatin1String("--beats") ? Mode::Beats : Mode::Bars, ++modes;
            if (!takeNumber(value, &o.interval) || o.interval <= 0)
                return bad();
        } else if (arg == QLatin1String("--bpm")) {
            if (!need())
                return false;
            if (!takeNumber(value, &o.bpm) || o.bpm <= 0 || o.bpm > 1000)
                return bad();
        } else if (arg == QLatin1String("--meter")) {
            if (!need())
                return false;
            const QStringList parts = value.split('/');
            if (parts.size() != 2 || !takeInt(parts[0], &o.meterNumerator) ||
                !takeInt(parts[1], &o.meterDenominator) || o.meterNumerator < 1 ||
                o.meterDenominator < 1 || o.meterNumerator > 99 || o.meterDenominator > 99)
                return bad();
        } else if (arg == QLatin1String("--template")) {
            if (!need())
                return false;
            o.mode = Mode::Template, ++modes;
            o.templateFile = value;
        } else if (arg == QLatin1String("--output")) {
            if (!need())
                return false;
            if (value.isEmpty())
                return bad();
            o.outputDir = value;
        } else if (arg == QLatin1String("--format")) {
            if (!need())
                return false;
            if (value != QLatin1String("wav") && value != QLatin1String("aiff"))
                return bad();
            o.aiff = value == QLatin1String("aiff");
        } else if (arg == QLatin1String("--fade")) {
            if (!need())
                return false;
            if (!takeNumber(value, &o.fadeMs) || o.fadeMs < 0 || o.fadeMs > 60000)
                return bad();
        } else if (arg == QLatin1String("--jobs")) {
            if (!need())
                return false;
            if (!takeInt(value, &o.jobs) || o.jobs < 1 || o.jobs > 1024)
                return bad();
        } else {
            *error = QString("unknown option %1").arg(arg);
            return false;
        }
        if (hasValue && equals > 0 &&
            (arg == QLatin1String("--hits") || arg == QLatin1String("--list") ||
             arg == QLatin1String("--quiet"))) {
            *error = QString("%1 takes no value").arg(arg);
            return false;
        }
    }
    if (modes > 1) {
        *error = QStringLiteral("give only one of --hits, --even, --beats, --bars, --template");
        return false;
    }
    if (o.list == !o.outputDir.isEmpty()) {
        *error = QStringLiteral("give either --list or --output DIR");
        return false;
    }
    if (o.files.isEmpty()) {
        *error = QStringLiteral("no input files");
        return false;
    }
    *options = o;
    return true;
}

SliceTool::Result SliceTool::process(const Options& options, const QString& file)
{
    Result r;
    r.file = file;
    QSharedPointer<std::vector<float>> audio(
        new std::vector<float>(decode(file, &r.rate, &r.error)));
    if (!r.error.isEmpty())
        return r;
    r.frames = audio->size() / 2;

    HitAnalysis analysis;
    const bool needsAnalysis = options.mode == Mode::Hits || options.bpm <= 0.0;
    if (needsAnalysis)
        analysis = HitAnalysis::analyse(audio->data(), r.frames, r.rate);
    r.bpm = options.bpm > 0.0 ? options.bpm : TempoEstimator::estimate(analysis, 0, r.frames);

    std::vector<unsigned long> bounds;
    if (!boundaries(options, *audio, r.rate, analysis, r.bpm, &bounds, &r.error))
        return r;
    for (size_t i = 0; i + 1 < bounds.size(); ++i)
        if (bounds[i + 1] > bounds[i])
            r.slices.emplace_back(bounds[i], bounds[i + 1]);

    if (!options.list)
        write(options, r, audio, &r.error);
    return r;
}

QString SliceTool::toJson(const Result& r)
{
    QString bpm = QStringLiteral("null");
    if (r.bpm > 0.0) {
        bpm = QString::number(r.bpm, 'f', 2);
        while (bpm.endsWith('0'))
            bpm.chop(1);
        if (bpm.endsWith('.'))
            bpm.chop(1);
    }
    QString json =
        QString("{\"file\": %1, \"rate\": %2, \"frames\": %3, \"bpm\": %4, \"slices\": [")
            .arg(jsonString(r.file))
            .arg(r.rate)
            .arg(r.frames)
            .arg(bpm);
    for (size_t i = 0; i < r.slices.size(); ++i)
        json += QString("%1{\"start\": %2, \"end\": %3}")
                    .arg(i ? ", " : "")
                    .arg(r.slices[i].first)
                    .arg(r.slices[i].second);
    return json + QStringLiteral("]}");
}

int SliceTool::run(const Options& options, std::FILE* out, std::FILE* err, bool errIsTerminal)
{
    const int count = options.files.size();
    const int jobs = std::clamp(options.jobs > 0 ? options.jobs : QThread::idealThreadCount(), 1,
                                std::max(1, count));
    std::vector<std::optional<Result>> results(count);
    std::mutex mutex;
    std::condition_variable done;
    std::atomic<int> next{0};
    std::vector<std::thread> workers;
    for (int j = 0; j < jobs; ++j) {
        workers.emplace_back([&]() {
            for (int i = next++; i < count; i = next++) {
                Result r = process(options, options.files.at(i));
                std::lock_guard<std::mutex> lock(mutex);
                results[i] = std::move(r);
                done.notify_all();
            }
        });
    }

    // Reported in the order given, as each is ready.
    const bool progress = errIsTerminal && !options.quiet;
    int failed = 0;
    unsigned long slices = 0;
    for (int i = 0; i < count; ++i) {
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [&]() { return results[i].has_value(); });
        const Result r = *results[i];
        results[i].reset();
        lock.unlock();
        const QByteArray name = r.file.toLocal8Bit();
        if (!r.error.isEmpty()) {
            ++failed;
            std::fprintf(err, "tamberlo-slice: %s: %s\n", name.constData(),
                         r.error.toLocal8Bit().constData());
            continue;
        }
        slices += r.slices.size();
        if (options.list) {
            std::fprintf(out, "%s\n", toJson(r).toUtf8().constData());
            std::fflush(out);
        }
        if (progress)
            std::fprintf(err, "[%d/%d] %s: %zu slices\n", i + 1, count, name.constData(),
                         r.slices.size());
    }
    for (std::thread& w : workers)
        w.join();
    if (progress)
        std::fprintf(err, "%d of %d files sliced into %lu slices%s\n", count - failed, count,
                     slices,
                     failed ? QString(", %1 failed").arg(failed).toLocal8Bit().constData() : "");
    return failed ? kFailed : kOk;
}
