#include "KerferUI.h"

#include "AboutUI.h"
#include "AdvancedSlicingUI.h"
#include "AudioFormats.h"
#include "BankSampler.h"
#include "FileMessages.h"
#include "HitSlicingUI.h"
#include "Kerfer.h"
#include "KerferHistory.h"
#include "KitExporter.h"
#include "LoopHits.h"
#include "LoopingSamplerBankWidget.h"
#include "PadNames.h"
#include "PositionReadout.h"
#include "PreferencesUI.h"
#include "ProjectChanges.h"
#include "SampleLibraryBrowser.h"
#include "SampleRendererKerfer.h"
#include "SampleRendererZoombar.h"
#include "SamplerPadWidget.h"
#include "Settings.h"
#include "Slice.h"
#include "SliceDragOut.h"
#include "SliceEngine.h"
#include "SliceFileFilters.h"
#include "SliceFileFormat.h"
#include "SliceNaming.h"
#include "TransportBar.h"
#include "ZeroCrossingSnap.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QDirModel>
#include <QDockWidget>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTimer>
#include <QUndoStack>
#include <QUrl>

#include <algorithm>
#include <cstdlib>

const char* const KerferUI::kDemoLoopFolder = "demo-loops";
const char* const KerferUI::kVisibleDockPanelsKey = "VisibleDockPanels";
const char* const KerferUI::kWindowGeometryKey = "WindowGeometry";
const char* const KerferUI::kWindowLayoutKey = "WindowLayout";

namespace {

const char* const kLastLoadPath = "last_load_path";
const char* const kLastProjectPath = "last_load_project_path";
const char* const kLastTemplatePath = "last_slicetemplate_load_path";
const char* const kTemplateSuffix = "tmst";
// The status bar shows the whole path up to this length; beyond it the folder
// is cut to kShortFolderLength characters.
const int kMaxWholeMessageLength = 40;
const int kShortFolderLength = 32;
const int kSavedMessageTimeoutMs = 2000;
// What an export or a template did stays long enough to be read.
const int kReportTimeoutMs = 6000;
// The pad panel's grid, four pads to a row.
const int kPadColumns = 4;

QString setting(const char* key)
{
    return Settings::instance()->getSetting(QString::fromLatin1(key));
}

void setSetting(const char* key, const QString& value)
{
    Settings::instance()->setSetting(QString::fromLatin1(key), value);
}

QString platformFileDialog(KerferUI* window, KerferUI::FileDialog kind, const QString& caption,
                           const QString& directory, const QString& filter, QString* selectedFilter)
{
    if (kind == KerferUI::FileDialog::Open)
        return QFileDialog::getOpenFileName(window, caption, directory, filter, selectedFilter);
    if (kind == KerferUI::FileDialog::Directory)
        return QFileDialog::getExistingDirectory(window, caption, directory);
    // The numbered files are asked about once their names are known.
    const QFileDialog::Options options = kind == KerferUI::FileDialog::SaveNumbered
                                             ? QFileDialog::DontConfirmOverwrite
                                             : QFileDialog::Options();
    return QFileDialog::getSaveFileName(window, caption, directory, filter, selectedFilter,
                                        options);
}

} // namespace

KerferUI::KerferUI() : QMainWindow(), m_pStackedWidget(new QStackedWidget)
{
    // The form's icons come from the compiled-in resources.
    SampleRenderer::initResources();
    m_ui.setupUi(this);
    // The mark shows while there is work no project holds.
    setWindowTitle(windowTitleFor(QString()));
    m_fileDialogFunction = [this](FileDialog kind, const QString& caption, const QString& directory,
                                  const QString& filter, QString* selectedFilter) {
        return platformFileDialog(this, kind, caption, directory, filter, selectedFilter);
    };
    m_exitFunction = [] { std::exit(0); };

    // Audio runs from here on, before the window is visible.
    m_pEngine = new SliceEngine();
    m_pKerfer = m_pEngine->getKerfer();
    connect(m_pKerfer, SIGNAL(sliceLoaded(Slice*)), this, SLOT(slotSetupSliceConnections(Slice*)));
    m_pHistory = new KerferHistory(m_pKerfer, this);
    m_pProjectChanges = new ProjectChanges(m_pEngine);

    setAcceptDrops(true);

    // Escape takes the keyboard back to the window, wherever it was, so that
    // the digit keys and the space bar work again.
    m_pActionResetFocus = new QAction(tr("Reset focus"), this);
    m_pActionResetFocus->setShortcut(QKeySequence(Qt::Key_Escape));
    m_pActionResetFocus->setShortcutContext(Qt::ApplicationShortcut);
    addAction(m_pActionResetFocus);
    connect(m_pActionResetFocus, SIGNAL(triggered()), this, SLOT(setFocus()));

    connect(m_ui.actionQuit, SIGNAL(triggered()), this, SLOT(slotQuit()));
    connect(m_ui.actionOpen, SIGNAL(triggered()), this, SLOT(slotLoadAudioFile()));
    connect(m_ui.actionNewProject, SIGNAL(triggered()), this, SLOT(slotNewProject()));
    connect(m_ui.actionOpenProject, SIGNAL(triggered()), this, SLOT(slotOpenProject()));
    connect(m_ui.actionSaveProject, SIGNAL(triggered()), this, SLOT(slotSaveProject()));
    connect(m_ui.actionExportLoop, SIGNAL(triggered()), this, SLOT(slotExportLoop()));
    connect(m_ui.actionPreferences, SIGNAL(triggered()), this, SLOT(slotShowPreferences()));
    connect(m_ui.actionAdvancedSlicing, SIGNAL(triggered()), this, SLOT(slotShowAdvancedSlicing()));
    connect(m_ui.actionSaveSlices, SIGNAL(triggered()), this, SLOT(slotExportSlicesToDisk()));
    connect(m_ui.actionAbout, SIGNAL(triggered()), this, SLOT(slotAbout()));
    connect(this, SIGNAL(exportSuccessful(QString, QString)), this,
            SLOT(slotStatusBarSavedMessage(QString, QString)));

    createHandoffActions();
    setLoopActionsEnabled(false);

    m_pKerferRenderer = new SampleRendererKerfer(this, m_pKerfer);
    m_pStackedWidget->addWidget(m_pKerferRenderer);
    m_pZoombar = new SampleRendererZoombar(this, m_pKerfer->getLoop());
    m_pTransportBar = new TransportBar(this, m_pKerfer, m_pKerferRenderer);

    QLayout* layout = m_ui.frameKerfer->layout();
    for (QFrame* placeholder : {m_ui.frameTransport, m_ui.frameKerferRenderer, m_ui.frameZoombar}) {
        layout->removeWidget(placeholder);
        placeholder->close();
    }
    layout->addWidget(m_pTransportBar);
    layout->addWidget(m_pStackedWidget);
    layout->addWidget(m_pZoombar);

    connect(m_pKerferRenderer, SIGNAL(viewChanged(long, long)), m_pZoombar,
            SLOT(setBarPosition(long, long)));
    connect(m_pZoombar, SIGNAL(barChanged(long, long)), m_pKerferRenderer,
            SLOT(setViewPosition(long, long)));
    connect(m_pKerferRenderer, SIGNAL(viewChanged(long, long)), m_pTransportBar, SLOT(update()));
    connect(m_pZoombar, SIGNAL(barChanged(long, long)), m_pTransportBar, SLOT(update()));
    // Points placed by the advanced slicing dialog, a template or the view's
    // own menu show at once, not at the next repaint for some other reason.
    connect(m_pKerfer, SIGNAL(slicePointsChanged()), m_pKerferRenderer, SLOT(update()));
    // A slice saved from the view's own menu is reported like every export.
    connect(m_pKerferRenderer, SIGNAL(sliceSaved(QString, QString)), this,
            SIGNAL(exportSuccessful(QString, QString)));
    connect(m_pKerferRenderer, &SampleRendererKerfer::sliceNotSaved, this,
            [this](const QString& fileName, const QString& reason) {
                showFailure(tr("Save Slice"), FileMessages::notSaved(fileName, reason));
            });
    for (SliceDragOut* drag : {m_pKerferRenderer->getSliceDrag(), m_pTransportBar->getSliceDrag()})
        connect(drag, &SliceDragOut::sliceNotSaved, this,
                [this](const QString& fileName, const QString& reason) {
                    showFailure(tr("Drag Slice"), FileMessages::notSaved(fileName, reason));
                });
    m_pKerferRenderer->setEnabled(false);
    m_pZoombar->setEnabled(false);

    connect(m_ui.actionPlay, SIGNAL(toggled(bool)), this, SLOT(slotTogglePlayback(bool)));
    connect(m_ui.actionSlice4, SIGNAL(triggered()), this, SLOT(slotUseSliceTemplate4()));
    connect(m_ui.actionSlice8, SIGNAL(triggered()), this, SLOT(slotUseSliceTemplate8()));
    connect(m_ui.actionSlice16, SIGNAL(triggered()), this, SLOT(slotUseSliceTemplate16()));
    connect(m_ui.actionSliceClear, SIGNAL(triggered()), this, SLOT(slotClearSlicing()));
    connect(m_ui.actionOpenSliceTemplate, SIGNAL(triggered()), this, SLOT(slotLoadSliceTemplate()));
    connect(m_ui.actionSaveSliceTemplateAs, SIGNAL(triggered()), this,
            SLOT(slotSaveSliceTemplate()));
    connect(m_ui.actionQuickExport, SIGNAL(triggered()), this, SLOT(slotExportSlicesQuick()));

    connect(m_pKerferRenderer, &SampleRendererKerfer::sliceSentToPad, this,
            &KerferUI::loadSliceIntoPad);
    createDockPanels();
    createEditingActions();
    createHitSlicing();

    // On a scaled screen the designed size may not fit; a window beyond the
    // screen's edge would hide the end of the loop.
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        resize(size().boundedTo(screen->availableGeometry().size()));
    show();
    setFocus(Qt::OtherFocusReason);

    const QStringList arguments = QCoreApplication::arguments();
    qDebug() << "Arguments:" << arguments;
    if (arguments.size() >= 2) {
        qDebug() << "Arguments:" << arguments;
        slotLoadAudioFile(arguments.last());
    }
}

KerferUI::~KerferUI()
{
    rememberWindowLayout();
    // An analysis still running is cancelled here, before the engine goes.
    delete m_pHitSlicing;
    delete m_pLoopHits;
    m_pLoopHits = nullptr;
    // Its stack announces the emptying that comes with its end, and nothing
    // here may answer that once this window is half gone.
    delete m_pHistory;
    m_pHistory = nullptr;
    // The panels show the engine's banks, so they go before it; their hiding
    // now is no choice of the user's to remember.
    for (QDockWidget* dock : getDockPanels()) {
        dock->toggleViewAction()->disconnect(this);
        delete dock;
    }
    m_pPadsDock = m_pLoopersDock = m_pLibraryDock = nullptr;
    m_padWidgets.clear();
    m_pLibraryBrowser = nullptr;
    delete m_pKerferRenderer;
    delete m_pZoombar;
    delete m_pProjectChanges;
    delete m_pEngine;
}

QString KerferUI::demoLoopDirectory()
{
    // Beside the executable rather than relative to the working directory,
    // which is anything when the program is started from a desktop.
    return QDir(QCoreApplication::applicationDirPath())
        .filePath(QString::fromLatin1(kDemoLoopFolder));
}

QString KerferUI::windowTitleFor(const QString& loopFile)
{
    if (loopFile.isEmpty())
        return QStringLiteral("Tamberlo[*]");
    // "[*]" is where the window shows its unsaved-changes mark.
    return QStringLiteral("%1[*] \u2014 Tamberlo").arg(QFileInfo(loopFile).fileName());
}

QString KerferUI::savedMessage(const QString& baseFilePath, const QString& fileName)
{
    const QString separator = QDir::separator();
    QString path = baseFilePath + separator + fileName;
    if (path.size() > kMaxWholeMessageLength)
        path = baseFilePath.left(kShortFolderLength) + ".." + separator + fileName;
    return tr("%1 successfully saved.").arg(path);
}

void KerferUI::setFileDialogFunction(FileDialogFunction function)
{
    m_fileDialogFunction = std::move(function);
}

void KerferUI::setExitFunction(std::function<void()> function)
{
    m_exitFunction = std::move(function);
}

QString KerferUI::askFileName(FileDialog kind, const QString& caption, const QString& directory,
                              const QString& filter, QString* selectedFilter)
{
    return m_fileDialogFunction(kind, caption, directory, filter, selectedFilter);
}

void KerferUI::slotSetupSliceConnections(Slice* pSlice)
{
    connect(pSlice, SIGNAL(playbackToggled(bool)), this, SLOT(slotUpdatePlaybackButton(bool)));
}

void KerferUI::slotUpdatePlaybackButton(bool checked)
{
    // Reflects what the loop does; toggling from here would start or stop it
    // a second time.
    const bool blocked = m_ui.actionPlay->blockSignals(true);
    m_ui.actionPlay->setChecked(checked);
    m_ui.actionPlay->blockSignals(blocked);
}

void KerferUI::slotSliceAudio() {}

void KerferUI::slotLoadAudioFile()
{
    m_ui.actionPlay->setChecked(false);
    QString directory = setting(kLastLoadPath);
    if (directory.isEmpty())
        directory = demoLoopDirectory();
    const QString fileName =
        askFileName(FileDialog::Open, tr("Open Audio"), directory, AudioFormats::openFilter());
    if (fileName.isEmpty())
        return;
    slotLoadAudioFile(fileName);
    setSetting(kLastLoadPath, QFileInfo(fileName).absolutePath());
}

void KerferUI::slotLoadAudioFile(QString fileName)
{
    if (fileName.isEmpty())
        return;
    // The loop that plays now is replaced: stop it, so that Play does not stay
    // checked over a loop that no longer sounds.
    m_ui.actionPlay->setChecked(false);
    if (showLoadedLoop(m_pKerfer->slotLoadLoop(fileName)))
        return;
    QMessageBox::critical(this, tr("Error"),
                          tr("%1 could not be loaded, please try another file.").arg(fileName),
                          QMessageBox::Ok);
}

bool KerferUI::showLoadedLoop(bool loaded)
{
    if (loaded) {
        setLoopActionsEnabled(true);
        // An empty slice first drops the views' pictures and connections.
        showSlice(QSharedPointer<Slice>());
        m_pKerferRenderer->setEnabled(true);
        m_pZoombar->setEnabled(true);
        showSlice(m_pKerfer->getLoop());
        repaintViews();
        setWindowFilePath(m_pKerfer->getLoop()->getFilename());
        setWindowTitle(windowTitleFor(m_pKerfer->getLoop()->getFilename()));
        return true;
    }
    // The Kerfer kept the loop that was open, with its points and markers:
    // the views, the actions and the title stay with it.
    return false;
}

void KerferUI::slotExportLoop()
{
    if (!hasLoop())
        return;
    const QString loopFile = m_pKerfer->getLoop()->getFilename();
    const QString suggested =
        QFileInfo(loopFile).dir().filePath(SliceNaming::stem(loopFile) + "_loop.wav");
    QString fileName =
        askFileName(FileDialog::Save, tr("Export Loop"), suggested, SliceFileFilters::wav());
    if (fileName.isEmpty())
        return;
    if (QFileInfo(fileName).suffix().toLower() != "wav")
        fileName += ".wav";

    // The export renders what the engine plays, with the loop played from its
    // start for exactly the export; the output device plays on (silence
    // while the export runs).
    m_ui.actionPlay->setChecked(false);
    QString reason;
    if (!m_pEngine->exportLoopFromStart(fileName, ExportFormat::forLoopFile(), &reason)) {
        showFailure(tr("Export Loop"), FileMessages::notSaved(fileName, reason));
        return;
    }
    const QFileInfo info(fileName);
    emit exportSuccessful(info.absolutePath(), info.fileName());
}

void KerferUI::slotQuit()
{
    if (mayDiscardChanges())
        closeAndExit();
}

void KerferUI::closeAndExit()
{
    // Gone from the screen at once; what follows is clearing up.
    rememberWindowLayout();
    hide();
    // The application deletes this window (and so the engine, which saves the
    // settings) inside the emit: nothing after it may touch a member.
    const std::function<void()> exitFunction = m_exitFunction;
    emit closed();
    exitFunction();
}

void KerferUI::slotSetMasterBPM(int bpm)
{
    m_pEngine->setBPM(bpm);
}

void KerferUI::slotTogglePlayback(bool toggle)
{
    m_pKerfer->playLoop(toggle);
}

void KerferUI::slotShowPreferences()
{
    PreferencesUI* dialog = new PreferencesUI(this, m_pEngine);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void KerferUI::slotShowAdvancedSlicing()
{
    AdvancedSlicingUI* dialog = new AdvancedSlicingUI(this, m_pKerfer, m_pHistory);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->offerTempo(m_pLoopHits->getTempo());
    connect(dialog, &AdvancedSlicingUI::tempoApplied, m_pReadout, &PositionReadout::setChosenTempo);
    dialog->open();
}

HitSlicingUI* KerferUI::getHitSlicing() const
{
    return m_pHitSlicing;
}

void KerferUI::slotShowHitSlicing()
{
    if (!m_pHitSlicing) {
        m_pHitSlicing = new HitSlicingUI(this, m_pKerfer, m_pLoopHits, m_pHistory);
        m_pHitSlicing->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_pHitSlicing, &HitSlicingUI::previewChanged, m_pKerferRenderer,
                &SampleRendererKerfer::setPreviewPoints);
        connect(m_pHitSlicing, &HitSlicingUI::previewEnded, m_pKerferRenderer,
                &SampleRendererKerfer::clearPreview);
        // Its preview is drawn on the waveform, which it must not hide.
        if (!m_pHitSlicing->placeClearOf(frameGeometry()))
            m_pHitSlicing->placeClearOf(
                QRect(m_pKerferRenderer->mapToGlobal(QPoint(0, 0)), m_pKerferRenderer->size()));
    }
    m_pHitSlicing->show();
    m_pHitSlicing->raise();
    m_pHitSlicing->activateWindow();
}

void KerferUI::slotNewProject()
{
    if (!mayDiscardChanges())
        return;
    m_pEngine->newProject();
    refreshPadWidgets();
    m_pProjectChanges->markSaved();
    updateModifiedMark();
}

void KerferUI::slotOpenProject()
{
    if (!mayDiscardChanges())
        return;
    QString directory = setting(kLastProjectPath);
    if (directory.isEmpty())
        directory = QStringLiteral(".");
    const QString fileName = askFileName(FileDialog::Open, tr("Open Project"), directory,
                                         tr("Tamberlo Projects (*.tmx)"));
    if (fileName.isEmpty())
        return;
    m_ui.actionPlay->setChecked(false);
    const QSharedPointer<Slice> before = m_pKerfer->getLoop();
    QString missingLoop;
    const bool opened = m_pEngine->loadProject(fileName, &missingLoop);
    if (m_pKerfer->getLoop() != before)
        showLoadedLoop(hasLoop());
    refreshPadWidgets();
    setSetting(kLastProjectPath, QFileInfo(fileName).absolutePath());
    if (opened) {
        // Even where the loop stayed (a project of before, or its file gone).
        m_pHistory->getStack()->clear();
        m_pProjectChanges->markSaved();
    }
    updateModifiedMark();
    if (!missingLoop.isEmpty())
        QMessageBox::warning(this, tr("Loop Missing"),
                             tr("The project's loop %1 is missing or could not be read. The rest "
                                "of the project was opened.")
                                 .arg(QDir::toNativeSeparators(missingLoop)),
                             QMessageBox::Ok);
}

void KerferUI::slotSaveProject()
{
    saveProjectAsking();
}

bool KerferUI::saveProjectAsking()
{
    const QString fileName =
        askFileName(FileDialog::Save, tr("Save Project"), setting(kLastProjectPath),
                    tr("Tamberlo Projects (*.tmx)"));
    if (fileName.isEmpty())
        return false;
    const bool saved = m_pEngine->saveProject(fileName);
    setSetting(kLastProjectPath, QFileInfo(fileName).absolutePath());
    if (saved)
        m_pProjectChanges->markSaved();
    updateModifiedMark();
    return saved;
}

bool KerferUI::mayDiscardChanges()
{
    if (!m_pProjectChanges->isModified())
        return true;
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, tr("Tamberlo"), tr("Save changes to the project?"),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Discard)
        return true;
    // A failed save keeps the work too.
    return answer == QMessageBox::Save && saveProjectAsking();
}

void KerferUI::updateModifiedMark()
{
    setWindowModified(m_pProjectChanges->isModified());
}

void KerferUI::slotAbout()
{
    AboutUI* dialog = new AboutUI(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
}

void KerferUI::slotPlayPreview(QString filePath)
{
    m_pEngine->playPreview(filePath);
}

void KerferUI::slotStatusBarSavedMessage(QString baseFilePath, QString fileName)
{
    statusBar()->showMessage(savedMessage(baseFilePath, fileName), kSavedMessageTimeoutMs);
}

void KerferUI::slotUseSliceTemplate4()
{
    m_pHistory->edit(tr("Slice in 4"), [this] { m_pKerfer->sliceEvenly(4); });
    m_pKerferRenderer->update();
}

void KerferUI::slotUseSliceTemplate8()
{
    m_pHistory->edit(tr("Slice in 8"), [this] { m_pKerfer->sliceEvenly(8); });
    m_pKerferRenderer->update();
}

void KerferUI::slotUseSliceTemplate16()
{
    m_pHistory->edit(tr("Slice in 16"), [this] { m_pKerfer->sliceEvenly(16); });
    m_pKerferRenderer->update();
}

void KerferUI::slotClearSlicing()
{
    m_pHistory->edit(tr("Clear Slicing"), [this] { m_pKerfer->clearSlicePoints(); });
    m_pKerferRenderer->update();
}

void KerferUI::slotExportSlicesToDisk()
{
    if (!hasLoop())
        return;
    const QString loopFile = m_pKerfer->getLoop()->getFilename();
    // The chosen name is not written itself: the numbered files beside it
    // are, and the name proposed is one for which none of them exists yet.
    m_pEngine->updateExportList();
    const QString suggested = SliceNaming::unused(exportDirectory(), SliceNaming::stem(loopFile),
                                                  SliceFileFilters::proposedSuffix(loopFile),
                                                  m_pEngine->getExportList().size());
    const ExportFormat preferred = SliceFileFormat::fromSettings();
    QString selectedFilter = SliceFileFilters::of(SliceFileFormat::forFileName(suggested));
    const QString fileName = askFileName(FileDialog::SaveNumbered, tr("Save Slices"), suggested,
                                         SliceFileFilters::all(), &selectedFilter);
    if (fileName.isEmpty())
        return;
    const QString baseFilePath = SliceFileFilters::withSuffix(fileName, selectedFilter, preferred);
    rememberExportDirectory(baseFilePath);
    slotExportSlicesWithPrefix(baseFilePath);
}

void KerferUI::slotExportSlicesWithPrefix(QString baseFilePath)
{
    if (!hasLoop() || baseFilePath.isEmpty())
        return;
    m_pEngine->updateExportList();
    QStringList files;
    for (int n = 1; n <= m_pEngine->getExportList().size(); ++n)
        files << SliceNaming::numbered(baseFilePath, n);
    if (mayReplace(tr("Save Slices"), files))
        exportSlicesTo(baseFilePath);
}

void KerferUI::slotExportSlicesQuick()
{
    if (!hasLoop())
        return;
    const QString loopFile = m_pKerfer->getLoop()->getFilename();
    const QString folder = makeQuickExportFolder();
    if (folder.isEmpty()) {
        qDebug() << "Quick export: no folder could be made beside" << loopFile;
        statusBar()->showMessage(
            tr("Quick Export failed: no folder could be made beside %1.").arg(loopFile),
            kSavedMessageTimeoutMs * 2);
        return;
    }
    exportSlicesTo(QDir(folder).filePath(SliceNaming::stem(loopFile) + "." +
                                         SliceFileFilters::proposedSuffix(loopFile)));
}

void KerferUI::slotExportSlicesToSampler() {}

void KerferUI::slotLoadSliceTemplate()
{
    const QString fileName =
        askFileName(FileDialog::Open, tr("Load Slice Template..."), setting(kLastTemplatePath),
                    tr("Slice Templates (*.tmst)"));
    if (fileName.isEmpty())
        return;
    QString reason;
    bool applied = false;
    m_pHistory->edit(tr("Load Slice Template"),
                     [&] { applied = m_pKerfer->loadSliceTemplate(fileName, &reason); });
    if (applied)
        statusBar()->showMessage(
            FileMessages::templateApplied(fileName, m_pKerfer->getSlicePoints().size()),
            kReportTimeoutMs);
    else
        showFailure(tr("Open Template"), FileMessages::templateNotApplied(fileName, reason));
    m_pKerferRenderer->update();
    setSetting(kLastTemplatePath, QFileInfo(fileName).absolutePath());
}

void KerferUI::slotSaveSliceTemplate()
{
    if (!hasLoop())
        return;
    QString fileName = askFileName(FileDialog::Save, tr("Save Slice Template..."),
                                   setting(kLastTemplatePath), tr("Slice Templates (*.tmst)"));
    if (fileName.isEmpty())
        return;
    if (QFileInfo(fileName).suffix() != QLatin1String(kTemplateSuffix))
        fileName += QStringLiteral(".%1").arg(QLatin1String(kTemplateSuffix));
    QString reason;
    if (m_pKerfer->saveSliceTemplate(fileName, &reason))
        statusBar()->showMessage(FileMessages::templateSaved(fileName), kReportTimeoutMs);
    else
        showFailure(tr("Save Template"), FileMessages::notSaved(fileName, reason));
    setSetting(kLastTemplatePath, QFileInfo(fileName).absolutePath());
}

void KerferUI::keyPressEvent(QKeyEvent* event)
{
    const int key = event->key();
    if (key < Qt::Key_0 || key > Qt::Key_9) {
        QMainWindow::keyPressEvent(event);
        return;
    }
    event->accept();
    // 1 to 9, then 0 for the tenth, as on the keyboard.
    playSliceNumber(key == Qt::Key_0 ? 10 : key - Qt::Key_0,
                    event->modifiers().testFlag(Qt::ShiftModifier));
}

void KerferUI::playSliceNumber(int number, bool toEnd)
{
    if (!hasLoop())
        return;
    // Numbered as drawn and exported: a point outside the markers starts no slice.
    const QList<unsigned long> starts = m_pKerfer->getSliceStarts();
    if (number < 1 || number > starts.size())
        return;
    const unsigned long start = starts.at(number - 1);
    if (toEnd)
        m_pKerfer->playToEnd(start);
    else
        m_pKerfer->playSlice(start);
    m_pReadout->selectSlice(start);
}

void KerferUI::closeEvent(QCloseEvent* event)
{
    if (!mayDiscardChanges()) {
        event->ignore();
        return;
    }
    event->accept();
    closeAndExit();
}

void KerferUI::dragEnterEvent(QDragEnterEvent* event)
{
    const QMimeData* mime = event->mimeData();
    qDebug() << "Drag enter event" << mime->hasUrls();
    // A slice dragged out and back is refused rather than opened as the loop.
    if (mime->hasUrls() && mime->urls().size() == 1 && !SliceDragOut::isOwnSlice(mime))
        event->acceptProposedAction();
    else
        event->ignore();
}

void KerferUI::dropEvent(QDropEvent* event)
{
    const QMimeData* mime = event->mimeData();
    if (!mime->hasUrls() || mime->urls().size() != 1 || SliceDragOut::isOwnSlice(mime)) {
        event->ignore();
        return;
    }
    slotLoadAudioFile(mime->urls().first().toLocalFile());
    event->acceptProposedAction();
}

bool KerferUI::hasLoop() const
{
    const QSharedPointer<Slice> loop = m_pKerfer->getLoop();
    return loop && loop->getLength() > 0;
}

void KerferUI::setLoopActionsEnabled(bool enabled)
{
    m_ui.actionSaveSlices->setEnabled(enabled);
    m_ui.actionExportLoop->setEnabled(enabled);
    m_ui.actionSaveSliceTemplateAs->setEnabled(enabled);
    m_ui.toolBar->setEnabled(enabled);
    m_ui.actionAdvancedSlicing->setEnabled(enabled);
    m_ui.actionSliceAtHits->setEnabled(enabled);
    for (QAction* action : {m_pActionExportKit, m_pActionExportGroove, m_pActionExportMarkedLoop,
                            m_pActionSlicesToPads})
        action->setEnabled(enabled);
}

void KerferUI::showSlice(QSharedPointer<Slice> slice)
{
    m_pKerferRenderer->setSlice(slice);
    m_pZoombar->setSlice(slice);
}

void KerferUI::repaintViews()
{
    m_pKerferRenderer->update();
    m_pZoombar->update();
}

void KerferUI::exportSlicesTo(const QString& baseFilePath)
{
    QList<AudioExporter::Failure> failed;
    const QStringList written =
        m_pEngine->exportSlices(baseFilePath, SliceFileFormat::forFileName(baseFilePath), &failed);
    for (const QString& file : written) {
        const QFileInfo info(file);
        emit exportSuccessful(info.absolutePath(), info.fileName());
    }
    // Each file's message replaces the one before; all of them together stay.
    if (!written.isEmpty())
        statusBar()->showMessage(FileMessages::slicesSaved(written), kReportTimeoutMs);
    const int total = m_pEngine->getExportList().size();
    if (total == 0)
        showFailure(tr("Save Slices"), FileMessages::noSlicesToSave());
    else if (written.size() < total)
        showFailure(tr("Save Slices"), FileMessages::slicesNotSaved(
                                           total - written.size(), total, baseFilePath,
                                           failed.isEmpty() ? FileMessages::writeFailedReason()
                                                            : failed.first().reason));
}

void KerferUI::showFailure(const QString& title, const QString& text)
{
    QMessageBox::warning(this, title, text);
}

QString KerferUI::makeQuickExportFolder() const
{
    const QFileInfo loop(m_pKerfer->getLoop()->getFilename());
    QDir parent = loop.absoluteDir();
    QString name = loop.completeBaseName();
    if (name.isEmpty())
        name = QStringLiteral("loop");
    // mkdir fails on a folder that exists, so an earlier export is never
    // written into, even by a second window racing for the same name.
    for (int n = 1; n < 10000; ++n) {
        const QString candidate = n == 1 ? name : QStringLiteral("%1 %2").arg(name).arg(n);
        if (parent.mkdir(candidate))
            return parent.filePath(candidate);
        if (!parent.exists(candidate))
            return QString();
    }
    return QString();
}

void KerferUI::createDockPanels()
{
    m_pWindowMenu = new QMenu(tr("Window"), m_ui.menubar);
    m_pWindowMenu->setObjectName("menuWindow");
    m_ui.menubar->insertMenu(m_ui.menuHelp->menuAction(), m_pWindowMenu);

    // Laid out like a hardware pad grid: pad 0 (note 36) bottom left, each
    // row of four above the one before.
    QWidget* pads = new QWidget;
    QGridLayout* grid = new QGridLayout(pads);
    grid->setSpacing(2);
    const int rows = BankSampler::PadCount / kPadColumns;
    for (int pad = 0; pad < BankSampler::PadCount; ++pad) {
        SamplerPadWidget* widget = new SamplerPadWidget(pads, m_pEngine->getBankSampler(), pad);
        widget->setWindowFlags(Qt::Widget);
        grid->addWidget(widget, rows - 1 - pad / kPadColumns, pad % kPadColumns);
        m_padWidgets.append(widget);
    }
    m_pPadsDock = addDockPanel(tr("Pads"), "dockPads", pads);

    m_pLoopersDock =
        addDockPanel(tr("Loopers"), "dockLoopers",
                     new LoopingSamplerBankWidget(nullptr, m_pEngine->getLoopingSamplerBank()));

    m_pDirModel = SampleLibraryBrowser::createModel(this);
    m_pLibraryBrowser = new SampleLibraryBrowser(m_pDirModel);
    connect(m_pLibraryBrowser, &SampleLibraryBrowser::sampleSelected, this,
            &KerferUI::previewLibraryFile);
    m_pLibraryDock = addDockPanel(tr("Sample Library"), "dockSampleLibrary", m_pLibraryBrowser);
    // Below the waveform and tabbed, so that the waveform keeps the width of
    // the window whatever is shown; the user may move them, and the window
    // keeps that.
    tabifyDockWidget(m_pPadsDock, m_pLoopersDock);
    tabifyDockWidget(m_pLoopersDock, m_pLibraryDock);
    m_pPadsDock->raise();
    restoreWindowLayout();

    m_pWindowMenu->addSeparator();
    m_pActionChooseLibraryFolder = m_pWindowMenu->addAction(tr("Choose Sample Library Folder..."));
    connect(m_pActionChooseLibraryFolder, &QAction::triggered, this,
            &KerferUI::slotChooseSampleLibraryFolder);

    // Hidden unless the last session showed them, so the window first
    // shows the slicing views alone.
    const QStringList visible = setting(kVisibleDockPanelsKey).split(',', Qt::SkipEmptyParts);
    for (QDockWidget* dock : getDockPanels()) {
        dock->setVisible(visible.contains(dock->objectName()));
        dock->toggleViewAction()->setChecked(dock->isVisibleTo(this));
        connect(dock->toggleViewAction(), &QAction::toggled, this,
                &KerferUI::rememberVisibleDockPanels);
        connect(dock->toggleViewAction(), &QAction::toggled, this, [this, dock](bool shown) {
            if (shown)
                growForPanel(dock);
        });
    }
}

void KerferUI::growForPanel(QDockWidget* dock)
{
    if (isMaximized() || isFullScreen())
        return;
    // A panel shown takes its room from the waveform; the window grows by as
    // much instead, as far as the screen allows, once the panel is laid out.
    const int before = m_pStackedWidget->height();
    QTimer::singleShot(0, this, [this, dock, before] {
        const int lost = before - m_pStackedWidget->height();
        const int frame = frameGeometry().height() - height();
        const int room = screen()->availableGeometry().height() - frame;
        if (lost <= 0 || room <= height())
            return;
        // The panel keeps its height; the waveform takes what the window gains.
        resizeDocks({dock}, {dock->height()}, Qt::Vertical);
        resize(width(), std::min(height() + lost, room));
    });
}

QDockWidget* KerferUI::addDockPanel(const QString& title, const char* objectName, QWidget* content)
{
    QDockWidget* dock = new QDockWidget(title, this);
    dock->setObjectName(QString::fromLatin1(objectName));
    dock->setWidget(content);
    addDockWidget(Qt::BottomDockWidgetArea, dock);
    m_pWindowMenu->addAction(dock->toggleViewAction());
    return dock;
}

QList<QDockWidget*> KerferUI::getDockPanels() const
{
    QList<QDockWidget*> docks;
    for (QDockWidget* dock : {m_pPadsDock, m_pLoopersDock, m_pLibraryDock})
        if (dock)
            docks.append(dock);
    return docks;
}

void KerferUI::rememberVisibleDockPanels()
{
    QStringList visible;
    for (QDockWidget* dock : getDockPanels())
        if (dock->toggleViewAction()->isChecked())
            visible.append(dock->objectName());
    setSetting(kVisibleDockPanelsKey, visible.join(','));
}

void KerferUI::restoreWindowLayout()
{
    // Whatever the stored text holds, a restore that fails leaves the window
    // as built.
    restoreGeometry(QByteArray::fromBase64(setting(kWindowGeometryKey).toLatin1()));
    restoreState(QByteArray::fromBase64(setting(kWindowLayoutKey).toLatin1()));
}

void KerferUI::rememberWindowLayout()
{
    // Once, as the window closes: hiding it hides the panels too, which is
    // no choice of the user's to remember.
    if (m_layoutRemembered)
        return;
    m_layoutRemembered = true;
    for (QDockWidget* dock : getDockPanels())
        dock->toggleViewAction()->disconnect(this);
    setSetting(kWindowGeometryKey, QString::fromLatin1(saveGeometry().toBase64()));
    setSetting(kWindowLayoutKey, QString::fromLatin1(saveState().toBase64()));
}

void KerferUI::refreshPadWidgets()
{
    for (SamplerPadWidget* pad : qAsConst(m_padWidgets))
        pad->slotRefreshFromBankSampler(pad->getPadIndex());
}

void KerferUI::previewLibraryFile(const QString& filePath)
{
    // Folders and other files are announced too; only audio is auditioned.
    if (QFileInfo(filePath).isFile() && AudioFormats::isAudioFileName(filePath))
        slotPlayPreview(filePath);
}

void KerferUI::slotChooseSampleLibraryFolder()
{
    const QString folder = askFileName(FileDialog::Directory, tr("Choose Sample Library Folder"),
                                       setting(SampleLibraryBrowser::kSampleLibPathKey), QString());
    if (folder.isEmpty())
        return;
    const QString path = QDir(folder).absolutePath();
    setSetting(SampleLibraryBrowser::kSampleLibPathKey, path);
    m_pLibraryBrowser->setLibraryPath(path);
    m_pLibraryDock->show();
}

void KerferUI::loadSliceIntoPad(int padIndex, const QString& fileName)
{
    m_pEngine->exportToPad(padIndex, fileName);
    statusBar()->showMessage(tr("Slice sent to %1").arg(PadNames::padLabel(padIndex)),
                             kSavedMessageTimeoutMs);
}

void KerferUI::createEditingActions()
{
    QUndoStack* stack = m_pHistory->getStack();
    m_pActionUndo = stack->createUndoAction(this, tr("Undo"));
    m_pActionUndo->setObjectName("actionUndo");
    m_pActionUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    m_pActionRedo = stack->createRedoAction(this, tr("Redo"));
    m_pActionRedo->setObjectName("actionRedo");
    m_pActionRedo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    QAction* first = m_ui.menuEdit->actions().value(0);
    m_ui.menuEdit->insertAction(first, m_pActionUndo);
    m_ui.menuEdit->insertAction(first, m_pActionRedo);
    m_ui.menuEdit->insertSeparator(first);
    m_pKerferRenderer->setHistory(m_pHistory);

    m_pActionSnap = new QAction(tr("Snap to Zero Crossings"), this);
    m_pActionSnap->setObjectName("actionSnapToZeroCrossings");
    m_pActionSnap->setCheckable(true);
    m_pActionSnap->setChecked(ZeroCrossingSnap::isEnabled());
    m_pKerferRenderer->setSnapToZeroCrossings(m_pActionSnap->isChecked());
    connect(m_pActionSnap, &QAction::toggled, this, [this](bool on) {
        m_pKerferRenderer->setSnapToZeroCrossings(on);
        ZeroCrossingSnap::setEnabled(on);
    });
    m_pActionLoopPlayback = new QAction(tr("Loop Playback"), this);
    m_pActionLoopPlayback->setObjectName("actionLoopPlayback");
    m_pActionLoopPlayback->setCheckable(true);
    m_pActionLoopPlayback->setShortcut(QKeySequence(Qt::Key_L));
    connect(m_pActionLoopPlayback, &QAction::toggled, m_pKerfer, &Kerfer::setLoopPlayback);
    m_ui.menuSlice->addSeparator();
    m_ui.menuSlice->addAction(m_pActionSnap);
    m_ui.menuSlice->addAction(m_pActionLoopPlayback);

    // Shift with a digit: on to the end marker. On most layouts the shifted
    // key is a symbol, which only the shortcut machinery maps back.
    for (int number = 1; number <= 10; ++number) {
        QAction* action = new QAction(this);
        action->setShortcut(QKeySequence(Qt::SHIFT | (Qt::Key_0 + number % 10)));
        connect(action, &QAction::triggered, this,
                [this, number] { playSliceNumber(number, true); });
        addAction(action);
    }

    m_pReadout = new PositionReadout(m_pKerfer, this);
    m_pReadoutLabel = new QLabel(this);
    m_pReadoutLabel->setObjectName("labelReadout");
    // Never widens the window: a long readout is cut instead.
    m_pReadoutLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_pReadoutLabel->setMinimumWidth(0);
    // Not a permanent widget: beside one that takes all the room, a message
    // (what an export wrote) would have none; it takes the readout's place
    // while it shows instead.
    statusBar()->addWidget(m_pReadoutLabel, 1);
    connect(m_pReadout, &PositionReadout::textChanged, m_pReadoutLabel, &QLabel::setText);
    connect(m_pKerferRenderer, &SampleRendererKerfer::pointerMoved, m_pReadout,
            &PositionReadout::setPointer);
    connect(m_pKerferRenderer, &SampleRendererKerfer::pointerLeft, m_pReadout,
            &PositionReadout::clearPointer);
    connect(m_pKerferRenderer, &SampleRendererKerfer::sliceSelected, m_pReadout,
            &PositionReadout::selectSlice);

    // Every change of the cuts made here is a step of the history: looked at
    // once per step, not once per point a slicing rule adds.
    connect(stack, &QUndoStack::indexChanged, this, &KerferUI::updateModifiedMark);
    connect(m_pEngine->getBankSampler(), &BankSampler::sampleLoaded, this,
            &KerferUI::updateModifiedMark);
    // The pads' settings change in their widgets without a signal: look again
    // after every input there.
    if (m_pPadsDock)
        m_pPadsDock->widget()->installEventFilter(this);
    for (SamplerPadWidget* pad : qAsConst(m_padWidgets))
        for (QWidget* child : pad->findChildren<QWidget*>())
            child->installEventFilter(this);
}

void KerferUI::createHitSlicing()
{
    m_pLoopHits = new LoopHits(m_pKerfer, this);
    connect(m_ui.actionSliceAtHits, &QAction::triggered, this, &KerferUI::slotShowHitSlicing);
    m_pTempoLabel = new QLabel(this);
    m_pTempoLabel->setObjectName("labelTempo");
    statusBar()->addPermanentWidget(m_pTempoLabel);
    connect(m_pLoopHits, &LoopHits::tempoChanged, this, [this](double bpm) {
        m_pTempoLabel->setText(LoopHits::tempoText(bpm));
        m_pReadout->setEstimatedTempo(bpm);
    });
}

bool KerferUI::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
    case QEvent::KeyRelease:
    case QEvent::Wheel:
        // After the widget has acted on the input, and once for an event
        // that passes through several filtered widgets or a burst of them.
        m_deferredModifiedMark.request();
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void KerferUI::createHandoffActions()
{
    QMenu* exportMenu = new QMenu(tr("Export"), m_ui.menuFile);
    exportMenu->setObjectName("menuExport");
    // Right after "Export Loop...", which stays where it was.
    const QList<QAction*> items = m_ui.menuFile->actions();
    m_ui.menuFile->insertMenu(items.value(items.indexOf(m_ui.actionExportLoop) + 1), exportMenu);
    const auto add = [this](QMenu* menu, const QString& text, const char* name,
                            void (KerferUI::*slot)()) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    m_pActionExportKit = add(exportMenu, tr("SFZ Kit..."), "actionExportKit", &KerferUI::exportKit);
    m_pActionExportGroove =
        add(exportMenu, tr("MIDI Groove..."), "actionExportGroove", &KerferUI::exportGroove);
    m_pActionExportMarkedLoop = add(exportMenu, tr("Loop with Markers..."),
                                    "actionExportMarkedLoop", &KerferUI::exportMarkedLoop);
    // The pads need no loop: always there.
    exportMenu->addSeparator();
    add(exportMenu, tr("Pads as SFZ Kit..."), "actionExportPadKit", &KerferUI::exportPadKit);
    m_ui.menuSlice->addSeparator();
    m_pActionSlicesToPads =
        add(m_ui.menuSlice, tr("Slices to Pads"), "actionSlicesToPads", &KerferUI::slicesToPads);
}

QString KerferUI::exportDirectory() const
{
    return SampleRendererKerfer::saveSliceDirectory(
        QFileInfo(m_pKerfer->getLoop()->getFilename()).absolutePath());
}

void KerferUI::rememberExportDirectory(const QString& fileName)
{
    setSetting(SampleRendererKerfer::kSaveSliceDirectoryKey, QFileInfo(fileName).absolutePath());
}

QString KerferUI::askExportName(FileDialog kind, const QString& caption, const QString& suggested,
                                const QString& filter)
{
    QString fileName = askFileName(kind, caption, suggested, filter);
    if (fileName.isEmpty())
        return fileName;
    const QString suffix = QFileInfo(suggested).suffix();
    if (QFileInfo(fileName).suffix().compare(suffix, Qt::CaseInsensitive) != 0)
        fileName += QLatin1Char('.') + suffix;
    rememberExportDirectory(fileName);
    return fileName;
}

bool KerferUI::mayReplace(const QString& title, const QStringList& files)
{
    QStringList existing;
    for (const QString& file : files)
        if (QFileInfo::exists(file))
            existing.append(QFileInfo(file).fileName());
    return existing.isEmpty() ||
           QMessageBox::question(
               this, title,
               FileMessages::replaceQuestion(existing, QFileInfo(files.first()).absolutePath()),
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void KerferUI::showReport(const QString& title, const ExportReport& report)
{
    statusBar()->showMessage(report.text(), kReportTimeoutMs);
    if (!report.failed.isEmpty())
        showFailure(title, FileMessages::filesNotSaved(report.failed));
}

KitExporter KerferUI::kitExporter() const
{
    return KitExporter(LoopSlices(m_pKerfer), SliceFileFormat::fromSettings(), m_pReadout->tempo());
}

void KerferUI::exportKit()
{
    if (!hasLoop())
        return;
    const QString title = tr("SFZ Kit");
    const QString fileName =
        askExportName(FileDialog::SaveNumbered, title,
                      SliceNaming::kit(exportDirectory(), m_pKerfer->getLoop()->getFilename()),
                      tr("SFZ instruments (*.sfz)"));
    if (fileName.isEmpty())
        return;
    // Played into the kit, the groove gives the loop back: worth having
    // beside it as soon as there is a rhythm, that is more than one slice.
    const int slices = LoopSlices(m_pKerfer).count();
    const bool withGroove = slices > 1;
    if (mayReplace(title, KitExporter::kitFiles(fileName, slices, SliceFileFormat::fromSettings(),
                                                withGroove)))
        showReport(title, kitExporter().writeKit(fileName, withGroove));
}

void KerferUI::exportGroove()
{
    if (!hasLoop())
        return;
    const QString fileName =
        askExportName(FileDialog::Save, tr("MIDI Groove"),
                      SliceNaming::groove(exportDirectory(), m_pKerfer->getLoop()->getFilename()),
                      tr("MIDI files (*.mid)"));
    if (!fileName.isEmpty())
        showReport(tr("MIDI Groove"), kitExporter().writeGroove(fileName));
}

void KerferUI::exportMarkedLoop()
{
    if (!hasLoop())
        return;
    const QString fileName = askExportName(
        FileDialog::Save, tr("Loop with Markers"),
        SliceNaming::markedLoop(exportDirectory(), m_pKerfer->getLoop()->getFilename()),
        SliceFileFilters::wav());
    if (!fileName.isEmpty())
        showReport(tr("Loop with Markers"), kitExporter().writeLoopWithMarkers(fileName));
}

void KerferUI::exportPadKit()
{
    const QString title = tr("Pads as SFZ Kit");
    const QString directory = SampleRendererKerfer::saveSliceDirectory(QDir::homePath());
    const QString fileName =
        askExportName(FileDialog::SaveNumbered, title, QDir(directory).filePath("pads.sfz"),
                      tr("SFZ instruments (*.sfz)"));
    if (fileName.isEmpty())
        return;
    BankSampler& pads = *m_pEngine->getBankSampler();
    const ExportFormat format = SliceFileFormat::fromSettings();
    if (mayReplace(title, KitExporter::padKitFiles(pads, fileName, format)))
        showReport(title, KitExporter::writePadKit(pads, fileName, format, m_pReadout->tempo()));
}

void KerferUI::slicesToPads()
{
    if (!hasLoop())
        return;
    QList<AudioExporter::Failure> failed;
    const int sent = m_pEngine->slicesToPads(SliceFileFormat::fromSettings(), &failed);
    refreshPadWidgets();
    if (sent > 0) {
        statusBar()->showMessage(FileMessages::slicesSentToPads(sent), kReportTimeoutMs);
        m_pPadsDock->show();
        m_pPadsDock->raise();
    }
    if (!failed.isEmpty())
        showFailure(tr("Slices to Pads"), FileMessages::filesNotSaved(failed));
}
