#include "SliceFileFormat.h"

#include "EngineTestSupport.h"
#include "Settings.h"
#include "SliceTestSupport.h"

#include <gtest/gtest.h>
#include <sndfile.h>

namespace {

TEST(SliceFileFormatTest, TheChoiceIsReadBackAndAnythingElseIsSixteenBitWavAt44k)
{
    EngineTestSupport::useFreshSettings(SliceTestSupport::freshTestDir() + "/data");
    EXPECT_EQ(SliceFileFormat::fromSettings().sndfileFormat(), SF_FORMAT_WAV | SF_FORMAT_PCM_16);

    // FLAC holds no floating point: the nearest it holds.
    Settings* settings = Settings::instance();
    settings->setSetting(SliceFileFormat::kContainerKey, " FLAC ");
    settings->setSetting(SliceFileFormat::kSampleKey, "32f");
    settings->setSetting(SliceFileFormat::kRateKey, "keep");
    const ExportFormat chosen = SliceFileFormat::fromSettings();
    EXPECT_EQ(chosen.sndfileFormat(), SF_FORMAT_FLAC | SF_FORMAT_PCM_24);
    EXPECT_EQ(chosen.rate, ExportFormat::Rate::Source);
    EXPECT_EQ(SliceFileFormat::suffix(chosen), "flac");
    // A name typed with a suffix decides the container only.
    EXPECT_EQ(SliceFileFormat::forFileName("/x/kit.AIFF").sndfileFormat(),
              SF_FORMAT_AIFF | SF_FORMAT_FLOAT);
    EXPECT_EQ(SliceFileFormat::forFileName("/x/kit.beat").container, ExportFormat::Container::Flac);

    settings->setSetting(SliceFileFormat::kSampleKey, "12");
    settings->setSetting(SliceFileFormat::kRateKey, "<\x01>");
    const ExportFormat damaged = SliceFileFormat::fromSettings();
    EXPECT_EQ(damaged.sample, ExportFormat::Sample::Pcm16);
    EXPECT_EQ(damaged.rate, ExportFormat::Rate::Standard);

    SliceFileFormat::toSettings(chosen);
    EXPECT_EQ(settings->getSetting(SliceFileFormat::kContainerKey), "flac");
    EXPECT_EQ(settings->getSetting(SliceFileFormat::kSampleKey), "24");
    EXPECT_EQ(settings->getSetting(SliceFileFormat::kRateKey), "keep");
}

} // namespace
