// ObjectDispatcher: the program's publish/subscribe hub. Per message type it keeps the
// subscribers in registration order and hands every published message to each of them,
// one after the other, on the publisher's thread. It owns the wrappers around the
// consumers, never the consumers.
//
// Contract: Subscribe, Unsubscribe and Publish may be called from any thread at any
// time. The subscriber table has its own mutex, held only to read or change the table;
// no subscriber ever runs under it, so a Consume may publish, subscribe or unsubscribe.
// When Unsubscribe returns, the consumer is not being called on any other thread and
// will not be called again, so its owner may destroy it; a consumer that unsubscribes
// itself from inside its own Consume is allowed (only other threads are waited for).
// Two consumers must not unsubscribe each other from inside their Consume calls.
// A message that reached a subscriber asks the frame loop for a frame once the last
// subscriber has returned (SetFrameRequest; nobody is asked until it is set).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <utility>
#include <vector>

#include "app/IConsumer.h"
#include "app/IFrameRequest.h"

namespace orbel::studio {
namespace detail {

// The type-erased subscriber that the hub stores.
class IConsumerBase {
public:
    virtual ~IConsumerBase() = default;
    virtual void Forward(const std::shared_ptr<void>& message) = 0;
    // The wrapped consumer's address, to find it again when it unsubscribes.
    virtual const void* Target() const = 0;
};

template <typename T>
class ConsumerWrapper final : public IConsumerBase {
public:
    explicit ConsumerWrapper(IConsumer<T>* consumer) : consumer_(consumer) {}

    void Forward(const std::shared_ptr<void>& message) override {
        consumer_->Consume(std::static_pointer_cast<T>(message));
    }
    const void* Target() const override { return static_cast<const void*>(consumer_); }

private:
    IConsumer<T>* consumer_;
};

// One registration: the wrapper and the count of deliveries running through it, so
// that Unsubscribe can wait for them.
class Subscription {
public:
    explicit Subscription(std::unique_ptr<IConsumerBase> consumer) : consumer_(std::move(consumer)) {}

    // Calls the consumer unless the subscription was removed; false when it was.
    bool Deliver(const std::shared_ptr<void>& message);
    // Marks the subscription removed and waits until no other thread is inside Deliver.
    void Retire();
    const void* Target() const { return consumer_->Target(); }

private:
    std::unique_ptr<IConsumerBase> consumer_;
    std::mutex mutex_;
    std::condition_variable idle_;
    int active_ = 0;
    bool removed_ = false;
};

}  // namespace detail

class ObjectDispatcher {
public:
    ObjectDispatcher();
    ObjectDispatcher(const ObjectDispatcher&) = delete;
    ObjectDispatcher& operator=(const ObjectDispatcher&) = delete;

    // Appends the consumer to the list of T; subscribing twice delivers twice.
    template <typename T>
    void Subscribe(IConsumer<T>* consumer) {
        AddSubscription(typeid(T), std::make_unique<detail::ConsumerWrapper<T>>(consumer));
    }

    // Who is asked for a frame after each delivered message; any thread, any time.
    void SetFrameRequest(std::shared_ptr<IFrameRequest> request) { frameRequest_.Set(std::move(request)); }

    // Removes every registration of the consumer from the list of T.
    template <typename T>
    void Unsubscribe(IConsumer<T>* consumer) {
        RemoveSubscriptions(typeid(T), static_cast<const void*>(consumer));
    }

    // Calls every subscriber of T in registration order with its own copy of the pointer
    // and returns when the last has returned. A type nobody subscribed to is dropped, and
    // so is an empty pointer.
    template <typename T>
    void Publish(std::shared_ptr<T> message) {
        if (message) {
            Deliver(typeid(T), std::shared_ptr<void>(std::move(message)));
        }
    }

private:
    using SubscriptionList = std::vector<std::shared_ptr<detail::Subscription>>;

    void AddSubscription(std::type_index type, std::unique_ptr<detail::IConsumerBase> consumer);
    void RemoveSubscriptions(std::type_index type, const void* consumer);
    // A snapshot of the list of a type, taken under the table's lock; empty when none.
    SubscriptionList FindConsumers(std::type_index type) const;
    void Deliver(std::type_index type, const std::shared_ptr<void>& message) const;

    mutable std::mutex tableMutex_;
    std::unordered_map<std::type_index, SubscriptionList> table_;
    FrameRequestSlot frameRequest_;
};

}  // namespace orbel::studio
