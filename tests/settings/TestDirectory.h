#pragma once

#include <string>

// A fresh directory under the system's temporary folder, removed with all it
// holds when the object goes.
class TestDirectory {
public:
    TestDirectory();
    ~TestDirectory();
    TestDirectory(const TestDirectory&) = delete;
    TestDirectory& operator=(const TestDirectory&) = delete;

    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }
    // Names of the entries, sorted.
    std::string Listing() const;

    // Mounts a tmpfs of `sizeKiB` on this directory in a mount namespace of the
    // test process's own (unmounted when the object goes). False when the
    // process may not mount.
    bool MountTmpfs(int sizeKiB, bool readOnly = false);
    bool RemountReadOnly();

private:
    std::string path_;
    bool mounted_ = false;
};

std::string ReadBytes(const std::string& path);
void WriteBytes(const std::string& path, const std::string& bytes);

// What is at a path, without opening it: kind, mode, size and change time,
// a link's target, a folder's entries. Equal texts: nothing there changed.
std::string Describe(const std::string& path);
