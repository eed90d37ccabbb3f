#include "HitSlicingUI.h"

#include "HitAnalysis.h"
#include "Kerfer.h"
#include "KerferHistory.h"
#include "LoopHits.h"
#include "Settings.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include <algorithm>

const char* const HitSlicingUI::kSensitivityKey = "SliceAtHitsSensitivity";

int HitSlicingUI::storedSensitivity()
{
    return Settings::instance()->getIntSetting(QString::fromLatin1(kSensitivityKey),
                                               int(HitAnalysis::kDefaultSensitivity), 0, 100);
}

HitSlicingUI::HitSlicingUI(QWidget* parent, Kerfer* kerfer, LoopHits* hits, KerferHistory* history)
    : QDialog(parent, Qt::Tool), m_pKerfer(kerfer), m_pHits(hits), m_pHistory(history)
{
    m_ui.setupUi(this);
    setModal(false);
    m_ui.sliderSensitivity->setValue(storedSensitivity());
    connect(m_ui.sliderSensitivity, &QSlider::valueChanged, this, &HitSlicingUI::updatePreview);
    connect(m_pHits, &LoopHits::changed, this, &HitSlicingUI::updatePreview);
    connect(m_ui.buttonBox->button(QDialogButtonBox::Apply), &QPushButton::clicked, this,
            &HitSlicingUI::apply);
    connect(m_ui.buttonBox, &QDialogButtonBox::rejected, this, &HitSlicingUI::reject);
    updatePreview();
}

bool HitSlicingUI::placeClearOf(const QRect& area)
{
    const QScreen* screen = QGuiApplication::screenAt(area.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect free = screen ? screen->availableGeometry() : area;
    // The frame's decorations only exist once shown; until then guess them.
    const QSize size = frameGeometry().size().expandedTo(sizeHint() + QSize(8, 32));
    const int gap = 8;
    const QPoint candidates[] = {
        QPoint(area.center().x() - size.width() / 2, area.bottom() + gap),
        QPoint(area.center().x() - size.width() / 2, area.top() - gap - size.height()),
        QPoint(area.right() + gap, area.center().y() - size.height() / 2),
        QPoint(area.left() - gap - size.width(), area.center().y() - size.height() / 2)};
    for (QPoint at : candidates) {
        // Slid along the edge it keeps to, as far as the screen asks.
        at.setX(
            std::clamp(at.x(), free.left(), std::max(free.left(), free.right() - size.width())));
        at.setY(
            std::clamp(at.y(), free.top(), std::max(free.top(), free.bottom() - size.height())));
        if (!QRect(at, size).intersects(area) && free.contains(QRect(at, size))) {
            move(at);
            return true;
        }
    }
    return false;
}

void HitSlicingUI::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    emit previewChanged(m_preview);
}

void HitSlicingUI::updatePreview()
{
    const int sensitivity = m_ui.sliderSensitivity->value();
    m_ui.labelSensitivityValue->setText(QString::number(sensitivity));
    const LoopHits::State state = m_pHits->getState();
    m_preview = m_pHits->cutsAt(sensitivity);
    m_ui.buttonBox->button(QDialogButtonBox::Apply)->setEnabled(state == LoopHits::State::Ready);
    if (state == LoopHits::State::Analysing)
        m_ui.labelStatus->setText(tr("Analysing the loop..."));
    else if (state == LoopHits::State::NoLoop)
        m_ui.labelStatus->setText(tr("No loop to slice"));
    else if (m_preview.isEmpty())
        m_ui.labelStatus->setText(tr("No hits between the markers at this sensitivity"));
    else
        m_ui.labelStatus->setText(tr("%1 slices between the markers").arg(m_preview.size() + 1));
    if (isVisible())
        emit previewChanged(m_preview);
}

void HitSlicingUI::apply()
{
    if (m_pHits->getState() != LoopHits::State::Ready)
        return;
    const int sensitivity = m_ui.sliderSensitivity->value();
    // Taken afresh: a marker moved since the last preview moves the cuts too.
    const QList<unsigned long> cuts = m_pHits->cutsAt(sensitivity);
    KerferHistory::edit(m_pHistory, tr("Slice at Hits"),
                        [&] { m_pKerfer->replaceSlicePointsBetweenMarkers(cuts); });
    Settings::instance()->setSetting(QString::fromLatin1(kSensitivityKey),
                                     QString::number(sensitivity));
    accept();
}

void HitSlicingUI::done(int result)
{
    m_preview.clear();
    emit previewEnded();
    QDialog::done(result);
    // The keys (undo, play, the slices) belong to the window again.
    if (parentWidget())
        parentWidget()->activateWindow();
}
