#pragma once

#include "DeferredCall.h"

#include <QList>
#include <QObject>
#include <QString>

class HitAnalysisJob;
class Kerfer;

// The hits and the tempo of the Kerfer's loop. Every loaded loop is analysed
// once, in the background; the cuts at any sensitivity and the tempo between
// the markers then come from that analysis at once, so they can follow a
// slider or a marker drag.
class LoopHits : public QObject
{
    Q_OBJECT
public:
    enum class State
    {
        NoLoop,
        Analysing,
        Ready
    };

    explicit LoopHits(Kerfer* kerfer, QObject* parent = nullptr);

    State getState() const;
    // Kerfer positions strictly between the markers where slicing at the
    // hits cuts at sensitivity (0 to 100), ascending; empty unless Ready.
    QList<unsigned long> cutsAt(double sensitivity) const;
    // Beats per minute of whole bars of 4/4 between the markers; 0 while
    // there is no estimate.
    double getTempo() const { return m_tempo; }
    // "Tempo: 128.0 bpm (estimated)"; empty for no estimate.
    static QString tempoText(double bpm);

signals:
    // The state changed or the markers moved: the cuts may be others.
    void changed();
    void tempoChanged(double bpm);

private:
    void analyseLoop();
    void update();
    // Frames of the analysed audio between the markers.
    bool markerFrames(unsigned long* start, unsigned long* end) const;

    Kerfer* m_pKerfer;
    HitAnalysisJob* m_pJob;
    double m_tempo = 0.0;
    DeferredCall m_deferredUpdate;
};
