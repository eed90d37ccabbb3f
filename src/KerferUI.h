#pragma once

#include "ui_tamberlomainwindow.h"

#include "DeferredCall.h"

#include <QMainWindow>
#include <QPointer>
#include <QSharedPointer>
#include <QString>

#include <functional>

class ExportReport;
class HitSlicingUI;
class Kerfer;
class KerferHistory;
class KitExporter;
class LoopHits;
class PositionReadout;
class ProjectChanges;
class QDirModel;
class QLabel;
class QDockWidget;
class QMenu;
class SampleLibraryBrowser;
class SamplerPadWidget;
class QAction;
class QStackedWidget;
class SampleRendererKerfer;
class SampleRendererZoombar;
class Slice;
class SliceEngine;
class TransportBar;

// The application's one main window: the loaded loop in the slice editing view
// between the transport bar and the zoom bar, and the menus, tool bar, keys,
// drops and file dialogs that drive the engine's Kerfer. It owns the engine.
class KerferUI : public QMainWindow
{
    Q_OBJECT
public:
    // Name of the folder of demo loops beside the executable.
    static const char* const kDemoLoopFolder;

    // Builds the engine (audio starts here), the views and the actions, shows
    // the window and loads the last command-line argument, if there is one
    // besides the program.
    KerferUI();
    ~KerferUI() override;

    // Where the audio dialog starts when no file was opened before: the demo
    // loops beside the executable.
    static QString demoLoopDirectory();
    // "<folder><separator><file> successfully saved.", the folder shortened
    // when the whole would not fit the status bar's 40 characters.
    static QString savedMessage(const QString& baseFilePath, const QString& fileName);
    // "amen.wav — Tamberlo" for the loop file, "Tamberlo" without one.
    static QString windowTitleFor(const QString& loopFile);

    SliceEngine* getEngine() const { return m_pEngine; }
    SampleRendererKerfer* getKerferRenderer() const { return m_pKerferRenderer; }
    SampleRendererZoombar* getZoombar() const { return m_pZoombar; }
    TransportBar* getTransportBar() const { return m_pTransportBar; }
    KerferHistory* getHistory() const { return m_pHistory; }
    PositionReadout* getReadout() const { return m_pReadout; }
    LoopHits* getLoopHits() const { return m_pLoopHits; }
    // The "Slice at Hits" panel while it is open.
    HitSlicingUI* getHitSlicing() const;
    // Edit > "Undo" and "Redo"; Slice > "Snap to Zero Crossings" and "Loop Playback".
    QAction* getUndoAction() const { return m_pActionUndo; }
    QAction* getRedoAction() const { return m_pActionRedo; }
    QAction* getSnapAction() const { return m_pActionSnap; }
    QAction* getLoopPlaybackAction() const { return m_pActionLoopPlayback; }
    const Ui_TamberloMainWindow& getUi() const { return m_ui; }

    // Settings key of the dock panels shown, their object names joined by ",".
    static const char* const kVisibleDockPanelsKey;
    // Settings keys of the window's size and place and of where its panels
    // are, as the window saves them (base64).
    static const char* const kWindowGeometryKey;
    static const char* const kWindowLayoutKey;
    // The "Pads", "Loopers" and "Sample Library" panels of the "Window" menu.
    QList<QDockWidget*> getDockPanels() const;
    // Pad widgets by pad index.
    const QList<SamplerPadWidget*>& getPadWidgets() const { return m_padWidgets; }
    SampleLibraryBrowser* getLibraryBrowser() const { return m_pLibraryBrowser; }

    enum class FileDialog
    {
        Open,
        Save,
        // A name the numbered slice files are formed from: it is not written
        // itself, so the dialog does not ask to replace it.
        SaveNumbered,
        // A folder; the filter is not used.
        Directory
    };
    // Asks for a file name; an empty result means cancelled. selectedFilter,
    // when given, receives the filter the user chose.
    using FileDialogFunction =
        std::function<QString(FileDialog kind, const QString& caption, const QString& directory,
                              const QString& filter, QString* selectedFilter)>;
    // Every file the window asks for goes through this function (by default
    // the platform's file dialogs), so that tests can answer without a modal
    // dialog.
    void setFileDialogFunction(FileDialogFunction function);
    // What ends the process once the window has announced closed() (by
    // default exit with status 0). Called without the window, which may
    // already be gone.
    void setExitFunction(std::function<void()> function);

signals:
    void closed();
    // A file was written: fileName in the folder baseFilePath.
    void exportSuccessful(QString baseFilePath, QString fileName);

public slots:
    void slotSetupSliceConnections(Slice* pSlice);
    void slotUpdatePlaybackButton(bool checked);
    void slotSliceAudio();
    void slotLoadAudioFile();
    void slotLoadAudioFile(QString fileName);
    void slotExportLoop();
    void slotQuit();
    void slotSetMasterBPM(int bpm);
    void slotTogglePlayback(bool toggle);
    void slotShowPreferences();
    void slotShowAdvancedSlicing();
    // Opens the "Slice at Hits" panel, or brings it forward.
    void slotShowHitSlicing();
    void slotNewProject();
    void slotOpenProject();
    void slotSaveProject();
    void slotAbout();
    void slotPlayPreview(QString filePath);
    void slotStatusBarSavedMessage(QString baseFilePath, QString fileName);
    void slotUseSliceTemplate4();
    void slotUseSliceTemplate8();
    void slotUseSliceTemplate16();
    void slotClearSlicing();
    void slotExportSlicesToDisk();
    void slotExportSlicesWithPrefix(QString baseFilePath);
    void slotExportSlicesQuick();
    void slotExportSlicesToSampler();
    void slotLoadSliceTemplate();
    void slotSaveSliceTemplate();
    // Asks for the sample library's folder, stores it as "SampleLibPath" and
    // shows it in the "Sample Library" panel.
    void slotChooseSampleLibraryFolder();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QString askFileName(FileDialog kind, const QString& caption, const QString& directory,
                        const QString& filter, QString* selectedFilter = nullptr);
    // Announces closed() (which normally destroys this window) and ends the
    // process.
    void closeAndExit();
    bool hasLoop() const;
    // Puts the window in its loop or no-loop state after the Kerfer loaded
    // (or failed to load) a file; returns loaded.
    bool showLoadedLoop(bool loaded);
    void setLoopActionsEnabled(bool enabled);
    // Undo and redo, the snap and loop playback options, Shift+digit.
    void createEditingActions();
    // The loop's hits and tempo: the panel's action and the tempo shown.
    void createHitSlicing();
    // Plays slice number (from 1), once or on to the end marker, and selects it.
    void playSliceNumber(int number, bool toEnd);
    // False when the user keeps work that is not in a project: asked whether
    // to save it, cancelled (or cancelled the save).
    bool mayDiscardChanges();
    bool saveProjectAsking();
    void updateModifiedMark();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showSlice(QSharedPointer<Slice> slice);
    void repaintViews();
    // Writes the loop's slices for the base path and reports what was and
    // was not written.
    void exportSlicesTo(const QString& baseFilePath);
    void showFailure(const QString& title, const QString& text);
    // A folder beside the loaded file, named after it, that did not exist
    // before (numbered when that name is taken). Empty when none could be made.
    QString makeQuickExportFolder() const;
    // The "Window" menu and its panels, shown as the settings remember them.
    void createDockPanels();
    QDockWidget* addDockPanel(const QString& title, const char* objectName, QWidget* content);
    void rememberVisibleDockPanels();
    void growForPanel(QDockWidget* dock);
    void restoreWindowLayout();
    void rememberWindowLayout();
    // The bank announces loaded pads, not emptied ones: after a new or a
    // loaded project every pad widget shows what its pad now holds.
    void refreshPadWidgets();
    void previewLibraryFile(const QString& filePath);
    void loadSliceIntoPad(int padIndex, const QString& fileName);

    // File > Export's kit, groove and marked loop, and Slice > Slices to Pads:
    // each writes in the slice file format and says in the status bar what
    // it wrote, and in a message what it could not.
    void createHandoffActions();
    void exportKit();
    void exportGroove();
    void exportMarkedLoop();
    void exportPadKit();
    void slicesToPads();
    // The exports' dialogs start where slices were last saved (else beside
    // the loop), and the folder of what is written becomes that place.
    QString exportDirectory() const;
    void rememberExportDirectory(const QString& fileName);
    // Asks for a name, given the suggestion's suffix when it lacks it.
    QString askExportName(FileDialog kind, const QString& caption, const QString& suggested,
                          const QString& filter);
    // True when none of the files exists or the user lets them be replaced.
    bool mayReplace(const QString& title, const QStringList& files);
    void showReport(const QString& title, const ExportReport& report);
    // The loop's slices as they stand, at the tempo the window shows.
    KitExporter kitExporter() const;

    Ui_TamberloMainWindow m_ui;
    QStackedWidget* m_pStackedWidget = nullptr;
    SliceEngine* m_pEngine = nullptr;
    Kerfer* m_pKerfer = nullptr;
    SampleRendererKerfer* m_pKerferRenderer = nullptr;
    SampleRendererZoombar* m_pZoombar = nullptr;
    TransportBar* m_pTransportBar = nullptr;
    QAction* m_pActionResetFocus = nullptr;
    KerferHistory* m_pHistory = nullptr;
    ProjectChanges* m_pProjectChanges = nullptr;
    PositionReadout* m_pReadout = nullptr;
    QLabel* m_pReadoutLabel = nullptr;
    LoopHits* m_pLoopHits = nullptr;
    QPointer<HitSlicingUI> m_pHitSlicing;
    QLabel* m_pTempoLabel = nullptr;
    QAction* m_pActionUndo = nullptr;
    QAction* m_pActionRedo = nullptr;
    QAction* m_pActionSnap = nullptr;
    QAction* m_pActionLoopPlayback = nullptr;
    QMenu* m_pWindowMenu = nullptr;
    QDockWidget* m_pPadsDock = nullptr;
    QDockWidget* m_pLoopersDock = nullptr;
    QDockWidget* m_pLibraryDock = nullptr;
    QList<SamplerPadWidget*> m_padWidgets;
    QDirModel* m_pDirModel = nullptr;
    SampleLibraryBrowser* m_pLibraryBrowser = nullptr;
    QAction* m_pActionChooseLibraryFolder = nullptr;
    QAction* m_pActionExportKit = nullptr;
    QAction* m_pActionExportGroove = nullptr;
    QAction* m_pActionExportMarkedLoop = nullptr;
    QAction* m_pActionSlicesToPads = nullptr;
    bool m_layoutRemembered = false;
    DeferredCall m_deferredModifiedMark{this, [this] { updateModifiedMark(); }};
    FileDialogFunction m_fileDialogFunction;
    std::function<void()> m_exitFunction;
};
