#pragma once

#include <QList>
#include <QMultiMap>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

#include <mutex>

class QDomDocument;
class QDomElement;
class Slice;

// The sixteen sampler pads. Each pad holds one Slice loaded from a file with
// its own pitch, stretch, loop mode and region, gain, direction and choke
// group. Pads are triggered by the pad widgets and by MIDI notes (note 36 is
// pad 0) and mixed into the output by the engine's render cycle.
//
// Threads: render runs on the audio thread, and so do handleNote,
// triggerSample and stopSample when MIDI drives them; everything else runs on
// the user-interface thread, which is the only thread that changes the pad
// list. Locks: the pad list's mutex (render, and the brief copy of one pad),
// then a Slice's own mutex. The choke group map has a lock of its own that is
// never held while anything else is called.
class BankSampler : public QObject
{
    Q_OBJECT
public:
    static constexpr int PadCount = 16;
    // MIDI note of pad 0; pad 15 is note 51.
    static constexpr int FirstNote = 36;
    // Value of the entries that keep the group names present in the map.
    static constexpr quint32 GroupPlaceholder = 9999;
    // What the pad editor offers beyond the slice's own limits (pitch, stretch
    // ratio): gain, the stretch picker's lengths, and group names of a length
    // a list can show.
    static constexpr float MaxGain = 5.0f;
    static constexpr double MinStretchBeats = 0.25;
    static constexpr double MaxStretchBeats = 32.0;
    static constexpr int MaxChokeGroupLength = 64;

    BankSampler();
    ~BankSampler() override;

    // Empties every pad; the choke group map stays as it is.
    void clearBank();
    bool hasSample(int index) const;
    // Null for an empty pad; index must be a pad index.
    QSharedPointer<Slice> getSample(int index) const;

    // Loads a file into a pad with every property applied. loopEnd 0 stands
    // for the sample's full length. The new sample is built and configured
    // before it replaces the pad, so a playing bank never waits for the load.
    // A file that cannot be read still fills the pad (with a silent sample).
    // Values come from project files as well as from the pad editor: each is
    // kept to the editor's range (loop points to the sample, on whole frames),
    // with a log line naming the pad and the value; a gain or ratio that is
    // no number at all gives the default.
    void loadSample(int index, const QString& fileName, int semitones, double timeStretchRatio,
                    int loopMode, unsigned long loopStart, unsigned long loopEnd, float gain,
                    bool reversed, const QString& chokeGroup);

    // Pitch and stretch as the pad editor sets them, kept to its ranges too.
    void setSemitone(int index, int semitones);
    // Stretches the pad to last the beats at the master tempo (0 beats: unstretched).
    void setTimeStretchBeats(int index, double beats);
    // Stores the tempo and re-applies each loaded pad's stretch ratio.
    void setMasterTempo(int bpm);
    int getMasterTempo() const;

    // Moves a pad into a group (out of the one its sample names). A name
    // longer than MaxChokeGroupLength is cut to it.
    void addToChokeGroup(int index, const QString& group);
    void removeFromChokeGroup(int index, const QString& group);
    // The group names, sorted.
    QStringList getChokeGroupNames() const;
    // Pads listed under a group, sorted, without the placeholder.
    QList<quint32> getChokeGroupPads(const QString& group) const;

    // Restarts a pad from its beginning, stopping the pads of its group first.
    void triggerSample(int index);
    void stopSample(int index);
    // A MIDI note on channel 1; notes outside 36..51 are not for the pads.
    void handleNote(int note, bool noteOn);

    // Adds every playing pad (and the tail of a pad that has just stopped)
    // into the interleaved stereo buffer.
    void render(float* buffer, unsigned long numSamples);

    // Project files: appends a "BankSampler" element to parent with one
    // "Sample" element per loaded pad, file names relative to projectDir.
    void writeXml(const QString& projectDir, QDomDocument& document, QDomElement& parent) const;
    // Empties every pad, then loads the pads the element lists (file names
    // relative to projectDir). An index outside the bank is skipped; a sample
    // that cannot be read is logged and the other pads load.
    void readXml(const QDomElement& element, const QString& projectDir);

signals:
    void sampleLoaded(int index);

private:
    // The pad's sample, copied out under the list mutex; null for an empty
    // pad or an index outside the bank.
    QSharedPointer<Slice> padSample(int index) const;
    // Takes the pad out of every group it is listed in.
    void forgetPad(int index);
    quint32 chokeGroupMembers(int index) const;
    // Returns once no trigger that may have copied a pad before it was
    // replaced is still running; replaced samples are let go after it.
    void waitForPadUsers();

    QList<QSharedPointer<Slice>>* m_pSampleBank;
    // Standard mutexes rather than Qt's: ThreadSanitizer sees their ordering.
    mutable std::mutex m_mutex;
    QMultiMap<QString, quint32> m_chokeGroups;
    int m_masterTempo = 120;

    // Guards m_chokeGroups. Held only around map operations.
    mutable std::mutex m_chokeMutex;
    // Held by triggerSample, stopSample and handleNote while they use a
    // sample copied out of the list. A pad load takes it once after its swap,
    // so the replaced sample is never destroyed on the audio thread (which
    // would free memory and wait for the background reader there).
    // Recursive: handleNote and triggerSample nest, and a widget's slot may
    // trigger a pad from a signal emitted inside a trigger.
    std::recursive_mutex m_padUseMutex;
};
