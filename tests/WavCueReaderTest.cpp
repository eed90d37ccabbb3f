#include "WavCueReader.h"

#include "Kerfer.h"
#include "LogCapture.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QtEndian>

#include <gtest/gtest.h>

using namespace SliceTestSupport;

namespace {

using Points = QList<unsigned long>;
const long kFrames = 10000;

QByteArray u32(quint32 value)
{
    char le[4];
    qToLittleEndian(value, le);
    return QByteArray(le, 4);
}

QByteArray chunk(const char* id, const QByteArray& body, bool pad = true)
{
    return QByteArray(id, 4) + u32(quint32(body.size())) + body +
           (pad && body.size() % 2 ? QByteArray(1, '\0') : QByteArray());
}

// Points as {position, sample offset}, in a chunk that says it holds count of them.
QByteArray cue(const QList<QPair<quint32, quint32>>& points, int count = -1)
{
    QByteArray body = u32(quint32(count < 0 ? points.size() : count));
    for (const auto& [position, offset] : points)
        body += u32(1) + u32(position) + "data" + u32(0) + u32(0) + u32(offset);
    return chunk("cue ", body);
}

// A 16-bit stereo WAV at 44.1 kHz: the format, the audio, then the chunks given.
QString writeWav(const QString& path, const QByteArray& after)
{
    const QByteArray format = QByteArray::fromHex("0100020044ac000010b1020004001000");
    const QByteArray body =
        "WAVE" + chunk("fmt ", format) + chunk("data", QByteArray(kFrames * 4, '\x10')) + after;
    EXPECT_TRUE(TestAudio::writeBytes(path, "RIFF" + u32(quint32(body.size())) + body));
    return path;
}

class WavCueReaderTest : public ::testing::Test
{
protected:
    Points load(const QString& path)
    {
        EXPECT_TRUE(m_kerfer.slotLoadLoop(path));
        EXPECT_EQ(m_kerfer.getLoop()->getLength(), 2ul * kFrames);
        return m_kerfer.getSlicePoints();
    }
    QString m_dir = freshTestDir();
    Kerfer m_kerfer;
};

TEST_F(WavCueReaderTest, ForeignCuePointsAreReadFromTheSampleOffsetOrElseThePosition)
{
    // No labels; an odd-sized chunk before them that lacks its pad byte.
    const QString path =
        writeWav(m_dir + "/foreign.wav",
                 chunk("note", "abc", false) + cue({{0, 7000}, {0, 2500}, {4000, 0}, {0, 0}}));
    EXPECT_EQ(load(path), (Points{5000, 8000, 14000}));
    EXPECT_TRUE(LogCapture::contains("without its pad byte"));
    // Another file without markers leaves no points behind.
    EXPECT_EQ(load(writeWav(m_dir + "/plain.wav", QByteArray())), Points());
}

TEST_F(WavCueReaderTest, MalformedCueChunksAreIgnoredAndTheAudioStillLoads)
{
    const struct
    {
        QByteArray chunks;
        Points points;
        QStringList log;
    } cases[] = {
        {cue({{0, 3000}}, 2), {}, {"counts more points than it holds"}},
        {cue({{0, 3000}, {0, kFrames}, {99999, 99999}, {0, 3000}, {0, 1000}}),
         {2000, 6000},
         {"beyond the audio ignored: 2", "Repeated cue points"}},
        // Cut short by the end of the file.
        {cue({{0, 3000}, {0, 4000}}).left(40), {}, {"counts more points than it holds"}},
        {chunk("cue ", "ab"), {}, {"too short"}},
    };
    for (const auto& c : cases) {
        LogCapture::clear();
        EXPECT_EQ(load(writeWav(m_dir + "/bad.wav", c.chunks)), c.points) << qPrintable(c.log[0]);
        for (const QString& line : c.log)
            EXPECT_TRUE(LogCapture::contains(line)) << qPrintable(line);
    }
}

} // namespace
