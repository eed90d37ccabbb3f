#include "Kerfer.h"
#include "AudioCache.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using Points = QList<unsigned long>;
using namespace SliceTestSupport;

namespace {

class KerferTest : public ::testing::Test
{
protected:
    // 352800 frames = 16 x 44100 samples: eighths of the loop are exact floats.
    QString load(long frames = 352800, const QString& name = "loop.wav")
    {
        const QString path = writeWav(m_dir, name, frames);
        EXPECT_TRUE(m_kerfer.slotLoadLoop(path));
        EXPECT_TRUE(waitFilled(m_kerfer.getLoop()->getAudioCache().data()));
        return path;
    }
    void addPoints(const Points& points)
    {
        for (unsigned long p : points)
            m_kerfer.addSlicePoint(p);
    }
    Points points() { return m_kerfer.getSlicePoints(); }
    QString m_dir = freshTestDir();
    Kerfer m_kerfer;
};

TEST_F(KerferTest, EditsRoundSortAndSignalEvenWhenNothingChanges)
{
    QSignalSpy changed(&m_kerfer, &Kerfer::slicePointsChanged);
    addPoints({101, 100});
    EXPECT_EQ(points(), Points({100}));
    EXPECT_EQ(changed.count(), 2);
    addPoints({3000, 1000});
    EXPECT_EQ(points(), Points({100, 1000, 3000}));
    m_kerfer.removeSlicePoint(101);
    m_kerfer.moveSlicePoint(1000, 2001);
    m_kerfer.moveSlicePoint(2001, 500); // not in the list: nothing, no signal
    EXPECT_EQ(points(), Points({2000, 3000}));
    EXPECT_EQ(changed.count(), 6);
    // A move onto another point keeps both; one removal takes both away.
    m_kerfer.moveSlicePoint(3000, 2000);
    EXPECT_EQ(points(), Points({2000, 2000}));
    m_kerfer.removeSlicePoint(2000);
    EXPECT_TRUE(points().isEmpty());
}

TEST_F(KerferTest, SliceBoundsNearestPointAndMarkers)
{
    QSignalSpy markersMoved(&m_kerfer, &Kerfer::markersChanged);
    addPoints({1000, 2000});
    m_kerfer.setEndMarker(9000);
    EXPECT_EQ(m_kerfer.getSliceStart(500, 0), 0u);
    EXPECT_EQ(m_kerfer.getSliceStart(1500, 0), 1000u);
    EXPECT_EQ(m_kerfer.getSliceEnd(1500), 2000u);
    EXPECT_EQ(m_kerfer.getSliceStart(2500, -3), 2000u);
    EXPECT_EQ(m_kerfer.getSliceEnd(2500), 9000u);
    EXPECT_EQ(m_kerfer.getSliceStart(1500, 50), 0u);
    EXPECT_EQ(m_kerfer.getSliceStart(1500, 500), 1000u); // tie: the lower point
    m_kerfer.setStartMarker(1500);
    EXPECT_EQ(m_kerfer.getSliceStart(1800, 0), 1500u);
    // Past the last point that point counts, even before the start marker.
    m_kerfer.setStartMarker(5001);
    EXPECT_EQ(m_kerfer.getStartMarker(), 5000u);
    EXPECT_EQ(markersMoved.count(), 3);
    m_kerfer.setStartMarker(5000); // where it is: no move to announce
    EXPECT_EQ(markersMoved.count(), 3);
    EXPECT_EQ(m_kerfer.getSliceStart(2500, 0), 2000u);
    m_kerfer.setEndMarker(1001);
    EXPECT_EQ(m_kerfer.getEndMarker(), 1001u);
}

TEST_F(KerferTest, FailedLoadKeepsWhatWasOpenAndAReplacedLoopNoLongerRelays)
{
    const QString garbage = m_dir + "/notes.wav";
    ASSERT_TRUE(TestAudio::writeBytes(garbage, QByteArray("this is not audio").repeated(100)));
    QSignalSpy loaded(&m_kerfer, &Kerfer::sliceLoaded);
    QSignalSpy relayed(&m_kerfer, &Kerfer::loopChanged);
    EXPECT_FALSE(m_kerfer.slotLoadLoop(garbage));
    EXPECT_FALSE(m_kerfer.getLoop());
    // Nothing to play or slice without a loop; none of it may crash.
    m_kerfer.playSlice(0);
    m_kerfer.playLoop(true);
    m_kerfer.toggleSliceLoop(0);
    m_kerfer.sliceEvenly(4);
    m_kerfer.sliceByBeats(120, 1);
    EXPECT_TRUE(points().isEmpty());

    // The loop being sliced survives a file that gives no audio, cuts and all.
    load(1000, "kept.wav");
    addPoints({600, 1200});
    m_kerfer.setStartMarker(200);
    m_kerfer.setEndMarker(1800);
    const QSharedPointer<Slice> kept = m_kerfer.getLoop();
    EXPECT_FALSE(m_kerfer.slotLoadLoop(garbage));
    EXPECT_EQ(m_kerfer.getLoop(), kept);
    EXPECT_EQ(points(), Points({600, 1200}));
    EXPECT_EQ(m_kerfer.getStartMarker(), 200u);
    EXPECT_EQ(m_kerfer.getEndMarker(), 1800u);
    EXPECT_EQ(loaded.count(), 1);
    loaded.clear();
    relayed.clear();

    load();
    ASSERT_EQ(loaded.count(), 1); // Slice* must be known to the meta-type system
    EXPECT_EQ(loaded.at(0).at(0).value<Slice*>(), m_kerfer.getLoop().data());
    QSharedPointer<Slice> first = m_kerfer.getLoop();
    first->setLoopMode(2);
    EXPECT_EQ(relayed.count(), 1);
    load(1000, "other.wav");
    relayed.clear();
    first->setLoopMode(0);
    EXPECT_EQ(relayed.count(), 0);
    EXPECT_EQ(m_kerfer.getEndMarker(), 2000u);
}

TEST_F(KerferTest, EvenAndTempoSlicingReplacePoints)
{
    load();
    addPoints({5, 300000});
    m_kerfer.setEndMarker(88202);
    m_kerfer.sliceEvenly(4);
    EXPECT_EQ(points(), Points({22050, 44100, 66150}));
    // A region whose i x length no longer fits 32 bits still divides evenly.
    m_kerfer.setEndMarker(4000000000u);
    m_kerfer.sliceEvenly(16);
    ASSERT_EQ(points().size(), 15);
    EXPECT_EQ(points().last(), 3750000000u);

    m_kerfer.setEndMarker(300000); // tempo slicing runs on to the loop's length
    m_kerfer.clearSlicePoints();
    m_kerfer.addSlicePoint(176400);
    m_kerfer.sliceByBars(120, 4, 8, 1); // the denominator changes nothing
    EXPECT_EQ(points(), Points({176400, 352800, 529200}));
    m_kerfer.clearSlicePoints();
    m_kerfer.sliceByBeats(120, 2);
    EXPECT_EQ(points(), Points({88200, 176400, 264600, 352800, 441000, 529200, 617400}));
    m_kerfer.clearSlicePoints();
    m_kerfer.sliceByBeats(90, 1); // 12 x 58800 is the length itself: no point there
    EXPECT_EQ(points().size(), 11);
    EXPECT_EQ(points().first(), 58800u);
    // The step is truncated once, so the grid drifts by a quarter sample a beat.
    m_kerfer.clearSlicePoints();
    m_kerfer.sliceByBeats(128, 1);
    EXPECT_EQ(points().mid(0, 3), Points({41342, 82686, 124028}));
    // Refused: a step of 0 (never advances), tempo 0, and a step so large that
    // 32-bit positions would wrap back into the loop.
    m_kerfer.clearSlicePoints();
    QSignalSpy changed(&m_kerfer, &Kerfer::slicePointsChanged);
    m_kerfer.sliceByBeats(120, 1e-9);
    m_kerfer.sliceByBeats(0, 1);
    m_kerfer.setStartMarker(704000);
    m_kerfer.sliceByBeats(1, 1e6);
    EXPECT_TRUE(points().isEmpty());
    EXPECT_EQ(changed.count(), 0);

    // Cuts found at the hits replace only what lies between the markers.
    m_kerfer.setStartMarker(1000);
    m_kerfer.setEndMarker(9000);
    addPoints({500, 2000, 9000, 9500});
    changed.clear();
    m_kerfer.replaceSlicePointsBetweenMarkers({1000, 3001, 3000, 7000, 9000, 20000});
    EXPECT_EQ(points(), Points({500, 3000, 7000, 9000, 9500}));
    EXPECT_EQ(changed.count(), 1);

    // Beats and bars last as long at any rate: at 48 kHz a beat at 120 is
    // 24000 frames, at 96 kHz a bar 192000.
    ASSERT_TRUE(m_kerfer.slotLoadLoop(writeWav(m_dir, "48k.wav", 96000, 2, 48000)));
    m_kerfer.sliceByBeats(120, 1);
    EXPECT_EQ(points(), Points({48000, 96000, 144000}));
    ASSERT_TRUE(m_kerfer.slotLoadLoop(writeWav(m_dir, "96k.wav", 300000, 2, 96000)));
    m_kerfer.sliceByBars(120, 4, 4, 1);
    EXPECT_EQ(points(), Points({384000}));
}

TEST_F(KerferTest, SliceLoopsFollowTheSliceBoundariesAndToggleOff)
{
    load();
    QSharedPointer<Slice> loop = m_kerfer.getLoop();
    m_kerfer.setStartMarker(1001);
    addPoints({10000, 20000, 30000});
    m_kerfer.toggleSliceLoop(15000);
    EXPECT_EQ(loop->getLoopMode(), 2);
    EXPECT_FALSE(loop->isPlaying()); // armed only
    m_kerfer.removeSlicePoint(10000);
    EXPECT_EQ(loop->getLoopStart(), 1000u); // the start marker
    m_kerfer.removeSlicePoint(20000);
    m_kerfer.moveSlicePoint(30000, 44101);
    EXPECT_EQ(loop->getLoopEnd(), 44100u);
    m_kerfer.toggleSliceLoop(5000); // the same slice again: stops
    EXPECT_EQ(loop->getLoopMode(), 0);
    // While playing outside the new region, playback restarts at its start.
    m_kerfer.playLoop(true);
    m_kerfer.toggleSliceLoop(50000);
    EXPECT_TRUE(loop->isPlaying());
    EXPECT_EQ(loop->getPlayPos(), 44100u);
    m_kerfer.toggleSliceLoop(600000);
    EXPECT_FALSE(loop->isPlaying());
    // A slice of no length (the markers together) cannot loop.
    m_kerfer.clearSlicePoints();
    m_kerfer.setEndMarker(1000);
    m_kerfer.toggleSliceLoop(500);
    EXPECT_EQ(loop->getLoopMode(), 0);
}

TEST_F(KerferTest, PlayingASliceRendersExactlyThatSlice)
{
    const std::vector<float> file = TestAudio::readFile(load());
    QSharedPointer<Slice> loop = m_kerfer.getLoop();
    addPoints({176400, 352800, 529200});
    m_kerfer.setEndMarker(617400);
    m_kerfer.playSlice(529200); // the last slice ends at the end marker
    EXPECT_EQ(rawBlock(*loop, 88200), pick(file, {{529200, 617400}}));
    EXPECT_FALSE(loop->isPlaying());
    // Nothing plays from the end marker on, nor from beyond the audio.
    m_kerfer.setStartMarker(220500);
    m_kerfer.playSlice(617400);
#ifdef QT_NO_DEBUG
    m_kerfer.playSlice(705600);
#endif
    EXPECT_FALSE(loop->isPlaying());
    m_kerfer.playSlice(176400); // from the moved start marker
    EXPECT_EQ(loop->getPlayPos(), 220500u);
}

TEST_F(KerferTest, TemplatesCarryPointsAcrossLoopLengthsAndBrokenOnesChangeNothing)
{
    load();
    const QString tmpl = m_dir + "/quarters.tmst";
    m_kerfer.sliceEvenly(4);
    ASSERT_TRUE(m_kerfer.saveSliceTemplate(tmpl));
    load(44100, "short.wav");
    ASSERT_TRUE(m_kerfer.loadSliceTemplate(tmpl));
    EXPECT_EQ(points(), Points({22050, 44100, 66150}));
    EXPECT_EQ(m_kerfer.getEndMarker(), 88200u);
    // A point that lands beyond this loop's audio is left out.
    ASSERT_TRUE(TestAudio::writeBytes(tmpl, "<slicetemplate version='1'><markers start='0.5' "
                                            "end='1'/><point at='0.5'/><point at='1.5'/>"
                                            "</slicetemplate>"));
    ASSERT_TRUE(m_kerfer.loadSliceTemplate(tmpl));
    EXPECT_EQ(points(), Points({66150}));

    // Each failure gives the user its reason.
    QString reason;
    EXPECT_FALSE(m_kerfer.saveSliceTemplate(m_dir + "/missing/dir/t.tmst", &reason));
    EXPECT_TRUE(reason.startsWith("it could not be written")) << reason.toStdString();
    // A disk that fills while the template is written: reported, and the one
    // there stays whole.
    const QByteArray old = readBytes(tmpl);
    reason.clear();
    EXPECT_FALSE(withFileSizeLimit(16, [&] { return m_kerfer.saveSliceTemplate(tmpl, &reason); }));
    EXPECT_TRUE(reason.startsWith("it could not be written")) << reason.toStdString();
    EXPECT_EQ(readBytes(tmpl), old);
    const QByteArray head("<slicetemplate version='1'><markers start='0' end='1'/>");
    const QList<QByteArray> broken = {
        QByteArray("\x00\x01RIFF\xff", 6),
        "<project version='1'><markers start='0' end='1'/></project>",
        "<slicetemplate version='1'><point at='0.5'/></slicetemplate>",
        head + "<point at='x'/></slicetemplate>",
        head, // cut short
        "<slicetemplate version='1'><markers start='0' end='nan'/></slicetemplate>",
        "<slicetemplate version='1'><markers start='0.5' end='0.5'/></slicetemplate>",
    };
    QSignalSpy changed(&m_kerfer, &Kerfer::slicePointsChanged);
    for (const QByteArray& bytes : broken) {
        ASSERT_TRUE(TestAudio::writeBytes(tmpl, bytes));
        EXPECT_FALSE(m_kerfer.loadSliceTemplate(tmpl, &reason)) << bytes.constData();
        EXPECT_EQ(reason, "it is not a slice template");
    }
    reason.clear();
    EXPECT_FALSE(m_kerfer.loadSliceTemplate(m_dir + "/absent.tmst", &reason));
    EXPECT_TRUE(reason.startsWith("it could not be read")) << reason.toStdString();
    ASSERT_TRUE(TestAudio::writeBytes(tmpl, head + "</slicetemplate>"));
    Kerfer empty;
    EXPECT_FALSE(empty.loadSliceTemplate(tmpl, &reason));
    EXPECT_EQ(reason, "no loop is loaded");
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(points(), Points({66150}));
    EXPECT_EQ(m_kerfer.getStartMarker(), 44100u);
}

} // namespace
