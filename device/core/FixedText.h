#pragma once

#include <array>
#include <cstddef>
#include <string>

namespace device {

// The text of a fixed-size character field of a device record: up to the
// first zero, or the whole field when it holds none (a record filled by
// someone else need not be terminated).
std::string FixedText(const char* field, std::size_t size);

template <std::size_t N>
std::string FixedText(const char (&field)[N])
{
    return FixedText(field, N);
}

template <std::size_t N>
std::string FixedText(const std::array<char, N>& field)
{
    return FixedText(field.data(), N);
}

// Copies a serial field of n bytes into another, the last byte forced to 0.
void CopySerial(char* target, const char* source, std::size_t n);

}  // namespace device
