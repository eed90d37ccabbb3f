#include "StreamingAudioFile.h"

#include "TestAudio.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <numeric>
#include <vector>

namespace {

const float kBed = 0.25f; // what the output holds before the preview adds to it

QString makeFile(const QString& name, long frames, int channels)
{
    const QString path = TestAudio::scratchDir(name) + "/" + name;
    EXPECT_TRUE(
        TestAudio::writeFile(path, frames, channels, 44100, SF_FORMAT_WAV | SF_FORMAT_PCM_16));
    return path;
}

// The preview read in requests of the given sizes into a bed of kBed.
std::vector<float> readAll(const QString& path, const std::vector<unsigned>& requests)
{
    StreamingAudioFile preview(path);
    std::vector<float> out(std::accumulate(requests.begin(), requests.end(), 0u), kBed);
    float* next = out.data();
    for (unsigned n : requests) {
        preview.read(next, n);
        next += n;
    }
    return out;
}

TEST(StreamingAudioFileTest, FileIsAddedRequestByRequestUntilItsEndAndUnplayableFilesAreSilent)
{
    const QString stereo = makeFile("stereo.wav", 10000, 2);
    const std::vector<float> file = TestAudio::readFile(stereo);
    // Nine full blocks and part of the tenth come from the file; the rest stays as it was.
    const std::vector<float> out = readAll(stereo, std::vector<unsigned>(12, 2048));
    for (size_t i = 0; i < out.size(); ++i)
        ASSERT_EQ(out[i], i < file.size() ? kBed + file[i] : kBed) << "sample " << i;

    // Mono goes to both channels; a whole-loop export asks for more than the scratch buffer.
    const QString mono = makeFile("mono.wav", 10000, 1);
    const std::vector<float> monoFile = TestAudio::readFile(mono);
    const std::vector<float> monoOut = readAll(mono, {10000, 15600});
    for (size_t i = 0; i < monoOut.size(); ++i)
        ASSERT_EQ(monoOut[i], i / 2 < monoFile.size() ? kBed + monoFile[i / 2] : kBed) << i;

    // Text is unplayable: silent.
    const QString text = makeFile("notes.wav", 1, 1);
    ASSERT_TRUE(TestAudio::writeBytes(text, "these are not samples\n"));
    EXPECT_EQ(readAll(text, {2048, 2048, 2048}), std::vector<float>(3 * 2048, kBed));
}

} // namespace
