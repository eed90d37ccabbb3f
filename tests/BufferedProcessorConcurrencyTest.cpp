#include "BufferedProcessor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

namespace {

const int kSize = BufferedProcessor::BufferSize;

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
    // Most are destroyed before their worker first waits: that stop must still end it.
    withDeadline([] {
        for (int i = 0; i < 500; ++i)
            BufferedProcessor processor;
    });
    // A producer thread swapping while the worker wakes, then a teardown.
    withDeadline([] {
        BufferedProcessor processor;
        std::thread producer([&] {
            const std::vector<float> block(512, 0.5f);
            for (int i = 0; i < 2000; ++i)
                processor.write(block.data(), 512);
        });
        producer.join();
        EXPECT_EQ(processor.getFill(), 2000 * 512 - 15 * kSize);
    });
}

} // namespace
