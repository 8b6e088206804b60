// orbel::utilities::CircularBuffer<T>: a ring of `capacity` elements followed by
// `mirror` extra elements in the same allocation. With a mirror at least as large
// as the capacity, everything unread is readable in one piece from the read index
// and all free space is writable in one piece from the write index.
//
// One element always stays free: a ring of capacity N holds at most N - 1.
// The mutex guards the two indices only. Users move the indices themselves, under
// Mutex(), always modulo the capacity; the element storage is never locked.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

namespace orbel::utilities {

template <typename T>
class CircularBufferBase {
public:
    virtual ~CircularBufferBase() = default;
    virtual size_t ContiguousReadSize() = 0;
    virtual size_t ContiguousWriteSize() = 0;
    virtual void CommitWrite(size_t count) = 0;
};

template <typename T>
class CircularBuffer : public CircularBufferBase<T> {
public:
    CircularBuffer(size_t capacity, size_t mirror)
        : storage_(std::make_unique_for_overwrite<T[]>(capacity + mirror)), capacity_(capacity), mirror_(mirror) {}

    CircularBuffer(const CircularBuffer&) = delete;
    CircularBuffer& operator=(const CircularBuffer&) = delete;

    size_t ContiguousReadSize() override {
        std::lock_guard lock(mutex_);
        return std::min(capacity_ + mirror_ - read_, UsedLocked());
    }

    size_t ContiguousWriteSize() override {
        std::lock_guard lock(mutex_);
        return std::min(capacity_ + mirror_ - write_, capacity_ - 1 - UsedLocked());
    }

    // Keeps the mirror consistent after `count` elements were written at the write
    // index; the write index itself is moved by the caller afterwards.
    void CommitWrite(size_t count) override {
        if (mirror_ == 0) return;
        size_t read = 0;
        size_t write = 0;
        {
            std::lock_guard lock(mutex_);
            read = read_;
            write = write_;
        }
        if (write < read) {
            // The unread data wraps: a read running past the capacity must find these in the mirror.
            const size_t n = std::min(mirror_ > write ? mirror_ - write : 0, count);
            std::copy_n(storage_.get() + write, n, storage_.get() + capacity_ + write);
        } else if (count > capacity_ - write) {
            // The write ran past the capacity into the mirror: bring the overflow to the front.
            const size_t n = write + count - capacity_;
            std::copy_n(storage_.get() + capacity_, n, storage_.get());
        }
    }

    // The write position and the contiguous free space there, in one look at the indices.
    std::pair<T*, size_t> WriteSpan() {
        std::lock_guard lock(mutex_);
        return {storage_.get() + write_, std::min(capacity_ + mirror_ - write_, capacity_ - 1 - UsedLocked())};
    }

    // The read position and the contiguous unread elements there.
    std::pair<T*, size_t> ReadSpan() {
        std::lock_guard lock(mutex_);
        return {storage_.get() + read_, std::min(capacity_ + mirror_ - read_, UsedLocked())};
    }

    // ReadSpan with the number of Clear calls so far, in one look: a reader that keeps
    // what it learnt about unread elements between calls sees from a changed count
    // (or a read index it did not leave there) that they are other elements now.
    struct ReadView {
        T* data;
        size_t size;
        size_t readIndex;
        uint64_t clears;
    };
    ReadView ReadState() {
        std::lock_guard lock(mutex_);
        return {storage_.get() + read_, std::min(capacity_ + mirror_ - read_, UsedLocked()), read_, clears_};
    }

    // CommitWrite followed by the write index's move. When no mirror copy is due
    // (the common case) both happen under one lock.
    void FinishWrite(size_t count) {
        {
            std::lock_guard lock(mutex_);
            const bool copyDue = mirror_ != 0 && (write_ < read_ || count > capacity_ - write_);
            if (!copyDue) {
                write_ = (write_ + count) % capacity_;
                return;
            }
        }
        CommitWrite(count);
        AdvanceWrite(count);
    }

    size_t Used() {
        std::lock_guard lock(mutex_);
        return UsedLocked();
    }

    void Clear() {
        std::lock_guard lock(mutex_);
        read_ = 0;
        write_ = 0;
        ++clears_;
    }

    // Index moves; each takes the mutex itself. AdvanceRead returns the new read index.
    size_t AdvanceRead(size_t count) {
        std::lock_guard lock(mutex_);
        read_ = (read_ + count) % capacity_;
        return read_;
    }
    void AdvanceWrite(size_t count) {
        std::lock_guard lock(mutex_);
        write_ = (write_ + count) % capacity_;
    }

    size_t ReadIndex() {
        std::lock_guard lock(mutex_);
        return read_;
    }
    size_t WriteIndex() {
        std::lock_guard lock(mutex_);
        return write_;
    }

    T* ReadPosition() {
        std::lock_guard lock(mutex_);
        return storage_.get() + read_;
    }
    T* WritePosition() {
        std::lock_guard lock(mutex_);
        return storage_.get() + write_;
    }

    T* Storage() { return storage_.get(); }
    size_t Capacity() const { return capacity_; }
    size_t MirrorSize() const { return mirror_; }

private:
    size_t UsedLocked() const { return read_ > write_ ? write_ + capacity_ - read_ : write_ - read_; }

    std::unique_ptr<T[]> storage_;
    size_t capacity_;
    size_t read_ = 0;
    size_t write_ = 0;
    std::mutex mutex_;
    size_t mirror_;
    uint64_t clears_ = 0;  // guarded by mutex_
};

}  // namespace orbel::utilities
