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
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

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

float peak(const std::vector<float>& samples)
{
    float p = 0.0f;
    for (float s : samples)
        p = std::max(p, std::fabs(s));
    return p;
}

QStringList texts(const QList<QAction*>& actions)
{
    QStringList result;
    for (QAction* action : actions)
        result << (action->isSeparator() ? QStringLiteral("|") : action->text());
    return result;
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
    QMenu* windowMenu() { return m_window->findChild<QMenu*>("menuWindow"); }
    QDockWidget* dock(const char* name) { return m_window->findChild<QDockWidget*>(name); }
    QString visibleSetting()
    {
        return Settings::instance()->getSetting(KerferUI::kVisibleDockPanelsKey);
    }
    std::vector<float> render(int blocks = 8)
    {
        std::vector<float> out;
        std::vector<float> buffer(4096);
        for (int i = 0; i < blocks; ++i) {
            std::fill(buffer.begin(), buffer.end(), 0.0f);
            m_window->getEngine()->render(buffer.data(), buffer.size());
            out.insert(out.end(), buffer.begin(), buffer.end());
        }
        return out;
    }
    // Right-clicks the slice editing view at x and picks the pad from "Send Slice to Pad".
    void sendToPad(int x, int pad)
    {
        press(m_window->getKerferRenderer(), QPoint(x, 50), Qt::RightButton);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        QMenu* pads = nullptr;
        for (QAction* action : menu->actions())
            if (action->text() == "Send Slice to Pad")
                pads = action->menu();
        ASSERT_NE(pads, nullptr);
        ASSERT_EQ(pads->actions().size(), BankSampler::PadCount);
        EXPECT_EQ(pads->actions().at(3)->text(), "Pad 4 (note 39)");
        pads->actions().at(pad)->trigger();
        menu->hide();
    }

    QString m_dir;
    std::unique_ptr<KerferUI> m_window;
    QList<KerferUI::FileDialog> m_kinds;
    QString m_answer;
};

TEST_F(KerferUIPanelsTest, PanelsStartHiddenAndTheShownOnesAreRemembered)
{
    EXPECT_EQ(texts(m_window->menuBar()->actions()),
              QStringList({"File", "Slice", "Edit", "Window", "Help"}));
    EXPECT_EQ(texts(windowMenu()->actions()), QStringList({"Pads", "Loopers", "Sample Library", "|",
                                                           "Choose Sample Library Folder..."}));
    for (QDockWidget* panel : m_window->getDockPanels())
        EXPECT_FALSE(panel->isVisible()) << panel->objectName().toStdString();

    dock("dockPads")->toggleViewAction()->trigger();
    dock("dockLoopers")->toggleViewAction()->trigger();
    EXPECT_TRUE(dock("dockPads")->isVisible());
    EXPECT_EQ(visibleSetting(), "dockPads,dockLoopers");
    dock("dockPads")->toggleViewAction()->trigger();
    dock("dockPads")->toggleViewAction()->trigger();
    EXPECT_EQ(visibleSetting(), "dockPads,dockLoopers");

    // Closing the window is no choice to hide them.
    m_window.reset();
    EXPECT_EQ(visibleSetting(), "dockPads,dockLoopers");
    open();
    EXPECT_TRUE(dock("dockPads")->isVisible());
    EXPECT_TRUE(dock("dockLoopers")->isVisible());
    EXPECT_FALSE(dock("dockSampleLibrary")->isVisible());
    EXPECT_TRUE(dock("dockPads")->toggleViewAction()->isChecked());
    EXPECT_FALSE(dock("dockSampleLibrary")->toggleViewAction()->isChecked());

    // Pad 0 bottom left, rows of four upwards.
    const QList<SamplerPadWidget*>& pads = m_window->getPadWidgets();
    ASSERT_EQ(pads.size(), BankSampler::PadCount);
    auto* grid = qobject_cast<QGridLayout*>(pads.first()->parentWidget()->layout());
    ASSERT_NE(grid, nullptr);
    for (int i = 0; i < pads.size(); ++i) {
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(grid->indexOf(pads.at(i)), &row, &column, &rows, &columns);
        EXPECT_EQ(pads.at(i)->getPadIndex(), i);
        EXPECT_EQ(row, 3 - i / 4) << i;
        EXPECT_EQ(column, i % 4) << i;
        EXPECT_FALSE(pads.at(i)->isWindow());
    }
}

TEST_F(KerferUIPanelsTest, SliceSentToPadPlaysOnItsNoteAndNeverReplacesAFile)
{
    const QString loop = writeLoop(m_dir, quarters);
    m_window->slotLoadAudioFile(loop);
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
    EXPECT_EQ(m_window->getPadWidgets().at(3)->findChild<QLabel*>("labelName")->text(), "loop_3");
    waitForFill(sample);
    EXPECT_LT(peak(render()), 1e-6f);

    // Note on 39 on channel 1, decoded as the MIDI input decodes it.
    MidiInputDevice midi(bank, m_window->getEngine()->getLoopingSamplerBank());
    const PmEvent note{Pm_Message(0x90, 39, 100), 0};
    midi.handleEvents(&note, 1);
    EXPECT_TRUE(sample->isPlaying());
    EXPECT_NEAR(peak(render()), 0.3f, 0.03f);

    // The same slice again takes a new name: the first file stays the pad's.
    sendToPad(w * 5 / 8, 4);
    EXPECT_EQ(bank->getSample(4)->getFilename(), pads + "/loop_3-2.wav");
    EXPECT_TRUE(QFileInfo::exists(pads + "/loop_3.wav"));

    // A new project empties the pads, and their widgets show it.
    m_window->getUi().actionNewProject->trigger();
    EXPECT_FALSE(bank->hasSample(3));
    EXPECT_EQ(m_window->getPadWidgets().at(3)->findChild<QLabel*>("labelName")->text(), "Empty");
}

TEST_F(KerferUIPanelsTest, LibraryFolderIsChosenAndOnlyAudioIsPreviewed)
{
    const QString library = m_dir + "/library";
    QDir().mkpath(library + "/kits");
    ASSERT_TRUE(TestAudio::writeFile(library + "/tone.wav", 22050, 2, 44100,
                                     SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                     TestAudio::sine(441.0, 44100)));
    ASSERT_TRUE(TestAudio::writeBytes(library + "/notes.txt", "not audio"));

    QAction* choose = windowMenu()->actions().last();
    choose->trigger(); // cancelled
    EXPECT_EQ(m_kinds, QList<KerferUI::FileDialog>{KerferUI::FileDialog::Directory});
    EXPECT_TRUE(Settings::instance()->getSetting("SampleLibPath").isNull());
    m_answer = library;
    choose->trigger();
    EXPECT_EQ(Settings::instance()->getSetting("SampleLibPath"), library);
    EXPECT_TRUE(dock("dockSampleLibrary")->isVisible());
    SampleLibraryBrowser* browser = m_window->getLibraryBrowser();
    auto* model = qobject_cast<QDirModel*>(browser->model());
    EXPECT_EQ(model->filePath(browser->rootIndex()), library);

    for (const char* name : {"kits", "notes.txt"}) {
        browser->selectSample(model->index(library + "/" + name));
        EXPECT_LT(peak(render()), 1e-6f) << name;
    }
    browser->selectSample(model->index(library + "/tone.wav"));
    EXPECT_NEAR(peak(render()), 0.5f, 0.02f);
}

} // namespace
