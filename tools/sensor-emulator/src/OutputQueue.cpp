// Ordered, non-blocking output towards the client (see OutputQueue.h).
#include "OutputQueue.h"

#include <cerrno>

#include "Socket.h"

namespace orbel::emulator::detail {

void OutputQueue::Push(std::vector<uint8_t> bytes) {
    if (bytes.empty()) return;
    bytes_ += bytes.size();
    Chunk chunk;
    chunk.owned = std::move(bytes);
    chunk.view = chunk.owned;  // a vector's buffer survives the move into the deque
    chunks_.push_back(std::move(chunk));
}

void OutputQueue::PushBorrowed(std::span<const uint8_t> bytes, bool flood) {
    if (bytes.empty()) return;
    bytes_ += bytes.size();
    chunks_.push_back(Chunk{{}, bytes, flood});
}

OutputQueue::FlushResult OutputQueue::Flush(int fd) {
    constexpr size_t kPieces = 64;
    std::span<const uint8_t> pieces[kPieces];
    while (!chunks_.empty()) {
        size_t count = 0;
        for (auto it = chunks_.begin(); it != chunks_.end() && count < kPieces; ++it, ++count) {
            pieces[count] = count == 0 ? it->view.subspan(headOffset_) : it->view;
        }
        const ssize_t sent = SendVector(fd, {pieces, count});
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK) return FlushResult::WouldBlock;
            if (errno == EINTR) continue;
            return FlushResult::Failed;
        }
        auto left = static_cast<size_t>(sent);
        bytes_ -= left;
        while (left > 0) {
            Chunk& head = chunks_.front();
            const size_t remaining = head.view.size() - headOffset_;
            const size_t taken = left < remaining ? left : remaining;
            if (head.flood) floodBytesSent_ += taken;
            left -= taken;
            headOffset_ += taken;
            if (headOffset_ == head.view.size()) {
                chunks_.pop_front();
                headOffset_ = 0;
            }
        }
    }
    return FlushResult::Drained;
}

void OutputQueue::Clear() {
    chunks_.clear();
    headOffset_ = 0;
    bytes_ = 0;
}

}  // namespace orbel::emulator::detail
