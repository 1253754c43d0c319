#include "FixedText.h"

#include <cstring>

namespace device {

std::string FixedText(const char* field, std::size_t size)
{
    const auto* end = static_cast<const char*>(std::memchr(field, '\0', size));
    return std::string(field, end != nullptr ? static_cast<std::size_t>(end - field) : size);
}

void CopySerial(char* target, const char* source, std::size_t n)
{
    if (n == 0) {
        return;
    }
    std::memcpy(target, source, n);
    target[n - 1] = '\0';
}

}  // namespace device
