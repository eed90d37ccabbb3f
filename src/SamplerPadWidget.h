#pragma once

#include <QDialog>
#include <QMetaObject>
#include <QSharedPointer>

class BankSampler;
class LoopEditorWidget;
class QAction;
class QButtonGroup;
class QListWidgetItem;
class QMenu;
class SampleRenderer;
class Slice;
class TimeStretchWidget;
class Ui_SamplerPadWidget;

// One pad of the BankSampler: a face with the pad's name and waveform that
// plays the pad when clicked (and asks for a file while the pad is empty),
// and property pages for pitch and gain, time stretch, looping and the choke
// group. A host that embeds it in a panel gives it the Qt::Widget window flag.
class SamplerPadWidget : public QDialog
{
    Q_OBJECT
public:
    // Stacked pages of the form.
    enum Page
    {
        FacePage = 0,
        PropertiesPage = 1,
        PitchGainPage = 2,
        TimeStretchPage = 3,
        LoopingPage = 4,
        ChokeGroupPage = 5
    };
    // Settings key of the folder the load dialog starts in.
    static const char* const kLastLoadPathKey;
    // Longest pad name shown whole.
    static constexpr int kMaxNameLength = 10;

    SamplerPadWidget(QWidget* parent, BankSampler* bankSampler, int padIndex);
    ~SamplerPadWidget() override;

    int getPadIndex() const { return m_padIndex; }
    // The label text for a sample file: its base name, cut to kMaxNameLength
    // characters followed by "..." when longer.
    static QString padName(const QString& fileName);

public slots:
    void slotLoadSample();
    void slotReverseSample();
    void slotToggleProperties();
    void slotSemiToneAdjust(int semitone);
    void slotTimeStretchBeats(float beats);
    // Shows what the bank now holds for the pad (index: the pad that changed).
    // An empty pad is shown empty: the bank announces loads, not a cleared
    // bank, so hosts call this for every pad after a new project or a load.
    void slotRefreshFromBankSampler(int index);
    void slotSetLoopStart(int val);
    void slotSetLoopEnd(int val);
    void slotToggleLoop(int mode);
    void slotShowLoopingProperties();
    void slotPropertiesListClicked(QListWidgetItem* item);
    void slotSetGain(double gain);
    void slotSetChokeGroup(QString group);
    void slotRefreshProperties(int pane_index);
    void slotDrawPlaying();
    void slotDrawStopped();

    // An embedded pad ignores Escape, which would otherwise hide it.
    void reject() override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

    // Asks for a sample file, starting in startDirectory; empty when the user
    // cancels. Tests replace the dialog here.
    virtual QString askSampleFileName(const QString& startDirectory);

    // Back to the face of a pad without a sample.
    void showEmptyPad();
    // The pad's sample, null while it is empty.
    QSharedPointer<Slice> padSample() const;
    void loadFile(const QString& fileName);

    Ui_SamplerPadWidget* m_pUi = nullptr;
    BankSampler* m_pBankSampler = nullptr;
    int m_padIndex = 0;
    QButtonGroup* m_pLoopModeGroup = nullptr;
    TimeStretchWidget* m_pTimeStretchWidget = nullptr;
    LoopEditorWidget* m_pLoopEditorWidget = nullptr;
    SampleRenderer* m_pSampleRenderer = nullptr;
    QMenu* m_pContextMenu = nullptr;
    QAction* m_pActionLoadSample = nullptr;
    QAction* m_pActionReverse = nullptr;

private:
    QMetaObject::Connection m_playedConnection;
    QMetaObject::Connection m_stoppedConnection;
};
