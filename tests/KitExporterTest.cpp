#include "KitExporter.h"

#include "BankSampler.h"
#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "KitFiles.h"
#include "RateConverter.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>

using namespace SliceTestSupport;
using EngineTestSupport::readWritten;
using namespace KitFiles;

namespace {

class KitExporterTest : public ::testing::Test
{
protected:
    void SetUp() override { EngineTestSupport::useFreshSettings(m_dir + "/data"); }
    QString m_dir = freshTestDir();
};

TEST_F(KitExporterTest, KitGrooveAndMarkersCarryTheSameSlicesTimesAndTempo)
{
    // 48 kHz, every slice louder than the one before: every time written is
    // converted to 44.1 kHz, and the velocities follow the levels.
    const double levels[] = {0.25, 0.5, 0.75, 1.0};
    const QString path = m_dir + "/loop48.wav";
    ASSERT_TRUE(TestAudio::writeFile(path, 96000, 2, 48000, SF_FORMAT_WAV | SF_FORMAT_FLOAT,
                                     [&](long frame, int) {
                                         const float level = levels[frame / 24000];
                                         return (frame / 50) % 2 ? level : -level;
                                     }));
    Kerfer kerfer;
    ASSERT_TRUE(kerfer.slotLoadLoop(path));
    ASSERT_TRUE(waitFilled(kerfer.getLoop()->getAudioCache().data()));
    // Markers at frames 4000 and 94000: slices start at frames 0, 20000, 44000
    // and 67999 of the loop between them.
    kerfer.setStartMarker(8000);
    kerfer.setEndMarker(188000);
    for (unsigned long point : {48000ul, 96000ul, 143998ul, 190000ul})
        kerfer.addSlicePoint(point);
    const QList<quint64> starts{0, 20000, 44000, 67999, 90000};
    const auto at44k = [](quint64 frames) {
        return RateConverter::convertedLength(frames, 48000, 44100);
    };
    const double tempo = 97.0;
    const KitExporter kit(LoopSlices(&kerfer), ExportFormat(), tempo);

    const ExportReport report = kit.writeKit(m_dir + "/kit.sfz", true);
    EXPECT_EQ(
        report.text(),
        QString("Wrote 4 slices, kit.sfz and kit.mid to %1").arg(ExportReport::shownFolder(m_dir)));
    QStringList comments;
    const QList<Opcodes> regions = parseSfz(readBytes(m_dir + "/kit.sfz"), &comments);
    EXPECT_EQ(comments, (QStringList{"Kit of the loop loop48", "Tempo: 97 bpm",
                                     "Slices: 4, from key 36 (C1) up"}));
    ASSERT_EQ(regions.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const Opcodes& r = regions.at(i);
        EXPECT_EQ(r.value("key"), QString::number(36 + i));
        EXPECT_EQ(r.value("pitch_keycenter"), r.value("key"));
        EXPECT_EQ(r.value("loop_mode"), "one_shot");
        EXPECT_EQ(readWritten(QDir(m_dir).filePath(r.value("sample"))).frames,
                  long(at44k(starts.at(i + 1)) - at44k(starts.at(i))))
            << i;
    }

    const Midi midi = parseMidi(readBytes(m_dir + "/kit.mid"));
    EXPECT_EQ(midi.tempo, 618557u); // 60 000 000 / 97 microseconds
    EXPECT_EQ(midi.timeSignature, QByteArray("\x04\x02\x18\x08", 4));
    ASSERT_EQ(midi.notes.size(), 4);
    const auto tickOf = [&](quint64 frame) {
        return frame / 48000.0 * 480 * 60e6 / midi.tempo / 60;
    };
    for (int i = 0; i < 4; ++i) {
        const Note& note = midi.notes.at(i);
        EXPECT_EQ(note.key, 36 + i);
        EXPECT_EQ(note.velocity, std::lround(levels[i] * 127)) << i;
        EXPECT_LE(std::fabs(note.on - tickOf(starts.at(i))), 1.0) << i;
        EXPECT_EQ(note.off, i < 3 ? midi.notes.at(i + 1).on : midi.end) << i;
    }
    EXPECT_LE(std::fabs(midi.end - tickOf(90000)), 1.0);

    // The loop with its markers, at 44.1 kHz.
    const QString markersPath = m_dir + "/loop_markers.wav";
    ASSERT_TRUE(kit.writeLoopWithMarkers(markersPath).wroteAll());
    const QMap<QByteArray, QByteArray> chunks = chunksOf(readBytes(markersPath));
    const QByteArray cue = chunks.value("cue ");
    ASSERT_EQ(cue.size(), 4 + 4 * 24);
    EXPECT_EQ(u32(cue, 0), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(u32(cue, 4 + 24 * i + 4), at44k(starts.at(i))) << i;
        EXPECT_EQ(u32(cue, 4 + 24 * i + 20), at44k(starts.at(i))) << i;
    }
    const QByteArray labels = chunks.value("LIST");
    ASSERT_TRUE(labels.startsWith("adtl"));
    for (int i = 0, at = 4; i < 4; ++i) {
        ASSERT_EQ(labels.mid(at, 4), "labl");
        const quint32 size = u32(labels, at + 4);
        EXPECT_EQ(u32(labels, at + 8), quint32(i + 1));
        EXPECT_EQ(labels.mid(at + 12, int(size) - 4),
                  QString("Slice %1").arg(i + 1).toLatin1() + '\0');
        at += 8 + int(size + size % 2);
    }
    EXPECT_EQ(u32(chunks.value("smpl"), 36 + 12), at44k(90000) - 1); // the last frame looped
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(markersPath).constData(), SFM_READ, &info);
    ASSERT_NE(file, nullptr);
    SF_LOOP_INFO loop{};
    SF_INSTRUMENT instrument{};
    EXPECT_EQ(sf_command(file, SFC_GET_LOOP_INFO, &loop, sizeof loop), SF_TRUE);
    EXPECT_EQ(sf_command(file, SFC_GET_INSTRUMENT, &instrument, sizeof instrument), SF_TRUE);
    sf_close(file);
    EXPECT_EQ(loop.bpm, 97.0f);
    EXPECT_EQ(loop.num_beats, 3); // 1.875 s at 97 bpm
    EXPECT_EQ(loop.time_sig_num, 4);
    ASSERT_EQ(instrument.loop_count, 1);
    EXPECT_EQ(instrument.loops[0].mode, SF_LOOP_FORWARD);
    EXPECT_EQ(instrument.loops[0].end, at44k(90000));

    // At the loop's own rate, opening the file gives back the same slicing.
    ExportFormat own;
    own.rate = ExportFormat::Rate::Source;
    own.sample = ExportFormat::Sample::Pcm24;
    ASSERT_TRUE(
        KitExporter(LoopSlices(&kerfer), own, tempo).writeLoopWithMarkers(markersPath).wroteAll());
    Kerfer reopened;
    ASSERT_TRUE(reopened.slotLoadLoop(markersPath));
    EXPECT_EQ(reopened.getSlicePoints(), (QList<unsigned long>{40000, 88000, 135998}));

    // Nothing to write is said, and leaves nothing behind.
    const ExportReport none =
        KitExporter(LoopSlices(&kerfer), own, NAN).writeGroove(m_dir + "/x.mid");
    EXPECT_EQ(none.text(), QString("Nothing written to %1: the tempo is not set")
                               .arg(ExportReport::shownFolder(m_dir)));
    EXPECT_FALSE(QFileInfo::exists(m_dir + "/x.mid"));
    EXPECT_FALSE(kit.writeKit(path + "/kit.sfz", true).wroteAll());
    EXPECT_EQ(ExportReport::shownFolder(QDir::homePath() + "/kits/"), "~/kits");
}

TEST_F(KitExporterTest, APadKitKeepsEachPadsKeyTranspositionGainAndChokeGroup)
{
    const QString file = writeWav(m_dir, "pad.wav", 20000);
    BankSampler pads;
    pads.loadSample(0, file, 0, 1.0, 0, 0, 0, 1.0f, false, "Hi-hats");
    pads.loadSample(2, file, 0, 1.0, 0, 0, 0, 1.0f, false, "Hi-hats");
    pads.loadSample(5, file, -3, 1.0, 0, 0, 0, 0.5f, false, "None");
    pads.loadSample(7, m_dir + "/missing.wav", 0, 1.0, 0, 0, 0, 1.0f, false, "Other");
    // The window asks about exactly these before writing any.
    EXPECT_EQ(KitExporter::padKitFiles(pads, m_dir + "/drums.sfz", ExportFormat()),
              (QStringList{m_dir + "/drums.sfz", m_dir + "/drums_pad1.wav",
                           m_dir + "/drums_pad3.wav", m_dir + "/drums_pad6.wav"}));
    const ExportReport report =
        KitExporter::writePadKit(pads, m_dir + "/drums.sfz", ExportFormat(), 120.0);
    EXPECT_EQ(report.text(),
              QString("Wrote 3 samples and drums.sfz to %1").arg(ExportReport::shownFolder(m_dir)));
    QStringList comments;
    const QList<Opcodes> regions = parseSfz(readBytes(m_dir + "/drums.sfz"), &comments);
    EXPECT_TRUE(comments.contains("Choke group 1: Hi-hats"));
    QStringList summary;
    for (const Opcodes& r : regions)
        summary.append(
            QStringList{r["key"], r["group"], r["off_by"], r["transpose"], r["volume"], r["sample"]}
                .join(' '));
    EXPECT_EQ(summary, (QStringList{"36 1 1   drums_pad1.wav", "38 1 1   drums_pad3.wav",
                                    "41   -3 -6.02 drums_pad6.wav"}));
    EXPECT_EQ(readWritten(m_dir + "/drums_pad6.wav").samples, stereoSamples(file));
}

} // namespace
