#include "BankSampler.h"
#include "LoopingSampler.h"
#include "LoopingSamplerBank.h"
#include "MidiEvents.h"
#include "MidiInputDevice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <QElapsedTimer>
#include <QSet>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <random>
#include <thread>
#include <vector>

namespace {

using namespace MidiEvents;

TEST(SamplerConcurrencyTest, MidiAndRenderingWhilePadsAreLoadedAndRegrouped)
{
    // No log capture: its locking would hide races from ThreadSanitizer.
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
            if (type == QtFatalMsg)
                std::fprintf(stderr, "%s\n", qPrintable(msg));
        });
    const QString dir = TestAudio::scratchDir("stress");
    QStringList files;
    for (int i = 0; i < 3; ++i)
        files.append(SliceTestSupport::writeSine(dir, QString("pad%1.wav").arg(i), 220.0 * (i + 1),
                                                 8000 + 3000 * i, 44100, 2));
    const QStringList groups{"None", "Hi-hats", "Other", "Toms"};

    BankSampler pads;
    LoopingSamplerBank loopers;
    // No quantization wiring (Qt's event queue is not instrumented): the UI thread sets lengths.
    MidiInputDevice midi(&pads, &loopers);
    for (int pad = 0; pad < 8; ++pad)
        pads.loadSample(pad, files.at(pad % 3), 0, 1.0, pad % 3, 0, 0, 0.5f, false,
                        groups.at(pad % 4));

    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0};
    long edits = 0;

    // The audio thread: MIDI through the poll's decoding, then the engine's render order.
    std::thread audio([&] {
        std::mt19937 rng(7);
        std::vector<float> buffer(512);
        std::vector<PmEvent> events;
        while (!stop) {
            events.clear();
            for (int i = int(rng() % 4); i > 0; --i)
                events.push_back(shortMessage(rng() % 3 ? 0x90 : 0x80, 34 + int(rng() % 20), 100));
            const unsigned control = rng() % 40;
            if (control < 3) // Record Strobe half the time, else any command
                appendMachineControl(events, rng() % 2 ? 0x06 : int(rng() % 6));
            else if (control == 3)
                events.push_back(shortMessage(0x90, LoopingSampler::StopNote, 100));
            midi.handleEvents(events.data(), int(events.size()));

            std::fill(buffer.begin(), buffer.end(), 0.0f);
            pads.render(buffer.data(), buffer.size());
            loopers.recordAll(buffer.data(), buffer.size());
            loopers.renderAll(buffer.data(), buffer.size());
            ++blocks;
        }
    });

    // The user-interface thread: loads, regroups, retunes and triggers pads, arms recorders.
    std::mt19937 rng(11);
    QElapsedTimer timer;
    timer.start();
    // Enough edits and blocks are waited for rather than assumed from the time: a
    // loaded race-check run builds a pad's sample in tens of milliseconds.
    for (; timer.elapsed() < 1500 || edits <= 40 || blocks <= 100; ++edits) {
        if (timer.elapsed() > 120000) {
            ADD_FAILURE() << edits << " edits and " << blocks << " blocks in 120 s";
            break;
        }
        const int pad = int(rng() % BankSampler::PadCount);
        const QString& group = groups.at(int(rng() % 4));
        switch (rng() % 5) {
        case 0:
            pads.loadSample(pad, files.at(int(rng() % 3)), int(rng() % 5) - 2,
                            rng() % 2 ? 1.0 : 1.25, int(rng() % 3), 0, 0, 0.5f, rng() % 4 == 0,
                            group);
            break;
        case 1:
            pads.addToChokeGroup(pad, group);
            (void)pads.getChokeGroupPads(group);
            pads.triggerSample(pad);
            break;
        case 2:
            pads.setSemitone(pad, int(rng() % 7) - 3);
            (void)pads.getChokeGroupNames();
            break;
        case 3:
            loopers.getLoopers().at(int(rng() % 4))->armRecording(true);
            loopers.getLoopers().at(int(rng() % 4))->setQuantizationLength(long(rng() % 40000));
            break;
        default:
            if (rng() % 10 == 0)
                pads.clearBank();
            else
                pads.setMasterTempo(100 + int(rng() % 60));
        }
    }
    stop = true;
    audio.join();
    qInstallMessageHandler(previous);

    EXPECT_GT(blocks.load(), 100);
    EXPECT_GT(edits, 20);
    // However the pads moved, no group lists a pad twice.
    for (const QString& group : pads.getChokeGroupNames()) {
        const QList<quint32> members = pads.getChokeGroupPads(group);
        EXPECT_EQ(QSet<quint32>(members.begin(), members.end()).size(), members.size())
            << group.toStdString();
    }
}

} // namespace
