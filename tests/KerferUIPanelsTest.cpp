#include "KerferUI.h"

#include "BankSampler.h"
#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "MidiInputDevice.h"
#include "SampleLibraryBrowser.h"
#include "SampleRendererKerfer.h"
#include "SamplerPadWidget.h"
#include "Settings.h"
#include "SliceEngine.h"
#include "ViewTestSupport.h"

#include <QDirModel>
#include <QDockWidget>
#include <QLabel>
#include <QMenu>

#include <cmath>
#include <memory>

using namespace ViewTest;

namespace {

// Four quarters of a sine at amplitudes 0.1 to 0.4: the level of what plays
// tells which slice it is.
float quarters(long frame, int)
{
    const float amplitude = 0.1f * float(frame / (kFrames / 4) + 1);
    return amplitude * float(std::sin(2.0 * M_PI * 441.0 * double(frame) / 44100.0));
}

class KerferUIPanelsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestAudio::scratchDir(testName());
        EngineTestSupport::useFreshSettings(m_dir + "/data", EngineTestSupport::silentDevices());
        open();
    }
    void TearDown() override
    {
        m_window.reset();
        Settings::resetInstanceForTests();
    }
    void open()
    {
        m_window = std::make_unique<KerferUI>();
        m_window->setFileDialogFunction([this](KerferUI::FileDialog kind, const QString&,
                                               const QString&, const QString&, QString*) {
            m_kinds.append(kind);
            return m_answer;
        });
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        keepGlDriverLoaded();
    }
    QDockWidget* dock(const char* name) { return m_window->findChild<QDockWidget*>(name); }
    QString setting(const char* key) { return Settings::instance()->getSetting(key); }
    QString padName(int pad)
    {
        return m_window->getPadWidgets().at(pad)->findChild<QLabel*>("labelName")->text();
    }
    // The loudest sample the engine renders next.
    float peak()
    {
        std::vector<float> buffer(4096);
        float p = 0.0f;
        for (int i = 0; i < 8; ++i) {
            std::fill(buffer.begin(), buffer.end(), 0.0f);
            m_window->getEngine()->render(buffer.data(), buffer.size());
            for (float s : buffer)
                p = std::max(p, std::fabs(s));
        }
        return p;
    }
    // Right-clicks the slice editing view at x and picks the pad from "Send Slice to Pad".
    void sendToPad(int x, int pad)
    {
        press(m_window->getKerferRenderer(), QPoint(x, 50), Qt::RightButton);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions())
            if (action->text() == "Send Slice to Pad")
                action->menu()->actions().at(pad)->trigger();
        menu->hide();
    }

    QString m_dir;
    std::unique_ptr<KerferUI> m_window;
    QString m_answer;
    QList<KerferUI::FileDialog> m_kinds;
};

TEST_F(KerferUIPanelsTest, PanelsStartHiddenAndTheShownOnesAreRemembered)
{
    ASSERT_EQ(m_window->getDockPanels().size(), 3);
    for (QDockWidget* panel : m_window->getDockPanels())
        EXPECT_FALSE(panel->isVisible()) << panel->objectName().toStdString();

    dock("dockPads")->toggleViewAction()->trigger();
    dock("dockLoopers")->toggleViewAction()->trigger();
    EXPECT_TRUE(dock("dockPads")->isVisible());
    EXPECT_EQ(setting("VisibleDockPanels"), "dockPads,dockLoopers");

    // Closing the window is no choice to hide them.
    m_window.reset();
    EXPECT_EQ(setting("VisibleDockPanels"), "dockPads,dockLoopers");
    open();
    EXPECT_TRUE(dock("dockPads")->isVisible());
    EXPECT_TRUE(dock("dockLoopers")->isVisible());
    EXPECT_FALSE(dock("dockSampleLibrary")->isVisible());
    EXPECT_TRUE(dock("dockPads")->toggleViewAction()->isChecked());
    EXPECT_FALSE(dock("dockSampleLibrary")->toggleViewAction()->isChecked());
}

TEST_F(KerferUIPanelsTest, SliceSentToPadPlaysOnItsNoteAndNeverReplacesAFile)
{
    m_window->slotLoadAudioFile(writeLoop(m_dir, quarters));
    waitForFill(m_window->getEngine()->getKerfer()->getLoop());
    m_window->slotUseSliceTemplate4();
    const int w = m_window->getKerferRenderer()->width();

    sendToPad(w * 5 / 8, 3); // inside the third slice
    const QString pads = QFileInfo(Settings::instance()->getFilePath()).absolutePath() + "/pads";
    BankSampler* bank = m_window->getEngine()->getBankSampler();
    ASSERT_TRUE(bank->hasSample(3));
    const QSharedPointer<Slice> sample = bank->getSample(3);
    EXPECT_EQ(sample->getFilename(), pads + "/loop_3.wav");
    EXPECT_EQ(sample->getLength(), kLength / 4);
    EXPECT_EQ(padName(3), "loop_3");
    waitForFill(sample);
    EXPECT_LT(peak(), 1e-6f);

    // Note on 39 on channel 1, decoded as the MIDI input decodes it.
    MidiInputDevice midi(bank, m_window->getEngine()->getLoopingSamplerBank());
    const PmEvent note{Pm_Message(0x90, 39, 100), 0};
    midi.handleEvents(&note, 1);
    EXPECT_TRUE(sample->isPlaying());
    EXPECT_NEAR(peak(), 0.3f, 0.03f);

    // The same slice again takes a new name: the first file stays the pad's.
    sendToPad(w * 5 / 8, 4);
    EXPECT_EQ(bank->getSample(4)->getFilename(), pads + "/loop_3-2.wav");
    EXPECT_TRUE(QFileInfo::exists(pads + "/loop_3.wav"));

    // A new project empties the pads, and their widgets show it.
    m_window->getUi().actionNewProject->trigger();
    EXPECT_FALSE(bank->hasSample(3));
    EXPECT_EQ(padName(3), "Empty");
}

TEST_F(KerferUIPanelsTest, LibraryFolderIsChosenAndOnlyAudioIsPreviewed)
{
    const QString library = m_dir + "/library";
    QDir().mkpath(library + "/kits");
    ASSERT_TRUE(TestAudio::writeFile(library + "/tone.wav", 22050, 2, 44100,
                                     SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                     TestAudio::sine(441.0, 44100)));
    ASSERT_TRUE(TestAudio::writeBytes(library + "/notes.txt", "not audio"));

    QAction* choose = m_window->findChild<QMenu*>("menuWindow")->actions().last();
    choose->trigger(); // cancelled
    EXPECT_EQ(m_kinds, QList<KerferUI::FileDialog>{KerferUI::FileDialog::Directory});
    EXPECT_TRUE(setting("SampleLibPath").isNull());
    m_answer = library;
    choose->trigger();
    EXPECT_EQ(setting("SampleLibPath"), library);
    EXPECT_TRUE(dock("dockSampleLibrary")->isVisible());
    SampleLibraryBrowser* browser = m_window->getLibraryBrowser();
    auto* model = qobject_cast<QDirModel*>(browser->model());
    EXPECT_EQ(model->filePath(browser->rootIndex()), library);

    for (const char* name : {"kits", "notes.txt"}) {
        browser->selectSample(model->index(library + "/" + name));
        EXPECT_LT(peak(), 1e-6f) << name;
    }
    browser->selectSample(model->index(library + "/tone.wav"));
    EXPECT_NEAR(peak(), 0.5f, 0.02f);
}

} // namespace
