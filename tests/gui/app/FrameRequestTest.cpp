// Who asks the waiting frame loop for a frame: a message that reached a subscriber, a new log
// line, a new toast or progress text, and a change of a shared flag; nothing that changes
// nothing on screen (a message nobody takes, a flag stored again with its own value).
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include <spdlog/logger.h>

#include "app/AppAction.h"
#include "app/AppContext.h"
#include "app/FrameData.h"
#include "app/IConsumer.h"
#include "app/ImGuiSink.h"

namespace {

using orbel::studio::AppAction;
using orbel::studio::IConsumer;
using orbel::studio::gui::AppContext;
using orbel::studio::gui::AppState;

class CountingRequest final : public orbel::studio::IFrameRequest {
public:
    void RequestFrame() override { ++count; }
    std::atomic<int> count{0};
};

class Sink final : public IConsumer<AppAction> {
public:
    void Consume(std::shared_ptr<AppAction>) override {}
};

TEST(FrameRequestTest, WhatChangesTheScreenAsksForAFrameAndNothingElseDoes) {
    AppContext context;
    auto request = std::make_shared<CountingRequest>();
    context.SetFrameRequest(request);
    Sink sink;
    context.dispatcher->Subscribe<AppAction>(&sink);

    struct Case {
        const char* what;
        std::function<void()> act;
        int requests;
    };
    const Case cases[] = {
        {"a message a subscriber took",
         [&] { context.dispatcher->Publish(std::make_shared<AppAction>(0, nullptr)); }, 1},
        {"a message nobody takes",
         [&] { context.dispatcher->Publish(std::make_shared<orbel::studio::CameraData>()); }, 0},
        {"a flag that changes", [&] { context.appState->streaming = true; }, 1},
        {"the same flag stored again", [&] { context.appState->streaming.store(true); }, 0},
        {"a flag exchanged for another value", [&] { context.appState->busy.exchange(true); }, 1},
        {"the progress fraction", [&] { context.appState->progressFraction.exchange(0.5f); }, 1},
        {"a toast", [&] { context.appState->SetToast("Sensor started", 1); }, 1},
        {"a progress text", [&] { context.appState->SetProgressText("Converting"); }, 1},
        {"the same progress text", [&] { context.appState->SetProgressText("Converting"); }, 0},
    };
    for (const Case& c : cases) {
        const int before = request->count;
        c.act();
        EXPECT_EQ(request->count - before, c.requests) << c.what;
    }

    context.SetFrameRequest(nullptr);
    const int before = request->count;
    context.appState->connected = true;
    context.dispatcher->Publish(std::make_shared<AppAction>(0, nullptr));
    EXPECT_EQ(request->count, before) << "an emptied slot asks nobody";
    context.dispatcher->Unsubscribe<AppAction>(&sink);
}

TEST(FrameRequestTest, EveryLogLineAsksForAFrame) {
    auto sink = std::make_shared<orbel::studio::gui::ImGuiSink>(4);
    auto request = std::make_shared<CountingRequest>();
    sink->SetFrameRequest(request);
    spdlog::logger logger("frame-request-test", sink);
    logger.info("one");
    logger.warn("two");
    EXPECT_EQ(request->count, 2);
    sink->SetFrameRequest(nullptr);
    logger.info("three");
    EXPECT_EQ(request->count, 2);
}

}  // namespace
