// The hub's table and its delivery bookkeeping. Publish works on a snapshot of a type's
// list so that subscribers run with no hub lock held; each registration counts the
// deliveries in progress so that Unsubscribe can wait for them before the caller
// destroys the consumer.
#include "app/ObjectDispatcher.h"

#include <algorithm>

namespace orbel::studio {
namespace detail {
namespace {

// The registrations whose Deliver is running on this thread, innermost last, so that a
// consumer unsubscribing itself does not wait for its own call.
thread_local std::vector<const Subscription*> tDelivering;

int OwnDeliveries(const Subscription* subscription) {
    return static_cast<int>(std::count(tDelivering.begin(), tDelivering.end(), subscription));
}

}  // namespace

bool Subscription::Deliver(const std::shared_ptr<void>& message) {
    {
        std::lock_guard lock(mutex_);
        if (removed_) {
            return false;
        }
        ++active_;
    }
    tDelivering.push_back(this);
    struct Leave {
        Subscription* self;
        ~Leave() {
            tDelivering.pop_back();
            std::lock_guard lock(self->mutex_);
            --self->active_;
            self->idle_.notify_all();
        }
    } leave{this};
    consumer_->Forward(message);
    return true;
}

void Subscription::Retire() {
    const int own = OwnDeliveries(this);
    std::unique_lock lock(mutex_);
    removed_ = true;
    idle_.wait(lock, [&] { return active_ <= own; });
}

}  // namespace detail

ObjectDispatcher::ObjectDispatcher() { table_.max_load_factor(1.0f); }

void ObjectDispatcher::AddSubscription(std::type_index type, std::unique_ptr<detail::IConsumerBase> consumer) {
    auto subscription = std::make_shared<detail::Subscription>(std::move(consumer));
    std::lock_guard lock(tableMutex_);
    table_[type].push_back(std::move(subscription));
}

void ObjectDispatcher::RemoveSubscriptions(std::type_index type, const void* consumer) {
    SubscriptionList removed;
    {
        std::lock_guard lock(tableMutex_);
        const auto found = table_.find(type);
        if (found == table_.end()) {
            return;
        }
        SubscriptionList& list = found->second;
        auto kept = std::stable_partition(list.begin(), list.end(),
                                          [consumer](const auto& entry) { return entry->Target() != consumer; });
        removed.assign(std::make_move_iterator(kept), std::make_move_iterator(list.end()));
        list.erase(kept, list.end());
    }
    // Waiting happens outside the table's lock so that running deliveries may publish.
    for (const auto& subscription : removed) {
        subscription->Retire();
    }
}

ObjectDispatcher::SubscriptionList ObjectDispatcher::FindConsumers(std::type_index type) const {
    std::lock_guard lock(tableMutex_);
    const auto found = table_.find(type);
    return found == table_.end() ? SubscriptionList{} : found->second;
}

void ObjectDispatcher::Deliver(std::type_index type, const std::shared_ptr<void>& message) const {
    const SubscriptionList subscriptions = FindConsumers(type);
    for (const auto& subscription : subscriptions) {
        subscription->Deliver(message);
    }
    if (!subscriptions.empty()) {
        frameRequest_.Request();
    }
}

}  // namespace orbel::studio
