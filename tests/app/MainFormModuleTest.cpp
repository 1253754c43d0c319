// The window against the real module library and a crate server of the
// test's own: whatever closes the window, the module ends up closed, and no
// thread uses the handle after that.
#include "MainForm.h"

#include "CrateServer.h"
#include "MessageBox.h"
#include "WaitLoop.h"
#include "WindowControls.h"
#include "ksn48api.h"
#include "ksnapi.h"

#include <QLabel>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using ksn::test::Find;

using ksn::test::CrateServer;

struct ModuleAddress {
    std::string crate;
    int slot = 0;
};

// The first KSN48 module the server reports.
std::optional<ModuleAddress> FindModule()
{
    KsnCrateLink link{};
    KSN_Init(&link);
    link.Channel = 0;
    char serials[KSN_MAX_CRATES][KSN_SERIAL_SIZE] = {};
    if (KSN_Open(&link) != 0 || KSN_GetCrates(&link, serials) != 0) {
        KSN_Close(&link);
        return std::nullopt;
    }
    KSN_Close(&link);
    for (const auto& serial : serials) {
        if (serial[0] == '\0') {
            break;
        }
        KsnCrateLink crate{};
        KSN_Init(&crate);
        std::memcpy(crate.CrateSerial, serial, sizeof crate.CrateSerial - 1);
        uint16_t ids[KSN_SLOT_COUNT] = {};
        const bool ok = KSN_Open(&crate) == 0 && KSN_GetCrateModules(&crate, ids) == 0;
        KSN_Close(&crate);
        for (int k = 0; ok && k < KSN_SLOT_COUNT; ++k) {
            if (ids[k] == KSN_MODULE_ID_KSN48) {
                return ModuleAddress{serial, k + 1};
            }
        }
    }
    return std::nullopt;
}

int OpenModule(Ksn48Handle& handle, const ModuleAddress& address)
{
    KSN48_Init(&handle);
    return KSN48_Open(&handle, KSN48_DEFAULT_ADDRESS, KSN48_DEFAULT_PORT, address.crate.c_str(),
                      address.slot);
}

// Acquires frames on the window's handle, as a measurement does, and shows
// each on the window.
class FrameWorker : public TThread {
public:
    FrameWorker(TMainForm& form, std::atomic<int>& frames) : form_(form), frames_(frames) {}

protected:
    void Execute() override
    {
        form_.MainThreadRunning = true;
        form_.MeasurementIdle = false;
        Ksn48Handle& h = form_.Ksn48Handle;
        std::vector<uint32_t> words(2048);
        while (!Terminated()) {
            if (KSN48_Start(&h) != 0) {
                break;
            }
            const int got =
                KSN48_Recv(&h, words.data(), nullptr, static_cast<uint32_t>(words.size()), 5000);
            if (h.AcquisitionRunning != 0) {
                KSN48_Stop(&h);
            }
            if (got < 0) {
                break;
            }
            Synchronize([this] {
                Find<QLabel>(form_, "ModuleSerialNumberLMDLabel")
                    ->setText(QString::number(++frames_));
            });
        }
        while (!Terminated()) {
            Sleep(50);
        }
        form_.MeasurementIdle = true;
    }

private:
    TMainForm& form_;
    std::atomic<int>& frames_;
};

class MainFormModule : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new CrateServer(); }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        const auto found = FindModule();
        ASSERT_TRUE(found.has_value()) << "the server reports no KSN48 module";
        address = *found;
        MainFormSetup setup;
        setup.MainThread = [this](TMainForm& f, std::uint16_t) -> std::unique_ptr<TThread> {
            return std::make_unique<FrameWorker>(f, frames);
        };
        setup.ModuleIsOpened = &KSN48_IsOpened;
        setup.ModuleClose = &KSN48_Close;
        form = std::make_unique<TMainForm>(setup);
        ASSERT_EQ(OpenModule(form->Ksn48Handle, address), 0);
        form->ModuleState = 2;
        ASSERT_EQ(KSN48_IsOpened(&form->Ksn48Handle), 0);
        form->Ksn48Handle.Channel[0].ChannelEnabled = 1;
        form->Ksn48Handle.RateCode = 2;
        form->Ksn48Handle.DataFormat = 0;
        ASSERT_EQ(KSN48_SetADC(&form->Ksn48Handle), 0);
    }

    // The server frees a module its client closed: another handle can open it.
    void ExpectModuleFree()
    {
        Ksn48Handle other{};
        EXPECT_EQ(OpenModule(other, address), 0) << "the module is still held";
        KSN48_Close(&other);
    }

    static CrateServer* server;
    ModuleAddress address;
    std::atomic<int> frames{0};
    std::unique_ptr<TMainForm> form;
    DialogRecorder dialogs;
};

CrateServer* MainFormModule::server = nullptr;

TEST_F(MainFormModule, CloseDuringAMeasurementStopsItThenClosesTheModule)
{
    form->StartThread();
    ASSERT_NE(form->Worker(), nullptr);
    WaitLoop([this] { return frames.load() >= 3; });
    form->close();
    EXPECT_EQ(form->Worker(), nullptr);
    EXPECT_NE(KSN48_IsOpened(&form->Ksn48Handle), 0);
    form.reset();
    ExpectModuleFree();
    EXPECT_TRUE(dialogs.Shown().empty());
}

TEST_F(MainFormModule, DestroyingTheWindowMidMeasurementClosesTheModule)
{
    form->StartThread();
    WaitLoop([this] { return frames.load() >= 1; });
    form->Busy = true;  // a close that skips the visible shutdown
    form->close();
    form.reset();
    ExpectModuleFree();
}

TEST_F(MainFormModule, ALostServerDoesNotHangTheClose)
{
    form->StartThread();
    WaitLoop([this] { return frames.load() >= 1; });
    server->Kill();
    form->close();  // the worker's calls fail or time out; the close returns
    EXPECT_EQ(form->Worker(), nullptr);
    form.reset();
    server->Restart();
}

}  // namespace
