#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>

class Slice;
struct ExportFormat;

// The loop being sliced: the loaded audio, the sorted slice points that divide
// it, and the start and end markers that bound the part that counts as the
// loop. Positions are sample indices of the interleaved stereo stream.
//
// Everything but render runs on the user-interface thread; render runs on the
// audio thread. One recursive mutex serialises them (operations call each
// other while holding it), so a render never sees a half-done edit. Lock
// order: this mutex first, then the loop's.
class Kerfer : public QObject
{
    Q_OBJECT
public:
    // Everything an edit of the cuts can change: the points, exactly as
    // listed (duplicates included), and the markers.
    struct Cuts
    {
        QList<unsigned long> points;
        quint32 startMarker = 0;
        quint32 endMarker = 0;
        bool operator==(const Cuts& other) const
        {
            return points == other.points && startMarker == other.startMarker &&
                   endMarker == other.endMarker;
        }
        bool operator!=(const Cuts& other) const { return !(*this == other); }
    };

    explicit Kerfer(QObject* parent = nullptr);
    ~Kerfer() override;

    Kerfer(const Kerfer&) = delete;
    Kerfer& operator=(const Kerfer&) = delete;

    // Null until a load has succeeded; a failed load keeps the loop before.
    QSharedPointer<Slice> getLoop();
    // Ascending; read it on the user-interface thread, which makes every edit.
    const QList<unsigned long>& getSlicePoints();

    Cuts getCuts();
    // Puts back cuts taken earlier, as they were: no rounding, sorting or
    // merging of the points. The loop region follows the markers as with
    // setStartMarker and setEndMarker. Emits slicePointsChanged().
    void setCuts(const Cuts& cuts);
    // Where the slices between the markers start, in the order the export
    // numbers them: the start marker, then every point after it and before
    // the end marker (and the audio's end). Empty without audio.
    QList<unsigned long> getSliceStarts();

    // Every edit emits slicePointsChanged(), also when nothing changed
    // (except a move of a point that is not there).
    void addSlicePoint(unsigned long sample);
    void removeSlicePoint(unsigned long sample);
    void moveSlicePoint(unsigned long oldSample, unsigned long newSample);
    void clearSlicePoints();

    // Replaces the points by numSlices equal slices between the markers.
    void sliceEvenly(unsigned int numSlices);
    // Add a point every so many beats (or bars of numerator beats) at the
    // tempo, in the loop's own samples, from the start marker up to the
    // loop's length; existing points stay. The denominator does not enter
    // the arithmetic.
    void sliceByBeats(double tempo, double beats);
    void sliceByBars(double tempo, int numerator, int denominator, double bars);

    // Replaces the points between the markers by the given ones (rounded
    // down to even; those on or outside the markers are left out), keeping
    // the points outside; one slicePointsChanged(). Slicing at the hits
    // applies its cuts this way.
    void replaceSlicePointsBetweenMarkers(const QList<unsigned long>& points);

    // snapDistance > 0: the point nearest to sample if it lies within the
    // distance (the lower one on a tie), else 0. snapDistance <= 0: the start
    // of the slice under sample.
    unsigned long getSliceStart(unsigned long sample, int snapDistance);
    // The first point after sample, or the end marker.
    unsigned long getSliceEnd(unsigned long sample);

    unsigned long getStartMarker();
    unsigned long getEndMarker();
    // Rounded down to even. A loop region that started at the old marker
    // follows. Both emit markersChanged() when the marker moved.
    void setStartMarker(unsigned long sample);
    // Stored as given. A loop region that ended at the old marker follows.
    void setEndMarker(unsigned long sample);

    // The loop's playback loop region, for drawing.
    unsigned long getLoopRegionStart();
    unsigned long getLoopRegionEnd();

    void playLoop(bool play);
    // Whether playLoop repeats the region between the markers until stopped
    // rather than playing it once. Takes effect at the next playLoop.
    void setLoopPlayback(bool on);
    bool isLoopPlayback();
    // Plays the slice starting at startSample once. startSample must lie
    // within the loop.
    void playSlice(unsigned long startSample);
    // Plays from the slice starting at startSample on to the end marker.
    void playToEnd(unsigned long startSample);
    // Loops the slice under sample, or stops it when it is already looping.
    void toggleSliceLoop(unsigned long sample);
    // Audio thread: adds the loop's output to buffer.
    void render(float* buffer, unsigned numSamples);

    // Writes the slice that begins at startSample to an audio file, as
    // Slice::save does (in the format given, or as the name says). False,
    // with a reason for the user in error, when nothing was written.
    bool saveSlice(unsigned long startSample, const QString& fileName, QString* error = nullptr);
    bool saveSlice(unsigned long startSample, const QString& fileName, const ExportFormat& format,
                   QString* error = nullptr);

    // Slice templates (.tmst): the markers and slice points relative to the
    // marker region, so a template taken from one loop fits a loop of another
    // length. Loading replaces the points and emits slicePointsChanged() once;
    // a file that is not a valid template changes nothing. Both return false
    // when nothing was written or applied, with reason (when given) telling
    // the user why in a few words; the log has the details.
    bool loadSliceTemplate(const QString& fileName, QString* reason = nullptr);
    bool saveSliceTemplate(const QString& fileName, QString* reason = nullptr);

    // A loaded WAV file's cue markers: the frames given (ascending, each
    // once) that lie within the loop replace the slice points, if any do.
    void setSlicePointsAtFrames(const QList<quint64>& frames);

public slots:
    // Loads the file as the loop, with no slice points and the markers at
    // its ends. False when the file gave no audio; the loop, its points and
    // markers are then as they were.
    bool slotLoadLoop(QString filename);

signals:
    void slicePointsChanged();
    // A marker moved (not on a load: loopReplaced() says that).
    void markersChanged();
    // Relayed from the loop: its playback loop region or mode moved.
    void loopChanged();
    void sliceLoaded(Slice* slice);
    // A load replaced the loop (a file that gave no audio replaces nothing):
    // cuts taken before no longer belong to it.
    void loopReplaced();

private:
    bool hasAudio() const;
    void startLoopAt(quint32 start, quint32 end);
    // Takes back the repeat that loop playback sets, so that a slice played
    // on its own plays once.
    void endLoopPlaybackRepeat();

    QSharedPointer<Slice> m_pLoop;
    QRecursiveMutex m_mutex;
    QList<unsigned long> m_slicePoints;
    quint32 m_startMarker = 0;
    quint32 m_endMarker = 0;
    bool m_loopPlayback = false;
};
