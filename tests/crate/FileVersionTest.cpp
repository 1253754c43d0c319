// File versions read from library files, and which file a process loaded.

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <unistd.h>

#include "CrateServer.h"
#include "FileVersion.h"
#include "ksnapi.h"

namespace {

using ksn::test::CrateServer;

std::string TempPath(const char* stem)
{
    return std::string("/tmp/") + stem + "-" + std::to_string(getpid());
}

std::vector<char> Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Write(const std::string& path, const std::vector<char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(ReadFileVersion, TellsEachLibraryVariantApart)
{
    const struct {
        std::string dir;
        std::optional<FileVersion> expected;
    } cases[] = {
        {CrateServer::LibraryDir(), FileVersion{1, 33, 0, 0}},
        {CrateServer::VersionVariantDir("1.32.14"), FileVersion{1, 32, 14, 0}},
        {CrateServer::VersionVariantDir("1.32.15"), FileVersion{1, 32, 15, 0}},
        {CrateServer::VersionVariantDir("2.0.0"), FileVersion{2, 0, 0, 0}},
        {CrateServer::VersionVariantDir("none"), std::nullopt},
    };
    for (const auto& c : cases) {
        for (const char* lib : {"/libksnapi.so", "/libksn48api.so"}) {
            const std::string path = c.dir + lib;
            ASSERT_EQ(access(path.c_str(), R_OK), 0) << path;
            EXPECT_EQ(ReadFileVersion(path), c.expected) << path;
        }
    }
}

TEST(ReadFileVersion, FilesWithoutUsableVersionGiveNone)
{
    const std::string lib = CrateServer::LibraryDir() + "/libksnapi.so";
    const std::vector<char> good = Slurp(lib);
    ASSERT_GT(good.size(), 4096U);

    const std::string path = TempPath("ksn-version-case");
    auto truncated = good;
    truncated.resize(64);  // ELF header only, its section table is gone
    auto wrongTag = good;
    // Corrupt the tag in place, keeping the section: it is not our record.
    const std::string tag("KSNVER1");
    auto at = std::search(wrongTag.begin(), wrongTag.end(), tag.begin(), tag.end());
    ASSERT_NE(at, wrongTag.end());
    *at = 'X';
    auto bigEndian = good;
    bigEndian[5] = 2;  // EI_DATA = ELFDATA2MSB
    const struct {
        const char* what;
        std::vector<char> bytes;
    } cases[] = {
        {"empty file", {}},
        {"text file", {'h', 'e', 'l', 'l', 'o', '\n'}},
        {"truncated ELF", truncated},
        {"tag overwritten", wrongTag},
        {"big-endian claim", bigEndian},
    };
    for (const auto& c : cases) {
        Write(path, c.bytes);
        EXPECT_EQ(ReadFileVersion(path), std::nullopt) << c.what;
    }
    std::remove(path.c_str());
    EXPECT_EQ(ReadFileVersion(path), std::nullopt) << "missing file";
}

TEST(LoadedFilePath, FindsTheLibraryBehindASymbol)
{
    const std::string path = LoadedFilePath(reinterpret_cast<const void*>(&KSN_Init));
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.substr(path.rfind('/')), "/libksnapi.so");
    EXPECT_EQ(ReadFileVersion(path), (FileVersion{1, 33, 0, 0}));
    EXPECT_EQ(LoadedFilePath(nullptr), "");
    EXPECT_FALSE(ExecutablePath().empty());
}

// A process started with a variant directory first in LD_LIBRARY_PATH loads
// that variant: the way program tests get an old or unversioned library.
TEST(LoadedFilePath, LibrarySearchPathSelectsAVariant)
{
    const struct {
        const char* variant;
        const char* version;
    } cases[] = {{"1.32.14", "1.32.14.0"}, {"none", "none"}};
    for (const auto& c : cases) {
        const std::string dir = CrateServer::VersionVariantDir(c.variant);
        const std::string command = "LD_LIBRARY_PATH='" + dir + "' '" KSN_LOADED_VERSION_PATH "'";
        FILE* p = popen(command.c_str(), "r");
        ASSERT_NE(p, nullptr);
        char line[4096];
        int lines = 0;
        while (fgets(line, sizeof line, p)) {
            const std::string text(line);
            EXPECT_EQ(text.rfind(dir + "/", 0), 0U) << text;
            EXPECT_NE(text.find(std::string(" ") + c.version + "\n"), std::string::npos) << text;
            ++lines;
        }
        EXPECT_EQ(pclose(p), 0);
        EXPECT_EQ(lines, 2);
    }
}

}  // namespace
