#include "SamplerPadWidget.h"

#include "AudioFormats.h"
#include "BankSampler.h"
#include "LoopEditorWidget.h"
#include "PadNames.h"
#include "SampleRenderer.h"
#include "Settings.h"
#include "Slice.h"
#include "TimeStretchWidget.h"
#include "ui_SamplerPadWidget.h"

#include <QAction>
#include <QButtonGroup>
#include <QDebug>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSignalBlocker>
#include <QUrl>

const char* const SamplerPadWidget::kLastLoadPathKey = "last_load_path";

namespace {

const char* const kNoGroup = "None";

// The pad face's waveform. The playing and stopped colours are its
// background, so it is painted solid: the shared view's gradient would cover
// them.
class PadWaveformView : public SampleRenderer
{
public:
    PadWaveformView(QWidget* parent, QSharedPointer<Slice> slice) : SampleRenderer(parent, slice)
    {
        setColour(QColor(0, 0, 0, 255));
        setMinimumSize(20, 20);
    }

protected:
    void renderBackground() override
    {
        QMutexLocker lock(&m_pixmapMutex);
        if (!m_pBackgroundPixmap)
            m_pBackgroundPixmap = new QPixmap(width(), height());
        if (!m_pBackgroundPixmap->isNull())
            m_pBackgroundPixmap->fill(m_backgroundColour);
        m_backgroundDirty = false;
    }
};

} // namespace

SamplerPadWidget::SamplerPadWidget(QWidget* parent, BankSampler* bankSampler, int padIndex)
    : QDialog(parent), m_pUi(new Ui_SamplerPadWidget), m_pBankSampler(bankSampler),
      m_padIndex(padIndex)
{
    m_pUi->setupUi(this);
    // Which pad this is and the note that plays it, named as every menu that
    // sends something to a pad names it.
    m_pUi->labelPad->setText(PadNames::padLabel(m_padIndex));

    m_pLoopModeGroup = new QButtonGroup(this);
    m_pLoopModeGroup->addButton(m_pUi->radioButtonLoopOff, 0);
    m_pLoopModeGroup->addButton(m_pUi->radioButtonLoopOn, 1);
    m_pLoopModeGroup->addButton(m_pUi->radioButtonLoopToggle, 2);

    m_pUi->stackedWidget->setCurrentIndex(FacePage);

    m_pTimeStretchWidget = new TimeStretchWidget(m_pUi->TimeStretchFrame);
    m_pTimeStretchWidget->setObjectName("timeStretchWidget");
    delete m_pUi->TimeStretchFrame->layout()->replaceWidget(m_pUi->TimeStretchPlaceholder,
                                                            m_pTimeStretchWidget);
    delete m_pUi->TimeStretchPlaceholder;
    m_pUi->TimeStretchPlaceholder = nullptr;

    m_pContextMenu = new QMenu();
    m_pActionLoadSample = new QAction(tr("Load Sample..."), this);
    m_pActionReverse = new QAction(tr("Reverse"), this);
    m_pContextMenu->addAction(m_pActionLoadSample);
    m_pContextMenu->addAction(m_pActionReverse);

    // The list's items come from the form.
    connect(m_pUi->PropertiesListWidget, &QListWidget::itemClicked, this,
            &SamplerPadWidget::slotPropertiesListClicked);
    connect(m_pUi->pushButtonProperties, &QPushButton::clicked, this,
            &SamplerPadWidget::slotToggleProperties);
    connect(m_pBankSampler, &BankSampler::sampleLoaded, this,
            &SamplerPadWidget::slotRefreshFromBankSampler);
    connect(m_pUi->stackedWidget, &QStackedWidget::currentChanged, this,
            &SamplerPadWidget::slotRefreshProperties);
    connect(m_pUi->spinBoxPitchSemitones, QOverload<int>::of(&QSpinBox::valueChanged), this,
            &SamplerPadWidget::slotSemiToneAdjust);
    connect(m_pUi->spinBoxGain, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
            &SamplerPadWidget::slotSetGain);
    connect(m_pLoopModeGroup, &QButtonGroup::idClicked, this, &SamplerPadWidget::slotToggleLoop);
    connect(m_pUi->listWidgetChokeGroup, &QListWidget::currentTextChanged, this,
            &SamplerPadWidget::slotSetChokeGroup);
    connect(m_pTimeStretchWidget, &TimeStretchWidget::stretch, this,
            &SamplerPadWidget::slotTimeStretchBeats);
    connect(m_pActionLoadSample, &QAction::triggered, this, &SamplerPadWidget::slotLoadSample);
    connect(m_pActionReverse, &QAction::triggered, this, &SamplerPadWidget::slotReverseSample);

    setAcceptDrops(true);
    // A pad created for a bank that already holds its sample (a project
    // loaded before the panel was built) shows it at once.
    slotRefreshFromBankSampler(m_padIndex);
}

SamplerPadWidget::~SamplerPadWidget()
{
    delete m_pContextMenu;
    delete m_pUi;
}

QString SamplerPadWidget::padName(const QString& fileName)
{
    const QString name = QFileInfo(fileName).completeBaseName();
    if (name.size() > kMaxNameLength)
        return name.left(kMaxNameLength) + "...";
    return name;
}

QSharedPointer<Slice> SamplerPadWidget::padSample() const
{
    if (m_padIndex < 0 || m_padIndex >= BankSampler::PadCount)
        return QSharedPointer<Slice>();
    return m_pBankSampler->getSample(m_padIndex);
}

QString SamplerPadWidget::askSampleFileName(const QString& startDirectory)
{
    return QFileDialog::getOpenFileName(this, tr("Load a Sample..."), startDirectory,
                                        AudioFormats::openFilter());
}

void SamplerPadWidget::loadFile(const QString& fileName)
{
    m_pBankSampler->loadSample(m_padIndex, fileName, 0, 1.0, 0, 0, 0, 1.0f, false,
                               QString::fromLatin1(kNoGroup));
}

void SamplerPadWidget::slotLoadSample()
{
    const QString startDirectory = Settings::instance()->getSetting(kLastLoadPathKey);
    const QString fileName = askSampleFileName(startDirectory);
    if (fileName.isEmpty())
        return;
    loadFile(fileName);
    Settings::instance()->setSetting(kLastLoadPathKey, QFileInfo(fileName).absolutePath());
}

void SamplerPadWidget::slotReverseSample()
{
    const QSharedPointer<Slice> sample = padSample();
    if (!sample)
        return;
    sample->reverse();
    if (m_pSampleRenderer)
        m_pSampleRenderer->setWaveformDirtyAndRepaint();
    if (m_pLoopEditorWidget)
        m_pLoopEditorWidget->setWaveformDirtyAndRepaint();
}

void SamplerPadWidget::slotToggleProperties()
{
    const int page = m_pUi->stackedWidget->currentIndex();
    if (page == FacePage) {
        m_pUi->stackedWidget->setCurrentIndex(PropertiesPage);
        m_pUi->pushButtonProperties->setText(tr("Back"));
    } else if (page == PropertiesPage) {
        m_pUi->stackedWidget->setCurrentIndex(FacePage);
        m_pUi->pushButtonProperties->setText(tr("Properties"));
    } else {
        m_pUi->stackedWidget->setCurrentIndex(PropertiesPage);
    }
}

void SamplerPadWidget::slotSemiToneAdjust(int semitone)
{
    m_pBankSampler->setSemitone(m_padIndex, semitone);
}

void SamplerPadWidget::slotTimeStretchBeats(float beats)
{
    const double value = double(beats);
    if (beats > 1.0f)
        m_pUi->labelTimeStretch->setText(tr("%1 beats").arg(value));
    else
        m_pUi->labelTimeStretch->setText(tr("%1 beat").arg(value, 0, 'g', 2));
    m_pTimeStretchWidget->updateStretchBeats(beats);
    m_pBankSampler->setTimeStretchBeats(m_padIndex, value);
}

void SamplerPadWidget::slotRefreshFromBankSampler(int index)
{
    if (index != m_padIndex)
        return;
    const QSharedPointer<Slice> sample = padSample();
    if (!sample) {
        showEmptyPad();
        return;
    }

    m_pUi->pushButtonProperties->setEnabled(true);
    m_pUi->labelName->setText(padName(sample->getFilename()));
    m_pUi->labelName->setToolTip(sample->getFilename());
    {
        // Showing the sample's values is no edit: nothing goes back to it.
        const QSignalBlocker pitch(m_pUi->spinBoxPitchSemitones);
        const QSignalBlocker gain(m_pUi->spinBoxGain);
        m_pUi->spinBoxPitchSemitones->setValue(sample->getPitch());
        m_pUi->spinBoxGain->setValue(double(sample->getGain()));
    }
    if (QAbstractButton* button = m_pLoopModeGroup->button(sample->getLoopMode()))
        button->setChecked(true);
    m_pUi->labelTimeStretch->setText(tr("Time Stretch"));
    m_pTimeStretchWidget->updateStretchBeats(0.0f);

    if (!m_pSampleRenderer) {
        m_pSampleRenderer = new PadWaveformView(m_pUi->SampleFrame, sample);
        m_pSampleRenderer->setObjectName("sampleRenderer");
        m_pUi->SampleFrame->layout()->addWidget(m_pSampleRenderer);
    } else {
        m_pSampleRenderer->setSlice(sample);
        m_pSampleRenderer->setColour(QColor(0, 0, 0, 255));
        m_pSampleRenderer->update();
    }
    if (!m_pLoopEditorWidget) {
        m_pLoopEditorWidget = new LoopEditorWidget(m_pUi->LoopEditorFrame, sample);
        m_pLoopEditorWidget->setObjectName("loopEditorWidget");
        delete m_pUi->LoopEditorFrame->layout()->replaceWidget(m_pUi->LoopEditorPlaceholder,
                                                               m_pLoopEditorWidget);
        delete m_pUi->LoopEditorPlaceholder;
        m_pUi->LoopEditorPlaceholder = nullptr;
    } else {
        m_pLoopEditorWidget->setSlice(sample);
        m_pLoopEditorWidget->update();
    }

    // Playback starts and ends on the audio thread too (MIDI, end of the
    // sample), and the slice announces it with its lock held: queued.
    disconnect(m_playedConnection);
    disconnect(m_stoppedConnection);
    m_playedConnection = connect(sample.data(), &Slice::played, this,
                                 &SamplerPadWidget::slotDrawPlaying, Qt::QueuedConnection);
    m_stoppedConnection = connect(sample.data(), &Slice::stopped, this,
                                  &SamplerPadWidget::slotDrawStopped, Qt::QueuedConnection);
    if (sample->isPlaying())
        slotDrawPlaying();
}

void SamplerPadWidget::showEmptyPad()
{
    disconnect(m_playedConnection);
    disconnect(m_stoppedConnection);
    m_pUi->stackedWidget->setCurrentIndex(FacePage);
    m_pUi->pushButtonProperties->setText(tr("Properties"));
    m_pUi->pushButtonProperties->setEnabled(false);
    m_pUi->labelName->setText(tr("Empty"));
    m_pUi->labelName->setToolTip(QString());
    // The views let go of the old sample, which the bank no longer holds.
    if (m_pSampleRenderer) {
        m_pSampleRenderer->setSlice(QSharedPointer<Slice>());
        slotDrawStopped();
    }
    if (m_pLoopEditorWidget) {
        m_pLoopEditorWidget->setSlice(QSharedPointer<Slice>());
        m_pLoopEditorWidget->update();
    }
}

void SamplerPadWidget::slotSetLoopStart(int val)
{
    const QSharedPointer<Slice> sample = padSample();
    if (sample && val >= 0)
        sample->setLoopStart(static_cast<unsigned long>(val));
}

void SamplerPadWidget::slotSetLoopEnd(int val)
{
    const QSharedPointer<Slice> sample = padSample();
    if (sample && val >= 0)
        sample->setLoopEnd(static_cast<unsigned long>(val));
}

void SamplerPadWidget::slotToggleLoop(int mode)
{
    const QSharedPointer<Slice> sample = padSample();
    if (sample)
        sample->setLoopMode(mode);
}

void SamplerPadWidget::slotShowLoopingProperties()
{
    m_pUi->stackedWidget->setCurrentIndex(LoopingPage);
}

void SamplerPadWidget::slotPropertiesListClicked(QListWidgetItem* item)
{
    if (!item)
        return;
    m_pUi->stackedWidget->setCurrentIndex(m_pUi->PropertiesListWidget->row(item) + 2);
    m_pUi->PropertiesListWidget->setCurrentRow(-1);
}

void SamplerPadWidget::slotSetGain(double gain)
{
    const QSharedPointer<Slice> sample = padSample();
    if (sample)
        sample->setGain(float(gain));
}

void SamplerPadWidget::slotSetChokeGroup(QString group)
{
    if (group.isEmpty())
        return;
    m_pBankSampler->addToChokeGroup(m_padIndex, group);
}

void SamplerPadWidget::slotRefreshProperties(int pane_index)
{
    const QSharedPointer<Slice> sample = padSample();
    if (!sample || pane_index != ChokeGroupPage)
        return;
    const QStringList names = m_pBankSampler->getChokeGroupNames();
    qDebug() << "Updating choke groups:" << names;
    // Refilling the list is no choice of the user's: the pad stays where it is.
    const QSignalBlocker blocker(m_pUi->listWidgetChokeGroup);
    m_pUi->listWidgetChokeGroup->clear();
    m_pUi->listWidgetChokeGroup->addItems(names);
    const QString group = sample->getChokeGroup();
    const QList<QListWidgetItem*> matches =
        m_pUi->listWidgetChokeGroup->findItems(group, Qt::MatchFixedString);
    if (matches.isEmpty())
        qDebug() << "Warning: couldn't find choke group" << group;
    else
        m_pUi->listWidgetChokeGroup->setCurrentItem(matches.first());
}

void SamplerPadWidget::slotDrawPlaying()
{
    if (!m_pSampleRenderer)
        return;
    m_pSampleRenderer->setColour(QColor(128, 128, 40, 255));
    m_pSampleRenderer->update();
}

void SamplerPadWidget::slotDrawStopped()
{
    if (!m_pSampleRenderer)
        return;
    m_pSampleRenderer->setColour(QColor(0, 0, 0, 255));
    m_pSampleRenderer->update();
}

void SamplerPadWidget::reject()
{
    if (isWindow())
        QDialog::reject();
}

void SamplerPadWidget::mousePressEvent(QMouseEvent* event)
{
    if (m_pUi->stackedWidget->currentIndex() != FacePage)
        return;
    if (event->button() == Qt::RightButton) {
        m_pActionReverse->setEnabled(m_pBankSampler->hasSample(m_padIndex));
        m_pContextMenu->popup(event->globalPos());
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    const QSharedPointer<Slice> sample = padSample();
    if (!sample) {
        slotLoadSample();
        return;
    }
    if (sample->getLoopMode() == 2 && sample->isPlaying())
        m_pBankSampler->stopSample(m_padIndex);
    else
        m_pBankSampler->triggerSample(m_padIndex);
}

void SamplerPadWidget::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_pUi->stackedWidget->currentIndex() != FacePage || event->button() != Qt::LeftButton)
        return;
    const QSharedPointer<Slice> sample = padSample();
    if (sample && sample->getLoopMode() == 1)
        m_pBankSampler->stopSample(m_padIndex);
}

void SamplerPadWidget::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void SamplerPadWidget::dropEvent(QDropEvent* event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    qDebug() << "Dropped URL:" << urls;
    if (urls.isEmpty())
        return;
    const QString fileName = urls.first().toLocalFile();
    if (fileName.isEmpty()) {
        qDebug() << "Not a local file:" << urls.first();
        return;
    }
    loadFile(fileName);
    event->acceptProposedAction();
}
