// The gate between the SDK and its caller's callbacks: closing it waits for running
// callbacks unless closed from inside one, and silences every later call.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "utilities/CallbackGate.h"

namespace {

using orbel::utilities::CallbackGate;
using namespace std::chrono_literals;

TEST(CallbackGate, CloseWaitsForARunningCallbackAndSilencesLaterOnes) {
    auto gate = std::make_shared<CallbackGate>();
    std::promise<void> entered;
    std::promise<void> release;
    std::atomic<bool> finished{false};
    std::atomic<int> calls{0};
    std::thread caller([&] {
        gate->Call([&] {
            ++calls;
            entered.set_value();
            release.get_future().wait();
            finished = true;
        });
    });
    entered.get_future().wait();
    auto closing = std::async(std::launch::async, [&] {
        gate->Close();
        return finished.load();
    });
    EXPECT_EQ(closing.wait_for(50ms), std::future_status::timeout);
    release.set_value();
    EXPECT_TRUE(closing.get());  // Close returned only after the callback had
    caller.join();
    gate->Call([&] { ++calls; });
    EXPECT_EQ(calls, 1);
}

TEST(CallbackGate, ClosingFromInsideACallbackDoesNotWait) {
    auto gate = std::make_shared<CallbackGate>();
    bool after = false;
    gate->Call([&] {
        gate->Close();
        after = true;
    });
    EXPECT_TRUE(after);
    auto guarded = CallbackGate::Guard(gate, std::function<void(int)>([&](int) { after = false; }));
    guarded(1);
    EXPECT_TRUE(after);
}

}  // namespace
