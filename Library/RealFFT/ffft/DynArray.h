#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

namespace ffft {

// Owned array whose element access checks every index, in release builds too.
// Hot loops take data() once and index the raw pointer themselves.
template <class T>
class DynArray {
public:
    DynArray() = default;
    explicit DynArray(long len) { resize(len); }

    DynArray(const DynArray&) = delete;
    DynArray& operator=(const DynArray&) = delete;
    DynArray(DynArray&&) noexcept = default;
    DynArray& operator=(DynArray&&) noexcept = default;

    long size() const noexcept { return _len; }

    // A positive size gets a fresh array and discards the old contents; 0 keeps
    // what is there. The old array survives a failed allocation.
    void resize(long len)
    {
        if (len < 0) {
            throw std::length_error("ffft::DynArray: negative size " + std::to_string(len));
        }
        if (len == 0) {
            return;
        }
        std::unique_ptr<T[]> fresh(new T[static_cast<std::size_t>(len)]());
        _data = std::move(fresh);
        _len = len;
    }

    T& operator[](long pos) { return _data[check(pos)]; }
    const T& operator[](long pos) const { return _data[check(pos)]; }

    T* data() noexcept { return _data.get(); }
    const T* data() const noexcept { return _data.get(); }

private:
    std::size_t check(long pos) const
    {
        if (pos < 0 || pos >= _len) {
            throw std::out_of_range("ffft::DynArray: index " + std::to_string(pos) +
                                    " outside [0, " + std::to_string(_len) + ")");
        }
        return static_cast<std::size_t>(pos);
    }

    std::unique_ptr<T[]> _data;
    long _len = 0;
};

}  // namespace ffft
