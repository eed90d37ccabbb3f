#include "PreferencesUI.h"

#include "AudioOutputDevice.h"
#include "Settings.h"
#include "SliceEngine.h"

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
}

void PreferencesUI::slotAccept()
{
    Settings* settings = Settings::instance();
    settings->setSetting(kAudioDevice, m_ui.comboBoxAudioDevice->currentText());
    settings->setSetting(kBufferSize, QString::number(m_ui.spinBoxBufferSize->value()));
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
