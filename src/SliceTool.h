#pragma once

#include "ExportFormat.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <utility>
#include <vector>

// The command-line slicer: slices many loops at once, at their hits, evenly,
// on a tempo grid, by a slice template or at the cue markers a file carries,
// and lists the slices as JSON or writes them as numbered files, with the
// kit, groove and marked loop the window exports. No window, no audio
// device, no settings.
// Every file is decoded and sliced by a worker of its own, so the work
// spreads over the cores.
class SliceTool
{
public:
    enum class Mode
    {
        Hits,
        Even,
        Beats,
        Bars,
        Template,
        // The file's own cue markers.
        Markers
    };

    struct Options
    {
        Mode mode = Mode::Hits;
        // Without a slicing option a file's cue markers slice it, where it has them.
        bool modeGiven = false;
        double sensitivity = 50.0;
        int even = 0;
        double interval = 0.0; // beats or bars
        double bpm = 0.0;      // 0: the estimate
        int meterNumerator = 4;
        int meterDenominator = 4;
        QString templateFile;
        bool list = false;
        QString outputDir;
        ExportFormat format;
        bool sfz = false;
        bool midi = false;
        bool markers = false;
        double fadeMs = 0.0;
        int jobs = 0; // 0: the number of cores
        bool quiet = false;
        QStringList files;
    };

    // What one input gave.
    struct Result
    {
        QString file;
        QString error; // empty when it went well
        int rate = 0;
        unsigned long frames = 0;
        double bpm = 0.0;                                            // 0: none
        std::vector<std::pair<unsigned long, unsigned long>> slices; // [start, end) frames
    };

    // Exit statuses.
    static constexpr int kOk = 0;
    static constexpr int kFailed = 1;
    static constexpr int kUsage = 2;

    // Fills options from the arguments (without the program name); false and
    // *error when they are not valid.
    static bool parse(const QStringList& arguments, Options* options, QString* error);
    static QString usage();

    // Processes every file and reports to out (JSON lines) and err (progress,
    // errors, summary); returns the exit status.
    static int run(const Options& options, std::FILE* out, std::FILE* err, bool errIsTerminal);

    // Decodes, slices and (with an output folder) writes one file.
    static Result process(const Options& options, const QString& file);
    static QString toJson(const Result& result);
};
