// Messages and the hub: AppAction's payload order and stamp, delivery order and
// per-type lists, the consumers' caps, ThreadSafeQueue, and Unsubscribe's guarantee that
// no delivery is still running in the consumer when it returns.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/AppAction.h"
#include "app/IConsumer.h"
#include "app/ObjectDispatcher.h"
#include "app/ThreadSafeQueue.h"

namespace orbel::studio {
namespace {

using namespace std::chrono_literals;

struct Frame {
    int number = 0;
};
struct Image {
    int number = 0;
};

// Appends its name to a shared log for every message, to show the order of delivery.
template <typename T>
class NamedConsumer : public IConsumer<T> {
public:
    NamedConsumer(std::string name, std::vector<std::string>& order) : name_(std::move(name)), order_(order) {}
    void Consume(std::shared_ptr<T>) override { order_.push_back(name_); }

private:
    std::string name_;
    std::vector<std::string>& order_;
};

// A queued consumer that drops its oldest message at the cap, as the views do.
template <typename T>
class CappedConsumer : public IConsumer<T> {
public:
    explicit CappedConsumer(size_t cap) : cap_(cap) {}
    void Consume(std::shared_ptr<T> message) override { queue.PushBounded(std::move(message), cap_); }
    ThreadSafeQueue<T> queue;

private:
    size_t cap_;
};

// The camera panel's rule: more than 2 waiting clears the queue.
class ClearingConsumer : public IConsumer<Image> {
public:
    void Consume(std::shared_ptr<Image> message) override {
        if (queue.Size() > 2) {
            queue.Clear();
        }
        queue.Push(std::move(message));
    }
    ThreadSafeQueue<Image> queue;
};

template <typename T>
std::vector<int> Drain(ThreadSafeQueue<T>& queue) {
    std::vector<int> numbers;
    while (auto item = queue.TryPop()) {
        numbers.push_back((*item)->number);
    }
    return numbers;
}

TEST(AppActionTest, PayloadAlternativesKeepTheirIndices) {
    const struct {
        AppActionPayload payload;
        std::size_t index;
    } cases[] = {
        {AppActionPayload{}, payload_index::kNone},
        {std::string("folder"), payload_index::kText},
        {2.5f, payload_index::kNumber},
        {int32_t{12}, payload_index::kInteger},
        {true, payload_index::kFlag},
        {ProgressPayload{0.5f, "half"}, payload_index::kProgress},
        {NotificationPayload{"Both IP are the same.", 3}, payload_index::kNotification},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].payload.index(), cases[i].index);
        EXPECT_EQ(cases[i].index, i);
    }
    // What senders write directly lands in the alternative receivers test for.
    EXPECT_EQ(AppAction(AppActionType::SessionLoaded, nullptr, "path").payload.index(), payload_index::kText);
    EXPECT_EQ(AppAction(AppActionType::ReplaySeek, nullptr, 7).payload.index(), payload_index::kInteger);
    EXPECT_EQ(AppAction(AppActionType::CameraAvailable, nullptr, false).payload.index(), payload_index::kFlag);
}

TEST(AppActionTest, StampsSystemTimeInHundredNanosecondTicksAndKeepsTheSender) {
    using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;
    const auto before = std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch());
    int owner = 0;
    const AppAction action(AppActionType::ReplayPlay, &owner);
    const auto after = std::chrono::duration_cast<Ticks>(std::chrono::system_clock::now().time_since_epoch());
    EXPECT_GE(action.creationTime100ns, before.count());
    EXPECT_LE(action.creationTime100ns, after.count());
    // 2020-01-01 in 100-ns ticks since 1970: the stamp is not in seconds or microseconds.
    EXPECT_GT(action.creationTime100ns, 15'778'368'000'000'000LL);
    EXPECT_EQ(action.sender, &owner);
    EXPECT_EQ(action.type, 6);
    EXPECT_TRUE(AppAction(13, nullptr).Is(AppActionType::Notification));
}

TEST(DispatcherTest, DeliversInRegistrationOrderAndPerType) {
    ObjectDispatcher hub;
    std::vector<std::string> order;
    NamedConsumer<Frame> view3d("3d", order), view2d("2d", order), controller("controller", order);
    NamedConsumer<Image> camera("camera", order);
    hub.Subscribe<Frame>(&view3d);
    hub.Subscribe<Image>(&camera);
    hub.Subscribe<Frame>(&view2d);
    hub.Subscribe<Frame>(&controller);

    hub.Publish(std::make_shared<Frame>());
    EXPECT_EQ(order, (std::vector<std::string>{"3d", "2d", "controller"}));
    order.clear();
    hub.Publish(std::make_shared<Image>());
    EXPECT_EQ(order, (std::vector<std::string>{"camera"}));
}

TEST(DispatcherTest, SubscribingTwiceDeliversTwiceAndUnsubscribeRemovesBoth) {
    ObjectDispatcher hub;
    std::vector<std::string> order;
    NamedConsumer<Frame> a("a", order), b("b", order);
    hub.Subscribe<Frame>(&a);
    hub.Subscribe<Frame>(&b);
    hub.Subscribe<Frame>(&a);
    hub.Publish(std::make_shared<Frame>());
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "a"}));

    order.clear();
    hub.Unsubscribe<Frame>(&a);
    hub.Publish(std::make_shared<Frame>());
    EXPECT_EQ(order, (std::vector<std::string>{"b"}));
}

TEST(DispatcherTest, UnsubscribedTypesAndEmptyMessagesAreDropped) {
    ObjectDispatcher hub;
    std::vector<std::string> order;
    NamedConsumer<Frame> a("a", order);
    hub.Publish(std::make_shared<Frame>());
    hub.Unsubscribe<Frame>(&a);
    hub.Subscribe<Frame>(&a);
    hub.Publish(std::shared_ptr<Frame>());
    hub.Publish(std::make_shared<Image>());
    EXPECT_TRUE(order.empty());
}

TEST(DispatcherTest, QueuedConsumersShareOneMessageObject) {
    ObjectDispatcher hub;
    CappedConsumer<Frame> first(20), second(5);
    hub.Subscribe<Frame>(&first);
    hub.Subscribe<Frame>(&second);
    auto frame = std::make_shared<Frame>();
    hub.Publish(frame);
    EXPECT_EQ(frame.use_count(), 3);
    EXPECT_EQ(first.queue.TryPop()->get(), frame.get());
    EXPECT_EQ(second.queue.TryPop()->get(), frame.get());
}

TEST(DispatcherTest, CapsKeepTheNewestFrames) {
    ObjectDispatcher hub;
    CappedConsumer<Frame> view3d(20), view2d(5), viewerPanel(5);
    hub.Subscribe<Frame>(&view3d);
    hub.Subscribe<Frame>(&view2d);
    hub.Subscribe<Frame>(&viewerPanel);
    for (int i = 0; i < 30; ++i) {
        hub.Publish(std::make_shared<Frame>(Frame{i}));
    }
    std::vector<int> last20;
    for (int i = 10; i < 30; ++i) last20.push_back(i);
    EXPECT_EQ(Drain(view3d.queue), last20);
    EXPECT_EQ(Drain(view2d.queue), (std::vector<int>{25, 26, 27, 28, 29}));
    EXPECT_EQ(Drain(viewerPanel.queue), (std::vector<int>{25, 26, 27, 28, 29}));
}

TEST(DispatcherTest, CameraPanelWithThreeWaitingKeepsOnlyTheFourth) {
    ObjectDispatcher hub;
    ClearingConsumer panel;
    hub.Subscribe<Image>(&panel);
    for (int i = 1; i <= 4; ++i) {
        hub.Publish(std::make_shared<Image>(Image{i}));
    }
    EXPECT_EQ(Drain(panel.queue), (std::vector<int>{4}));
}

// A consumer that publishes and unsubscribes from inside Consume: no hub lock is held.
class ReentrantConsumer : public IConsumer<Frame> {
public:
    explicit ReentrantConsumer(ObjectDispatcher& hub) : hub_(hub) {}
    void Consume(std::shared_ptr<Frame> frame) override {
        ++calls;
        hub_.Publish(std::make_shared<Image>(Image{frame->number}));
        hub_.Unsubscribe<Frame>(this);
    }
    int calls = 0;

private:
    ObjectDispatcher& hub_;
};

TEST(DispatcherTest, ConsumerMayPublishAndUnsubscribeItselfInsideConsume) {
    ObjectDispatcher hub;
    ReentrantConsumer reentrant(hub);
    CappedConsumer<Image> images(10);
    hub.Subscribe<Frame>(&reentrant);
    hub.Subscribe<Image>(&images);
    hub.Publish(std::make_shared<Frame>(Frame{3}));
    hub.Publish(std::make_shared<Frame>(Frame{4}));
    EXPECT_EQ(reentrant.calls, 1);
    EXPECT_EQ(Drain(images.queue), (std::vector<int>{3}));
}

// Unsubscribes another consumer from inside its own Consume.
class UnsubscribingConsumer : public IConsumer<Frame> {
public:
    UnsubscribingConsumer(ObjectDispatcher& hub, IConsumer<Frame>* other) : hub_(hub), other_(other) {}
    void Consume(std::shared_ptr<Frame>) override { hub_.Unsubscribe<Frame>(other_); }

private:
    ObjectDispatcher& hub_;
    IConsumer<Frame>* other_;
};

TEST(DispatcherTest, ConsumerUnsubscribedDuringADeliveryDoesNotReceiveIt) {
    ObjectDispatcher hub;
    std::vector<std::string> order;
    NamedConsumer<Frame> before("before", order), later("later", order);
    UnsubscribingConsumer remover(hub, &later);
    hub.Subscribe<Frame>(&before);
    hub.Subscribe<Frame>(&remover);
    hub.Subscribe<Frame>(&later);
    hub.Publish(std::make_shared<Frame>());
    EXPECT_EQ(order, (std::vector<std::string>{"before"}));
}

// Holds a delivery open until told to finish, and records whether it has.
class SlowConsumer : public IConsumer<Frame> {
public:
    void Consume(std::shared_ptr<Frame>) override {
        entered.set_value();
        release.get_future().wait();
        std::this_thread::sleep_for(20ms);  // gives an Unsubscribe that does not wait the time to return
        finished = true;
    }
    std::promise<void> entered;
    std::promise<void> release;
    std::atomic<bool> finished{false};
};

TEST(DispatcherTest, UnsubscribeReturnsOnlyAfterARunningDeliveryEnds) {
    ObjectDispatcher hub;
    SlowConsumer consumer;
    hub.Subscribe<Frame>(&consumer);
    auto publisher = std::async(std::launch::async, [&] { hub.Publish(std::make_shared<Frame>()); });
    consumer.entered.get_future().wait();

    consumer.release.set_value();
    hub.Unsubscribe<Frame>(&consumer);
    EXPECT_TRUE(consumer.finished);  // the consumer may be destroyed now
    publisher.wait();
}

TEST(DispatcherTest, ConcurrentPublishersAndSubscriptionChangesStaySafe) {
    ObjectDispatcher hub;
    CappedConsumer<Frame> steady(1000000);
    hub.Subscribe<Frame>(&steady);
    std::atomic<bool> stop{false};
    std::vector<std::thread> publishers;
    for (int t = 0; t < 3; ++t) {
        publishers.emplace_back([&] {
            while (!stop) hub.Publish(std::make_shared<Frame>());
        });
    }
    // Each transient consumer is destroyed right after Unsubscribe; a late call into it
    // is a use after free. Runs until the publishers have clearly overlapped the churn.
    for (int i = 0; i < 300 || steady.queue.Size() < 1000; ++i) {
        auto transient = std::make_unique<CappedConsumer<Frame>>(4);
        hub.Subscribe<Frame>(transient.get());
        hub.Unsubscribe<Frame>(transient.get());
    }
    stop = true;
    for (auto& thread : publishers) thread.join();
}

TEST(ThreadSafeQueueTest, PopsInArrivalOrderAndClears) {
    ThreadSafeQueue<int> queue;
    EXPECT_FALSE(queue.TryPop().has_value());
    for (int i = 0; i < 6; ++i) queue.Push(std::make_shared<int>(i));
    EXPECT_EQ(queue.Size(), 6u);
    // Consumers pop with TryPop, workers with PopLocked: both take the oldest.
    EXPECT_EQ(**queue.TryPop(), 0);
    EXPECT_EQ(**queue.TryPop(), 1);
    {
        auto lock = queue.Lock();
        EXPECT_EQ(**queue.PopLocked(lock), 2);
        EXPECT_EQ(**queue.PopLocked(lock), 3);
    }
    EXPECT_EQ(queue.Size(), 2u);
    queue.Clear();
    EXPECT_EQ(queue.Size(), 0u);
    EXPECT_FALSE(queue.TryPop().has_value());
}

TEST(ThreadSafeQueueTest, WaitUntilReturnsAtOnceForAPastDeadlineOrAQueuedMessage) {
    ThreadSafeQueue<int> queue;
    {
        auto lock = queue.Lock();
        EXPECT_FALSE(queue.WaitUntil(lock, std::chrono::steady_clock::now() - 1s));
        EXPECT_FALSE(queue.PopLocked(lock).has_value());
    }
    queue.Push(std::make_shared<int>(5));
    auto lock = queue.Lock();
    ASSERT_TRUE(queue.WaitUntil(lock, std::chrono::steady_clock::now() + 60s));
    EXPECT_EQ(**queue.PopLocked(lock), 5);
}

TEST(ThreadSafeQueueTest, WaitUntilWakesForAPushFromAnotherThread) {
    ThreadSafeQueue<int> queue;
    std::promise<void> waiting;
    auto worker = std::async(std::launch::async, [&] {
        auto lock = queue.Lock();
        waiting.set_value();  // the lock is held, so the push below happens once the worker waits
        const bool got = queue.WaitUntil(lock, std::chrono::steady_clock::now() + 60s);
        return got ? **queue.PopLocked(lock) : -1;
    });
    waiting.get_future().wait();
    queue.Push(std::make_shared<int>(42));
    EXPECT_EQ(worker.get(), 42);
}

}  // namespace
}  // namespace orbel::studio
