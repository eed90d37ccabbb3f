#include "KerferUI.h"

#include "AdvancedSlicingUI.h"
#include "BankSampler.h"
#include "DrumLoops.h"
#include "EngineTestSupport.h"
#include "ExportReport.h"
#include "HitSlicingUI.h"
#include "Kerfer.h"
#include "KerferHistory.h"
#include "KitFiles.h"
#include "LoopHits.h"
#include "MidiInputDevice.h"
#include "PositionReadout.h"
#include "PreferencesUI.h"
#include "SampleLibraryBrowser.h"
#include "SampleRendererKerfer.h"
#include "SampleRendererZoombar.h"
#include "SamplerPadWidget.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceDragOut.h"
#include "SliceEngine.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"
#include "TransportBar.h"
#include "ViewTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirModel>
#include <QDockWidget>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <memory>

using namespace EngineTestSupport;
using namespace SliceTestSupport;
using Points = QList<unsigned long>;

// Readable failures for text comparisons.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

// Quarters of a sine at amplitudes 0.1 to 0.4: the level tells which slice plays.
float quarters(long frame, int)
{
    const float amplitude = 0.1f * float(frame / (ViewTest::kFrames / 4) + 1);
    return amplitude * float(std::sin(2.0 * M_PI * 441.0 * double(frame) / 44100.0));
}

class KerferUITest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestAudio::scratchDir(ViewTest::testName());
        // No audio device that exists: nothing renders behind the test's back.
        useFreshSettings(m_dir + "/data", silentDevices());
        open();
        // Message boxes are answered as soon as they are up.
        m_boxTimer.setInterval(10);
        QObject::connect(&m_boxTimer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                m_boxes.append(box->windowTitle() + "|" + box->text());
                if (QAbstractButton* button = box->button(m_boxAnswer))
                    button->click();
                else
                    box->done(QMessageBox::Ok);
            }
        });
        m_boxTimer.start();
    }

    void TearDown() override
    {
        m_boxTimer.stop();
        m_window.reset();
        Settings::resetInstanceForTests();
    }

    void open()
    {
        m_window = std::make_unique<KerferUI>();
        m_window->setFileDialogFunction([this](KerferUI::FileDialog, const QString&,
                                               const QString& directory, const QString& filter,
                                               QString* selectedFilter) {
            m_asked.append(directory);
            m_filters.append(filter);
            if (selectedFilter)
                *selectedFilter = m_answerFilter;
            return m_answer;
        });
        m_window->setExitFunction([] {});
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    }

    const Ui_TamberloMainWindow& ui() const { return m_window->getUi(); }
    SliceEngine* engine() const { return m_window->getEngine(); }
    Kerfer* kerfer() const { return engine()->getKerfer(); }
    static QString setting(const QString& key) { return Settings::instance()->getSetting(key); }
    QDockWidget* dock(const char* name) { return m_window->findChild<QDockWidget*>(name); }

    QString loadLoop(long frames = 88200)
    {
        const QString path = writeWav(m_dir, "loop.wav", frames);
        m_window->slotLoadAudioFile(path);
        EXPECT_TRUE(waitFilled(kerfer()->getLoop()->getAudioCache().data()));
        return path;
    }

    // Whether the window took the key.
    bool key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QCoreApplication::sendEvent(m_window.get(), &event);
        return event.isAccepted();
    }

    // Whether the drag entering and the drop were accepted.
    std::pair<bool, bool> drop(const QStringList& files)
    {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& file : files)
            urls << QUrl::fromLocalFile(file);
        mime.setUrls(urls);
        return drop(&mime);
    }
    std::pair<bool, bool> drop(const QMimeData* mime)
    {
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &enter);
        QDropEvent dropped(QPointF(50, 50), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &dropped);
        return {enter.isAccepted(), dropped.isAccepted()};
    }

    QAction* action(const char* name) const { return m_window->findChild<QAction*>(name); }
    QString status() const { return m_window->statusBar()->currentMessage(); }

    // Whether everything that needs a loop is in the given state.
    bool loopActions(bool enabled) const
    {
        return !QList<bool>{ui().toolBar->isEnabled(),
                            ui().actionSaveSlices->isEnabled(),
                            ui().actionSaveSliceTemplateAs->isEnabled(),
                            ui().actionAdvancedSlicing->isEnabled(),
                            ui().actionExportLoop->isEnabled(),
                            m_window->getKerferRenderer()->isEnabled(),
                            m_window->getZoombar()->isEnabled()}
                    .contains(!enabled);
    }

    // The loudest sample the engine renders next.
    float peak()
    {
        float p = 0.0f;
        for (int i = 0; i < 8; ++i) {
            std::vector<float> buffer(4096, 0.0f);
            engine()->render(buffer.data(), buffer.size());
            for (float s : buffer)
                p = std::max(p, std::fabs(s));
        }
        return p;
    }

    // A drum loop whose every hit and tempo is known, loaded and analysed.
    DrumLoops::Loop loadDrums(std::uint32_t seed, double seconds = 0.0)
    {
        DrumLoops::Style style;
        style.bars = 2;
        DrumLoops::Loop drums = DrumLoops::make(seed, style);
        const std::vector<float> once = drums.stereo;
        while (drums.stereo.size() < 2 * seconds * drums.rate)
            drums.stereo.insert(drums.stereo.end(), once.begin(), once.end());
        const QString path = m_dir + QString("/drums%1.wav").arg(seed);
        EXPECT_TRUE(DrumLoops::writeWav(drums, path));
        m_window->slotLoadAudioFile(path);
        return drums;
    }
    bool analysed()
    {
        return QTest::qWaitFor(
            [this] { return m_window->getLoopHits()->getState() == LoopHits::State::Ready; },
            120000);
    }
    // Pixels of the preview's colour in the columns around x of the slice editing view.
    int previewPixels(unsigned long point)
    {
        SampleRendererKerfer* view = m_window->getKerferRenderer();
        const QImage image = ViewTest::frame(view);
        const int x = int(view->xOfSample(point));
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            count +=
                ViewTest::nearLine(image, x, y, ViewTest::is(SampleRendererKerfer::kPreviewColour));
        return count;
    }

    // Right-clicks the slice editing view at x and picks the pad from "Send Slice to Pad".
    void sendToPad(int x, int pad)
    {
        ViewTest::press(m_window->getKerferRenderer(), QPoint(x, 50), Qt::RightButton);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions())
            if (action->text() == "Send Slice to Pad") {
                QAction* item = action->menu()->actions().at(pad);
                // Named as the pad names itself.
                EXPECT_EQ(
                    item->text(),
                    m_window->getPadWidgets().at(pad)->findChild<QLabel*>("labelPad")->text());
                item->trigger();
            }
        menu->hide();
    }

    // Advanced slicing's tempo|interval|numerator|denominator|by beats: stores, returns stored.
    static QString slicing(const QString& values = {})
    {
        QStringList stored;
        for (const char* key :
             {"Tempo", "Interval", "TimeSigNumer", "TimeSigDenom", "SliceByBeats"}) {
            const QString name = QString("AdvancedSlicing") + key;
            if (!values.isEmpty())
                Settings::instance()->setSetting(name,
                                                 values.section('|', stored.size(), stored.size()));
            stored << setting(name);
        }
        return stored.join('|');
    }
    static QString slicingShown(const Ui_DialogAdvancedSlicing& ui)
    {
        return QStringList{QString::number(ui.doubleSpinBoxTempo->value()),
                           QString::number(ui.doubleSpinBoxInterval->value()),
                           QString::number(ui.spinBoxTimeSigNumer->value()),
                           QString::number(ui.spinBoxTimeSigDenom->value()),
                           ui.radioButtonBeats->isChecked() ? "1" : "0"}
            .join('|');
    }

    QString m_dir;
    std::unique_ptr<KerferUI> m_window;
    QStringList m_asked; // the folders the file dialogs opened at
    QStringList m_filters;
    QString m_answer, m_answerFilter;
    QTimer m_boxTimer;
    QStringList m_boxes; // title|text of every box shown
    // The answer to a question; a box without that button is closed with OK.
    QMessageBox::StandardButton m_boxAnswer = QMessageBox::Yes;
};

TEST_F(KerferUITest, LoopActionsFollowWhetherALoopIsLoadedHoweverItComes)
{
    EXPECT_TRUE(loopActions(false));
    // Nothing to act on: none of these may touch the missing loop.
    m_window->slotExportSlicesToDisk();
    m_window->slotExportSlicesQuick();
    m_window->slotExportLoop();
    m_window->slotSaveSliceTemplate();
    key(Qt::Key_1);
    EXPECT_TRUE(m_asked.isEmpty());

    // Two files dropped at once are refused; one is loaded.
    const QString a = writeWav(m_dir, "a.wav", 20000);
    EXPECT_EQ(drop({a, writeWav(m_dir, "b.wav", 30000)}), std::make_pair(false, false));
    EXPECT_EQ(kerfer()->getLoop(), nullptr);
    EXPECT_EQ(m_window->windowTitle(), "Tamberlo[*]");
    EXPECT_EQ(drop({a}), std::make_pair(true, true));
    ASSERT_NE(kerfer()->getLoop(), nullptr);
    EXPECT_EQ(kerfer()->getLoop()->getFilename(), a);
    EXPECT_TRUE(loopActions(true));
    EXPECT_EQ(m_window->windowTitle(), "a.wav[*] \u2014 Tamberlo");

    // The audio dialog starts beside the program, not in the working directory, and
    // offers every format the decoder opens. Opening stops the loop that plays; a file
    // that gives no loop says so and leaves the loop, its cuts and the window as they were.
    QDir().mkpath(m_dir + "/elsewhere");
    m_answer = m_dir + "/elsewhere/notes.wav";
    ASSERT_TRUE(TestAudio::writeBytes(m_answer, "these are not samples\n"));
    const QSharedPointer<Slice> dropped = kerfer()->getLoop();
    ui().actionSlice4->trigger();
    kerfer()->setEndMarker(30000);
    ui().actionPlay->setChecked(true);
    ui().actionOpen->trigger();
    EXPECT_EQ(m_asked, QStringList{QCoreApplication::applicationDirPath() + "/demo-loops"});
    for (const char* offered : {"*.flac", "*.ogg", "*.opus", "*.mp3", "*.m4a", ";;All files (*)"})
        EXPECT_TRUE(m_filters.last().contains(offered)) << offered;
    EXPECT_FALSE(dropped->isPlaying());
    EXPECT_EQ(m_boxes,
              QStringList{"Error|" + m_answer + " could not be loaded, please try another file."});
    EXPECT_TRUE(loopActions(true));
    EXPECT_EQ(kerfer()->getLoop(), dropped);
    EXPECT_EQ(m_window->getKerferRenderer()->getSlice(), dropped);
    EXPECT_EQ(kerfer()->getSlicePoints(), Points({10000, 20000, 30000}));
    EXPECT_EQ(kerfer()->getEndMarker(), 30000u);
    EXPECT_EQ(m_window->windowTitle(), "a.wav[*] \u2014 Tamberlo");

    // Its folder is remembered even so; cancelling keeps the loop.
    loadLoop();
    m_answer.clear();
    ui().actionOpen->trigger();
    EXPECT_EQ(m_asked.last(), m_dir + "/elsewhere");
    EXPECT_TRUE(loopActions(true));
}

TEST_F(KerferUITest, DigitKeysPlayTheSlicesThatExistAndThePlayButtonFollows)
{
    loadLoop(88200);
    QSharedPointer<Slice> loop = kerfer()->getLoop();
    QSignalSpy toggled(ui().actionPlay, &QAction::toggled);

    // No slice points: 1 is the whole loop, 2 does not exist.
    EXPECT_TRUE(key(Qt::Key_2));
    EXPECT_FALSE(loop->isPlaying());
    key(Qt::Key_1);
    EXPECT_TRUE(loop->isPlaying());
    EXPECT_EQ(loop->getPlayPos(), 0u);
    // The button shows what the loop does without toggling, which would start
    // or stop it a second time.
    EXPECT_TRUE(ui().actionPlay->isChecked());
    loop->play(false, 0.0, 1.0);
    EXPECT_FALSE(ui().actionPlay->isChecked());
    EXPECT_EQ(toggled.count(), 0);

    // In four: 3 starts at the second point.
    ui().actionSlice4->trigger();
    key(Qt::Key_3);
    EXPECT_TRUE(loop->isPlaying());
    EXPECT_EQ(loop->getPlayPos(), 88200u);
    EXPECT_FALSE(key(Qt::Key_A));
    // 0 is the tenth slice; the numbers are those drawn and exported, so a point
    // before the start marker starts none.
    EXPECT_TRUE(key(Qt::Key_0));
    EXPECT_EQ(loop->getPlayPos(), 88200u);
    ui().actionSlice16->trigger();
    kerfer()->setStartMarker(11026); // past the first point, 11024
    key(Qt::Key_0);
    EXPECT_EQ(loop->getPlayPos(), 10u * 11025);
    EXPECT_EQ(m_window->getReadout()->text(), "Slice 10: start 1.250 s, length 0.125 s");
}

TEST_F(KerferUITest, ShiftDigitPlaysOnToTheEndMarkerAndLoopPlaybackRepeatsTheRegion)
{
    m_window->slotLoadAudioFile(ViewTest::writeLoop(m_dir, quarters));
    ViewTest::waitForFill(kerfer()->getLoop());
    ui().actionSlice4->trigger();
    kerfer()->setEndMarker(3 * ViewTest::kLength / 4);
    // The level of each block the engine renders until the loop stops (or `blocks` blocks).
    const auto levels = [this](int blocks) {
        QList<int> tenths;
        std::vector<float> buffer(4096);
        for (int i = 0; i < blocks && kerfer()->getLoop()->isPlaying(); ++i) {
            std::fill(buffer.begin(), buffer.end(), 0.0f);
            engine()->render(buffer.data(), buffer.size());
            float p = 0.0f;
            for (float s : buffer)
                p = std::max(p, std::fabs(s));
            tenths.append(int(std::lround(p * 10.0f)));
        }
        return tenths;
    };
    // A quarter is 176400 samples, 43 blocks.
    EXPECT_TRUE(key(Qt::Key_2));
    QList<int> heard = levels(400);
    EXPECT_GE(heard.count(2), 42);
    EXPECT_LE(heard.size(), 44);
    EXPECT_EQ(heard.count(3), 0);

    EXPECT_TRUE(key(Qt::Key_2, Qt::ShiftModifier));
    heard = levels(400);
    EXPECT_GE(heard.count(2), 42);
    EXPECT_GE(heard.count(3), 42);
    EXPECT_EQ(heard.count(4), 0);
    EXPECT_LE(heard.size(), 88);

    // Looping, the region between the markers comes round again until stopped.
    m_window->getLoopPlaybackAction()->trigger();
    ui().actionPlay->trigger();
    heard = levels(200);
    EXPECT_EQ(heard.size(), 200);
    EXPECT_GT(heard.mid(130).count(1), 20);
    EXPECT_EQ(heard.count(4), 0);
    ui().actionPlay->trigger();
    EXPECT_FALSE(kerfer()->getLoop()->isPlaying());
}

TEST_F(KerferUITest, UndoRedoNameTheStepAndWorkNotInAProjectIsAskedFor)
{
    QAction* undo = m_window->getUndoAction();
    QAction* redo = m_window->getRedoAction();
    EXPECT_FALSE(undo->isEnabled());
    const QString loopFile = loadLoop(88200);
    EXPECT_FALSE(m_window->isWindowModified()); // an open loop alone is no work to save
    ui().actionSlice8->trigger();
    ui().actionSliceClear->trigger();
    EXPECT_EQ(undo->text(), "Undo Clear Slicing");
    undo->trigger();
    EXPECT_EQ(kerfer()->getSlicePoints().size(), 7);
    EXPECT_EQ(redo->text(), "Redo Clear Slicing");
    EXPECT_TRUE(m_window->isWindowModified());
    slicing("120|0.75|4|4|1");
    AdvancedSlicingUI(m_window.get(), kerfer(), m_window->getHistory()).accept();
    EXPECT_EQ(undo->text(), "Undo Advanced Slicing");

    // Cancelled, nothing happens; saved, the question does not come again.
    engine()->getBankSampler()->loadSample(2, loopFile, 0, 1.0, 0, 0, 0, 1.0f, false, "None");
    m_boxAnswer = QMessageBox::Cancel;
    ui().actionNewProject->trigger();
    EXPECT_EQ(m_boxes, QStringList{"Tamberlo|Save changes to the project?"});
    EXPECT_TRUE(engine()->getBankSampler()->hasSample(2));
    m_window->close();
    EXPECT_TRUE(m_window->isVisible());
    m_boxAnswer = QMessageBox::Save;
    m_answer = m_dir + "/set.tmx";
    ui().actionOpenProject->trigger();
    EXPECT_TRUE(QFile::exists(m_answer));
    EXPECT_FALSE(m_window->isWindowModified());
    EXPECT_EQ(m_boxes.size(), 3);
    // Opened again: the loop and its points come back with a new history.
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_EQ(kerfer()->getSlicePoints().size(), 10);
    ASSERT_TRUE(m_window->getKerferRenderer()->isEnabled());

    // The loop file gone: said so, while the pads load.
    ui().actionSlice4->trigger();
    ASSERT_TRUE(QFile::remove(loopFile));
    m_boxAnswer = QMessageBox::Discard;
    ui().actionOpenProject->trigger();
    EXPECT_EQ(m_boxes.mid(3), QStringList({"Tamberlo|Save changes to the project?",
                                           "Loop Missing|The project's loop " + loopFile +
                                               " is missing or could not be read. The rest of "
                                               "the project was opened."}));
    EXPECT_TRUE(engine()->getBankSampler()->hasSample(2));
}

TEST_F(KerferUITest, TheWholeLoopShowsAt640By400)
{
    m_window->slotLoadAudioFile(ViewTest::writeLoop(m_dir));
    ViewTest::waitForFill(kerfer()->getLoop());
    m_window->resize(640, 400);
    QTest::qWait(50);
    EXPECT_EQ(m_window->size(), QSize(640, 400));
    SampleRendererKerfer* view = m_window->getKerferRenderer();
    EXPECT_GE(view->height(), 100);
    const QImage image = ViewTest::frame(view);
    int green = 0;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (QColor(image.pixel(x, y)).rgb() == QColor(140, 247, 0).rgb()) {
                ++green;
                break;
            }
    EXPECT_GE(green, 630);
}

TEST_F(KerferUITest, SlicesAreSavedBesideTheChosenNameQuickExportNeverOverwritesAndTheStatusBarFits)
{
    loadLoop(88200);
    ui().actionSlice4->trigger();
    QSignalSpy reported(m_window.get(), &KerferUI::exportSuccessful);
    // A name without suffix takes the chosen filter's; the dialog starts at the loop's name.
    QDir().mkpath(m_dir + "/out");
    m_answer = m_dir + "/out/kit";
    m_answerFilter = "AIFF files (*.aif *.aiff)";
    ui().actionSaveSlices->trigger();
    EXPECT_EQ(m_asked, QStringList{m_dir + "/loop.wav"});
    ASSERT_EQ(reported.count(), 4);
    EXPECT_EQ(reported[3], QVariantList({m_dir + "/out", "kit_4.aif"}));
    const WrittenFile kit = readWritten(m_dir + "/out/kit_4.aif");
    EXPECT_EQ(kit.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    EXPECT_EQ(kit.frames, 22050);

    // Quick Export asks nothing; the next goes to a new folder, past a plain file in the way.
    reported.clear();
    ui().actionQuickExport->trigger();
    ASSERT_EQ(reported.count(), 4);
    EXPECT_EQ(reported[0], QVariantList({m_dir + "/loop", "loop_1.wav"}));
    const std::vector<float> first = readWritten(m_dir + "/loop/loop_1.wav").samples;
    ASSERT_EQ(first.size(), 44100u);
    ASSERT_TRUE(TestAudio::writeBytes(m_dir + "/loop 2", "not a folder"));
    ui().actionSlice8->trigger();
    ui().actionQuickExport->trigger();
    ASSERT_EQ(reported.count(), 12);
    EXPECT_EQ(reported[4], QVariantList({m_dir + "/loop 3", "loop_1.wav"}));
    EXPECT_FALSE(QFile::exists(m_dir + "/loop/loop_5.wav"));
    EXPECT_EQ(readWritten(m_dir + "/loop/loop_1.wav").samples, first);
    EXPECT_EQ(m_asked.size(), 1);

    // Up to 40 characters the path shows whole; beyond, the folder is cut to 32.
    EXPECT_EQ(KerferUI::savedMessage("/home/someone/loops/kit/session", "kit1.wav"),
              "/home/someone/loops/kit/session/kit1.wav successfully saved.");
    EXPECT_EQ(KerferUI::savedMessage("/home/someone/loops/kit/sessions", "kit1.wav"),
              "/home/someone/loops/kit/sessions../kit1.wav successfully saved.");
    emit m_window->exportSuccessful("/a/much/longer/folder/name/that/goes/on/and/on", "x.wav");
    EXPECT_EQ(m_window->statusBar()->currentMessage(),
              "/a/much/longer/folder/name/that/../x.wav successfully saved.");
}

TEST_F(KerferUITest, EveryExportAndTemplateSaysWhatItWroteOrWhyNot)
{
    loadLoop(88200);
    ui().actionSlice4->trigger();
    const auto status = [this] { return m_window->statusBar()->currentMessage(); };
    // Nothing is written under the name chosen, so the name proposed is one none of
    // whose numbered files exists; files that do are replaced only when the user says so.
    ASSERT_TRUE(TestAudio::writeBytes(m_dir + "/loop_2.wav", "older"));
    m_answer = m_dir + "/loop.wav";
    m_boxAnswer = QMessageBox::No;
    ui().actionSaveSlices->trigger();
    EXPECT_EQ(m_asked.last(), m_dir + "/loop 2.wav");
    EXPECT_EQ(m_boxes.last(),
              "Save Slices|loop_2.wav already exists in " + m_dir + ". Replace it?");
    EXPECT_FALSE(QFile::exists(m_dir + "/loop_1.wav"));
    m_boxAnswer = QMessageBox::Yes;
    ui().actionSaveSlices->trigger();
    EXPECT_EQ(readWritten(m_dir + "/loop_2.wav").frames, 22050);
    EXPECT_EQ(status(), "4 slices saved in " + m_dir + ": loop_1.wav to loop_4.wav.");

    // Failures name the file and the reason.
    m_boxes.clear();
    m_answer = m_dir + "/missing/kit.wav";
    ui().actionSaveSlices->trigger();
    m_answer = m_dir + "/missing/whole.wav";
    ui().actionExportLoop->trigger();
    emit m_window->getKerferRenderer()->sliceNotSaved(m_dir + "/missing/one.wav", "no room");
    m_answer = m_dir + "/loop.wav";
    ui().actionOpenSliceTemplate->trigger();
    EXPECT_EQ(m_boxes,
              QStringList(
                  {"Save Slices|4 of 4 slices numbered after " + m_dir +
                       "/missing/kit.wav were not saved: cannot create the file: No such "
                       "file or directory.",
                   "Export Loop|" + m_dir +
                       "/missing/whole.wav was not saved: cannot create the file: No such file or "
                       "directory.",
                   "Save Slice|" + m_dir + "/missing/one.wav was not saved: no room.",
                   "Open Template|The slice template " + m_dir +
                       "/loop.wav was not applied: it is not a slice template."}));

    m_answer = m_dir + "/cuts";
    ui().actionSaveSliceTemplateAs->trigger();
    EXPECT_EQ(status(), "Slice template saved as " + m_dir + "/cuts.tmst.");
    ui().actionSliceClear->trigger();
    m_answer = m_dir + "/cuts.tmst";
    ui().actionOpenSliceTemplate->trigger();
    EXPECT_EQ(status(), "Slice template cuts.tmst applied: 3 slice points.");
    EXPECT_EQ(m_boxes.size(), 4);
}

TEST_F(KerferUITest, ExportLoopWritesTheLoopFromItsStart)
{
    const QString path = loadLoop(30000);
    QSharedPointer<Slice> alone = loadFilled(path);
    alone->play(true, 0.0, 1.0);
    const std::vector<float> expected = renderAll(*alone, 512, 120);
    ASSERT_GE(expected.size(), 60000u);
    QSignalSpy reported(m_window.get(), &KerferUI::exportSuccessful);

    // Even with the loop already playing from somewhere in the middle.
    kerfer()->playSlice(0);
    std::vector<float> skip(8000, 0.0f);
    kerfer()->render(skip.data(), 8000);

    m_answer = m_dir + "/whole";
    ui().actionExportLoop->trigger();
    ASSERT_EQ(reported.count(), 1);
    EXPECT_EQ(reported[0], QVariantList({m_dir, "whole.wav"}));
    const WrittenFile file = readWritten(m_dir + "/whole.wav");
    EXPECT_EQ(file.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(file.samples, std::vector<float>(expected.begin(), expected.begin() + 60000));
    // Afterwards nothing plays.
    EXPECT_FALSE(kerfer()->getLoop()->isPlaying());
    EXPECT_FALSE(ui().actionPlay->isChecked());
}

TEST_F(KerferUITest, PanelsStartHiddenAndTheShownOnesAreRemembered)
{
    auto shown = [this] {
        QStringList names;
        for (QDockWidget* panel : m_window->getDockPanels())
            if (panel->isVisible())
                names << panel->objectName();
        return names.join(',');
    };
    EXPECT_EQ(shown(), "");
    const int waveform = m_window->getKerferRenderer()->height();
    dock("dockPads")->toggleViewAction()->trigger();
    // The window grows for the panel rather than squeezing the waveform.
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return m_window->getKerferRenderer()->height() == waveform; }, 5000));
    dock("dockLoopers")->toggleViewAction()->trigger();
    dock("dockSampleLibrary")->toggleViewAction()->trigger();
    // Below the waveform, which keeps the whole width of the window.
    m_window->resize(900, 760);
    QCoreApplication::processEvents();
    for (const char* name : {"dockPads", "dockLoopers", "dockSampleLibrary"})
        EXPECT_EQ(m_window->dockWidgetArea(dock(name)), Qt::BottomDockWidgetArea) << name;
    EXPECT_EQ(m_window->getKerferRenderer()->width(), m_window->width());
    dock("dockSampleLibrary")->toggleViewAction()->trigger();
    const QSize size = m_window->size();
    EXPECT_EQ(size.width(), 900);
    // Closing the window is no choice to hide them; its size is kept too.
    m_window->close();
    m_window.reset();
    open();
    EXPECT_EQ(shown(), "dockPads,dockLoopers");
    EXPECT_EQ(m_window->size(), size);
}

TEST_F(KerferUITest, SliceSentToPadPlaysOnItsNoteAndNeverReplacesAFile)
{
    m_window->slotLoadAudioFile(ViewTest::writeLoop(m_dir, quarters));
    ViewTest::waitForFill(kerfer()->getLoop());
    ui().actionSlice4->trigger();
    const int x = m_window->getKerferRenderer()->width() * 5 / 8; // inside the third slice

    sendToPad(x, 3);
    const QString pads = QFileInfo(Settings::instance()->getFilePath()).absolutePath() + "/pads";
    BankSampler* bank = engine()->getBankSampler();
    ASSERT_TRUE(bank->hasSample(3));
    const QSharedPointer<Slice> sample = bank->getSample(3);
    EXPECT_EQ(sample->getFilename(), pads + "/loop_3.wav");
    EXPECT_EQ(sample->getLength(), ViewTest::kLength / 4);
    EXPECT_EQ(m_window->getPadWidgets().at(3)->findChild<QLabel*>("labelName")->text(), "loop_3");
    // The pad names its number and note as the menu did.
    EXPECT_EQ(m_window->getPadWidgets().at(3)->findChild<QLabel*>("labelPad")->text(),
              "Pad 4 \u00b7 D#1 (39)");
    ViewTest::waitForFill(sample);
    EXPECT_LT(peak(), 1e-6f);

    // Note on 39 on channel 1, decoded as the MIDI input decodes it.
    MidiInputDevice midi(bank, engine()->getLoopingSamplerBank());
    const PmEvent note{Pm_Message(0x90, 39, 100), 0};
    midi.handleEvents(&note, 1);
    EXPECT_TRUE(sample->isPlaying());
    EXPECT_NEAR(peak(), 0.3f, 0.03f);

    // The same slice again takes a new name: the first file stays the pad's.
    sendToPad(x, 4);
    EXPECT_EQ(bank->getSample(4)->getFilename(), pads + "/loop_3-2.wav");
    EXPECT_TRUE(QFileInfo::exists(pads + "/loop_3.wav"));

    // All slices at once, slice n on pad n, in the panel.
    action("actionSlicesToPads")->trigger();
    EXPECT_EQ(status(), "Slices 1 to 4 sent to pads 1 to 4.");
    EXPECT_TRUE(dock("dockPads")->isVisible());
    EXPECT_EQ(m_window->getPadWidgets().at(2)->findChild<QLabel*>("labelName")->text(), "loop_3-3");
}

TEST_F(KerferUITest, TheSliceFileFormatChosenInPreferencesIsWhatSaveSlicesWrites)
{
    {
        PreferencesUI dialog(m_window.get(), engine());
        const Ui_DialogPreferences10& ui = dialog.getUi();
        // Slices as they have always been written, until chosen otherwise.
        EXPECT_EQ(
            QStringList({ui.comboBoxSliceSample->currentText(), ui.comboBoxSliceRate->currentText(),
                         ui.comboBoxSliceContainer->currentText()}),
            QStringList({"16-bit", "44.1 kHz", "WAV"}));
        ui.comboBoxSliceSample->setCurrentIndex(2);
        // FLAC holds no floating point: its most, 24-bit, instead.
        ui.comboBoxSliceContainer->setCurrentIndex(2);
        EXPECT_EQ(ui.comboBoxSliceSample->currentText(), "24-bit");
        ui.comboBoxSliceRate->setCurrentIndex(1);
        // The devices re-opened on OK stay the silent ones.
        ui.comboBoxAudioDevice->addItem(setting("AudioDevice"));
        ui.comboBoxAudioDevice->setCurrentIndex(ui.comboBoxAudioDevice->count() - 1);
        dialog.slotAccept();
    }
    EXPECT_EQ(setting("SliceFileContainer") + setting("SliceFileSample") + setting("SliceFileRate"),
              "flac24keep");

    const QString loop = writeWav(m_dir, "loop48.wav", 96000, 2, 48000);
    m_window->slotLoadAudioFile(loop);
    ASSERT_TRUE(waitFilled(kerfer()->getLoop()->getAudioCache().data()));
    ui().actionSlice4->trigger();
    // A name typed without a suffix takes the chosen container's.
    m_answer = m_dir + "/kit";
    ui().actionSaveSlices->trigger();
    EXPECT_EQ(m_asked.last(), m_dir + "/loop48.flac");
    EXPECT_TRUE(m_filters.last().contains("FLAC files (*.flac)"));
    const WrittenFile last = readWritten(m_dir + "/kit_4.flac");
    EXPECT_EQ(last.format, SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(last.rate, 48000);
    EXPECT_EQ(last.frames, 24000);
}

TEST_F(KerferUITest, TheExportMenuWritesKitGrooveAndMarkedLoopAndSaysWhatItWrote)
{
    const QString loop = loadLoop(176400);
    ui().actionSlice4->trigger();
    const QString kits = m_dir + "/kits";
    QDir().mkpath(kits);
    const QString shown = ExportReport::shownFolder(kits);

    // The kit: the slices, the .sfz naming them, and the groove beside it.
    m_answer = kits + "/beat";
    action("actionExportKit")->trigger();
    EXPECT_EQ(m_asked.last(), m_dir + "/loop.sfz");
    EXPECT_EQ(status(), "Wrote 4 slices, beat.sfz and beat.mid to " + shown);
    // And it is there to read, not squeezed out by the readout beside it.
    const QImage bar = m_window->statusBar()->grab().toImage();
    int ink = 0;
    for (int x = 0; x < bar.width() / 2; ++x)
        for (int y = 0; y < bar.height(); ++y)
            ink += qGray(bar.pixel(x, y)) < 100;
    EXPECT_GT(ink, 50);
    // At the tempo the window shows.
    EXPECT_EQ(KitFiles::parseMidi(readBytes(kits + "/beat.mid")).tempo,
              quint32(std::lround(60e6 / m_window->getReadout()->tempo())));
    // Again, it asks before replacing; refused, it writes nothing.
    m_boxAnswer = QMessageBox::No;
    QFile::remove(kits + "/beat.mid");
    action("actionExportKit")->trigger();
    EXPECT_EQ(m_boxes.last(), "SFZ Kit|beat_1.wav, beat_2.wav, beat_3.wav, beat_4.wav, 1 more "
                              "already exist in " +
                                  kits + ". Replace them?");
    EXPECT_FALSE(QFileInfo::exists(kits + "/beat.mid"));

    // The groove alone, and the loop with its markers, which opens with the same slicing.
    m_answer = kits + "/groove";
    action("actionExportGroove")->trigger();
    EXPECT_EQ(status(), "Wrote groove.mid to " + shown);
    m_answer = kits + "/marked.wav";
    action("actionExportMarkedLoop")->trigger();
    EXPECT_EQ(m_asked.last(), kits + "/loop_markers.wav");
    EXPECT_EQ(status(), "Wrote marked.wav to " + shown);
    const Points points = kerfer()->getSlicePoints();
    m_window->slotLoadAudioFile(kits + "/marked.wav");
    EXPECT_EQ(kerfer()->getSlicePoints(), points);

    // What cannot be written is named with the reason.
    m_answer = m_dir + "/missing/groove.mid";
    action("actionExportGroove")->trigger();
    EXPECT_EQ(m_boxes.last(), "MIDI Groove|" + m_answer +
                                  " was not saved: cannot create the file: No such file or "
                                  "directory.");
    EXPECT_TRUE(status().startsWith("Nothing written to ")) << status().toStdString();
}

TEST_F(KerferUITest, ADraggedSliceIsOfferedAsAFileHoldingExactlyItAndIsNotOpenedWhenDroppedBack)
{
    const QString path = ViewTest::writeLoop(m_dir, quarters);
    m_window->slotLoadAudioFile(path);
    ViewTest::waitForFill(kerfer()->getLoop());
    ui().actionSlice4->trigger();
    std::vector<std::unique_ptr<QMimeData>> offered;
    SampleRendererKerfer* view = m_window->getKerferRenderer();
    TransportBar* bar = m_window->getTransportBar();
    for (SliceDragOut* drag : {view->getSliceDrag(), bar->getSliceDrag()})
        drag->setDragFunction([&offered](QWidget*, std::unique_ptr<QMimeData> data) {
            offered.push_back(std::move(data));
        });
    const QString dragged =
        QFileInfo(Settings::instance()->getFilePath()).absolutePath() + "/dragged";
    const QPoint third(view->width() * 5 / 8, 50);
    const QPoint beyond = third + QPoint(QApplication::startDragDistance() + 40, 0);

    // A click, or a drag without Ctrl, writes nothing; with Ctrl a short move neither.
    ViewTest::click(view, third);
    ViewTest::drag(view, third, beyond);
    ViewTest::press(view, third, Qt::LeftButton, Qt::ControlModifier);
    ViewTest::dragTo(view, third + QPoint(1, 0));
    ViewTest::release(view, third + QPoint(1, 0));
    EXPECT_TRUE(offered.empty());
    EXPECT_TRUE(QDir(dragged).entryList(QDir::Files).isEmpty());

    ViewTest::press(view, third, Qt::LeftButton, Qt::ControlModifier);
    ViewTest::dragTo(view, beyond);
    ASSERT_EQ(offered.size(), 1u);
    EXPECT_TRUE(offered[0]->hasFormat("text/uri-list"));
    ASSERT_EQ(offered[0]->urls().size(), 1);
    EXPECT_EQ(offered[0]->urls()[0].toLocalFile(), dragged + "/loop_3.wav");
    EXPECT_EQ(readWritten(dragged + "/loop_3.wav").frames, long(ViewTest::kFrames / 4));

    // From the ruler, the slice under the press.
    ViewTest::press(bar, QPoint(third.x() / 2, 3));
    ViewTest::dragTo(bar, QPoint(third.x() / 2, 60));
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[1]->urls()[0].toLocalFile(), dragged + "/loop_2.wav");

    // Dropped back on the window it is refused, and the loop stays.
    EXPECT_EQ(drop(offered[1].get()), std::make_pair(false, false));
    EXPECT_EQ(kerfer()->getLoop()->getFilename(), path);
}

TEST_F(KerferUITest, LibraryFolderIsChosenAndOnlyAudioIsPreviewed)
{
    const QString library = m_dir + "/library";
    QDir().mkpath(library + "/kits");
    ASSERT_TRUE(TestAudio::writeFile(library + "/tone.wav", 22050, 2, 44100,
                                     SF_FORMAT_WAV | SF_FORMAT_PCM_16,
                                     TestAudio::sine(441.0, 44100)));
    ASSERT_TRUE(TestAudio::writeBytes(library + "/notes.txt", "not audio"));
    ASSERT_TRUE(TestAudio::writeFile(library + "/tone.flac", 22050, 1, 44100,
                                     SF_FORMAT_FLAC | SF_FORMAT_PCM_16,
                                     TestAudio::sine(441.0, 44100)));

    m_answer = library;
    m_window->findChild<QMenu*>("menuWindow")->actions().last()->trigger();
    EXPECT_EQ(setting("SampleLibPath"), library);
    EXPECT_TRUE(dock("dockSampleLibrary")->isVisible());
    SampleLibraryBrowser* browser = m_window->getLibraryBrowser();
    auto* model = qobject_cast<QDirModel*>(browser->model());
    EXPECT_EQ(model->filePath(browser->rootIndex()), library);

    for (const char* name : {"kits", "notes.txt"}) {
        browser->selectSample(model->index(library + "/" + name));
        EXPECT_LT(peak(), 1e-6f) << name;
    }
    for (const char* name : {"tone.wav", "tone.flac"}) {
        browser->selectSample(model->index(library + "/" + name));
        EXPECT_NEAR(peak(), 0.5f, 0.02f) << name;
    }
}

TEST_F(KerferUITest, AdvancedSlicingRestoresAndStoresItsSettingsAndSlicesAsChosen)
{
    // Unreadable or out of range: default or clamped; stored even with no loop to slice.
    slicing("fast|0.01||400|x");
    {
        AdvancedSlicingUI dialog(m_window.get(), kerfer());
        EXPECT_EQ(slicingShown(dialog.getUi()), "120|0.25|4|99|1");
        dialog.accept();
        EXPECT_EQ(slicing(), "120|0.25|4|99|1");
    }

    loadLoop(352800); // four seconds: 705600 samples
    slicing("90.5|2.5|3|8|0");
    {
        AdvancedSlicingUI dialog(m_window.get(), kerfer());
        const Ui_DialogAdvancedSlicing& ui = dialog.getUi();
        EXPECT_EQ(slicingShown(ui), "90.5|2.5|3|8|0");
        EXPECT_EQ(ui.labelSlicingAction->text(), "Slicing every 2.5 bars.");
        // 1 bar of 6 beats at 120: 264600 samples, the denominator aside.
        ui.doubleSpinBoxTempo->setValue(120.0);
        ui.doubleSpinBoxInterval->setValue(1.0);
        ui.spinBoxTimeSigNumer->setValue(6);
        ui.spinBoxTimeSigDenom->setValue(16);
        ui.buttonBox->button(QDialogButtonBox::Ok)->click();
        EXPECT_EQ(kerfer()->getSlicePoints(), Points({264600, 529200}));
        EXPECT_EQ(slicing(), "120|1|6|16|0");
    }
    slicing("120|2|6|16|1");
    AdvancedSlicingUI(m_window.get(), kerfer()).accept();
    EXPECT_EQ(kerfer()->getSlicePoints(),
              Points({88200, 176400, 264600, 352800, 441000, 529200, 617400}));

    // Asked to, it moves the points it adds to the nearest crossing, and only those.
    m_window->slotLoadAudioFile(ViewTest::writeLoop(m_dir, ViewTest::fiftyHz));
    ViewTest::waitForFill(kerfer()->getLoop());
    kerfer()->addSlicePoint(1000);
    AdvancedSlicingUI dialog(m_window.get(), kerfer());
    dialog.getUi().checkBoxSnap->setChecked(true);
    dialog.accept();
    const Points points = kerfer()->getSlicePoints();
    ASSERT_EQ(points.size(), 8);
    EXPECT_EQ(points.first(), 1000u);
    EXPECT_NEAR(double(points.at(1)), 88200 + 100, 2.0);
    EXPECT_EQ(setting("AdvancedSlicingSnapToZeroCrossings"), "1");
}

TEST_F(KerferUITest, SliceAtHitsPreviewsAppliesAsOneStepAndTheEstimatedTempoIsUsed)
{
    const DrumLoops::Loop drums = loadDrums(7);
    ASSERT_TRUE(analysed());
    const double bpm = m_window->getLoopHits()->getTempo();
    ASSERT_NEAR(bpm, drums.bpm, 0.05);
    EXPECT_EQ(m_window->findChild<QLabel*>("labelTempo")->text(),
              QString("Tempo: %1 bpm (estimated)").arg(drums.bpm, 0, 'f', 1));
    EXPECT_EQ(m_window->getReadout()->tempo(), bpm);
    ui().actionAdvancedSlicing->trigger();
    auto* advanced = m_window->findChild<AdvancedSlicingUI*>();
    ASSERT_NE(advanced, nullptr);
    EXPECT_NEAR(advanced->getUi().doubleSpinBoxTempo->value(), bpm, 0.005);
    advanced->reject();

    // Previewed in its own colour as the slider moves; the points stay as they are.
    ui().actionSlice4->trigger();
    const Kerfer::Cuts before = kerfer()->getCuts();
    QSignalSpy changed(kerfer(), &Kerfer::slicePointsChanged);
    ui().actionSliceAtHits->trigger();
    HitSlicingUI* panel = m_window->getHitSlicing();
    ASSERT_NE(panel, nullptr);
    QSlider* slider = panel->getUi().sliderSensitivity;
    EXPECT_EQ(slider->value(), 50);
    const Points atHalf = panel->getPreview();
    EXPECT_EQ(atHalf, m_window->getLoopHits()->cutsAt(50));
    ASSERT_GE(atHalf.size(), 8);
    EXPECT_GT(previewPixels(atHalf.at(1)), ViewTest::kHeight / 3);
    slider->setValue(0);
    EXPECT_LT(panel->getPreview().size(), atHalf.size());
    slider->setValue(50);
    kerfer()->setEndMarker(atHalf.at(3));
    QCoreApplication::processEvents();
    EXPECT_EQ(panel->getPreview(), atHalf.mid(0, 3));
    kerfer()->setEndMarker(before.endMarker);
    QCoreApplication::processEvents();
    EXPECT_EQ(kerfer()->getSlicePoints(), before.points);
    EXPECT_EQ(changed.count(), 0);

    // Cancel: nothing changed, nothing remembered, no preview.
    panel->getUi().buttonBox->button(QDialogButtonBox::Cancel)->click();
    EXPECT_EQ(kerfer()->getCuts(), before);
    EXPECT_EQ(previewPixels(atHalf.at(1)), 0);
    EXPECT_TRUE(setting(HitSlicingUI::kSensitivityKey).isEmpty());

    // Apply: the cuts in place of the points between the markers, one announcement, one step.
    ui().actionSliceAtHits->trigger();
    panel = m_window->getHitSlicing();
    panel->getUi().sliderSensitivity->setValue(70);
    const Points expected = panel->getPreview();
    panel->getUi().buttonBox->button(QDialogButtonBox::Apply)->click();
    EXPECT_EQ(kerfer()->getSlicePoints(), expected);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(m_window->getUndoAction()->text(), "Undo Slice at Hits");
    m_window->getUndoAction()->trigger();
    EXPECT_EQ(kerfer()->getCuts(), before);

    // Remembered as applied; an edited value is kept to the slider's range, no number gives the
    // default.
    EXPECT_EQ(setting(HitSlicingUI::kSensitivityKey), "70");
    EXPECT_EQ(HitSlicingUI::storedSensitivity(), 70);
    for (const auto& [stored, used] : {std::pair{"101", 100}, {"-1", 0}, {"loud", 50}}) {
        Settings::instance()->setSetting(HitSlicingUI::kSensitivityKey, stored);
        EXPECT_EQ(HitSlicingUI::storedSensitivity(), used) << stored;
    }
    // A tempo the user slices at is the loop's until another loop loads.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ui().actionAdvancedSlicing->trigger();
    advanced = m_window->findChild<AdvancedSlicingUI*>();
    ASSERT_NE(advanced, nullptr);
    advanced->getUi().doubleSpinBoxTempo->setValue(100.0);
    advanced->accept();
    EXPECT_EQ(m_window->getReadout()->tempo(), 100.0);
    loadDrums(7);
    ASSERT_TRUE(analysed());
    EXPECT_EQ(m_window->getReadout()->tempo(), bpm);
}

TEST_F(KerferUITest, ALoopLoadedOrTheWindowClosedDuringAnAnalysisCancelsIt)
{
    loadDrums(3, 60.0);
    ViewTest::waitForFill(kerfer()->getLoop());
    ui().actionSliceAtHits->trigger();
    HitSlicingUI* panel = m_window->getHitSlicing();
    EXPECT_EQ(panel->getUi().labelStatus->text(), "Analysing the loop...");
    EXPECT_FALSE(panel->getUi().buttonBox->button(QDialogButtonBox::Apply)->isEnabled());

    // The panel follows to the new loop, and only its analysis counts.
    const DrumLoops::Loop drums = loadDrums(4);
    ASSERT_TRUE(analysed());
    EXPECT_EQ(panel->getPreview(), m_window->getLoopHits()->cutsAt(50));
    EXPECT_FALSE(panel->getPreview().isEmpty());
    EXPECT_EQ(panel->getUi().labelStatus->text(),
              QString("%1 slices between the markers").arg(panel->getPreview().size() + 1));
    EXPECT_NEAR(m_window->getLoopHits()->getTempo(), drums.bpm, 0.05);

    loadDrums(3, 60.0);
    ViewTest::waitForFill(kerfer()->getLoop());
    EXPECT_EQ(m_window->getLoopHits()->getState(), LoopHits::State::Analysing);
    EXPECT_TRUE(panel->getPreview().isEmpty());
    EXPECT_EQ(m_window->findChild<QLabel*>("labelTempo")->text(), "");
    m_window.reset();
}

TEST_F(KerferUITest, PreferencesShowABufferSizeThePreviewTakes)
{
    auto shown = [this] {
        return PreferencesUI(m_window.get(), engine()).getUi().spinBoxBufferSize->value();
    };
    EXPECT_EQ(shown(), 2048);
    // 4096 is the most the preview takes in one piece.
    for (const auto& [stored, expected] : {std::pair("0", 2048), std::pair("8192", 4096)}) {
        Settings::instance()->setSetting("AudioDeviceBufferSize", stored);
        EXPECT_EQ(shown(), expected) << stored;
    }
}

} // namespace
