#include "AdvancedSlicingUI.h"

#include "Kerfer.h"
#include "KerferHistory.h"
#include "Settings.h"
#include "ZeroCrossingSnap.h"

#include <QButtonGroup>

#include <climits>

namespace {

const char* const kTempo = "AdvancedSlicingTempo";
const char* const kInterval = "AdvancedSlicingInterval";
const char* const kNumerator = "AdvancedSlicingTimeSigNumer";
const char* const kDenominator = "AdvancedSlicingTimeSigDenom";
const char* const kByBeats = "AdvancedSlicingSliceByBeats";

const double kDefaultTempo = 120.0;
const double kDefaultInterval = 4.0;
const int kDefaultTimeSignature = 4;

// Each value within the range its box offers.
double settingFor(const QDoubleSpinBox* box, const char* key, double fallback)
{
    return Settings::instance()->getDoubleSetting(QString::fromLatin1(key), fallback,
                                                  box->minimum(), box->maximum());
}

int settingFor(const QSpinBox* box, const char* key, int fallback)
{
    return Settings::instance()->getIntSetting(QString::fromLatin1(key), fallback, box->minimum(),
                                               box->maximum());
}

// General format with 6 significant digits: 120 as "120", 2.5 as "2.5".
QString number(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

AdvancedSlicingUI::AdvancedSlicingUI(QWidget* parent, Kerfer* kerfer, KerferHistory* history)
    : QDialog(parent, Qt::Sheet), m_pKerfer(kerfer), m_pHistory(history),
      m_pSliceByGroup(new QButtonGroup(this))
{
    m_ui.setupUi(this);
    m_pSliceByGroup->setExclusive(true);
    m_pSliceByGroup->addButton(m_ui.radioButtonBars);
    m_pSliceByGroup->addButton(m_ui.radioButtonBeats);

    connect(m_ui.radioButtonBeats, SIGNAL(toggled(bool)), this, SLOT(updateActionText()));
    connect(m_ui.doubleSpinBoxTempo, SIGNAL(valueChanged(double)), this, SLOT(updateActionText()));
    connect(m_ui.doubleSpinBoxInterval, SIGNAL(valueChanged(double)), this,
            SLOT(updateActionText()));

    restoreSettings();
    updateActionText();
}

void AdvancedSlicingUI::restoreSettings()
{
    m_ui.doubleSpinBoxTempo->setValue(settingFor(m_ui.doubleSpinBoxTempo, kTempo, kDefaultTempo));
    m_ui.doubleSpinBoxInterval->setValue(
        settingFor(m_ui.doubleSpinBoxInterval, kInterval, kDefaultInterval));
    m_ui.spinBoxTimeSigNumer->setValue(
        settingFor(m_ui.spinBoxTimeSigNumer, kNumerator, kDefaultTimeSignature));
    m_ui.spinBoxTimeSigDenom->setValue(
        settingFor(m_ui.spinBoxTimeSigDenom, kDenominator, kDefaultTimeSignature));
    m_ui.checkBoxSnap->setChecked(
        ZeroCrossingSnap::isEnabled(ZeroCrossingSnap::kAdvancedSlicingKey));
    // Any number but 0 slices by beats.
    if (Settings::instance()->getIntSetting(QString::fromLatin1(kByBeats), 1, INT_MIN, INT_MAX) !=
        0)
        m_ui.radioButtonBeats->setChecked(true);
    else
        m_ui.radioButtonBars->setChecked(true);
}

void AdvancedSlicingUI::offerTempo(double bpm)
{
    if (!(bpm > 0.0))
        return;
    m_ui.doubleSpinBoxTempo->setValue(bpm);
    m_ui.doubleSpinBoxTempo->setToolTip(tr("Estimated from the hits of the loop"));
}

void AdvancedSlicingUI::updateActionText()
{
    const QString interval = number(m_ui.doubleSpinBoxInterval->value());
    QString middle;
    if (m_ui.radioButtonBeats->isChecked())
        middle = tr("%1 beats").arg(interval);
    else if (m_ui.radioButtonBars->isChecked())
        middle = tr("%1 bars").arg(interval);
    m_ui.labelSlicingAction->setText(tr("Slicing every ") + middle + ".");
}

void AdvancedSlicingUI::accept()
{
    const double tempo = m_ui.doubleSpinBoxTempo->value();
    const double interval = m_ui.doubleSpinBoxInterval->value();
    KerferHistory::edit(m_pHistory, tr("Advanced Slicing"), [&] {
        const QList<unsigned long> before = m_pKerfer->getSlicePoints();
        if (m_ui.radioButtonBeats->isChecked())
            m_pKerfer->sliceByBeats(tempo, interval);
        else if (m_ui.radioButtonBars->isChecked())
            m_pKerfer->sliceByBars(tempo, m_ui.spinBoxTimeSigNumer->value(),
                                   m_ui.spinBoxTimeSigDenom->value(), interval);
        // Only the points this slicing added: those placed before stay put.
        if (m_ui.checkBoxSnap->isChecked()) {
            QList<unsigned long> added = m_pKerfer->getSlicePoints();
            for (unsigned long point : before)
                added.removeOne(point);
            ZeroCrossingSnap::snapPoints(*m_pKerfer, added);
        }
    });
    storeSettings();
    emit tempoApplied(tempo);
    QDialog::accept();
}

void AdvancedSlicingUI::storeSettings()
{
    Settings* settings = Settings::instance();
    settings->setSetting(kTempo, number(m_ui.doubleSpinBoxTempo->value()));
    settings->setSetting(kInterval, number(m_ui.doubleSpinBoxInterval->value()));
    settings->setSetting(kNumerator, QString::number(m_ui.spinBoxTimeSigNumer->value()));
    settings->setSetting(kDenominator, QString::number(m_ui.spinBoxTimeSigDenom->value()));
    settings->setSetting(kByBeats, m_ui.radioButtonBeats->isChecked() ? "1" : "0");
    ZeroCrossingSnap::setEnabled(m_ui.checkBoxSnap->isChecked(),
                                 ZeroCrossingSnap::kAdvancedSlicingKey);
}
