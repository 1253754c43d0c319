#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

namespace mqtt {

// A bounded queue of texts between the measurement and the sender: every
// slot is made at construction, a push copies into the next slot and never
// allocates or waits for the consumer, and a push into a full queue drops the
// oldest text (counted). One producer, one consumer.
class FrameQueue {
public:
    FrameQueue(std::size_t slots, std::size_t slotSize);

    std::size_t SlotSize() const noexcept { return slotSize_; }
    std::size_t Capacity() const noexcept { return slots_; }

    // False (and counted as dropped) for an empty text or one longer than a
    // slot.
    bool Push(std::string_view text) noexcept;

    // Waits until a text is there and ready() holds, or until the deadline
    // or Wake; copies the oldest text into buffer (SlotSize() bytes) and
    // returns its length, or 0 when none was taken. ready is called with the
    // queue's lock held.
    template <typename Ready>
    std::size_t PopWhen(char* buffer, std::chrono::steady_clock::time_point deadline, Ready ready);

    // Wakes a waiting PopWhen so that it looks at its condition again.
    void Wake() noexcept;

    std::size_t Size() const noexcept;
    std::uint64_t Dropped() const noexcept;
    // Drops every text (counted).
    void Clear() noexcept;

private:
    std::size_t TakeLocked(char* buffer) noexcept;

    const std::size_t slots_;
    const std::size_t slotSize_;
    std::unique_ptr<char[]> storage_;
    std::unique_ptr<std::size_t[]> lengths_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t head_ = 0;  // oldest
    std::size_t count_ = 0;
    std::uint64_t dropped_ = 0;
    std::uint64_t wakes_ = 0;
};

template <typename Ready>
std::size_t FrameQueue::PopWhen(char* buffer, std::chrono::steady_clock::time_point deadline,
                                Ready ready)
{
    std::unique_lock lock(mutex_);
    const std::uint64_t wakes = wakes_;
    changed_.wait_until(lock, deadline, [&] { return (count_ > 0 && ready()) || wakes_ != wakes; });
    if (count_ == 0 || !ready()) {
        return 0;
    }
    return TakeLocked(buffer);
}

}  // namespace mqtt
