#include "PreferencesUI.h"

#include "AudioOutputDevice.h"
#include "Settings.h"
#include "SliceEngine.h"
#include "SliceFileFormat.h"

#include <QStandardItemModel>

namespace {

const char* const kAudioDevice = "AudioDevice";
const char* const kBufferSize = "AudioDeviceBufferSize";

} // namespace

PreferencesUI::PreferencesUI(QWidget* parent, SliceEngine* engine)
    : QDialog(parent, Qt::Sheet), m_pEngine(engine)
{
    m_ui.setupUi(this);
    // The form may be edited; the limits the devices and the preview need may not.
    m_ui.spinBoxBufferSize->setRange(Settings::kMinAudioBufferSize, kMaxBufferSize);
    connect(m_ui.buttonBox, SIGNAL(accepted()), this, SLOT(slotAccept()));
    connect(m_ui.buttonBox, SIGNAL(rejected()), this, SLOT(slotReject()));

    m_ui.comboBoxAudioDevice->addItems(AudioOutputDevice::getDeviceList());
    const Settings* settings = Settings::instance();
    const int index = m_ui.comboBoxAudioDevice->findText(settings->getSetting(kAudioDevice),
                                                         Qt::MatchExactly | Qt::MatchCaseSensitive);
    m_ui.comboBoxAudioDevice->setCurrentIndex(index >= 0 ? index : 0);

    m_ui.spinBoxBufferSize->setValue(settings->getAudioBufferSize());

    // The form lists the choices in the order of ExportFormat's values.
    const ExportFormat format = SliceFileFormat::fromSettings();
    m_ui.comboBoxSliceSample->setCurrentIndex(static_cast<int>(format.sample));
    m_ui.comboBoxSliceRate->setCurrentIndex(static_cast<int>(format.rate));
    m_ui.comboBoxSliceContainer->setCurrentIndex(static_cast<int>(format.container));
    offerSampleFormats();
    connect(m_ui.comboBoxSliceContainer, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &PreferencesUI::offerSampleFormats);
}

void PreferencesUI::offerSampleFormats()
{
    const bool flac = m_ui.comboBoxSliceContainer->currentIndex() ==
                      static_cast<int>(ExportFormat::Container::Flac);
    const int floating = static_cast<int>(ExportFormat::Sample::Float32);
    if (auto* model = qobject_cast<QStandardItemModel*>(m_ui.comboBoxSliceSample->model()))
        model->item(floating)->setEnabled(!flac);
    if (flac && m_ui.comboBoxSliceSample->currentIndex() == floating)
        m_ui.comboBoxSliceSample->setCurrentIndex(static_cast<int>(ExportFormat::Sample::Pcm24));
}

void PreferencesUI::slotAccept()
{
    Settings* settings = Settings::instance();
    settings->setSetting(kAudioDevice, m_ui.comboBoxAudioDevice->currentText());
    settings->setSetting(kBufferSize, QString::number(m_ui.spinBoxBufferSize->value()));
    ExportFormat format;
    format.sample = static_cast<ExportFormat::Sample>(m_ui.comboBoxSliceSample->currentIndex());
    format.rate = static_cast<ExportFormat::Rate>(m_ui.comboBoxSliceRate->currentIndex());
    format.container =
        static_cast<ExportFormat::Container>(m_ui.comboBoxSliceContainer->currentIndex());
    SliceFileFormat::toSettings(format);
    m_pEngine->closeAudioDevice();
    m_pEngine->openAudioDevice();
    m_pEngine->closeMidiDevice();
    m_pEngine->openMidiDevice();
    hide();
}

void PreferencesUI::slotReject()
{
    hide();
}
