#pragma once
// File version (major.minor.release.build) of a shared library or program
// file, read from the file itself without loading or running it. Our
// libraries and programs carry it in an ELF section ".ksn_version": the
// tag "KSNVER1\0" followed by four 16-bit little-endian numbers.

#include <cstdint>
#include <optional>
#include <string>

struct FileVersion {
    uint16_t major = 0;
    uint16_t minor = 0;
    uint16_t release = 0;
    uint16_t build = 0;

    friend bool operator==(const FileVersion&, const FileVersion&) = default;
};

// The file's version, or nullopt when the file has no version information
// (also when it cannot be read or is not an ELF file).
std::optional<FileVersion> ReadFileVersion(const std::string& path);

// Path of the loaded shared object (or executable) that contains address,
// for example a function of a library; empty when none does.
std::string LoadedFilePath(const void* address);

// Path of the running executable; empty when it cannot be found.
std::string ExecutablePath();
