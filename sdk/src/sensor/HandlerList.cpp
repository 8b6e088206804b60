#include "sensor/HandlerList.h"

#include <map>
#include <mutex>

#include "utilities/Logging.h"

namespace orbel::sensor {

class HandlerList::Impl {
public:
    std::map<uint64_t, std::shared_ptr<IMessageHandler>> handlers;
    uint64_t nextId = 0;
    std::mutex mutex;
};

HandlerList::HandlerList() : impl_(std::make_unique<Impl>()) {}
HandlerList::~HandlerList() = default;

uint64_t HandlerList::AddHandler(std::shared_ptr<IMessageHandler> handler) {
    std::lock_guard lock(impl_->mutex);
    const uint64_t id = impl_->nextId++;
    impl_->handlers.emplace(id, std::move(handler));
    return id;
}

void HandlerList::RemoveHandler(uint64_t id) {
    std::lock_guard lock(impl_->mutex);
    impl_->handlers.erase(id);
}

bool HandlerList::HandleMessage(orbel::communication::VelmorantMessage& message) {
    std::lock_guard lock(impl_->mutex);
    const uint32_t id = message.GetId();
    ORBEL_LOG_DEBUG(L"Handling message " + std::to_wstring(id));
    bool handled = false;
    for (auto& [key, handler] : impl_->handlers) {
        if (handler->Handle(message)) handled = true;
    }
    if (!handled) ORBEL_LOG_INFO(L"Received message " + std::to_wstring(id) + L", but no handler to interpret it.");
    return handled;
}

size_t HandlerList::Count() {
    std::lock_guard lock(impl_->mutex);
    return impl_->handlers.size();
}

}  // namespace orbel::sensor
