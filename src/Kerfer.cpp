#include "Kerfer.h"

#include "Assert.h"
#include "AtomicFile.h"
#include "ExportFormat.h"
#include "Slice.h"
#include "SliceTemplate.h"
#include "WavCueReader.h"

#include <QDebug>
#include <QFile>
#include <QMutexLocker>
#include <QXmlStreamWriter>

#include <algorithm>
#include <cmath>

namespace {

quint32 roundDownToEven(unsigned long sample)
{
    return static_cast<quint32>(sample) & ~quint32(1);
}

// Fractions of a play range, the way the loop's play() expects them: single
// precision, position times the reciprocal of the length.
double fractionOf(quint32 position, quint32 length)
{
    const float reciprocal = 1.0f / static_cast<float>(length);
    return static_cast<double>(static_cast<float>(position) * reciprocal);
}

// Step of the tempo rules: limited to 32 bits and truncated toward zero.
quint32 toStep(double samples)
{
    if (!(samples > 0.0)) // also NaN
        return 0;
    if (samples >= 4294967295.0)
        return 4294967295u;
    return static_cast<quint32>(samples);
}

QString formatFraction(double value)
{
    // 17 significant digits bring every double back unchanged.
    return QString::number(value, 'g', 17);
}

// Position of a fraction of a length, to the nearest sample; negative or
// beyond 32 bits gives -1.
qint64 positionOf(double fraction, quint32 length)
{
    const double position = std::round(fraction * static_cast<double>(length));
    if (position < 0.0 || position > 4294967295.0)
        return -1;
    return static_cast<qint64>(position);
}

} // namespace

Kerfer::Kerfer(QObject* parent) : QObject(parent)
{
    // sliceLoaded(Slice*) may cross threads through queued connections (and
    // into signal spies), which need the type registered by name.
    qRegisterMetaType<Slice*>("Slice*");
}

Kerfer::~Kerfer() = default;

bool Kerfer::hasAudio() const
{
    return m_pLoop && m_pLoop->getLength() > 0;
}

QSharedPointer<Slice> Kerfer::getLoop()
{
    QMutexLocker lock(&m_mutex);
    return m_pLoop;
}

const QList<unsigned long>& Kerfer::getSlicePoints()
{
    QMutexLocker lock(&m_mutex);
    return m_slicePoints;
}

bool Kerfer::slotLoadLoop(QString filename)
{
    // Opening the file happens outside the mutex: the audio thread's render
    // waits for it, and probing a compressed file can take long enough to be
    // heard as a drop-out.
    QSharedPointer<Slice> loop(new Slice(filename));
    // A file that gives no audio must not cost the user the loop in the
    // editor and its slice points: nothing changes until the new one is good.
    if (loop->getLength() == 0)
        return false;

    const QList<quint64> cueFrames = WavCueReader::read(filename);
    clearSlicePoints();
    // Declared before the lock, so the previous loop is released after the
    // mutex: tearing down its cache never holds up a render.
    QSharedPointer<Slice> previous;

    QMutexLocker lock(&m_mutex);
    previous = m_pLoop;
    if (previous)
        disconnect(previous.data(), &Slice::loopChanged, this, &Kerfer::loopChanged);
    m_pLoop = loop;
    m_startMarker = 0;
    m_endMarker = static_cast<quint32>(loop->getLength());
    connect(loop.data(), &Slice::loopChanged, this, &Kerfer::loopChanged);
    setSlicePointsAtFrames(cueFrames);
    emit loopReplaced();
    emit sliceLoaded(loop.data());
    return true;
}

Kerfer::Cuts Kerfer::getCuts()
{
    QMutexLocker lock(&m_mutex);
    return Cuts{m_slicePoints, m_startMarker, m_endMarker};
}

void Kerfer::setCuts(const Cuts& cuts)
{
    QMutexLocker lock(&m_mutex);
    setStartMarker(cuts.startMarker);
    setEndMarker(cuts.endMarker);
    m_slicePoints = cuts.points;
    emit slicePointsChanged();
}

QList<unsigned long> Kerfer::getSliceStarts()
{
    QMutexLocker lock(&m_mutex);
    QList<unsigned long> starts;
    if (!hasAudio())
        return starts;
    const quint32 end =
        std::min(roundDownToEven(m_endMarker), roundDownToEven(m_pLoop->getLength()));
    if (m_startMarker >= end)
        return starts;
    starts.append(m_startMarker);
    for (unsigned long point : qAsConst(m_slicePoints)) {
        const quint32 p = roundDownToEven(point);
        // A point moved onto another is listed twice but cuts once.
        if (p > starts.last() && p < end)
            starts.append(p);
    }
    return starts;
}

void Kerfer::setSlicePointsAtFrames(const QList<quint64>& frames)
{
    QMutexLocker lock(&m_mutex);
    // The decoder may find a few frames less audio than the header promised.
    QList<unsigned long> points;
    for (quint64 frame : frames)
        if (frame > 0 && 2 * frame < m_endMarker)
            points.append(static_cast<unsigned long>(2 * frame));
    if (points.isEmpty())
        return;
    qDebug() << "Slice points from the file's cue markers:" << points.size();
    m_slicePoints = points;
    emit slicePointsChanged();
}

void Kerfer::addSlicePoint(unsigned long sample)
{
    QMutexLocker lock(&m_mutex);
    const unsigned long point = roundDownToEven(sample);
    if (!m_slicePoints.contains(point))
        m_slicePoints.append(point);
    if (!m_slicePoints.isEmpty())
        std::sort(m_slicePoints.begin(), m_slicePoints.end());
    emit slicePointsChanged();
}

void Kerfer::removeSlicePoint(unsigned long sample)
{
    QMutexLocker lock(&m_mutex);
    const unsigned long point = roundDownToEven(sample);
    m_slicePoints.removeAll(point);

    // A looping slice whose boundary went away keeps looping over the slice
    // that now covers it.
    if (m_pLoop) {
        if (m_pLoop->getLoopStart() == point)
            m_pLoop->setLoopStart(getSliceStart(point, 0));
        if (m_pLoop->getLoopEnd() == point) {
            unsigned long end = getSliceStart(point, 0);
            if (end == m_pLoop->getLoopStart())
                end = getSliceEnd(point);
            m_pLoop->setLoopEnd(end);
        }
    }
    emit slicePointsChanged();
}

void Kerfer::moveSlicePoint(unsigned long oldSample, unsigned long newSample)
{
    QMutexLocker lock(&m_mutex);
    const int index = m_slicePoints.indexOf(oldSample);
    if (index < 0)
        return;
    const unsigned long point = roundDownToEven(newSample);
    // Landing on another point leaves both in the list; removing one of them
    // later removes both.
    m_slicePoints[index] = point;
    std::sort(m_slicePoints.begin(), m_slicePoints.end());

    // The loop region follows a boundary that moved. A slice playing once
    // towards the old point still ends there: the loop does not tell where its
    // current pass ends.
    if (m_pLoop) {
        if (m_pLoop->getLoopStart() == oldSample)
            m_pLoop->setLoopStart(point);
        if (m_pLoop->getLoopEnd() == oldSample)
            m_pLoop->setLoopEnd(point);
    }
    emit slicePointsChanged();
}

void Kerfer::clearSlicePoints()
{
    QMutexLocker lock(&m_mutex);
    m_slicePoints.clear();
    emit slicePointsChanged();
}

void Kerfer::sliceEvenly(unsigned int numSlices)
{
    TMB_ASSERT_TEXT(numSlices > 0, "numSlices > 0");
    QMutexLocker lock(&m_mutex);
    if (!hasAudio())
        return;
    m_slicePoints.clear();
    const quint32 length = m_endMarker - m_startMarker;
    for (unsigned int i = 1; i < numSlices; ++i) {
        // In 64 bits: i x length overflows 32 bits on regions of about an hour.
        // The quotient is below length, so it fits again.
        const quint64 offset = static_cast<quint64>(i) * length / numSlices;
        addSlicePoint(static_cast<quint32>(m_startMarker + static_cast<quint32>(offset)));
    }
}

void Kerfer::sliceByBeats(double tempo, double beats)
{
    QMutexLocker lock(&m_mutex);
    if (!hasAudio() || !(tempo > 0.0))
        return;
    const quint32 step = toStep(beats / tempo * Slice::samplesPerMinute(m_pLoop->getSampleRate()));
    if (step == 0) {
        // A step of 0 would never advance.
        qDebug() << "Tempo slicing refused, interval shorter than one sample:" << beats
                 << "beats at" << tempo << "bpm";
        return;
    }
    const quint64 length = m_pLoop->getLength();
    // 64 bits: a large step from a late start marker must not wrap back into the loop.
    for (quint64 p = quint64(m_startMarker) + step; p < length; p += step)
        addSlicePoint(static_cast<unsigned long>(p));
}

void Kerfer::sliceByBars(double tempo, int numerator, int denominator, double bars)
{
    Q_UNUSED(denominator); // a bar is always numerator beats of the tempo
    QMutexLocker lock(&m_mutex);
    if (!hasAudio() || !(tempo > 0.0))
        return;
    const quint32 step =
        toStep(bars * numerator / tempo * Slice::samplesPerMinute(m_pLoop->getSampleRate()));
    if (step == 0) {
        qDebug() << "Tempo slicing refused, interval shorter than one sample:" << bars << "bars of"
                 << numerator << "beats at" << tempo << "bpm";
        return;
    }
    const quint64 length = m_pLoop->getLength();
    for (quint64 p = quint64(m_startMarker) + step; p < length; p += step)
        addSlicePoint(static_cast<unsigned long>(p));
}

void Kerfer::replaceSlicePointsBetweenMarkers(const QList<unsigned long>& points)
{
    QMutexLocker lock(&m_mutex);
    QList<unsigned long> kept;
    for (unsigned long p : qAsConst(m_slicePoints))
        if (p <= m_startMarker || p >= m_endMarker)
            kept.append(p);
    for (unsigned long p : points) {
        const unsigned long point = roundDownToEven(p);
        if (point > m_startMarker && point < m_endMarker && !kept.contains(point))
            kept.append(point);
    }
    std::sort(kept.begin(), kept.end());
    m_slicePoints = kept;
    emit slicePointsChanged();
}

unsigned long Kerfer::getSliceStart(unsigned long sample, int snapDistance)
{
    QMutexLocker lock(&m_mutex);
    const quint32 position = static_cast<quint32>(sample);

    if (snapDistance >= 1) {
        quint32 bestDistance = 4294967294u;
        unsigned long nearest = 0;
        for (unsigned long point : m_slicePoints) {
            // Distance as the magnitude of the signed 32-bit difference.
            const qint32 difference = static_cast<qint32>(position - static_cast<quint32>(point));
            const quint32 distance = difference < 0 ? 0u - static_cast<quint32>(difference)
                                                    : static_cast<quint32>(difference);
            if (distance < bestDistance) {
                bestDistance = distance;
                nearest = point;
            }
        }
        if (m_slicePoints.isEmpty() || bestDistance > static_cast<quint32>(snapDistance))
            return 0;
        return nearest;
    }

    const auto next = std::upper_bound(m_slicePoints.cbegin(), m_slicePoints.cend(),
                                       static_cast<unsigned long>(position));
    if (next == m_slicePoints.cbegin())
        return m_startMarker;
    if (next != m_slicePoints.cend()) {
        const unsigned long previous = *(next - 1);
        return previous >= m_startMarker ? previous : m_startMarker;
    }
    // Past the last point: that point, even when it lies before the start marker.
    return m_slicePoints.isEmpty() ? m_startMarker : m_slicePoints.last();
}

unsigned long Kerfer::getSliceEnd(unsigned long sample)
{
    QMutexLocker lock(&m_mutex);
    const auto next = std::upper_bound(m_slicePoints.cbegin(), m_slicePoints.cend(),
                                       static_cast<unsigned long>(static_cast<quint32>(sample)));
    return next != m_slicePoints.cend() ? *next : m_endMarker;
}

unsigned long Kerfer::getStartMarker()
{
    QMutexLocker lock(&m_mutex);
    return m_startMarker;
}

unsigned long Kerfer::getEndMarker()
{
    QMutexLocker lock(&m_mutex);
    return m_endMarker;
}

void Kerfer::setStartMarker(unsigned long sample)
{
    QMutexLocker lock(&m_mutex);
    const quint32 marker = roundDownToEven(sample);
    if (m_pLoop && m_pLoop->getLoopStart() == m_startMarker)
        m_pLoop->setLoopStart(marker);
    const bool moved = marker != m_startMarker;
    m_startMarker = marker;
    if (moved)
        emit markersChanged();
}

void Kerfer::setEndMarker(unsigned long sample)
{
    QMutexLocker lock(&m_mutex);
    const quint32 marker = static_cast<quint32>(sample);
    if (m_pLoop && m_pLoop->getLoopEnd() == m_endMarker)
        m_pLoop->setLoopEnd(marker);
    const bool moved = marker != m_endMarker;
    m_endMarker = marker;
    if (moved)
        emit markersChanged();
}

// Without the mutex: drawing must not wait for a render. The loop pointer is
// only replaced on the user-interface thread, which is the one calling these.
unsigned long Kerfer::getLoopRegionStart()
{
    return m_pLoop ? m_pLoop->getLoopStart() : 0;
}

unsigned long Kerfer::getLoopRegionEnd()
{
    return m_pLoop ? m_pLoop->getLoopEnd() : 0;
}

void Kerfer::startLoopAt(quint32 start, quint32 end)
{
    const quint32 length = static_cast<quint32>(m_pLoop->getLength());
    m_pLoop->play(true, fractionOf(start, length), fractionOf(end, length));
}

void Kerfer::playLoop(bool play)
{
    QMutexLocker lock(&m_mutex);
    if (!hasAudio())
        return;
    if (!play) {
        m_pLoop->play(false, 0.0, 1.0);
        endLoopPlaybackRepeat();
        return;
    }
    if (m_pLoop->getLoopMode() != 2) {
        m_pLoop->setLoopStart(m_startMarker);
        m_pLoop->setLoopEnd(m_endMarker);
        // Mode 1 plays the pass to the end marker, then cycles the region.
        const int mode = m_loopPlayback ? 1 : 0;
        if (m_pLoop->getLoopMode() != mode)
            m_pLoop->setLoopMode(mode);
    }
    startLoopAt(static_cast<quint32>(m_pLoop->getLoopStart()),
                static_cast<quint32>(m_pLoop->getLoopEnd()));
}

void Kerfer::setLoopPlayback(bool on)
{
    QMutexLocker lock(&m_mutex);
    m_loopPlayback = on;
}

bool Kerfer::isLoopPlayback()
{
    QMutexLocker lock(&m_mutex);
    return m_loopPlayback;
}

void Kerfer::endLoopPlaybackRepeat()
{
    // Only loop playback sets mode 1; a slice loop (mode 2) stays.
    if (m_pLoop->getLoopMode() == 1)
        m_pLoop->setLoopMode(0);
}

void Kerfer::playToEnd(unsigned long startSample)
{
    QMutexLocker lock(&m_mutex);
    if (!hasAudio() || startSample >= m_pLoop->getLength())
        return;
    endLoopPlaybackRepeat();
    const quint32 start = std::max(static_cast<quint32>(startSample), m_startMarker);
    const quint32 end = std::min(m_endMarker, static_cast<quint32>(m_pLoop->getLength()));
    if (start < end)
        startLoopAt(start, end);
}

void Kerfer::playSlice(unsigned long startSample)
{
    QMutexLocker lock(&m_mutex);
    if (!hasAudio())
        return;
    endLoopPlaybackRepeat();
    const unsigned long sliceLength = m_pLoop->getLength();
    if (startSample >= sliceLength) {
        // A programming error when the start comes from the list, but the list
        // may hold points past the audio (a point dragged or placed there), so
        // a release build only refuses.
#ifndef QT_NO_DEBUG
        TMB_ASSERT_TEXT(startSample < sliceLength, "startSample < sliceLength");
#endif
        qDebug() << "Slice start" << startSample << "lies beyond the loop's length" << sliceLength;
        return;
    }
    const quint32 start = std::max(static_cast<quint32>(startSample), m_startMarker);
    const quint32 end = std::min(static_cast<quint32>(getSliceEnd(start)), m_endMarker);
    // A slice of no length would make the loop play a pass that ends where it
    // starts, which it cannot render; nothing plays, as beyond the end marker.
    if (start >= end)
        return;
    startLoopAt(start, end);
}

void Kerfer::toggleSliceLoop(unsigned long sample)
{
    QMutexLocker lock(&m_mutex);
    if (!hasAudio())
        return;
    const unsigned long start = getSliceStart(sample, 0);
    const unsigned long end = getSliceEnd(sample);
    const unsigned long playPos = m_pLoop->getPlayPos();

    if (m_pLoop->getLoopMode() > 0 && m_pLoop->getLoopStart() == start &&
        m_pLoop->getLoopEnd() == end) {
        m_pLoop->play(false, 0.0, 1.0);
        m_pLoop->setLoopMode(0);
        return;
    }
    // A region of no length (a point on the end marker, clicked beyond it)
    // cannot loop.
    if (start == end)
        return;

    m_pLoop->setLoopStart(start);
    m_pLoop->setLoopEnd(end);
    m_pLoop->setLoopMode(2);
    if (!m_pLoop->isPlaying())
        return;
    if (playPos >= start && playPos <= end)
        return; // keeps playing and wraps inside the new region
    const quint32 length = static_cast<quint32>(m_pLoop->getLength());
    m_pLoop->play(true, fractionOf(static_cast<quint32>(m_pLoop->getLoopStart()), length), 1.0);
}

void Kerfer::render(float* buffer, unsigned numSamples)
{
    QMutexLocker lock(&m_mutex);
    if (m_pLoop)
        m_pLoop->render(buffer, numSamples);
}

bool Kerfer::saveSlice(unsigned long startSample, const QString& fileName, QString* error)
{
    return saveSlice(startSample, fileName, ExportFormat::forSliceFile(fileName), error);
}

bool Kerfer::saveSlice(unsigned long startSample, const QString& fileName,
                       const ExportFormat& format, QString* error)
{
    QSharedPointer<Slice> loop;
    quint32 start = 0;
    quint32 end = 0;
    {
        QMutexLocker lock(&m_mutex);
        if (!hasAudio()) {
            qDebug() << "Slice not saved, no loop loaded:" << fileName;
            if (error)
                *error = QStringLiteral("no loop is loaded");
            return false;
        }
        loop = m_pLoop;
        const quint32 sample = static_cast<quint32>(startSample);
        end = roundDownToEven(m_endMarker);
        for (unsigned long point : qAsConst(m_slicePoints)) {
            if (point > sample) {
                end = static_cast<quint32>(point);
                break;
            }
        }
        start = std::max(roundDownToEven(sample), m_startMarker);
        // Points and the end marker may lie beyond the audio; what lies
        // there is not part of the slice.
        end = std::min(end, roundDownToEven(loop->getLength()));
    }
    if (start >= end) {
        qDebug() << "Slice not saved, it holds no audio:" << fileName << start << end;
        if (error)
            *error = QStringLiteral("the slice holds no audio");
        return false;
    }
    // Written without the Kerfer's mutex: the loop pointer is our own
    // reference, and the audio thread renders the loop through this mutex.
    return loop->save(fileName, start, end, format, error);
}

bool Kerfer::saveSliceTemplate(const QString& fileName, QString* reason)
{
    const auto fail = [&](const QString& why) {
        qDebug() << "Slice template not saved:" << fileName << qPrintable(why);
        if (reason)
            *reason = why;
        return false;
    };
    quint32 length = 0;
    quint32 startMarker = 0;
    quint32 endMarker = 0;
    QList<unsigned long> points;
    {
        QMutexLocker lock(&m_mutex);
        if (!hasAudio())
            return fail(tr("no loop is loaded"));
        length = static_cast<quint32>(m_pLoop->getLength());
        startMarker = m_startMarker;
        endMarker = m_endMarker;
        points = m_slicePoints;
    }
    // The points are stored relative to the marker region; without one there
    // is nothing to relate them to.
    if (endMarker <= startMarker)
        return fail(tr("the markers enclose no audio"));

    QByteArray text;
    QXmlStreamWriter xml(&text);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(SliceTemplate::kRoot);
    xml.writeAttribute("version", SliceTemplate::kVersion);
    xml.writeEmptyElement("markers");
    xml.writeAttribute("start", formatFraction(double(startMarker) / length));
    xml.writeAttribute("end", formatFraction(double(endMarker) / length));
    const double region = double(endMarker) - double(startMarker);
    for (unsigned long point : points) {
        xml.writeEmptyElement("point");
        xml.writeAttribute("at", formatFraction((double(point) - double(startMarker)) / region));
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    QString error;
    if (!AtomicFile::write(fileName, text, &error))
        return fail(tr("it could not be written (%1)").arg(error));
    return true;
}

bool Kerfer::loadSliceTemplate(const QString& fileName, QString* reason)
{
    const auto fail = [&](const QString& why, const QString& detail = QString()) {
        qDebug() << "Slice template not applied:" << fileName << qPrintable(why)
                 << qPrintable(detail);
        if (reason)
            *reason = why;
        return false;
    };
    // The user needs to know it is no template; the log keeps what is wrong.
    const auto refuse = [&](const QString& why) {
        return fail(tr("it is not a slice template"), why);
    };

    // Read and check the whole file before touching anything, and without the
    // mutex, so that disk access never holds up a render.
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return fail(tr("it could not be read (%1)").arg(file.errorString()));
    SliceTemplate slices;
    QString error;
    if (!SliceTemplate::read(file, &slices, &error))
        return refuse(error);
    file.close();
    const double startFraction = slices.startMarker;
    const double endFraction = slices.endMarker;
    const QList<double>& pointFractions = slices.points;

    QMutexLocker lock(&m_mutex);
    if (!hasAudio())
        return fail(tr("no loop is loaded"));
    const quint32 length = static_cast<quint32>(m_pLoop->getLength());
    // Markers are fractions of the loop's length, kept within the audio.
    const qint64 start = std::min<qint64>(positionOf(startFraction, length), length);
    const qint64 end = std::min<qint64>(positionOf(endFraction, length), length);
    if (start < 0 || end < 0 || roundDownToEven(end) <= roundDownToEven(start))
        return fail(tr("its markers enclose no audio of this loop"));
    const quint32 startMarker = roundDownToEven(static_cast<unsigned long>(start));
    const quint32 endMarker = roundDownToEven(static_cast<unsigned long>(end));

    // Points are fractions of the marker region; those that land outside the
    // audio could not be played and are left out.
    QList<unsigned long> points;
    int skipped = 0;
    for (double at : pointFractions) {
        const double position =
            std::round(double(startMarker) + at * (double(endMarker) - double(startMarker)));
        if (!(position >= 0.0) || position >= double(length)) {
            ++skipped;
            continue;
        }
        points.append(roundDownToEven(static_cast<unsigned long>(position)));
    }
    // Sorted before the repeats go: a template may hold tens of thousands of
    // points, and a search of the list for each would take minutes.
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    if (skipped > 0)
        qDebug() << "Slice template points outside the loop left out:" << skipped << fileName;

    setStartMarker(startMarker);
    setEndMarker(endMarker);
    m_slicePoints = points;
    emit slicePointsChanged();
    return true;
}
