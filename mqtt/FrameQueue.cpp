#include "FrameQueue.h"

#include <algorithm>
#include <stdexcept>

namespace mqtt {

FrameQueue::FrameQueue(std::size_t slots, std::size_t slotSize)
    : slots_(slots), slotSize_(slotSize), storage_(std::make_unique<char[]>(slots * slotSize)),
      lengths_(std::make_unique<std::size_t[]>(slots))
{
    if (slots == 0 || slotSize == 0) {
        throw std::invalid_argument("a frame queue needs at least one slot of one byte");
    }
}

bool FrameQueue::Push(std::string_view text) noexcept
{
    {
        std::lock_guard lock(mutex_);
        if (text.empty() || text.size() > slotSize_) {
            ++dropped_;
            return false;
        }
        if (count_ == slots_) {
            head_ = (head_ + 1) % slots_;
            --count_;
            ++dropped_;
        }
        const std::size_t slot = (head_ + count_) % slots_;
        std::copy(text.begin(), text.end(), storage_.get() + slot * slotSize_);
        lengths_[slot] = text.size();
        ++count_;
    }
    changed_.notify_one();
    return true;
}

std::size_t FrameQueue::TakeLocked(char* buffer) noexcept
{
    const std::size_t length = lengths_[head_];
    const char* from = storage_.get() + head_ * slotSize_;
    std::copy(from, from + length, buffer);
    head_ = (head_ + 1) % slots_;
    --count_;
    return length;
}

void FrameQueue::Wake() noexcept
{
    {
        std::lock_guard lock(mutex_);
        ++wakes_;
    }
    changed_.notify_all();
}

std::size_t FrameQueue::Size() const noexcept
{
    std::lock_guard lock(mutex_);
    return count_;
}

std::uint64_t FrameQueue::Dropped() const noexcept
{
    std::lock_guard lock(mutex_);
    return dropped_;
}

void FrameQueue::Clear() noexcept
{
    std::lock_guard lock(mutex_);
    dropped_ += count_;
    count_ = 0;
}

}  // namespace mqtt
