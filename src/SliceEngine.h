#pragma once

#include "AudioExporter.h"

#include <QList>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QWeakPointer>

#include <atomic>
#include <mutex>

class AudioOutputDevice;
class QDomDocument;
class QDomElement;
class BankSampler;
class Kerfer;
class LoopingSamplerBank;
class MidiInputDevice;
class Slice;
class StreamingAudioFile;

// Owns everything that makes sound: the loop being sliced, the sampler pads,
// the loop recorders, the file preview, and the MIDI input and audio output
// devices. The output device's callback calls render once per hardware
// buffer; the rest runs on the user-interface thread. The engine is also the
// entry point for project files and exports.
//
// The engine mutex is held for every render cycle and by the few operations
// that change what a cycle walks (preview, new project, MIDI device) and by
// the loop export. Lock order: this mutex, then a component's, then a
// Slice's, then a cache's.
class SliceEngine
{
public:
    // Builds the pads, the Kerfer and the recorders, then opens MIDI input
    // and last the audio output; from then on the audio thread renders.
    SliceEngine();
    // Saves the settings, closes the audio output (no render after that),
    // then the MIDI input, then destroys the components.
    ~SliceEngine();

    SliceEngine(const SliceEngine&) = delete;
    SliceEngine& operator=(const SliceEngine&) = delete;

    // Adds everything that plays into buffer (which the caller has cleared):
    // MIDI first, then the loop, the pads, the recorders' recording pass and
    // playback, and the preview. No gain, no clipping. Requests of any even
    // size are served, in pieces the components accept. While a loop export
    // renders, the buffer stays silent (the export has everything that plays).
    void render(float* buffer, unsigned long numSamples);

    Kerfer* getKerfer() const { return m_pKerfer; }
    BankSampler* getBankSampler() const { return m_pBankSampler; }
    LoopingSamplerBank* getLoopingSamplerBank() const { return m_pLoopingSamplerBank; }
    // Null when no device is open.
    AudioOutputDevice* getAudioOutputDevice() const { return m_pAudioOutputDevice; }

    // The tempo of projects and of the pads' time stretch.
    void setBPM(int bpm);
    unsigned getBPM() const { return m_bpm; }

    // Empties every pad; the loop, its slice points and the tempo stay.
    void newProject();
    // Replaces the preview by the file (a file that cannot be read previews
    // as silence). The file is opened before the audio thread is held up.
    void playPreview(const QString& path);

    // Device changes from the preferences: close, then open, each.
    void openAudioDevice();
    void closeAudioDevice();
    void openMidiDevice();
    void closeMidiDevice();

    // Project files (.tmx, appended when the path lacks it in any case): the
    // tempo, the loop with its markers and slice points, and the pads.
    // Failures are logged; an existing project is replaced only by a complete
    // new file. True when written or applied. A project whose loop file is
    // missing or gives no audio applies the rest, leaves the loop as it was
    // and names the file in missingLoop.
    bool saveProject(QString path);
    bool loadProject(const QString& path, QString* missingLoop = nullptr);

    // Brings the export list up to date with the Kerfer: one piece per slice
    // between the markers, in order, each sharing the loop's audio. Every
    // export that works on the list does this first; pieces are built anew
    // only when the loop or its cuts changed.
    void updateExportList();
    QList<QSharedPointer<Slice>> getExportList() const { return m_exportList; }

    // Writes every slice of the loop as "<base>_<n>.<suffix>" beside path,
    // n counting from 1, as 16-bit files at 44.1 kHz (AIFF for a ".aif" or
    // ".aiff" suffix, WAV otherwise) or in the format given. The loop is
    // converted as one stream, so the slices together last exactly as long as
    // the loop converted. Returns the files written; each one that could not
    // be written goes to failed with the reason.
    QStringList exportSlices(const QString& path, QList<AudioExporter::Failure>* failed = nullptr);
    QStringList exportSlices(const QString& path, const ExportFormat& format,
                             QList<AudioExporter::Failure>* failed = nullptr);
    // The slice's whole audio as one file, as Slice::save writes it.
    bool exportSlice(Slice* slice, const QString& fileName, QString* error = nullptr);
    // Loads the file into a pad with the default pad settings.
    void exportToPad(int padIndex, const QString& fileName);
    // Slices 1 to 16 (between the markers) to pads 0 to 15 in one step, each
    // written in the format into the per-user pad folder under a new name,
    // as a slice sent to a pad. Returns how many pads were loaded.
    int slicesToPads(const ExportFormat& format, QList<AudioExporter::Failure>* failed = nullptr);
    // Renders what the engine plays for the length of the loop (between the
    // markers) at 44.1 kHz into a 32-bit float WAV file, or in the format
    // given, advancing everything that plays as playback would: the file
    // lasts round(loop frames * 44100 / loop rate) frames, or the loop's own
    // length at the loop's rate. The output device stays open and plays
    // silence meanwhile. False, with a reason for the user, when not written.
    bool exportLoop(const QString& fileName, QString* error = nullptr);
    bool exportLoop(const QString& fileName, const ExportFormat& format, QString* error = nullptr);
    // Export Loop: plays the loop from its start for exactly the export and
    // stops it again, so that neither the export hears what played before nor
    // the output device what the export played.
    bool exportLoopFromStart(const QString& fileName,
                             const ExportFormat& format = ExportFormat::forLoopFile(),
                             QString* error = nullptr);

private:
    // The project's "Loop" element: the file relative to the project's
    // folder, the markers and the points. Nothing without a loop.
    void writeLoopXml(const QString& projectDir, QDomDocument& document, QDomElement& parent) const;
    void readLoopXml(const QDomElement& element, const QString& projectDir, QString* missingLoop);
    // One cycle with the mutex held, split into pieces of at most
    // kMaxRenderSamples.
    void renderLocked(float* buffer, unsigned long numSamples);
    // The loop export, with the mutex held and m_offlineRender set.
    bool exportLoopLocked(const QString& fileName, const ExportFormat& format, QString* error);

    AudioOutputDevice* m_pAudioOutputDevice = nullptr;
    MidiInputDevice* m_pMidiInputDevice = nullptr;
    QList<QSharedPointer<Slice>> m_exportList;
    // What the export list was built from: the loop and the piece bounds.
    QWeakPointer<Slice> m_exportSource;
    QList<quint32> m_exportBounds;
    BankSampler* m_pBankSampler = nullptr;
    LoopingSamplerBank* m_pLoopingSamplerBank = nullptr;
    Kerfer* m_pKerfer = nullptr;
    unsigned m_bpm = 120;
    // A standard mutex rather than QMutex: ThreadSanitizer sees its ordering.
    std::mutex m_mutex;
    // Set while a loop export renders with the mutex held: the device's
    // callbacks then play silence instead of waiting for the whole export.
    std::atomic<bool> m_offlineRender{false};
    StreamingAudioFile* m_pPreview = nullptr;
};
