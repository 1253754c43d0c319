#include "TestDirectory.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

TestDirectory::TestDirectory()
{
    std::string pattern = (fs::temp_directory_path() / "ksn-settings-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    path_ = pattern;
}

TestDirectory::~TestDirectory()
{
    if (mounted_) {
        ::umount2(path_.c_str(), MNT_DETACH);
    }
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::string TestDirectory::Listing() const
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    std::string out;
    for (const auto& name : names) {
        out += name + "\n";
    }
    return out;
}

bool TestDirectory::MountTmpfs(int sizeKiB, bool readOnly)
{
    static const bool privateNamespace =
        ::unshare(CLONE_NEWNS) == 0 &&
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    if (!privateNamespace) {
        return false;
    }
    const std::string options = "size=" + std::to_string(sizeKiB) + "k";
    const unsigned long flags = readOnly ? MS_RDONLY : 0;
    if (::mount("tmpfs", path_.c_str(), "tmpfs", flags, options.c_str()) != 0) {
        return false;
    }
    mounted_ = true;
    return true;
}

bool TestDirectory::RemountReadOnly()
{
    return mounted_ &&
           ::mount(nullptr, path_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

std::string ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::string bytes;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
    }
    return bytes;
}

void WriteBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

std::string Describe(const std::string& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return "nothing";
    }
    std::string text =
        "mode " + std::to_string(info.st_mode) + " size " + std::to_string(info.st_size) +
        " changed " + std::to_string(info.st_ctim.tv_sec) + "." +
        std::to_string(info.st_ctim.tv_nsec) + " inode " + std::to_string(info.st_ino);
    if (S_ISLNK(info.st_mode)) {
        std::string target(4096, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        target.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        text += " link " + target;
    } else if (S_ISDIR(info.st_mode)) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(path)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            text += " entry " + name;
        }
    }
    return text;
}
