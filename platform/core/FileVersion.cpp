#include "FileVersion.h"

#include <array>
#include <cstring>
#include <dlfcn.h>
#include <elf.h>
#include <fstream>
#include <limits.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kSectionName[] = ".ksn_version";
constexpr std::array<char, 8> kTag = {'K', 'S', 'N', 'V', 'E', 'R', '1', '\0'};
constexpr std::size_t kPayloadSize = 16;
// Section tables beyond this are not ours to trust.
constexpr uint64_t kMaxSections = 65535;
constexpr uint64_t kMaxStringTable = 1U << 20U;

uint16_t Get16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8U));
}

bool ReadAt(std::ifstream& in, uint64_t offset, void* data, std::size_t n)
{
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    in.read(static_cast<char*>(data), static_cast<std::streamsize>(n));
    return static_cast<std::size_t>(in.gcount()) == n;
}

struct Section {
    uint32_t name = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    uint32_t type = 0;
};

// ELFCLASS64 or ELFCLASS32, little-endian only (the platforms we build for).
template <typename Ehdr, typename Shdr>
std::optional<FileVersion> ReadElf(std::ifstream& in, uint64_t fileSize)
{
    Ehdr eh{};
    if (!ReadAt(in, 0, &eh, sizeof eh) || eh.e_shentsize != sizeof(Shdr) || eh.e_shnum == 0 ||
        eh.e_shnum > kMaxSections || eh.e_shstrndx >= eh.e_shnum || eh.e_shoff > fileSize ||
        uint64_t{eh.e_shnum} * sizeof(Shdr) > fileSize - eh.e_shoff) {
        return std::nullopt;
    }
    std::vector<Shdr> table(eh.e_shnum);
    if (!ReadAt(in, eh.e_shoff, table.data(), table.size() * sizeof(Shdr))) {
        return std::nullopt;
    }
    const Shdr& strings = table[eh.e_shstrndx];
    if (strings.sh_size == 0 || strings.sh_size > kMaxStringTable || strings.sh_offset > fileSize ||
        strings.sh_size > fileSize - strings.sh_offset) {
        return std::nullopt;
    }
    std::vector<char> names(static_cast<std::size_t>(strings.sh_size) + 1, '\0');
    if (!ReadAt(in, strings.sh_offset, names.data(), static_cast<std::size_t>(strings.sh_size))) {
        return std::nullopt;
    }
    for (const Shdr& s : table) {
        if (s.sh_name >= strings.sh_size || std::strcmp(&names[s.sh_name], kSectionName) != 0) {
            continue;
        }
        if (s.sh_type == SHT_NOBITS || s.sh_size < kPayloadSize || s.sh_offset > fileSize ||
            kPayloadSize > fileSize - s.sh_offset) {
            return std::nullopt;
        }
        unsigned char data[kPayloadSize];
        if (!ReadAt(in, s.sh_offset, data, sizeof data) ||
            std::memcmp(data, kTag.data(), kTag.size()) != 0) {
            return std::nullopt;
        }
        return FileVersion{Get16(data + 8), Get16(data + 10), Get16(data + 12), Get16(data + 14)};
    }
    return std::nullopt;
}

}  // namespace

std::optional<FileVersion> ReadFileVersion(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    in.seekg(0, std::ios::end);
    const auto end = in.tellg();
    if (end <= 0) {
        return std::nullopt;
    }
    const auto fileSize = static_cast<uint64_t>(end);
    unsigned char ident[EI_NIDENT] = {};
    if (!ReadAt(in, 0, ident, sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0 ||
        ident[EI_DATA] != ELFDATA2LSB) {
        return std::nullopt;
    }
    if (ident[EI_CLASS] == ELFCLASS64) {
        return ReadElf<Elf64_Ehdr, Elf64_Shdr>(in, fileSize);
    }
    if (ident[EI_CLASS] == ELFCLASS32) {
        return ReadElf<Elf32_Ehdr, Elf32_Shdr>(in, fileSize);
    }
    return std::nullopt;
}

std::string LoadedFilePath(const void* address)
{
    Dl_info info{};
    if (!address || dladdr(address, &info) == 0 || !info.dli_fname || !*info.dli_fname) {
        return {};
    }
    // The main program reports its name as it was started; resolve it.
    if (!std::strchr(info.dli_fname, '/')) {
        return ExecutablePath();
    }
    return info.dli_fname;
}

std::string ExecutablePath()
{
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) {
        return {};
    }
    return std::string(buf, static_cast<std::size_t>(n));
}
