#include "BufferedProcessor.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <numeric>
#include <thread>
#include <vector>

namespace {

const int kSize = BufferedProcessor::BufferSize;

std::vector<float> numbered(int count, int from = 0)
{
    std::vector<float> v(static_cast<size_t>(count));
    std::iota(v.begin(), v.end(), static_cast<float>(from));
    return v;
}

std::vector<float> contents(const float* buffer)
{
    return std::vector<float>(buffer, buffer + kSize);
}

TEST(BufferedProcessorConcurrencyTest, BuffersSwapWhenFullAndOverflowIsDropped)
{
    BufferedProcessor exact;
    exact.write(numbered(kSize).data(), kSize);
    EXPECT_EQ(exact.getCurrentBufferIndex(), 0);
    const float one = -1.0f;
    exact.write(&one, 1);
    EXPECT_EQ(exact.getCurrentBufferIndex(), 1);
    EXPECT_EQ(exact.getFill(), 1);
    EXPECT_EQ(exact.getCurrentBuffer()[0], -1.0f);
    EXPECT_EQ(contents(exact.getFullBuffer()), numbered(kSize));

    BufferedProcessor overlong;
    LogCapture::clear();
    overlong.write(numbered(200000).data(), 200000);
    EXPECT_EQ(LogCapture::count("BufferedProcessor warning: dropped samples"), 1);
    EXPECT_EQ(overlong.getFill(), kSize);
    EXPECT_EQ(contents(overlong.getFullBuffer()), numbered(kSize));
    EXPECT_EQ(contents(overlong.getCurrentBuffer()), numbered(kSize, kSize));
}

TEST(BufferedProcessorConcurrencyTest, DestructionNeverHangs)
{
    // A hang would otherwise only end at the ctest timeout, without saying where.
    const auto withDeadline = [](void (*work)()) {
        auto done = std::async(std::launch::async, work);
        if (done.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
            std::fprintf(stderr, "a BufferedProcessor teardown hangs\n");
            std::abort();
        }
    };
    // Most of these are destroyed before their worker first waits: a stop
    // signalled then must still end it.
    withDeadline([] {
        for (int i = 0; i < 500; ++i)
            BufferedProcessor processor;
    });
    // A producer thread swapping while the worker wakes, then a teardown.
    withDeadline([] {
        BufferedProcessor processor;
        std::thread producer([&] {
            const std::vector<float> block = numbered(512);
            for (int i = 0; i < 2000; ++i)
                processor.write(block.data(), 512);
        });
        producer.join();
        EXPECT_EQ(processor.getFill(), 2000 * 512 - 15 * kSize);
    });
}

} // namespace
