#pragma once

#include "DeferredCall.h"

#include <QObject>
#include <QString>

class Kerfer;

// The status bar's readout: the time (and bar.beat from the start marker)
// under the pointer, and the start and length of the selected slice.
class PositionReadout : public QObject
{
    Q_OBJECT
public:
    explicit PositionReadout(Kerfer* kerfer, QObject* parent = nullptr);

    // The tempo bar.beat counts in and exports carry: the one the user sliced
    // this loop at, else the loop's estimated tempo, else the tempo last set
    // for tempo slicing.
    double tempo() const;
    static int beatsPerBar();
    // "1.250 s".
    static QString timeText(double seconds);
    // "bar.beat" counted from 1.1 at 0 seconds; empty before it.
    static QString barBeatText(double seconds, double tempo, int beatsPerBar);

    QString text() const { return m_text; }

public slots:
    void setPointer(unsigned long sample);
    void clearPointer();
    // The loop's estimated tempo; 0 for none.
    void setEstimatedTempo(double bpm);
    // The user sliced the loop at this tempo; kept until another loop loads.
    void setChosenTempo(double bpm);
    // The slice starting at start (a start the Kerfer lists) is selected.
    void selectSlice(unsigned long start);
    // After a load or an edit the selection may be gone.
    void update();

signals:
    void textChanged(const QString& text);

private:
    double secondsOf(unsigned long samples) const;

    Kerfer* m_pKerfer;
    bool m_hasPointer = false;
    unsigned long m_pointer = 0;
    bool m_hasSelection = false;
    unsigned long m_selectedStart = 0;
    QString m_text;
    DeferredCall m_deferredUpdate;
    double m_estimatedTempo = 0.0;
    double m_chosenTempo = 0.0;
};
