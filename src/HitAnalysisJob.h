#pragma once

#include "HitAnalysis.h"

#include <QObject>
#include <QSharedPointer>

#include <memory>
#include <vector>

class Slice;

// Analyses the hits of a loop on a thread of its own, once the loop's cache
// is filled, and hands the result back on the thread that owns the job.
//
// Only the newest analysis counts: starting another, clearing or destroying
// the job cancels the one that runs, which then ends within a fraction of a
// second (the destructor waits for that, never for a whole analysis). The
// analysis holds the cache it reads, so the loop may go meanwhile.
class HitAnalysisJob : public QObject
{
    Q_OBJECT
public:
    explicit HitAnalysisJob(QObject* parent = nullptr);
    ~HitAnalysisJob() override;

    HitAnalysisJob(const HitAnalysisJob&) = delete;
    HitAnalysisJob& operator=(const HitAnalysisJob&) = delete;

    // Drops the analysis there was and analyses loop's audio as soon as its
    // cache is filled (waited for on the analysis thread). A loop without
    // audio gives no analysis.
    void start(const QSharedPointer<Slice>& loop);
    // Drops the analysis, cancelling it where it runs.
    void clear();

    // From start() until the analysis is there.
    bool isBusy() const;
    // The last complete analysis; null before there is one.
    const HitAnalysis* getResult() const { return m_result.isComplete() ? &m_result : nullptr; }

signals:
    // A complete analysis is there.
    void finished();

private:
    struct Run;

    void collect(Run* run);

    // Every analysis whose thread has not been collected yet; the newest is
    // current unless it was cancelled.
    std::vector<std::unique_ptr<Run>> m_runs;
    Run* m_pCurrent = nullptr;
    // Incomplete (as a fresh one is) until an analysis has run to its end.
    HitAnalysis m_result;
};
