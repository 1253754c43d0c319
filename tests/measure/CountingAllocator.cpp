#include "CountingAllocator.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> on{false};
std::atomic<long> count{0};
std::atomic<std::thread::id> watched{};  // no thread: all threads

bool Counted()
{
    if (!on.load(std::memory_order_relaxed)) {
        return false;
    }
    const std::thread::id only = watched.load(std::memory_order_relaxed);
    return only == std::thread::id{} || only == std::this_thread::get_id();
}
}  // namespace

namespace counting {
void Begin()
{
    BeginOnThread(std::thread::id{});
}
void BeginOnThread(std::thread::id thread)
{
    watched = thread;
    count = 0;
    on = true;
}
long End()
{
    on = false;
    return count.load();
}
}  // namespace counting

void* operator new(std::size_t size)
{
    if (Counted()) {
        count.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size)
{
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    if (Counted()) {
        count.fetch_add(1, std::memory_order_relaxed);
    }
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept
{
    return operator new(size, tag);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
