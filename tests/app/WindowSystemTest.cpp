// The program itself under a virtual X display, treated as a window manager
// or another client may treat it: a close request while a box of the
// detection pass holds the window, a close request while the pass waits
// for a server that stopped answering, its window destroyed without any
// request. Each time the program must end, and end cleanly.
#include "CrateProxy.h"
#include "CrateServer.h"
#include "IniFile.h"
#include "Process.h"
#include "SettingsNames.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using ksn::test::ChildProcess;
using ksn::test::CrateProxy;
using ksn::test::CrateServer;
using ksn::test::RunProgram;
using Opcode = ksn::proto::Opcode;

// An Xvfb of the test's own; it takes the first free display number itself
// (-displayfd), so that tests running side by side never share one.
class VirtualDisplay {
public:
    VirtualDisplay()
    {
        int out = -1;
        server_ = std::make_unique<ChildProcess>(
            KSN_XVFB_PATH,
            std::vector<std::string>{"-displayfd", "1", "-screen", "0", "1920x1080x24", "-nolisten",
                                     "tcp"},
            std::vector<std::string>{}, &out);
        std::string number;
        char c = 0;
        while (read(out, &c, 1) == 1 && c != '\n') {
            number += c;
        }
        close(out);
        if (number.empty()) {
            throw std::runtime_error("Xvfb did not start");
        }
        name_ = ":" + number;
    }

    std::vector<std::string> Environment() const { return {"DISPLAY=" + name_}; }

    // The first visible window whose name matches pattern, if there is one.
    std::string FindWindow(const std::string& pattern) const
    {
        const auto [code, out] = RunProgram(
            KSN_XDOTOOL_PATH, {"search", "--onlyvisible", "--name", pattern}, Environment());
        return code == 0 ? out.substr(0, out.find('\n')) : std::string();
    }

    std::string WaitForWindow(const std::string& pattern, std::chrono::seconds limit) const
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        std::string window;
        while ((window = FindWindow(pattern)).empty() &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(100ms);
        }
        return window;
    }

    int X11Tool(const std::string& command, const std::string& window) const
    {
        return RunProgram(KSN_X11_TOOL_PATH, {command, window}, Environment()).first;
    }

private:
    std::string name_;
    std::unique_ptr<ChildProcess> server_;
};

class WindowSystem : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::copy_file(KSN_PROGRAM_PATH, folder / "ksn48_vevu");
        std::filesystem::permissions(folder / "ksn48_vevu", std::filesystem::perms::owner_all);
    }

    void TearDown() override
    {
        program.reset();
        proxy.reset();
        server.reset();
        std::filesystem::remove_all(folder);
    }

    void StartProgram()
    {
        std::vector<std::string> environment = display.Environment();
        environment.push_back("QT_QPA_PLATFORM=xcb");
        program = std::make_unique<ChildProcess>((folder / "ksn48_vevu").string(),
                                                 std::vector<std::string>{}, environment);
    }

    // Waits for the program's end; its exit code, or -2 when it goes on.
    int ExitCode(std::chrono::seconds limit)
    {
        int code = -1;
        return program->WaitForExit(limit, &code) ? code : -2;
    }

    std::filesystem::path SettingsPath() const { return folder / "Ksn48_Vevu.ini"; }

    std::filesystem::path folder = [] {
        char name[] = "/tmp/ksn-window-system-XXXXXX";
        return std::filesystem::path(mkdtemp(name));
    }();
    VirtualDisplay display;
    std::unique_ptr<CrateServer> server;
    std::unique_ptr<CrateProxy> proxy;
    std::unique_ptr<ChildProcess> program;
};

TEST_F(WindowSystem, ADestroyedWindowEndsTheProgramThroughItsShutdown)
{
    server = std::make_unique<CrateServer>();
    {
        // Automatic save on: the shutdown leaves its mark in the file.
        IniFile file(SettingsPath().string());
        file.WriteBool(SettingsNames::GeneralSection, SettingsNames::AutoSaveKey, true);
        file.UpdateFile();
    }
    StartProgram();
    // The versioned caption: the pass has shown its final status.
    const std::string window = display.WaitForWindow("^KSN48_vevu - [0-9]", 30s);
    ASSERT_FALSE(window.empty()) << "the detection pass did not end";
    std::this_thread::sleep_for(1s);

    ASSERT_EQ(display.X11Tool("destroy", window), 0);

    EXPECT_EQ(ExitCode(15s), 0) << "the program went on without its window";
    IniFile saved(SettingsPath().string());
    EXPECT_EQ(saved.ReadString(SettingsNames::DetectionSection, SettingsNames::CrateSerialKey, ""),
              "KSN5-0042")
        << "the shutdown did not save";
}

TEST_F(WindowSystem, ACloseRequestWhileTheDetectionErrorBoxIsUpEndsTheProgram)
{
    server = std::make_unique<CrateServer>();
    server->Stop();  // nothing answers: the pass reports it in its box
    StartProgram();
    const std::string box = display.WaitForWindow("TInitAndConfigThread", 30s);
    ASSERT_FALSE(box.empty()) << "no error box";
    const std::string window = display.FindWindow("^KSN48_vevu");
    ASSERT_FALSE(window.empty());

    ASSERT_EQ(display.X11Tool("close", window), 0);

    EXPECT_EQ(ExitCode(15s), 0) << "the close request was lost";
}

TEST_F(WindowSystem, ACloseRequestWhileThePassWaitsForAStoppedServerEndsTheProgram)
{
    server = std::make_unique<CrateServer>();
    proxy = std::make_unique<CrateProxy>(server->Port());
    std::atomic<bool> stopped{false};
    proxy->BeforeRequest(Opcode::ModuleOpen, 1, [this, &stopped] {
        server->Suspend();
        stopped = true;
    });
    StartProgram();
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!stopped && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
    }
    ASSERT_TRUE(stopped);
    const std::string window = display.WaitForWindow("^KSN48_vevu", 10s);
    ASSERT_FALSE(window.empty());

    const auto closeFrom = std::chrono::steady_clock::now();
    ASSERT_EQ(display.X11Tool("close", window), 0);
    EXPECT_EQ(ExitCode(15s), 0);
    std::cout << "the program ended "
              << std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now() - closeFrom)
                     .count()
              << " ms after the close request\n";
    // Only the open under way was waited for.
    EXPECT_EQ(proxy->Requests(Opcode::ModuleOpen), 1);
}

}  // namespace
