#include "SliceTool.h"

#include "AudioFileAudioDecoder.h"
#include "HitAnalysis.h"
#include "KitExporter.h"
#include "LoopSlices.h"
#include "RateConverter.h"
#include "Slice.h"
#include "SliceFileFormat.h"
#include "SliceNaming.h"
#include "SliceTemplate.h"
#include "TempoEstimator.h"
#include "WavCueReader.h"

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
// A fade shorter than this clicks itself.
const long kMinFadeFrames = 16;
// Frames converted per step.
const unsigned long kConvertFrames = 4096;

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
bool boundaries(const SliceTool::Options& o, SliceTool::Mode mode, const QList<quint64>& cues,
                const std::vector<float>& audio, int rate, const HitAnalysis& analysis, double bpm,
                std::vector<unsigned long>* bounds, QString* error)
{
    const unsigned long frames = audio.size() / 2;
    std::vector<unsigned long>& b = *bounds;
    switch (mode) {
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
    case SliceTool::Mode::Markers:
        // As the window opens such a file: a slice from its start to each marker.
        b.push_back(0);
        for (quint64 cue : cues)
            if (cue > 0 && cue < frames)
                b.push_back(static_cast<unsigned long>(cue));
        break;
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
            mode == SliceTool::Mode::Bars ? o.interval * o.meterNumerator : o.interval;
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

// Raised-cosine fades at both ends of every piece between consecutive bounds
// (positions in samples), so that each piece's first and last frame are
// exactly silent and the gain leaves zero gently.
void fadePieces(std::vector<float>& audio, const QList<quint32>& bounds, long fadeFrames)
{
    for (int p = 0; p + 1 < bounds.size(); ++p) {
        float* piece = audio.data() + bounds[p];
        const long frames = long(bounds[p + 1] - bounds[p]) / 2;
        const long length = std::min(fadeFrames, frames / 2);
        for (long i = 0; i < length; ++i) {
            const float gain = float(0.5 - 0.5 * std::cos(M_PI * double(i) / length));
            for (int c = 0; c < 2; ++c) {
                piece[2 * i + c] *= gain;
                piece[2 * (frames - 1 - i) + c] *= gain;
            }
        }
    }
}

// The frames first .. last - 1 at outRate, converted as the export converts
// them (to the same exact length); false when the converter cannot run.
bool convert(const std::vector<float>& audio, quint64 first, quint64 last, int rate, int outRate,
             std::vector<float>* out, QString* error)
{
    RateConverter converter(rate, outRate,
                            RateConverter::convertedLength(last - first, rate, outRate));
    if (!converter.isValid()) {
        *error = converter.errorString();
        return false;
    }
    const RateConverter::Sink sink = [out](const float* samples, unsigned long frames) {
        out->insert(out->end(), samples, samples + 2 * frames);
        return true;
    };
    for (quint64 at = first; at < last; at += kConvertFrames) {
        const unsigned long frames =
            static_cast<unsigned long>(std::min<quint64>(kConvertFrames, last - at));
        if (!converter.push(audio.data() + 2 * at, frames, sink)) {
            *error = converter.errorString();
            return false;
        }
    }
    return converter.finish(sink);
}

// Claims the names for this run; false, naming the first, when one exists or
// another input of the run has it.
bool claim(const QStringList& names, QString* error)
{
    std::lock_guard<std::mutex> lock(g_claimMutex);
    for (const QString& name : names) {
        if (QFileInfo::exists(name) || g_claimed.count(name)) {
            *error = QString("%1 exists and is not replaced; nothing written").arg(name);
            return false;
        }
    }
    g_claimed.insert(names.begin(), names.end());
    return true;
}

bool write(const SliceTool::Options& o, const SliceTool::Result& r,
           const QSharedPointer<std::vector<float>>& audio, QString* error)
{
    if (r.slices.empty()) {
        *error = QStringLiteral("no slices to write");
        return false;
    }
    if ((o.sfz || o.midi || o.markers) && !(r.bpm > 0.0)) {
        *error = QStringLiteral("no tempo could be estimated for the kit; give --bpm");
        return false;
    }
    // Positions of the interleaved stream are 32-bit.
    if (audio->size() > 0xFFFFFFF0ul) {
        *error = QStringLiteral("too long to be written as slices");
        return false;
    }
    if (!QDir().mkpath(o.outputDir)) {
        *error = QString("the folder %1 cannot be created").arg(o.outputDir);
        return false;
    }
    const ExportFormat format = SliceFileFormat::writable(o.format);
    const QString base = QDir(o.outputDir)
                             .filePath(SliceNaming::stem(r.file) + QLatin1Char('.') +
                                       SliceFileFormat::suffix(format));
    QStringList names;
    for (size_t i = 0; i < r.slices.size(); ++i)
        names.append(SliceNaming::numbered(base, int(i + 1)));
    // The window's names for the kit (whose slices are those above), the
    // groove and the marked loop.
    const QString sfz = SliceNaming::kit(o.outputDir, r.file);
    const QString groove = SliceNaming::groove(o.outputDir, r.file);
    const QString marked = SliceNaming::markedLoop(o.outputDir, r.file);
    QStringList all = names;
    for (const auto& [wanted, name] :
         {std::pair(o.sfz, sfz), {o.midi, groove}, {o.markers, marked}})
        if (wanted)
            all.append(name);
    if (!claim(all, error))
        return false;

    // One stream cut at the slices' bounds, so that the slices, converted,
    // add up to the loop converted, frame for frame.
    QList<quint32> bounds{static_cast<quint32>(2 * r.slices.front().first)};
    for (const auto& slice : r.slices)
        bounds.append(static_cast<quint32>(2 * slice.second));
    const QSharedPointer<Slice> whole(new Slice(audio, {}, r.rate, 0, audio->size()));
    QSharedPointer<Slice> cut = whole;
    QList<quint32> cutBounds = bounds;
    if (o.fadeMs > 0.0) {
        // Faded where the files are cut, after the conversion of the rate,
        // which would otherwise smear a fade's silent ends.
        const int outRate = format.outputRate(r.rate);
        const QSharedPointer<std::vector<float>> converted(new std::vector<float>);
        if (!convert(*audio, bounds.first() / 2, bounds.last() / 2, r.rate, outRate,
                     converted.get(), error))
            return false;
        cutBounds.clear();
        for (quint32 bound : bounds)
            cutBounds.append(static_cast<quint32>(
                2 * RateConverter::convertedLength((bound - bounds.first()) / 2, r.rate, outRate)));
        fadePieces(*converted, cutBounds,
                   std::max(kMinFadeFrames, std::lround(o.fadeMs * 0.001 * outRate)));
        cut.reset(new Slice(converted, {}, outRate, 0, converted->size()));
    }
    const QString loopName = QFileInfo(r.file).completeBaseName();
    QList<AudioExporter::Failure> failed;
    if (o.sfz)
        failed += KitExporter(LoopSlices(cut, cutBounds, loopName), format, r.bpm)
                      .writeKit(sfz, false)
                      .failed;
    else
        cut->saveRanges(cutBounds, names, format, &failed);
    // The groove's levels and the marked loop are the loop's own, unfaded.
    const KitExporter loop(LoopSlices(whole, bounds, loopName), format, r.bpm);
    if (o.midi)
        failed += loop.writeGroove(groove).failed;
    if (o.markers)
        failed += loop.writeLoopWithMarkers(marked).failed;
    if (!failed.isEmpty()) {
        *error = QString("%1 could not be written: %2")
                     .arg(failed.first().fileName, failed.first().reason);
        return false;
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
        "Without one of these, a WAV file that carries cue markers is sliced at them\n"
        "(from its start to each marker, as the window opens it); others at the hits.\n"
        "\n"
        "Output:\n"
        "  --list        write nothing; print one JSON object per input file, one line\n"
        "                each, in the order given:\n"
        "                {\"file\": \"<path as given>\", \"rate\": 44100, \"frames\": 154642,\n"
        "                 \"bpm\": 136.9, \"slices\": [{\"start\": 0, \"end\": 9650}, ...]}\n"
        "                positions in frames at the file's own rate, \"end\" exclusive;\n"
        "                \"bpm\" is the estimate (or --bpm when given), null when none\n"
        "  --output DIR  write the slices of each file into DIR (created when missing)\n"
        "                as <name>_<n>.wav (.aif, .flac), n from 1, named as File > Save\n"
        "                Slices names them; existing files are never replaced: such an\n"
        "                input is reported and nothing of it is written\n"
        "  --format wav|aiff|flac  slice files as WAV (the default), AIFF (.aif) or FLAC\n"
        "  --bits 16|24|32f   16-bit (the default), 24-bit or 32-bit float samples;\n"
        "                FLAC holds no floating point and takes 24-bit for 32f\n"
        "  --rate 44100|keep  at 44.1 kHz (the default) or at the file's own rate;\n"
        "                conversions keep exact lengths: the slices of a file add up\n"
        "                to round(frames * 44100 / rate) frames\n"
        "  --sfz         also <name>.sfz, an SFZ instrument of the slices: one region\n"
        "                per slice on keys from 36 (C1) up\n"
        "  --midi        also <name>.mid, the rhythm as a standard MIDI file: a note\n"
        "                per slice at its start, key 36 up, at the tempo (below)\n"
        "  --markers     also <name>_markers.wav, the sliced stretch as one WAV file\n"
        "                with a cue marker and label per slice, a loop and the tempo\n"
        "                (the bits and rate above)\n"
        "                These are named as the window's File > Export names them;\n"
        "                their tempo is the estimate, or --bpm\n"
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
        } else if (arg == QLatin1String("--sfz")) {
            o.sfz = true;
        } else if (arg == QLatin1String("--midi")) {
            o.midi = true;
        } else if (arg == QLatin1String("--markers")) {
            o.markers = true;
        } else if (arg == QLatin1String("--format")) {
            if (!need())
                return false;
            if (!SliceFileFormat::parseContainer(value, &o.format.container))
                return bad();
        } else if (arg == QLatin1String("--bits")) {
            if (!need())
                return false;
            if (!SliceFileFormat::parseSample(value, &o.format.sample))
                return bad();
        } else if (arg == QLatin1String("--rate")) {
            if (!need())
                return false;
            if (!SliceFileFormat::parseRate(value, &o.format.rate))
                return bad();
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
            QStringList({"--hits", "--list", "--quiet", "--sfz", "--midi", "--markers"})
                .contains(arg)) {
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
    if (o.list && (o.sfz || o.midi || o.markers)) {
        *error = QStringLiteral("--sfz, --midi and --markers write files: give --output DIR");
        return false;
    }
    o.modeGiven = modes > 0;
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

    Mode mode = options.mode;
    QList<quint64> cues;
    if (!options.modeGiven) {
        cues = WavCueReader::read(file);
        if (!cues.isEmpty())
            mode = Mode::Markers;
    }
    std::vector<unsigned long> bounds;
    if (!boundaries(options, mode, cues, *audio, r.rate, analysis, r.bpm, &bounds, &r.error))
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
        const Result r = std::move(*results[i]);
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
