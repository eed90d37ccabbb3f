#include "BankSampler.h"

#include "Assert.h"
#include "Slice.h"

#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QDomElement>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {
const char* const kNoGroup = "None";

// The fewest digits that read back as the same float.
QString floatText(float value)
{
    for (int digits = 6; digits < 9; ++digits) {
        const QString text = QString::number(static_cast<double>(value), 'g', digits);
        if (text.toFloat() == value)
            return text;
    }
    return QString::number(static_cast<double>(value), 'g', 9);
}

// The fewest digits that read back as the same double.
QString doubleText(double value)
{
    for (int digits = 15; digits < 17; ++digits) {
        const QString text = QString::number(value, 'g', digits);
        if (text.toDouble() == value)
            return text;
    }
    return QString::number(value, 'g', 17);
}

// A pad value kept to its range, logged when it was not in it.
template <typename T> T padValue(int pad, const char* what, T value, T minimum, T maximum)
{
    const T kept = std::clamp(value, minimum, maximum);
    if (kept != value)
        qDebug() << "Pad" << pad << what << value << "is outside" << minimum << "to" << maximum
                 << "- using" << kept;
    return kept;
}

// A number that is none at all (NaN, infinite) is taken as missing.
template <typename T>
T padNumber(int pad, const char* what, T value, T fallback, T minimum, T maximum)
{
    if (!std::isfinite(value)) {
        qDebug() << "Pad" << pad << what << value << "is no number - using" << fallback;
        return fallback;
    }
    return padValue(pad, what, value, minimum, maximum);
}

// Loop points lie within the sample, on whole frames (an odd one would swap
// the channels of everything looped); the end is rounded up, so that no
// region rounds away to nothing.
unsigned long padPosition(int pad, const char* what, unsigned long value, unsigned long length,
                          bool up)
{
    const unsigned long even = up ? value + (value & 1ul) : value & ~1ul;
    return padValue(pad, what, std::max(even, value & ~1ul), 0ul, length);
}

QList<QSharedPointer<Slice>> emptyPads()
{
    QList<QSharedPointer<Slice>> pads;
    pads.reserve(BankSampler::PadCount);
    for (int i = 0; i < BankSampler::PadCount; ++i)
        pads.append(QSharedPointer<Slice>());
    return pads;
}
} // namespace

BankSampler::BankSampler() : m_pSampleBank(new QList<QSharedPointer<Slice>>(emptyPads()))
{
    // The placeholders keep the names offered by the pad widget present even
    // while no pad is in them.
    m_chokeGroups.insert(QStringLiteral("None"), GroupPlaceholder);
    m_chokeGroups.insert(QStringLiteral("Hi-hats"), GroupPlaceholder);
    m_chokeGroups.insert(QStringLiteral("Other"), GroupPlaceholder);
}

BankSampler::~BankSampler()
{
    clearBank();
    delete m_pSampleBank;
}

void BankSampler::clearBank()
{
    QList<QSharedPointer<Slice>> replaced = emptyPads();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        std::swap(*m_pSampleBank, replaced);
    }
    waitForPadUsers();
    replaced.clear();
}

bool BankSampler::hasSample(int index) const
{
    return !m_pSampleBank->value(index).isNull();
}

QSharedPointer<Slice> BankSampler::getSample(int index) const
{
    TMB_ASSERT_TEXT(index >= 0 && index < m_pSampleBank->count(), "index < m_pSampleBank->count()");
    return m_pSampleBank->at(index);
}

void BankSampler::loadSample(int index, const QString& fileName, int semitones,
                             double timeStretchRatio, int loopMode, unsigned long loopStart,
                             unsigned long loopEnd, float gain, bool reversed,
                             const QString& chokeGroup)
{
    if (index < 0 || index >= PadCount) {
        qDebug() << "BankSampler: no pad" << index << "for" << fileName;
        return;
    }

    QSharedPointer<Slice> old = m_pSampleBank->at(index);
    if (old)
        removeFromChokeGroup(index, old->getChokeGroup());
    // The pad may also be listed where no sample of it says so: entered while
    // empty, or left over from before clearBank. Such an entry would let
    // another group choke the new sample.
    forgetPad(index);

    // Everything that may take long (opening the file, the rebuilds of pitch,
    // stretch and reverse) happens before the pad list is touched, so the
    // audio thread keeps rendering the other pads meanwhile.
    QSharedPointer<Slice> sample(new Slice(fileName));
    const unsigned long length = sample->getLength();
    sample->setPitch(padValue(index, "pitch", semitones, -Slice::kMaxPitch, Slice::kMaxPitch));
    sample->setTimeStretchRatio(padNumber(index, "stretch ratio", timeStretchRatio, 1.0,
                                          Slice::kMinTimeStretchRatio, Slice::kMaxTimeStretchRatio),
                                static_cast<unsigned>(m_masterTempo));
    sample->setLoopMode(padValue(index, "loop mode", loopMode, 0, 2));
    sample->setLoopStart(padPosition(index, "loop start", loopStart, length, false));
    sample->setLoopEnd(loopEnd == 0 ? length
                                    : padPosition(index, "loop end", loopEnd, length, true));
    sample->setGain(padNumber(index, "gain", gain, 1.0f, 0.0f, MaxGain));
    if (reversed)
        sample->reverse();

    QSharedPointer<Slice> replaced = sample;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        qSwap((*m_pSampleBank)[index], replaced);
    }
    old.clear();
    waitForPadUsers();
    replaced.clear();

    addToChokeGroup(index, chokeGroup);
    emit sampleLoaded(index);
}

void BankSampler::waitForPadUsers()
{
    // A MIDI note that copied a replaced sample before the swap may still be
    // using it; once it has finished, the last reference, and with it the
    // destruction, stays on this thread.
    m_padUseMutex.lock();
    m_padUseMutex.unlock();
}

void BankSampler::setSemitone(int index, int semitones)
{
    QSharedPointer<Slice> sample = m_pSampleBank->value(index);
    if (sample)
        sample->setPitch(padValue(index, "pitch", semitones, -Slice::kMaxPitch, Slice::kMaxPitch));
}

void BankSampler::setTimeStretchBeats(int index, double beats)
{
    QSharedPointer<Slice> sample = m_pSampleBank->value(index);
    if (!sample)
        return;
    // 0 beats is no stretch at all; anything else is a length the picker offers.
    if (beats != 0.0)
        beats = padNumber(index, "stretch length in beats", beats, 0.0, MinStretchBeats,
                          MaxStretchBeats);
    sample->stretchToBeats(beats, static_cast<unsigned>(m_masterTempo));
}

void BankSampler::setMasterTempo(int bpm)
{
    m_masterTempo = bpm;
    qDebug() << "BankSampler: Telling samples to update their lengths...";
    for (const QSharedPointer<Slice>& sample : qAsConst(*m_pSampleBank)) {
        if (sample)
            sample->setTimeStretchRatio(sample->getTimeStretchRatio(), static_cast<unsigned>(bpm));
    }
}

int BankSampler::getMasterTempo() const
{
    return m_masterTempo;
}

void BankSampler::addToChokeGroup(int index, const QString& name)
{
    QString group = name;
    if (group.size() > MaxChokeGroupLength) {
        qDebug() << "Pad" << index << "choke group name of" << group.size()
                 << "characters is cut to" << MaxChokeGroupLength;
        // Not between the halves of a character.
        group.truncate(group.at(MaxChokeGroupLength - 1).isHighSurrogate() ? MaxChokeGroupLength - 1
                                                                           : MaxChokeGroupLength);
    }
    qDebug() << "add sample" << index << "to choke group" << group;
    QSharedPointer<Slice> sample = m_pSampleBank->value(index);
    if (sample) {
        removeFromChokeGroup(index, sample->getChokeGroup());
        sample->setChokeGroup(group);
    }
    const quint32 pad = static_cast<quint32>(index);
    std::lock_guard<std::mutex> lock(m_chokeMutex);
    // A pad listed twice would only be stopped twice, but the list would grow
    // with every repeated choice in the pad editor.
    if (!m_chokeGroups.contains(group, pad))
        m_chokeGroups.insert(group, pad);
}

void BankSampler::removeFromChokeGroup(int index, const QString& group)
{
    qDebug() << "remove sample" << index << "from choke group" << group;
    QSharedPointer<Slice> sample = m_pSampleBank->value(index);
    if (sample)
        sample->setChokeGroup(QString::fromLatin1(kNoGroup));
    std::lock_guard<std::mutex> lock(m_chokeMutex);
    m_chokeGroups.remove(group, static_cast<quint32>(index));
}

void BankSampler::forgetPad(int index)
{
    const quint32 pad = static_cast<quint32>(index);
    std::lock_guard<std::mutex> lock(m_chokeMutex);
    for (auto it = m_chokeGroups.begin(); it != m_chokeGroups.end();) {
        if (it.value() == pad)
            it = m_chokeGroups.erase(it);
        else
            ++it;
    }
}

QStringList BankSampler::getChokeGroupNames() const
{
    std::lock_guard<std::mutex> lock(m_chokeMutex);
    return m_chokeGroups.uniqueKeys();
}

QList<quint32> BankSampler::getChokeGroupPads(const QString& group) const
{
    QList<quint32> pads;
    {
        std::lock_guard<std::mutex> lock(m_chokeMutex);
        pads = m_chokeGroups.values(group);
    }
    pads.removeAll(GroupPlaceholder);
    std::sort(pads.begin(), pads.end());
    return pads;
}

QSharedPointer<Slice> BankSampler::padSample(int index) const
{
    if (index < 0 || index >= PadCount)
        return QSharedPointer<Slice>();
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pSampleBank->at(index);
}

void BankSampler::triggerSample(int index)
{
    std::lock_guard<std::recursive_mutex> use(m_padUseMutex);
    QSharedPointer<Slice> sample = padSample(index);
    if (!sample)
        return;

    const quint32 members = chokeGroupMembers(index);
    for (int pad = 0; pad < PadCount; ++pad) {
        if (members & (1u << pad))
            stopSample(pad);
    }
    sample->play(true, 0.0, 1.0);
}

quint32 BankSampler::chokeGroupMembers(int index) const
{
    // The pad's group is found in the map rather than copied from its sample:
    // a copy on the audio thread would share the string with the pad editor,
    // which could leave the last reference, and the freeing, to this thread.
    // Collected into a bit set under the map's lock (no allocation here); the
    // pads are stopped after it is released.
    std::lock_guard<std::mutex> lock(m_chokeMutex);
    auto own = m_chokeGroups.cbegin();
    while (own != m_chokeGroups.cend() &&
           (own.value() != static_cast<quint32>(index) || own.key() == QLatin1String(kNoGroup)))
        ++own;
    if (own == m_chokeGroups.cend())
        return 0;
    quint32 members = 0;
    for (auto it = m_chokeGroups.constFind(own.key());
         it != m_chokeGroups.cend() && it.key() == own.key(); ++it) {
        if (it.value() < static_cast<quint32>(PadCount))
            members |= 1u << it.value();
    }
    return members;
}

void BankSampler::stopSample(int index)
{
    std::lock_guard<std::recursive_mutex> use(m_padUseMutex);
    QSharedPointer<Slice> sample = padSample(index);
    if (sample)
        sample->play(false, 0.0, 1.0);
}

void BankSampler::handleNote(int note, bool noteOn)
{
    std::lock_guard<std::recursive_mutex> use(m_padUseMutex);
    const int pad = note - FirstNote;
    QSharedPointer<Slice> sample = padSample(pad);
    if (!sample)
        return;
    if (noteOn) {
        if (sample->getLoopMode() == 2 && sample->isPlaying())
            stopSample(pad);
        else
            triggerSample(pad);
    } else if (sample->getLoopMode() == 1) {
        stopSample(pad);
    }
}

void BankSampler::render(float* buffer, unsigned long numSamples)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    // Stopped pads are asked too: a pad that has just stopped still has the
    // end of its sound in the resampler, and a stopped, drained pad returns
    // at once.
    for (const QSharedPointer<Slice>& sample : qAsConst(*m_pSampleBank)) {
        if (sample)
            sample->render(buffer, static_cast<unsigned>(numSamples));
    }
}

void BankSampler::writeXml(const QString& projectDir, QDomDocument& document,
                           QDomElement& parent) const
{
    QDomElement bank = document.createElement(QStringLiteral("BankSampler"));
    parent.appendChild(bank);
    const QDir dir(projectDir);
    // The pad list changes only on this thread, so it is read without the lock.
    for (int index = 0; index < m_pSampleBank->count(); ++index) {
        const QSharedPointer<Slice> sample = m_pSampleBank->at(index);
        if (!sample)
            continue;
        QDomElement element = document.createElement(QStringLiteral("Sample"));
        bank.appendChild(element);
        const QString file = QFileInfo(sample->getFilename()).absoluteFilePath();
        element.setAttribute(QStringLiteral("filename"), dir.relativeFilePath(file));
        element.setAttribute(QStringLiteral("index"), index);
        element.setAttribute(QStringLiteral("semitone"), sample->getPitch());
        element.setAttribute(QStringLiteral("timestretchratio"),
                             doubleText(sample->getTimeStretchRatio()));
        element.setAttribute(QStringLiteral("loopmode"), sample->getLoopMode());
        element.setAttribute(QStringLiteral("loopstart"), QString::number(sample->getLoopStart()));
        element.setAttribute(QStringLiteral("loopend"), QString::number(sample->getLoopEnd()));
        element.setAttribute(QStringLiteral("gain"), floatText(sample->getGain()));
        element.setAttribute(QStringLiteral("reversed"), sample->isReversed() ? 1 : 0);
        element.setAttribute(QStringLiteral("chokegroup"), sample->getChokeGroup());
    }
}

void BankSampler::readXml(const QDomElement& element, const QString& projectDir)
{
    clearBank();
    const QDir dir(projectDir);
    // A later entry for a pad replaces an earlier one, so only the last is
    // loaded: a file repeating entries would otherwise open its samples
    // again and again.
    QDomElement last[PadCount];
    for (QDomNode node = element.firstChild(); !node.isNull(); node = node.nextSibling()) {
        if (!node.isElement())
            continue;
        const QDomElement sample = node.toElement();
        if (sample.tagName() != QLatin1String("Sample"))
            continue;
        // Text that is not a number reads as 0, as it always has.
        const int index = sample.attribute(QStringLiteral("index")).toInt();
        if (index < 0 || index >= PadCount)
            qDebug() << "Project: no pad" << index << "for"
                     << sample.attribute(QStringLiteral("filename")) << "- skipped";
        else
            last[index] = sample;
    }
    for (int index = 0; index < PadCount; ++index) {
        const QDomElement& sample = last[index];
        if (sample.isNull())
            continue;
        const QString filename = sample.attribute(QStringLiteral("filename"));
        const int semitone = sample.attribute(QStringLiteral("semitone"), "0").toInt();
        const double ratio = sample.attribute(QStringLiteral("timestretchratio"), "1.0").toDouble();
        const int loopMode = sample.attribute(QStringLiteral("loopmode"), "0").toInt();
        const unsigned long loopStart =
            sample.attribute(QStringLiteral("loopstart"), "0").toULong();
        const unsigned long loopEnd = sample.attribute(QStringLiteral("loopend"), "0").toULong();
        const float gain = sample.attribute(QStringLiteral("gain"), "1.0").toFloat();
        const bool reversed = sample.attribute(QStringLiteral("reversed"), "0").toInt() != 0;
        const QString group = sample.attribute(QStringLiteral("chokegroup"), kNoGroup);
        // Relative to the project's folder; a hand-written absolute name is
        // taken as it stands.
        const QString path = dir.filePath(filename);
        loadSample(index, path, semitone, ratio, loopMode, loopStart, loopEnd, gain, reversed,
                   group);
        const QSharedPointer<Slice> loaded = m_pSampleBank->at(index);
        if (!loaded || loaded->getLength() == 0)
            qDebug() << "Project: could not load pad" << index << "from" << path;
    }
}
