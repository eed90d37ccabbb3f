#include "BankSampler.h"
#include "LoopingSampler.h"
#include "LoopingSamplerBank.h"
#include "MidiEvents.h"
#include "MidiInputDevice.h"
#include "SliceTestSupport.h"
#include "TestAudio.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QSet>

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
    // No quantization wiring: Qt's event queue is not instrumented, so the
    // user-interface thread sets the lengths itself, as the signal would.
    MidiInputDevice midi(&pads, &loopers);
    for (int pad = 0; pad < 8; ++pad)
        pads.loadSample(pad, files.at(pad % 3), 0, 1.0, pad % 3, 0, 0, 0.5f, false,
                        groups.at(pad % 4));

    std::atomic<bool> stop{false};
    std::atomic<long> blocks{0};

    // The audio thread: MIDI through the poll's decoding, then the engine's render order.
    std::thread audio([&] {
        std::mt19937 rng(7);
        std::vector<float> buffer(512);
        std::vector<PmEvent> events;
        while (!stop) {
            events.clear();
            const int notes = int(rng() % 4);
            for (int i = 0; i < notes; ++i) {
                const int note = 34 + int(rng() % 20);
                events.push_back(shortMessage(rng() % 3 ? 0x90 : 0x80, note, int(rng() % 128)));
            }
            switch (rng() % 40) {
            case 0: // Record Strobe
            case 1: // Play
            case 2: // Fast Forward
                events.push_back(sysexBytes(0xF0, 0x7F, 0x7F, 0x06));
                events.push_back(sysexBytes(rng() % 2 ? 0x06 : int(rng() % 6), 0xF7, 0, 0));
                break;
            case 3:
                events.push_back(shortMessage(0x90, LoopingSampler::StopNote, 100));
                break;
            default:
                break;
            }
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
    long edits = 0;
    while (timer.elapsed() < 1500) {
        const int pad = int(rng() % BankSampler::PadCount);
        switch (rng() % 10) {
        case 0:
        case 1:
            pads.loadSample(pad, files.at(int(rng() % 3)), int(rng() % 5) - 2,
                            rng() % 2 ? 1.0 : 1.25, int(rng() % 3), 0, 0, 0.5f, rng() % 4 == 0,
                            groups.at(int(rng() % 4)));
            break;
        case 2:
        case 3:
        case 4:
            pads.addToChokeGroup(pad, groups.at(int(rng() % 4)));
            break;
        case 5:
            pads.triggerSample(pad);
            break;
        case 6:
            pads.setSemitone(pad, int(rng() % 7) - 3);
            (void)pads.getChokeGroupNames();
            break;
        case 7:
            loopers.getLoopers().at(int(rng() % 4))->armRecording(true);
            loopers.getLoopers().at(int(rng() % 4))->setQuantizationLength(long(rng() % 40000));
            break;
        case 8:
            if (rng() % 20 == 0)
                pads.clearBank();
            else
                pads.setMasterTempo(100 + int(rng() % 60));
            break;
        default:
            (void)pads.getChokeGroupPads(groups.at(int(rng() % 4)));
            break;
        }
        ++edits;
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
