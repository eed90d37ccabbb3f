#include "KerferUI.h"

#include "AboutUI.h"
#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "SampleRendererKerfer.h"
#include "SampleRendererZoombar.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceEngine.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"
#include "ViewTestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTextBrowser>
#include <QTimer>
#include <QToolBar>
#include <QUrl>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <memory>
#include <utility>

using namespace EngineTestSupport;
using namespace SliceTestSupport;

namespace {

QByteArray bytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class KerferUITest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestAudio::scratchDir(ViewTest::testName());
        // No audio device that exists: nothing renders behind the test's back.
        useFreshSettings(m_dir + "/data", silentDevices());
        m_window = std::make_unique<KerferUI>();
        m_window->setFileDialogFunction([this](KerferUI::FileDialog, const QString&,
                                               const QString& directory, const QString&,
                                               QString* selectedFilter) {
            m_asked.append(directory);
            if (selectedFilter)
                *selectedFilter = m_answerFilter;
            return m_answer;
        });
        m_window->setExitFunction([] {});
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        ViewTest::keepGlDriverLoaded();

        // Message boxes are answered as soon as they are up.
        m_boxTimer.setInterval(10);
        QObject::connect(&m_boxTimer, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                m_boxes.append(box->windowTitle() + "|" + box->text());
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

    const Ui_TamberloMainWindow& ui() const { return m_window->getUi(); }
    Kerfer* kerfer() const { return m_window->getEngine()->getKerfer(); }

    QString loadLoop(long frames = 88200)
    {
        const QString path = writeWav(m_dir, "loop.wav", frames);
        m_window->slotLoadAudioFile(path);
        EXPECT_TRUE(waitFilled(kerfer()->getLoop()->getAudioCache().data()));
        return path;
    }

    void key(int key)
    {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &event);
        m_lastKeyAccepted = event.isAccepted();
    }

    // Whether the drag entering and the drop were accepted.
    std::pair<bool, bool> drop(const QStringList& files)
    {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& file : files)
            urls << QUrl::fromLocalFile(file);
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &enter);
        QDropEvent dropped(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &dropped);
        return {enter.isAccepted(), dropped.isAccepted()};
    }

    // Whether everything that needs a loop is in the given state.
    bool loopActions(bool enabled) const
    {
        return !QList<bool>{ui().toolBar->isEnabled(),
                            ui().actionSaveSlices->isEnabled(),
                            ui().actionAdvancedSlicing->isEnabled(),
                            ui().actionExportLoop->isEnabled(),
                            m_window->getKerferRenderer()->isEnabled(),
                            m_window->getZoombar()->isEnabled()}
                    .contains(!enabled);
    }

    QString m_dir;
    std::unique_ptr<KerferUI> m_window;
    QStringList m_asked; // the folders the file dialogs opened at
    QString m_answer;
    QString m_answerFilter;
    QTimer m_boxTimer;
    QStringList m_boxes;
    bool m_lastKeyAccepted = false;
};

TEST_F(KerferUITest, LoopActionsFollowWhetherALoopIsLoaded)
{
    EXPECT_TRUE(loopActions(false));
    EXPECT_TRUE(ui().actionOpen->isEnabled());
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
    EXPECT_EQ(drop({a}), std::make_pair(true, true));
    ASSERT_NE(kerfer()->getLoop(), nullptr);
    EXPECT_EQ(kerfer()->getLoop()->getFilename(), a);
    EXPECT_TRUE(loopActions(true));
    EXPECT_EQ(m_window->windowFilePath(), a);
    EXPECT_EQ(m_window->getZoombar()->getSlice(), kerfer()->getLoop());

    const QString text = m_dir + "/notes.wav";
    ASSERT_TRUE(TestAudio::writeBytes(text, "these are not samples\n"));
    m_window->slotLoadAudioFile(text);
    EXPECT_EQ(m_boxes,
              QStringList{"Error|" + text + " could not be loaded, please try another file."});
    EXPECT_TRUE(loopActions(false));
    // The views show the empty loop the Kerfer holds now, not the one that went.
    EXPECT_EQ(m_window->getKerferRenderer()->getSlice(), kerfer()->getLoop());
    EXPECT_EQ(kerfer()->getLoop()->getLength(), 0u);
    m_window->slotLoadAudioFile(QString()); // no file at all: no box
    EXPECT_EQ(m_boxes.size(), 1);

    loadLoop();
    EXPECT_TRUE(loopActions(true));
}

TEST_F(KerferUITest, TheAudioDialogStartsBesideTheProgramThenWhereTheLastFileWas)
{
    // Not relative to the working directory, which is anything from a desktop.
    m_window->slotLoadAudioFile();
    EXPECT_EQ(m_asked, QStringList{QCoreApplication::applicationDirPath() + "/demo-loops"});

    // The folder is remembered also when the file gave no loop.
    QDir().mkpath(m_dir + "/elsewhere");
    m_answer = m_dir + "/elsewhere/broken.aif";
    ASSERT_TRUE(TestAudio::writeBytes(m_answer, "FORMjunk"));
    m_window->slotLoadAudioFile();
    EXPECT_EQ(m_boxes.size(), 1);

    // Opening stops the loop that plays; cancelling keeps the loop.
    m_answer.clear();
    loadLoop();
    ui().actionPlay->setChecked(true);
    EXPECT_TRUE(kerfer()->getLoop()->isPlaying());
    m_window->slotLoadAudioFile();
    EXPECT_EQ(m_asked.last(), m_dir + "/elsewhere");
    EXPECT_FALSE(ui().actionPlay->isChecked());
    EXPECT_FALSE(kerfer()->getLoop()->isPlaying());
    EXPECT_TRUE(loopActions(true));
}

TEST_F(KerferUITest, DigitKeysPlayTheSlicesThatExistAndThePlayButtonFollows)
{
    loadLoop(88200);
    QSharedPointer<Slice> loop = kerfer()->getLoop();
    QSignalSpy toggled(ui().actionPlay, &QAction::toggled);

    // No slice points: 1 is the whole loop, 2 does not exist.
    key(Qt::Key_2);
    EXPECT_TRUE(m_lastKeyAccepted);
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

    // In four: 3 starts at the second point, 5 does not exist.
    ui().actionSlice4->trigger();
    key(Qt::Key_3);
    EXPECT_TRUE(loop->isPlaying());
    EXPECT_EQ(loop->getPlayPos(), 88200u);
    loop->play(false, 0.0, 1.0);
    key(Qt::Key_5);
    EXPECT_FALSE(loop->isPlaying());
    ui().actionSlice16->trigger();
    key(Qt::Key_9);
    EXPECT_EQ(loop->getPlayPos(), 8 * 11025u);

    for (int other : {Qt::Key_0, Qt::Key_A}) {
        key(other);
        EXPECT_FALSE(m_lastKeyAccepted) << other;
    }
}

TEST_F(KerferUITest, SavedMessagesFitTheStatusBar)
{
    // Up to 40 characters the path shows whole; beyond, the folder is cut to 32.
    const struct
    {
        const char* folder;
        const char* file;
        const char* shown;
    } cases[] = {
        {"/home/someone/loops/kit/session", "kit1.wav", "/home/someone/loops/kit/session/kit1.wav"},
        {"/home/someone/loops/kit/sessions", "kit1.wav",
         "/home/someone/loops/kit/sessions../kit1.wav"},
        {"/a/much/longer/folder/name/that/goes/on/and/on", "x.wav",
         "/a/much/longer/folder/name/that/../x.wav"},
    };
    for (const auto& c : cases) {
        emit m_window->exportSuccessful(c.folder, c.file);
        EXPECT_EQ(m_window->statusBar()->currentMessage().toStdString(),
                  std::string(c.shown) + " successfully saved.");
    }
}

TEST_F(KerferUITest, SaveSlicesWritesNumberedFilesBesideTheChosenName)
{
    loadLoop(88200);
    ui().actionSlice4->trigger();
    QSignalSpy reported(m_window.get(), &KerferUI::exportSuccessful);
    m_window->slotExportSlicesToDisk(); // cancelled
    EXPECT_EQ(m_asked, QStringList{m_dir + "/loop.wav"});
    EXPECT_EQ(reported.count(), 0);

    // A name without suffix takes the chosen filter's.
    QDir().mkpath(m_dir + "/out");
    m_answer = m_dir + "/out/kit";
    m_answerFilter = "AIFF files (*.aif *.aiff)";
    ui().actionSaveSlices->trigger();
    ASSERT_EQ(reported.count(), 4);
    for (int n = 1; n <= 4; ++n) {
        const QString name = QString("kit_%1.aif").arg(n);
        EXPECT_EQ(reported[n - 1], QVariantList({m_dir + "/out", name}));
        const WrittenFile file = readWritten(m_dir + "/out/" + name);
        EXPECT_EQ(file.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << n;
        EXPECT_EQ(file.frames, 22050) << n;
    }

    // The next dialog starts in that folder.
    m_answer.clear();
    m_window->slotExportSlicesToDisk();
    EXPECT_EQ(m_asked.last(), m_dir + "/out/loop.wav");
}

TEST_F(KerferUITest, QuickExportNeverOverwritesAnEarlierExport)
{
    loadLoop(88200);
    ui().actionSlice4->trigger();
    QSignalSpy reported(m_window.get(), &KerferUI::exportSuccessful);
    ui().actionQuickExport->trigger();
    ASSERT_EQ(reported.count(), 4);
    EXPECT_EQ(reported[0], QVariantList({m_dir + "/loop", "loop_1.wav"}));
    const QByteArray first = bytes(m_dir + "/loop/loop_1.wav");
    ASSERT_FALSE(first.isEmpty());

    // The next export goes to a new folder, past a plain file in the way.
    ASSERT_TRUE(TestAudio::writeBytes(m_dir + "/loop 2", "not a folder"));
    ui().actionSlice8->trigger();
    ui().actionQuickExport->trigger();
    ASSERT_EQ(reported.count(), 12);
    EXPECT_EQ(reported[4], QVariantList({m_dir + "/loop 3", "loop_1.wav"}));
    EXPECT_TRUE(QFile::exists(m_dir + "/loop 3/loop_8.wav"));
    EXPECT_FALSE(QFile::exists(m_dir + "/loop/loop_5.wav"));
    EXPECT_EQ(bytes(m_dir + "/loop/loop_1.wav"), first);
    EXPECT_TRUE(m_asked.isEmpty());
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
    // Afterwards nothing plays and the output runs again.
    EXPECT_FALSE(kerfer()->getLoop()->isPlaying());
    EXPECT_FALSE(ui().actionPlay->isChecked());
    EXPECT_NE(m_window->getEngine()->getAudioOutputDevice(), nullptr);
}

TEST_F(KerferUITest, TheAboutBoxNamesTheLibrariesAndTheLicence)
{
    m_window->slotAbout();
    AboutUI* about = m_window->findChild<AboutUI*>();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    const QString text = about->getUi().textBrowser->toPlainText();
    for (const char* name : {"Qt", "PortAudio", "PortMidi", "SoundTouch", "libsndfile", "FFmpeg",
                             "LICENSE", "GNU GPL version 3"})
        EXPECT_TRUE(text.contains(name)) << name;
    about->reject();
}

} // namespace
