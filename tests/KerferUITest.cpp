#include "KerferUI.h"

#include "AboutUI.h"
#include "EngineTestSupport.h"
#include "Kerfer.h"
#include "LogCapture.h"
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
#include <QMenu>
#include <QMenuBar>
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

using namespace EngineTestSupport;
using namespace SliceTestSupport;

namespace {

struct FileRequest
{
    KerferUI::FileDialog kind;
    QString caption;
    QString directory;
    QString filter;
};

class KerferUITest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_dir = TestAudio::scratchDir(ViewTest::testName());
        // No audio device that exists: nothing renders behind the test's back.
        useFreshSettings(m_dir + "/data", silentDevices());
        LogCapture::clear();
        m_window = std::make_unique<KerferUI>();
        m_window->setFileDialogFunction([this](KerferUI::FileDialog kind, const QString& caption,
                                               const QString& directory, const QString& filter,
                                               QString* selectedFilter) {
            m_requests.append({kind, caption, directory, filter});
            if (selectedFilter && !m_answerFilter.isEmpty())
                *selectedFilter = m_answerFilter;
            return m_answer;
        });
        m_window->setExitFunction([this] { ++m_exits; });
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        ViewTest::keepGlDriverLoaded();

        // Message boxes are answered with OK as soon as they are up.
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

    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QCoreApplication::sendEvent(m_window.get(), &event);
        m_lastKeyAccepted = event.isAccepted();
    }

    bool loopActionsEnabled() const
    {
        return ui().toolBar->isEnabled() && ui().actionSaveSlices->isEnabled() &&
               ui().actionAdvancedSlicing->isEnabled() && ui().actionExportLoop->isEnabled() &&
               m_window->getKerferRenderer()->isEnabled() && m_window->getZoombar()->isEnabled();
    }
    bool loopActionsDisabled() const
    {
        return !ui().toolBar->isEnabled() && !ui().actionSaveSlices->isEnabled() &&
               !ui().actionAdvancedSlicing->isEnabled() && !ui().actionExportLoop->isEnabled() &&
               !m_window->getKerferRenderer()->isEnabled() && !m_window->getZoombar()->isEnabled();
    }

    QString m_dir;
    std::unique_ptr<KerferUI> m_window;
    QList<FileRequest> m_requests;
    QString m_answer;
    QString m_answerFilter;
    int m_exits = 0;
    QTimer m_boxTimer;
    QStringList m_boxes;
    bool m_lastKeyAccepted = false;
};

QStringList texts(const QList<QAction*>& actions)
{
    QStringList result;
    for (QAction* action : actions)
        result << (action->isSeparator() ? QStringLiteral("|") : action->text());
    return result;
}

TEST_F(KerferUITest, StartsWithoutALoopAndTheLoopActionsDisabled)
{
    EXPECT_EQ(m_window->windowTitle(), "Tamberlo");
    EXPECT_FALSE(m_window->windowIcon().isNull());
    EXPECT_EQ(texts(m_window->menuBar()->actions()),
              QStringList({"File", "Slice", "Edit", "Window", "Help"}));
    EXPECT_EQ(
        texts(ui().menuFile->actions()),
        QStringList({"Open Audio...", "Save Slices...", "Export Loop...", "|", "Open Template...",
                     "Save Template As...", "|", "Project", "|", "Quit"}));
    EXPECT_EQ(texts(ui().menuProject->actions()),
              QStringList({"&New Project", "Open Project...", "Save Project..."}));
    // Every tool bar picture is compiled in.
    for (QAction* action : ui().toolBar->actions())
        EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();

    EXPECT_TRUE(loopActionsDisabled());
    EXPECT_TRUE(ui().actionOpen->isEnabled());
    EXPECT_TRUE(ui().actionOpenSliceTemplate->isEnabled());

    // Nothing to act on: none of these may touch the missing loop.
    m_window->slotExportSlicesToDisk();
    m_window->slotExportSlicesQuick();
    m_window->slotExportLoop();
    m_window->slotSaveSliceTemplate();
    key(Qt::Key_1);
    EXPECT_TRUE(m_requests.isEmpty());

    // Escape gives the keyboard back to the window from anywhere.
    QAction* resetFocus = nullptr;
    for (QAction* action : m_window->actions())
        if (action->text() == "Reset focus")
            resetFocus = action;
    ASSERT_NE(resetFocus, nullptr);
    EXPECT_EQ(resetFocus->shortcut(), QKeySequence(Qt::Key_Escape));
    EXPECT_EQ(resetFocus->shortcutContext(), Qt::ApplicationShortcut);
    ui().menubar->setFocus();
    resetFocus->trigger();
    EXPECT_EQ(m_window->focusWidget(), m_window.get());
}

TEST_F(KerferUITest, ALoadedLoopEnablesTheActionsAndAFailedLoadFallsBack)
{
    const QString path = loadLoop();
    EXPECT_TRUE(loopActionsEnabled());
    EXPECT_EQ(m_window->windowFilePath(), path);
    EXPECT_EQ(m_window->getKerferRenderer()->getSlice(), kerfer()->getLoop());
    EXPECT_EQ(m_window->getZoombar()->getSlice(), kerfer()->getLoop());
    EXPECT_TRUE(m_boxes.isEmpty());

    const QString text = m_dir + "/notes.wav";
    ASSERT_TRUE(TestAudio::writeBytes(text, "these are not samples\n"));
    m_window->slotLoadAudioFile(text);
    ASSERT_EQ(m_boxes.size(), 1);
    EXPECT_EQ(m_boxes.first(), "Error|" + text + " could not be loaded, please try another file.");
    EXPECT_TRUE(loopActionsDisabled());
    // The views show what the Kerfer holds now, not the loop that went.
    EXPECT_EQ(m_window->getKerferRenderer()->getSlice(), kerfer()->getLoop());
    EXPECT_EQ(kerfer()->getLoop()->getLength(), 0u);

    // An empty name is no file at all.
    m_window->slotLoadAudioFile(QString());
    EXPECT_EQ(m_boxes.size(), 1);

    loadLoop();
    EXPECT_TRUE(loopActionsEnabled());
}

TEST_F(KerferUITest, TheAudioDialogStartsAtTheDemoLoopsAndRemembersTheFolder)
{
    Settings* settings = Settings::instance();
    m_window->slotLoadAudioFile();
    ASSERT_EQ(m_requests.size(), 1);
    EXPECT_EQ(m_requests[0].kind, KerferUI::FileDialog::Open);
    EXPECT_EQ(m_requests[0].caption, "Open Audio");
    EXPECT_EQ(m_requests[0].filter, "Audio files (*.mp3 *.m4a *.wav *.aif *.aiff)");
    EXPECT_EQ(m_requests[0].directory,
              QCoreApplication::applicationDirPath() + "/" + KerferUI::kDemoLoopFolder);
    EXPECT_TRUE(settings->getSetting("last_load_path").isEmpty());

    // The folder is remembered also when the file gave no loop.
    QDir().mkpath(m_dir + "/elsewhere");
    m_answer = m_dir + "/elsewhere/broken.aif";
    ASSERT_TRUE(TestAudio::writeBytes(m_answer, "FORMjunk"));
    m_window->slotLoadAudioFile();
    EXPECT_EQ(m_boxes.size(), 1);
    EXPECT_EQ(settings->getSetting("last_load_path"), m_dir + "/elsewhere");

    // Opening stops the loop that plays.
    m_answer.clear();
    loadLoop();
    ui().actionPlay->setChecked(true);
    EXPECT_TRUE(kerfer()->getLoop()->isPlaying());
    m_window->slotLoadAudioFile();
    EXPECT_FALSE(ui().actionPlay->isChecked());
    EXPECT_FALSE(kerfer()->getLoop()->isPlaying());
    EXPECT_EQ(m_requests.last().directory, m_dir + "/elsewhere");
    // Cancelled: the loop and the remembered folder stay.
    EXPECT_TRUE(loopActionsEnabled());
    EXPECT_EQ(settings->getSetting("last_load_path"), m_dir + "/elsewhere");
}

TEST_F(KerferUITest, DigitKeysPlayTheSlicesThatExist)
{
    loadLoop(88200);
    QSharedPointer<Slice> loop = kerfer()->getLoop();

    // No slice points: 1 is the whole loop, 2 does not exist.
    key(Qt::Key_2);
    EXPECT_TRUE(m_lastKeyAccepted);
    EXPECT_FALSE(loop->isPlaying());
    key(Qt::Key_1);
    EXPECT_TRUE(loop->isPlaying());
    EXPECT_EQ(loop->getPlayPos(), 0u);

    // In four: 3 starts at the second point, 5 does not exist.
    ui().actionSlice4->trigger();
    ASSERT_EQ(kerfer()->getSlicePoints(), QList<unsigned long>({44100, 88200, 132300}));
    loop->play(false, 0.0, 1.0);
    key(Qt::Key_3);
    EXPECT_TRUE(loop->isPlaying());
    EXPECT_EQ(loop->getPlayPos(), 88200u);
    loop->play(false, 0.0, 1.0);
    key(Qt::Key_5);
    EXPECT_FALSE(loop->isPlaying());
    key(Qt::Key_4);
    EXPECT_EQ(loop->getPlayPos(), 132300u);

    // Other keys go on to the base class, which does not want them.
    key(Qt::Key_A);
    EXPECT_FALSE(m_lastKeyAccepted);
    key(Qt::Key_0);
    EXPECT_FALSE(m_lastKeyAccepted);

    ui().actionSliceClear->trigger();
    EXPECT_TRUE(kerfer()->getSlicePoints().isEmpty());
}

TEST_F(KerferUITest, ThePlayButtonFollowsTheLoopWithoutTogglingIt)
{
    loadLoop();
    QSignalSpy toggled(ui().actionPlay, &QAction::toggled);
    QSharedPointer<Slice> loop = kerfer()->getLoop();
    ui().actionPlay->trigger();
    EXPECT_TRUE(loop->isPlaying());
    EXPECT_EQ(toggled.count(), 1);

    // The loop stopping by itself unchecks the button and nothing else.
    loop->play(false, 0.0, 1.0);
    EXPECT_FALSE(ui().actionPlay->isChecked());
    EXPECT_EQ(toggled.count(), 1);
    key(Qt::Key_1);
    EXPECT_TRUE(ui().actionPlay->isChecked());
    EXPECT_EQ(toggled.count(), 1);
}

TEST_F(KerferUITest, OnlyASingleDroppedFileIsTaken)
{
    const QString a = writeWav(m_dir, "a.wav", 20000);
    const QString b = writeWav(m_dir, "b.wav", 30000);

    auto drop = [this](const QStringList& files, bool* enterAccepted, bool* dropAccepted) {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString& file : files)
            urls << QUrl::fromLocalFile(file);
        mime.setUrls(urls);
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &enter);
        *enterAccepted = enter.isAccepted();
        QDropEvent dropped(QPointF(50, 50), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window.get(), &dropped);
        *dropAccepted = dropped.isAccepted();
    };

    bool enter = true;
    bool dropped = true;
    drop({a, b}, &enter, &dropped);
    EXPECT_FALSE(enter);
    EXPECT_FALSE(dropped);
    EXPECT_EQ(kerfer()->getLoop(), nullptr);
    EXPECT_TRUE(LogCapture::containsAll({"Drag enter event", "true"}));

    drop({b}, &enter, &dropped);
    EXPECT_TRUE(enter);
    EXPECT_TRUE(dropped);
    ASSERT_NE(kerfer()->getLoop(), nullptr);
    EXPECT_EQ(kerfer()->getLoop()->getFilename(), b);
    EXPECT_TRUE(loopActionsEnabled());

    // Text without files is not something to drop.
    QMimeData text;
    text.setText("hello");
    QDragEnterEvent enterText(QPoint(5, 5), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(m_window.get(), &enterText);
    EXPECT_FALSE(enterText.isAccepted());
    EXPECT_TRUE(LogCapture::containsAll({"Drag enter event", "false"}));
}

TEST_F(KerferUITest, SavedMessagesFitTheStatusBar)
{
    // 31 + 1 + 8 = 40 characters: shown whole.
    const QString folder31 = "/home/someone/loops/kit/session";
    ASSERT_EQ(folder31.size(), 31);
    emit m_window->exportSuccessful(folder31, "kit1.wav");
    EXPECT_EQ(m_window->statusBar()->currentMessage().toStdString(),
              "/home/someone/loops/kit/session/kit1.wav successfully saved.");

    // One more: the folder is cut to 32 characters.
    const QString folder32 = folder31 + "s";
    emit m_window->exportSuccessful(folder32, "kit1.wav");
    EXPECT_EQ(m_window->statusBar()->currentMessage().toStdString(),
              "/home/someone/loops/kit/sessions../kit1.wav successfully saved.");
    emit m_window->exportSuccessful("/a/much/longer/folder/name/that/goes/on/and/on", "x.wav");
    EXPECT_EQ(m_window->statusBar()->currentMessage().toStdString(),
              "/a/much/longer/folder/name/that/../x.wav successfully saved.");
}

TEST_F(KerferUITest, SaveSlicesWritesNumberedFilesBesideTheChosenName)
{
    loadLoop(88200);
    ui().actionSlice4->trigger();
    QSignalSpy reported(m_window.get(), &KerferUI::exportSuccessful);

    // Cancelled: nothing written, nothing remembered.
    m_window->slotExportSlicesToDisk();
    ASSERT_EQ(m_requests.size(), 1);
    EXPECT_EQ(m_requests[0].kind, KerferUI::FileDialog::Save);
    EXPECT_EQ(m_requests[0].directory, m_dir + "/loop.wav");
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
        EXPECT_EQ(file.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << name.toStdString();
        EXPECT_EQ(file.frames, 22050);
    }
    EXPECT_TRUE(m_window->statusBar()->currentMessage().endsWith("kit_4.aif successfully saved."));
    EXPECT_EQ(Settings::instance()->getSetting("last_slice_save_path"), m_dir + "/out");

    // The next dialog starts in that folder.
    m_answer.clear();
    m_window->slotExportSlicesToDisk();
    EXPECT_EQ(m_requests.last().directory, m_dir + "/out/loop.wav");
}

TEST_F(KerferUITest, QuickExportNeverOverwritesAnEarlierExport)
{
    loadLoop(88200);
    ui().actionSlice4->trigger();
    QSignalSpy reported(m_window.get(), &KerferUI::exportSuccessful);

    ui().actionQuickExport->trigger();
    ASSERT_EQ(reported.count(), 4);
    EXPECT_EQ(reported[0], QVariantList({m_dir + "/loop", "loop_1.wav"}));
    const QByteArray first = [&] {
        QFile f(m_dir + "/loop/loop_1.wav");
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    ASSERT_FALSE(first.isEmpty());

    // A second export after changing the slicing goes to a new folder; a
    // plain file in the way of a name is skipped too.
    ASSERT_TRUE(TestAudio::writeBytes(m_dir + "/loop 2", "not a folder"));
    ui().actionSlice8->trigger();
    ui().actionQuickExport->trigger();
    ASSERT_EQ(reported.count(), 12);
    EXPECT_EQ(reported[4], QVariantList({m_dir + "/loop 3", "loop_1.wav"}));
    EXPECT_TRUE(QFile::exists(m_dir + "/loop 3/loop_8.wav"));
    EXPECT_FALSE(QFile::exists(m_dir + "/loop/loop_5.wav"));
    QFile again(m_dir + "/loop/loop_1.wav");
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), first);
    EXPECT_TRUE(m_requests.isEmpty());
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
    ASSERT_EQ(file.samples.size(), 60000u);
    EXPECT_EQ(file.samples, std::vector<float>(expected.begin(), expected.begin() + 60000));
    // Afterwards nothing plays and the output runs again.
    EXPECT_FALSE(kerfer()->getLoop()->isPlaying());
    EXPECT_FALSE(ui().actionPlay->isChecked());
    EXPECT_NE(m_window->getEngine()->getAudioOutputDevice(), nullptr);
}

TEST_F(KerferUITest, SliceTemplatesAndProjectsRememberTheirFolders)
{
    Settings* settings = Settings::instance();
    m_window->slotOpenProject();
    EXPECT_EQ(m_requests.last().directory, ".");
    m_answer = m_dir + "/song";
    m_window->slotSaveProject();
    EXPECT_TRUE(QFile::exists(m_dir + "/song.tmx"));
    EXPECT_EQ(settings->getSetting("last_load_project_path"), m_dir);

    loadLoop();
    ui().actionSlice4->trigger();
    QDir().mkpath(m_dir + "/templates");
    for (const char* name : {"four", "four.tmst", "FOUR.TMST"}) {
        m_answer = m_dir + "/templates/" + QString(name);
        ui().actionSaveSliceTemplateAs->trigger();
    }
    QStringList templates = QDir(m_dir + "/templates").entryList(QDir::Files);
    templates.sort();
    EXPECT_EQ(templates, QStringList({"FOUR.TMST.tmst", "four.tmst"}));
    EXPECT_EQ(settings->getSetting("last_slicetemplate_load_path"), m_dir + "/templates");

    ui().actionSliceClear->trigger();
    m_answer = m_dir + "/templates/four.tmst";
    ui().actionOpenSliceTemplate->trigger();
    EXPECT_EQ(m_requests.last().caption, "Load Slice Template...");
    EXPECT_EQ(m_requests.last().directory, m_dir + "/templates");
    EXPECT_EQ(kerfer()->getSlicePoints().size(), 3);
}

TEST_F(KerferUITest, ClosingAnnouncesClosedThenEndsTheProcessWithoutTheWindow)
{
    // As the application does: the window is gone once closed() returns, and
    // the exit still comes.
    KerferUI* window = m_window.get();
    QObject::connect(window, &KerferUI::closed, [this] { m_window.reset(); });
    window->close();
    EXPECT_EQ(m_window, nullptr);
    EXPECT_EQ(m_exits, 1);
    EXPECT_TRUE(LogCapture::contains("Saving settings"));

    m_window = std::make_unique<KerferUI>();
    m_window->setExitFunction([this] { ++m_exits; });
    QObject::connect(m_window.get(), &KerferUI::closed, [this] { m_window.reset(); });
    LogCapture::clear();
    m_window->findChild<QAction*>("actionQuit")->trigger();
    EXPECT_EQ(m_window, nullptr);
    EXPECT_EQ(m_exits, 2);
    EXPECT_EQ(LogCapture::count("Saving settings"), 1);
}

TEST_F(KerferUITest, TheAboutBoxNamesTheLibrariesAndTheLicence)
{
    m_window->slotAbout();
    AboutUI* about = m_window->findChild<AboutUI*>();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->windowTitle(), "About");
    const QString text = about->getUi().textBrowser->toPlainText();
    for (const char* name : {"Qt", "PortAudio", "PortMidi", "SoundTouch", "libsndfile", "FFmpeg",
                             "LICENSE", "GNU GPL version 3"})
        EXPECT_TRUE(text.contains(name)) << name;
    EXPECT_EQ(about->getUi().label->pixmap(Qt::ReturnByValue).size(), QSize(320, 340));
    about->reject();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(m_window->findChild<AboutUI*>(), nullptr);
}

} // namespace
