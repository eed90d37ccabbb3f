#include "AudioDecoder.h"

#include "StereoDownmix.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libswresample/swresample.h>
}

#include <QByteArray>
#include <QtDebug>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

// Marks decoders whose complaints are expected (the trial decode of a file's
// last packets starts without the packets before them).
char quietDecoderTag;

// FFmpeg would otherwise print to stderr; its errors belong in our debug log,
// its chatter nowhere.
void forwardFfmpegLog(void* avcl, int level, const char* fmt, va_list vl)
{
    if (level > AV_LOG_ERROR)
        return;
    if (avcl && *static_cast<const AVClass* const*>(avcl) == avcodec_get_class() &&
        static_cast<AVCodecContext*>(avcl)->opaque == &quietDecoderTag)
        return;
    char line[1024];
    int printPrefix = 1;
    av_log_format_line2(avcl, level, fmt, vl, line, sizeof line, &printPrefix);
    const QByteArray text = QByteArray(line).trimmed();
    if (!text.isEmpty())
        qDebug() << "FFmpeg:" << text.constData();
}

void installLogForwarding()
{
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(AV_LOG_ERROR);
        av_log_set_callback(forwardFfmpegLog);
    });
}

// How far the packet headers alone tell the decoded length.
enum class Counting
{
    // Each packet decodes to exactly its duration (PCM, FLAC, ALAC).
    PacketDuration,
    // Each packet decodes to one codec frame of fixed size; durations may be
    // shorter where the container trims (MP3, AAC, AC-3).
    FixedFrame,
    // Decoder output cannot be predicted from packets (Vorbis, Opus, ...).
    Decode,
};

// Bytes of one frame of a plain PCM codec; 0 for PCM with headers or
// packing of its own, and for any other codec.
int pcmFrameBytes(const AVCodecParameters* par)
{
    const AVCodecID id = par->codec_id;
    if (id < AV_CODEC_ID_PCM_S16LE || id >= AV_CODEC_ID_ADPCM_IMA_QT)
        return 0;
    const int bits = av_get_bits_per_sample(id);
    return bits > 0 && bits % 8 == 0 ? bits / 8 * par->ch_layout.nb_channels : 0;
}

// The most frames one packet of a codec whose packets decode to their
// duration can hold; 0 when its packets are checked otherwise (PCM, by size)
// or cannot be checked.
std::int64_t packetFrameLimit(const AVCodecParameters* par)
{
    switch (par->codec_id) {
    case AV_CODEC_ID_FLAC:
        return 65535; // the format's largest block
    case AV_CODEC_ID_ALAC:
        // The frame length the encoder declared; the decoder takes no more
        // than 4096 x 4096.
        if (par->extradata && par->extradata_size >= 36) {
            const std::int64_t frames = AV_RB32(par->extradata + 12);
            return frames <= 4096 * 4096 ? frames : 0;
        }
        return 0;
    default:
        return 0;
    }
}

Counting countingFor(const AVCodecParameters* par)
{
    const AVCodecID id = par->codec_id;
    if (id >= AV_CODEC_ID_PCM_S16LE && id < AV_CODEC_ID_ADPCM_IMA_QT)
        return pcmFrameBytes(par) > 0 ? Counting::PacketDuration : Counting::Decode;
    switch (id) {
    case AV_CODEC_ID_FLAC:
    case AV_CODEC_ID_ALAC:
        return packetFrameLimit(par) > 0 ? Counting::PacketDuration : Counting::Decode;
    case AV_CODEC_ID_MP1:
    case AV_CODEC_ID_MP2:
    case AV_CODEC_ID_MP3:
    case AV_CODEC_ID_AAC:
    case AV_CODEC_ID_AC3:
    case AV_CODEC_ID_EAC3:
        return par->frame_size > 0 ? Counting::FixedFrame : Counting::Decode;
    default:
        return Counting::Decode;
    }
}

bool isMovFamily(const AVFormatContext* format)
{
    return format->iformat && std::strstr(format->iformat->name, "mov") != nullptr;
}

std::uint32_t readBe32(std::FILE* f, bool& ok)
{
    unsigned char b[4];
    ok = ok && std::fread(b, 1, 4, f) == 4;
    return ok ? AV_RB32(b) : 0;
}

// The movie time scale of an MP4/QuickTime file (the unit of its edit list
// durations), or 0 when it cannot be found. FFmpeg does not expose it.
int movieTimescale(const std::string& filename)
{
    std::FILE* f = std::fopen(filename.c_str(), "rb");
    if (!f)
        return 0;
    int result = 0;
    bool ok = fseeko(f, 0, SEEK_END) == 0;
    const std::int64_t fileSize = ok ? ftello(f) : -1;
    ok = ok && fileSize >= 0 && fseeko(f, 0, SEEK_SET) == 0;
    // Walks top-level boxes to "moov", then its children to "mvhd".
    std::int64_t limit = -1;
    for (int boxes = 0; ok && boxes < 4096; ++boxes) {
        const std::int64_t start = ftello(f);
        if (start < 0 || (limit >= 0 && start + 8 > limit))
            break;
        std::uint64_t size = readBe32(f, ok);
        const std::uint32_t type = readBe32(f, ok);
        std::int64_t header = 8;
        if (ok && size == 1) {
            const std::uint64_t hi = readBe32(f, ok);
            size = (hi << 32) | readBe32(f, ok);
            header = 16;
        }
        if (!ok || (size != 0 && size < static_cast<std::uint64_t>(header)))
            break;
        // A box claiming more than the file holds ends with the file (a size
        // of 0 says so too); a 64-bit size may claim anything.
        if (size == 0 || size > static_cast<std::uint64_t>(fileSize - start))
            size = static_cast<std::uint64_t>(fileSize - start);
        if (type == MKBETAG('m', 'o', 'o', 'v')) {
            limit = start + static_cast<std::int64_t>(size);
            continue;
        }
        if (type == MKBETAG('m', 'v', 'h', 'd') && limit >= 0) {
            unsigned char versionAndFlags[4];
            ok = std::fread(versionAndFlags, 1, 4, f) == 4;
            const long skip = versionAndFlags[0] == 1 ? 16 : 8;
            ok = ok && std::fseek(f, skip, SEEK_CUR) == 0;
            const std::uint32_t scale = readBe32(f, ok);
            if (ok && scale > 0 && scale <= INT32_MAX)
                result = static_cast<int>(scale);
            break;
        }
        if (fseeko(f, start + static_cast<std::int64_t>(size), SEEK_SET) != 0)
            break;
    }
    std::fclose(f);
    return result;
}

// Predicts, from its headers alone, how many samples each packet will decode
// to. Mirrors the decoder's own trimming: a start skip carries over packets,
// an end discard applies to the packet that carries it, and a packet the
// container marks as discarded decodes only to prime the decoder.
struct PacketModel
{
    Counting counting = Counting::Decode;
    int frameSize = 0;
    int frameBytes = 0;
    std::int64_t frameLimit = 0;
    AVRational timeBase{0, 1};
    int rate = 0;
    std::int64_t skip = 0;

    PacketModel() = default;
    explicit PacketModel(const AVStream* st)
        : counting(countingFor(st->codecpar)), frameSize(st->codecpar->frame_size),
          frameBytes(pcmFrameBytes(st->codecpar)), frameLimit(packetFrameLimit(st->codecpar)),
          timeBase(st->time_base), rate(st->codecpar->sample_rate)
    {
    }

    bool isExact() const { return counting != Counting::Decode; }

    // Frames the packet will yield; negative when the headers do not tell.
    std::int64_t expected(const AVPacket* packet)
    {
        if (packet->duration <= 0)
            return -1;
        const std::int64_t duration = av_rescale_q(packet->duration, timeBase, AVRational{1, rate});
        std::int64_t out = counting == Counting::FixedFrame ? frameSize : duration;
        if (duration <= 0 || duration > out)
            return -1;
        // A container may claim any duration; one the packet cannot hold is
        // not believed (the file is then counted by decoding it).
        if (counting == Counting::PacketDuration &&
            (frameBytes > 0
                 ? packet->size % frameBytes != 0 || packet->size / frameBytes != duration
                 : duration > frameLimit))
            return -1;
        std::size_t sideSize = 0;
        const uint8_t* side = av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &sideSize);
        std::int64_t discardEnd = 0;
        if (side && sideSize >= 10) {
            skip = std::max<std::int64_t>(0, static_cast<std::int32_t>(AV_RL32(side)));
            discardEnd = static_cast<std::int32_t>(AV_RL32(side + 4));
        }
        if (packet->flags & AV_PKT_FLAG_DISCARD) {
            skip = std::max<std::int64_t>(0, skip - out);
            return 0;
        }
        std::int64_t skipped = 0;
        if (skip > 0) {
            skipped = std::min(skip, out);
            skip -= skipped;
            out -= skipped;
        }
        if (discardEnd > 0 && discardEnd <= out)
            out -= discardEnd;
        // The container's duration ends the packet where the codec frame runs
        // on (the tail of AAC in MP4).
        return std::min(out, std::max<std::int64_t>(0, duration - skipped));
    }
};

// The last few packets of the count, so the final one can be trial-decoded
// with enough context before it (an MP3 frame may borrow bits from the frames
// before it).
class TailPackets
{
public:
    static const int kCount = 4;

    TailPackets()
    {
        for (AVPacket*& p : m_packets)
            p = av_packet_alloc();
    }
    ~TailPackets()
    {
        for (AVPacket*& p : m_packets)
            av_packet_free(&p);
    }
    TailPackets(const TailPackets&) = delete;
    TailPackets& operator=(const TailPackets&) = delete;

    bool isValid() const
    {
        return std::all_of(std::begin(m_packets), std::end(m_packets),
                           [](const AVPacket* p) { return p != nullptr; });
    }
    // Takes over the packet's contents.
    void keep(AVPacket* packet)
    {
        AVPacket* slot = m_packets[m_kept % kCount];
        av_packet_unref(slot);
        av_packet_move_ref(slot, packet);
        ++m_kept;
    }
    int size() const { return static_cast<int>(std::min<std::int64_t>(m_kept, kCount)); }
    // Oldest first.
    AVPacket* at(int i) const { return m_packets[(m_kept - size() + i) % kCount]; }

private:
    AVPacket* m_packets[kCount] = {};
    std::int64_t m_kept = 0;
};

} // namespace

struct AudioDecoder::Private
{
    std::string filename;

    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;

    // The source's channels, and the one or two that read() delivers: more
    // than two are mixed down to stereo.
    int channels = 0;
    int outChannels = 0;
    std::unique_ptr<StereoDownmix> downmix;
    int rate = 0;
    bool ready = false;
    std::int64_t maxFrames = 0;
    std::int64_t totalFrames = 0;
    // Frames handed out by read() since the start.
    std::int64_t positionFrames = 0;

    // True when the total came from the packet headers; decoding then puts
    // silence where a packet fails, so the file keeps its promised length and
    // what follows stays in place.
    bool counted = false;
    PacketModel model;
    std::int64_t lostFrames = 0;
    // Frames the packet sent last still owes its count: what it fails to
    // deliver becomes silence, what it delivers beyond is dropped.
    std::int64_t owedFrames = 0;
    // Packets the count saw and those sent to the decoder since the start;
    // the last one also owes the frames the MP4 tail correction added.
    std::int64_t countedPackets = 0;
    std::int64_t sentPackets = 0;
    std::int64_t tailFrames = 0;

    // Decoded, converted samples not yet handed out.
    std::vector<float> pending;
    std::size_t pendingBegin = 0;
    std::size_t pendingEnd = 0;
    bool flushing = false;
    bool finished = false;

    // What the converter is set up for.
    int swrFormat = AV_SAMPLE_FMT_NONE;
    AVChannelLayout swrLayout{};

    ~Private()
    {
        closeDecoding();
        av_packet_free(&packet);
        av_frame_free(&frame);
    }

    AVStream* st() const { return format->streams[stream]; }

    int open();

    void closeDecoding()
    {
        avcodec_free_context(&codec);
        avformat_close_input(&format);
        swr_free(&swr);
        av_channel_layout_uninit(&swrLayout);
        swrFormat = AV_SAMPLE_FMT_NONE;
        pendingBegin = pendingEnd = 0;
        lostFrames = 0;
        owedFrames = 0;
        sentPackets = 0;
        flushing = false;
        finished = false;
        if (packet)
            av_packet_unref(packet);
        if (frame)
            av_frame_unref(frame);
    }

    static bool openFormat(const std::string& name, bool ignoreEditList, bool findInfo,
                           AVFormatContext** out)
    {
        AVDictionary* options = nullptr;
        if (ignoreEditList)
            av_dict_set(&options, "ignore_editlist", "1", 0);
        const int r = avformat_open_input(out, name.c_str(), nullptr, &options);
        av_dict_free(&options);
        if (r < 0)
            return false;
        if (findInfo && avformat_find_stream_info(*out, nullptr) < 0) {
            avformat_close_input(out);
            return false;
        }
        return true;
    }

    void selectStream()
    {
        for (unsigned i = 0; i < format->nb_streams; ++i)
            format->streams[i]->discard =
                static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }

    static AVCodecContext* openCodec(const AVStream* s, void* opaque)
    {
        const AVCodec* decoder = avcodec_find_decoder(s->codecpar->codec_id);
        if (!decoder)
            return nullptr;
        AVCodecContext* c = avcodec_alloc_context3(decoder);
        if (!c)
            return nullptr;
        c->opaque = opaque;
        c->pkt_timebase = s->time_base;
        c->thread_count = 1;
        if (avcodec_parameters_to_context(c, s->codecpar) < 0 ||
            avcodec_open2(c, decoder, nullptr) < 0)
            avcodec_free_context(&c);
        return c;
    }

    // Opens the file for decoding from its start, on the stream open() chose.
    bool openDecoding()
    {
        closeDecoding();
        if (!openFormat(filename, false, true, &format))
            return false;
        if (stream >= static_cast<int>(format->nb_streams) ||
            st()->codecpar->codec_type != AVMEDIA_TYPE_AUDIO)
            return false;
        selectStream();
        model = PacketModel(st());
        codec = openCodec(st(), nullptr);
        return codec != nullptr;
    }

    // Next packet of our stream; negative at the end of the file or on a read
    // error (the count and the decoding stop at the same place either way).
    int readPacket()
    {
        for (int retries = 0; retries < 1000; ++retries) {
            av_packet_unref(packet);
            const int r = av_read_frame(format, packet);
            if (r == AVERROR(EAGAIN))
                continue;
            if (r < 0)
                return r;
            if (packet->stream_index == stream)
                return 0;
        }
        return AVERROR(EIO);
    }

    // Decodes until a frame is in `frame` (true) or a failed packet has left
    // lostFrames to fill (true), or the decoder is drained (false). A packet
    // the decoder rejects is skipped.
    bool nextFrame()
    {
        int errors = 0;
        while (!finished) {
            int r = avcodec_receive_frame(codec, frame);
            if (r == 0)
                return true;
            if (r != AVERROR(EAGAIN) && r != AVERROR_EOF) {
                if (++errors > 100000)
                    break;
                continue;
            }
            // The packet sent last has given all it will. The decoders whose
            // output the model predicts decode synchronously, so the silence
            // lands where the packet was.
            if (owedFrames > 0) {
                lostFrames += owedFrames;
                owedFrames = 0;
                return true;
            }
            if (r == AVERROR_EOF || flushing)
                break;
            if (readPacket() < 0) {
                av_packet_unref(packet);
                flushing = true;
                avcodec_send_packet(codec, nullptr);
                continue;
            }
            std::int64_t expected = counted ? model.expected(packet) : 0;
            if (++sentPackets == countedPackets && expected > 0)
                expected += tailFrames;
            r = avcodec_send_packet(codec, packet);
            av_packet_unref(packet);
            if (r < 0) {
                if (expected > 0) {
                    lostFrames += expected;
                    return true;
                }
                if (++errors > 100000)
                    break;
                continue;
            }
            owedFrames = std::max<std::int64_t>(expected, 0);
        }
        finished = true;
        return false;
    }

    bool configureConverter()
    {
        if (swr && swrFormat == frame->format &&
            av_channel_layout_compare(&swrLayout, &frame->ch_layout) == 0)
            return true;
        swr_free(&swr);
        av_channel_layout_uninit(&swrLayout);
        swrFormat = AV_SAMPLE_FMT_NONE;
        const int frameRate = frame->sample_rate > 0 ? frame->sample_rate : rate;
        // Same layout and rate on both sides: only the sample format changes.
        if (swr_alloc_set_opts2(&swr, &frame->ch_layout, AV_SAMPLE_FMT_FLT, frameRate,
                                &frame->ch_layout, static_cast<AVSampleFormat>(frame->format),
                                frameRate, 0, nullptr) < 0 ||
            swr_init(swr) < 0 || av_channel_layout_copy(&swrLayout, &frame->ch_layout) < 0) {
            swr_free(&swr);
            return false;
        }
        swrFormat = frame->format;
        return true;
    }

    float* reservePending(std::size_t samples)
    {
        if (pending.size() < samples)
            pending.resize(samples);
        return pending.data();
    }

    // Refills `pending` with the next decoded frame (or the silence standing
    // for a failed packet); false at the end.
    bool decodeMore()
    {
        pendingBegin = pendingEnd = 0;
        for (;;) {
            if (lostFrames > 0) {
                const std::int64_t n = std::min<std::int64_t>(lostFrames, 4096);
                const std::size_t samples = static_cast<std::size_t>(n) * outChannels;
                std::fill_n(reservePending(samples), samples, 0.0f);
                lostFrames -= n;
                pendingEnd = samples;
                return true;
            }
            if (!nextFrame())
                return false;
            if (lostFrames > 0)
                continue;
            int n = frame->nb_samples;
            // A frame with another channel count cannot be placed in our
            // interleaving; it is dropped like an undecodable packet (and in
            // a counted file becomes silence as well).
            if (counted && frame->ch_layout.nb_channels == channels) {
                n = static_cast<int>(std::min<std::int64_t>(n, owedFrames));
                owedFrames -= std::max(n, 0);
            }
            if (n <= 0 || frame->ch_layout.nb_channels != channels) {
                av_frame_unref(frame);
                continue;
            }
            const std::size_t samples = static_cast<std::size_t>(n) * channels;
            float* out = reservePending(samples);
            int got = n;
            if (frame->format == AV_SAMPLE_FMT_FLT)
                std::memcpy(out, frame->data[0], samples * sizeof(float));
            else if (configureConverter()) {
                uint8_t* bytes = reinterpret_cast<uint8_t*>(out);
                got = swr_convert(swr, &bytes, n, const_cast<const uint8_t**>(frame->extended_data),
                                  n);
            } else
                got = 0;
            av_frame_unref(frame);
            if (got > 0) {
                if (downmix)
                    downmix->process(out, out, static_cast<unsigned>(got));
                pendingEnd = static_cast<std::size_t>(got) * outChannels;
                return true;
            }
        }
    }

    // Counts the frames decoding will deliver from the packet headers alone.
    // False when the codec or the packets do not allow that.
    bool countPackets(std::int64_t& frames, std::int64_t& lastPts, std::int64_t& lastDuration,
                      int& lastSize)
    {
        PacketModel counter(st());
        if (!counter.isExact())
            return false;
        TailPackets tail;
        if (!tail.isValid())
            return false;
        std::int64_t total = 0;
        std::int64_t lastFrames = 0;
        lastPts = AV_NOPTS_VALUE;
        countedPackets = 0;
        while (readPacket() >= 0) {
            const std::int64_t n = counter.expected(packet);
            if (n < 0)
                return false;
            ++countedPackets;
            total += n;
            lastFrames = n;
            lastPts = packet->pts;
            lastDuration = packet->duration;
            lastSize = packet->size;
            tail.keep(packet);
        }
        // A file cut off inside its last packet still yields that packet, and
        // its headers promise samples the decoder then cannot produce.
        if (lastFrames > 0 && !lastPacketDecodes(tail))
            total -= lastFrames;
        frames = total;
        return true;
    }

    // Decodes the kept packets with a fresh decoder; true when the last one
    // yields samples.
    bool lastPacketDecodes(const TailPackets& tail)
    {
        AVCodecContext* c = openCodec(st(), &quietDecoderTag);
        if (!c)
            return true;
        std::int64_t lastSamples = 0;
        const int n = tail.size();
        for (int i = 0; i < n; ++i) {
            const bool last = i == n - 1;
            avcodec_send_packet(c, tail.at(i));
            if (last)
                avcodec_send_packet(c, nullptr);
            while (avcodec_receive_frame(c, frame) == 0) {
                if (last)
                    lastSamples += frame->nb_samples;
                av_frame_unref(frame);
            }
        }
        avcodec_free_context(&c);
        return lastSamples > 0;
    }

    // Exact count for codecs whose packets do not tell: decodes the file once,
    // or until it is longer than the limit.
    std::int64_t countByDecoding()
    {
        std::int64_t total = 0;
        while ((maxFrames <= 0 || total <= maxFrames) && nextFrame()) {
            if (frame->nb_samples > 0 && frame->ch_layout.nb_channels == channels)
                total += frame->nb_samples;
            av_frame_unref(frame);
        }
        return total;
    }

    // An MP4 edit list states the playing time in the movie time scale, often
    // milliseconds, so the end FFmpeg derives from it can fall short of the
    // real end by up to one tick. When the sample table's own end lies within
    // that tick, it is the exact value the edit list was rounded from.
    std::int64_t mp4TailCorrection(std::int64_t lastPts, std::int64_t lastDuration, int lastSize)
    {
        if (lastPts == AV_NOPTS_VALUE)
            return 0;
        const int timescale = movieTimescale(filename);
        if (timescale <= 0 || timescale >= rate)
            return 0;
        const std::int64_t tick = (rate + timescale - 1) / timescale;
        AVFormatContext* raw = nullptr;
        if (!openFormat(filename, true, false, &raw))
            return 0;
        std::int64_t extra = 0;
        if (stream < static_cast<int>(raw->nb_streams)) {
            AVStream* rs = raw->streams[stream];
            const int entries = avformat_index_get_entries_count(rs);
            const AVIndexEntry* last =
                entries > 0 ? avformat_index_get_entry(rs, entries - 1) : nullptr;
            // Same packet in both readings (same size), same clock.
            if (last && last->size == lastSize && rs->duration != AV_NOPTS_VALUE &&
                av_cmp_q(rs->time_base, st()->time_base) == 0) {
                const std::int64_t rawDuration = rs->duration - last->timestamp;
                const std::int64_t diff =
                    av_rescale_q(rawDuration - lastDuration, rs->time_base, AVRational{1, rate});
                if (diff > 0 && diff < tick)
                    extra = diff;
            }
        }
        avformat_close_input(&raw);
        return extra;
    }
};

AudioDecoder::AudioDecoder(const std::string& filename) : d(new Private)
{
    d->filename = filename;
}

AudioDecoder::~AudioDecoder() = default;

int AudioDecoder::open()
{
    installLogForwarding();
    d->closeDecoding();
    d->ready = false;
    d->counted = false;
    d->totalFrames = 0;
    d->positionFrames = 0;
    d->channels = d->outChannels = 0;
    d->downmix.reset();
    d->rate = 0;
    const int result = d->open();
    if (result != 0) {
        // A failed open reports nothing, as if no file had been given.
        d->closeDecoding();
        d->channels = d->outChannels = 0;
        d->downmix.reset();
        d->rate = 0;
    }
    return result;
}

int AudioDecoder::Private::open()
{
    if (!packet)
        packet = av_packet_alloc();
    if (!frame)
        frame = av_frame_alloc();
    if (!packet || !frame || filename.empty())
        return -1;

    if (!openFormat(filename, false, true, &format))
        return -1;
    stream = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream < 0)
        return -1;
    const AVCodecParameters* par = st()->codecpar;
    if (par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0 ||
        !avcodec_find_decoder(par->codec_id))
        return -1;
    if (par->ch_layout.nb_channels > StereoDownmix::kMaxChannels)
        return -1;
    rate = par->sample_rate;
    channels = par->ch_layout.nb_channels;
    outChannels = std::min(channels, 2);
    if (channels > 2) {
        std::vector<int> positions;
        for (int i = 0; i < channels; ++i)
            positions.push_back(av_channel_layout_channel_from_index(&par->ch_layout, i));
        downmix.reset(new StereoDownmix(channels, positions));
    }
    selectStream();

    // The length must be known before decoding starts (the cache is sized by
    // it) and must be exactly what decoding will deliver: bit rate and header
    // durations are estimates, so the packets are counted instead.
    std::int64_t frames = 0;
    std::int64_t lastPts = AV_NOPTS_VALUE;
    std::int64_t lastDuration = 0;
    int lastSize = 0;
    const bool mp4 = isMovFamily(format);
    tailFrames = 0;
    if (countPackets(frames, lastPts, lastDuration, lastSize)) {
        counted = true;
        if (mp4)
            tailFrames = mp4TailCorrection(lastPts, lastDuration, lastSize);
        frames += tailFrames;
    } else {
        counted = false;
        if (!openDecoding())
            return -1;
        frames = countByDecoding();
    }
    if (maxFrames > 0 && frames > maxFrames)
        return AudioDecoder::TooLong;
    // Decoding starts from a freshly opened file rather than a seek, so the
    // demuxer hands out exactly the packets the count saw.
    if (!openDecoding())
        return -1;
    totalFrames = frames;
    positionFrames = 0;
    ready = true;
    return 0;
}

int AudioDecoder::read(int size, float* buffer)
{
    if (!d->ready || size <= 0 || !buffer)
        return 0;
    const std::int64_t framesLeft = d->totalFrames - d->positionFrames;
    // Whole frames only, and never past the total open() reported.
    const std::int64_t want =
        std::min<std::int64_t>(size / d->outChannels, std::max<std::int64_t>(0, framesLeft)) *
        d->outChannels;
    std::int64_t got = 0;
    while (got < want) {
        if (d->pendingBegin == d->pendingEnd && !d->decodeMore())
            break;
        const std::int64_t n = std::min<std::int64_t>(want - got, d->pendingEnd - d->pendingBegin);
        std::memcpy(buffer + got, d->pending.data() + d->pendingBegin, n * sizeof(float));
        d->pendingBegin += n;
        got += n;
    }
    d->positionFrames += got / d->outChannels;
    return static_cast<int>(got);
}

void AudioDecoder::seek(int sampleIdx)
{
    if (!d->ready)
        return;
    const std::int64_t target =
        std::min<std::int64_t>(std::max(sampleIdx, 0) / d->outChannels, d->totalFrames);
    if (target == d->totalFrames) {
        // Nothing is left to read there; no need to decode the way to it.
        d->pendingBegin = d->pendingEnd = 0;
        d->positionFrames = target;
        return;
    }
    // Decoding forward from the start is the only way to land on an exact
    // sample in every format (MP3 seeks by byte estimate).
    if (target < d->positionFrames) {
        if (!d->openDecoding()) {
            d->ready = false;
            return;
        }
        d->positionFrames = 0;
    }
    while (d->positionFrames < target) {
        if (d->pendingBegin == d->pendingEnd && !d->decodeMore())
            break;
        const std::int64_t available = (d->pendingEnd - d->pendingBegin) / d->outChannels;
        const std::int64_t n = std::min(target - d->positionFrames, available);
        d->pendingBegin += n * d->outChannels;
        d->positionFrames += n;
    }
}

std::int64_t AudioDecoder::getTotalSamples() const
{
    return d->totalFrames * d->outChannels;
}

int AudioDecoder::getChannels() const
{
    return d->outChannels;
}

void AudioDecoder::setMaxFrames(std::int64_t frames)
{
    d->maxFrames = frames;
}

int AudioDecoder::getSampleRate() const
{
    return d->rate;
}

std::int64_t AudioDecoder::getPosition() const
{
    return d->positionFrames * d->outChannels;
}
