#pragma once
// The C library's number locale switched to one with a decimal comma for the
// life of the object, as a German or Russian desktop would have it; a locale
// is built into a temporary folder when the system has none installed.

#include <filesystem>

namespace ksn::test {

class CommaLocale {
public:
    CommaLocale();
    // LC_NUMERIC back to "C".
    ~CommaLocale();
    CommaLocale(const CommaLocale&) = delete;
    CommaLocale& operator=(const CommaLocale&) = delete;

    // False when no such locale could be had; nothing was switched then.
    bool Active() const { return active_; }

private:
    bool active_ = false;
    std::filesystem::path dir_;
};

}  // namespace ksn::test
