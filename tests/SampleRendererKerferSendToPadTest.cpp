#include "SampleRendererKerfer.h"

#include "BankSampler.h"
#include "EngineTestSupport.h"
#include "MidiInputDevice.h"
#include "Settings.h"
#include "SliceEngine.h"
#include "ViewTestSupport.h"

#include <QAction>
#include <QDir>
#include <QMenu>

#include <algorithm>
#include <cmath>
#include <memory>

using namespace ViewTest;

namespace {

// Four quarters of a sine at amplitudes 0.1, 0.2, 0.3 and 0.4: which slice
// sounds shows in the level of what plays.
float quarters(long frame, int)
{
    const long quarter = kFrames / 4;
    const float amplitude = 0.1f * float(frame / quarter + 1);
    return amplitude * float(std::sin(2.0 * M_PI * 441.0 * double(frame) / 44100.0));
}

float peak(const std::vector<float>& samples)
{
    float p = 0.0f;
    for (float s : samples)
        p = std::max(p, std::fabs(s));
    return p;
}

// Opens up the context menu.
class TestView : public SampleRendererKerfer
{
public:
    using SampleRendererKerfer::SampleRendererKerfer;
    QMenu* menu() const { return m_pContextMenu; }
    QMenu* padMenu() const { return m_pSendToPadMenu; }
};

class SampleRendererKerferSendToPadTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestAudio::scratchDir(testName());
        EngineTestSupport::useFreshSettings(m_dir + "/data", EngineTestSupport::silentDevices());
        m_engine = std::make_unique<SliceEngine>();
        m_view = std::make_unique<TestView>(nullptr, m_engine->getKerfer());
        // As the main window wires it.
        QObject::connect(m_view.get(), &SampleRendererKerfer::sliceSentToPad,
                         [this](int pad, const QString& file) {
                             m_sent.append(file);
                             m_engine->exportToPad(pad, file);
                         });
        loadLoop(m_engine->getKerfer(), writeLoop(m_dir, quarters));
        m_view->setSlice(m_engine->getKerfer()->getLoop());
        showAt(m_view.get());
        m_engine->getKerfer()->sliceEvenly(4);
    }
    void TearDown() override
    {
        m_view.reset();
        m_engine.reset();
        Settings::resetInstanceForTests();
    }

    // Right-clicks at x and chooses the pad in "Send Slice to Pad".
    void sendToPad(int x, int pad)
    {
        press(m_view.get(), QPoint(x, 100), Qt::RightButton);
        QMenu* menu = m_view->padMenu();
        ASSERT_EQ(menu->title(), "Send Slice to Pad");
        ASSERT_TRUE(m_view->menu()->actions().contains(menu->menuAction()));
        ASSERT_EQ(menu->actions().size(), BankSampler::PadCount);
        EXPECT_EQ(menu->actions().at(3)->text(), "Pad 4 (note 39)");
        menu->actions().at(pad)->trigger();
        m_view->menu()->hide();
    }
    // Renders what the engine plays for a while.
    std::vector<float> render(int blocks = 8)
    {
        std::vector<float> out;
        std::vector<float> buffer(4096);
        for (int i = 0; i < blocks; ++i) {
            std::fill(buffer.begin(), buffer.end(), 0.0f);
            m_engine->render(buffer.data(), buffer.size());
            out.insert(out.end(), buffer.begin(), buffer.end());
        }
        return out;
    }

    QString m_dir;
    std::unique_ptr<SliceEngine> m_engine;
    std::unique_ptr<TestView> m_view;
    QStringList m_sent;
};

TEST_F(SampleRendererKerferSendToPadTest, SentSlicePlaysOnItsMidiNote)
{
    sendToPad(kWidth * 5 / 8, 3); // inside the third slice
    ASSERT_EQ(m_sent.size(), 1);
    const QString padFolder =
        QFileInfo(Settings::instance()->getFilePath()).absolutePath() + "/pads";
    EXPECT_EQ(m_sent.first(), padFolder + "/loop_3.wav");

    const EngineTestSupport::WrittenFile file = EngineTestSupport::readWritten(m_sent.first());
    ASSERT_TRUE(file.ok);
    EXPECT_EQ(file.frames, kFrames / 4);
    EXPECT_NEAR(peak(file.samples), 0.3f, 0.01f);

    BankSampler* bank = m_engine->getBankSampler();
    ASSERT_TRUE(bank->hasSample(3));
    waitForFill(bank->getSample(3));
    EXPECT_LT(peak(render()), 1e-6f);

    // A note on for 39 on channel 1, decoded as the MIDI input decodes it.
    MidiInputDevice midi(bank, m_engine->getLoopingSamplerBank());
    const PmEvent noteOn{Pm_Message(0x90, 38, 100), 0};
    midi.handleEvents(&noteOn, 1); // pad 2: empty
    EXPECT_LT(peak(render()), 1e-6f);
    const PmEvent note39{Pm_Message(0x90, 39, 100), 0};
    midi.handleEvents(&note39, 1);
    EXPECT_TRUE(bank->getSample(3)->isPlaying());
    EXPECT_NEAR(peak(render()), 0.3f, 0.03f);
}

TEST_F(SampleRendererKerferSendToPadTest, SendingAgainNeverReplacesAnEarlierFile)
{
    sendToPad(kWidth / 8, 0);
    sendToPad(kWidth / 8, 1);
    sendToPad(kWidth * 7 / 8, 1);
    ASSERT_EQ(m_sent.size(), 3);
    const QString padFolder =
        QFileInfo(Settings::instance()->getFilePath()).absolutePath() + "/pads";
    EXPECT_EQ(m_sent, (QStringList{padFolder + "/loop_1.wav", padFolder + "/loop_1-2.wav",
                                   padFolder + "/loop_4.wav"}));
    BankSampler* bank = m_engine->getBankSampler();
    EXPECT_EQ(bank->getSample(0)->getFilename(), m_sent.at(0));
    EXPECT_EQ(bank->getSample(1)->getFilename(), m_sent.at(2));
    EXPECT_NEAR(peak(EngineTestSupport::readWritten(m_sent.at(0)).samples), 0.1f, 0.01f);
    EXPECT_NEAR(peak(EngineTestSupport::readWritten(m_sent.at(2)).samples), 0.4f, 0.01f);

    // Nothing to send outside the audio: no file, no pad change.
    m_engine->getKerfer()->setEndMarker(kLength / 2);
    sendToPad(kWidth * 7 / 8, 5);
    EXPECT_EQ(m_sent.size(), 3);
    EXPECT_FALSE(bank->hasSample(5));
}

} // namespace
