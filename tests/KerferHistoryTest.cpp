#include "KerferHistory.h"

#include "Kerfer.h"
#include "Slice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <functional>

using namespace SliceTestSupport;
using Points = QList<unsigned long>;

namespace {

class KerferHistoryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_kerfer.slotLoadLoop(writeWav(m_dir, "loop.wav", 88200)));
        ASSERT_TRUE(waitFilled(m_kerfer.getLoop()->getAudioCache().data()));
    }

    // Makes the change as one step and checks that undo and redo give back
    // exactly the cuts before and after it.
    void step(const QString& name, const std::function<void()>& change)
    {
        const Kerfer::Cuts before = m_kerfer.getCuts();
        ASSERT_TRUE(m_history.edit(name, change)) << name.toStdString();
        const Kerfer::Cuts after = m_kerfer.getCuts();
        EXPECT_EQ(stack()->undoText(), name);
        stack()->undo();
        EXPECT_TRUE(m_kerfer.getCuts() == before) << name.toStdString();
        stack()->redo();
        EXPECT_TRUE(m_kerfer.getCuts() == after) << name.toStdString();
    }
    QUndoStack* stack() { return m_history.getStack(); }

    QString m_dir = freshTestDir();
    Kerfer m_kerfer;
    KerferHistory m_history{&m_kerfer};
};

TEST_F(KerferHistoryTest, EveryKindOfEditIsOneStepThatUndoesAndRedoesExactly)
{
    const Kerfer::Cuts loaded = m_kerfer.getCuts();

    step("Add Slice Point", [&] { m_kerfer.addSlicePoint(1001); });
    step("Slice in 8", [&] { m_kerfer.sliceEvenly(8); });
    // Onto another point: the list holds it twice, and undo parts them again.
    step("Move Slice Point", [&] { m_kerfer.moveSlicePoint(44100, 22050); });
    EXPECT_EQ(m_kerfer.getSlicePoints().count(22050), 2);
    step("Delete Slice Point", [&] { m_kerfer.removeSlicePoint(66150); });
    step("Advanced Slicing", [&] { m_kerfer.sliceByBeats(240.0, 1.0); });
    step("Move Start Marker", [&] { m_kerfer.setStartMarker(3000); });
    step("Move End Marker", [&] { m_kerfer.setEndMarker(150001); });
    step("Clear Slicing", [&] { m_kerfer.clearSlicePoints(); });
    const Kerfer::Cuts last = m_kerfer.getCuts();
    while (stack()->canUndo())
        stack()->undo();
    EXPECT_TRUE(m_kerfer.getCuts() == loaded);
    while (stack()->canRedo())
        stack()->redo();
    EXPECT_TRUE(m_kerfer.getCuts() == last);

    // What changes nothing is no step; neither is a template that was refused.
    const int steps = stack()->count();
    EXPECT_FALSE(m_history.edit("Move Slice Point", [&] { m_kerfer.moveSlicePoint(5, 7); }));
    EXPECT_FALSE(m_history.edit("Load Slice Template",
                                [&] { m_kerfer.loadSliceTemplate(m_dir + "/none.tmst"); }));
    EXPECT_EQ(stack()->count(), steps);

    // Another loop starts a new history; a file that gives no loop leaves the
    // loop, and its history, as they were.
    ASSERT_TRUE(m_kerfer.slotLoadLoop(writeWav(m_dir, "other.wav", 4000)));
    EXPECT_EQ(stack()->count(), 0);
    m_history.edit("Add Slice Point", [&] { m_kerfer.addSlicePoint(100); });
    ASSERT_TRUE(TestAudio::writeBytes(m_dir + "/notes.wav", "not audio"));
    EXPECT_FALSE(m_kerfer.slotLoadLoop(m_dir + "/notes.wav"));
    EXPECT_TRUE(stack()->canUndo());
}

} // namespace
