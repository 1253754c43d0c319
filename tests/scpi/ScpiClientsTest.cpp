// ksn48-scpi itself against a crate server of the test's own, driven by
// SCPI clients from Debian: PyVISA with its pure-Python backend
// (pyvisa_client.py) and `lxi scpi` of lxi-tools.
#include "CaseName.h"
#include "CrateServer.h"
#include "Process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include <poll.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* Python = "/usr/bin/python3";
constexpr const char* Lxi = "/usr/bin/lxi";

// A line from fd within the time; false at its end or on timeout.
bool ReadLine(int fd, std::string& line, std::chrono::milliseconds timeout)
{
    line.clear();
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char c = 0;
        if (::read(fd, &c, 1) != 1) {
            return false;
        }
        if (c == '\n') {
            return true;
        }
        line.push_back(c);
    }
}

// A ksn48-scpi of the test's own on a port the system picks.
class ScpiServerProcess {
public:
    ScpiServerProcess()
    {
        process_ = std::make_unique<ksn::test::ChildProcess>(
            KSN_SCPI_SERVER, std::vector<std::string>{"--listen", "127.0.0.1:0"},
            std::vector<std::string>{}, &out_);
        std::string line;
        if (!ReadLine(out_, line, std::chrono::seconds(20))) {
            throw std::runtime_error("ksn48-scpi did not start");
        }
        port_ = static_cast<std::uint16_t>(std::stoul(line.substr(line.rfind(':') + 1)));
    }
    ~ScpiServerProcess()
    {
        if (process_) {
            ::kill(process_->Pid(), SIGTERM);
            int code = -1;
            stoppedCleanly_ = process_->WaitForExit(std::chrono::seconds(10), &code) && code == 0;
        }
        ::close(out_);
    }
    std::uint16_t Port() const { return port_; }
    // Ends it with SIGTERM; true when it ended in time with exit 0.
    bool Stop()
    {
        ::kill(process_->Pid(), SIGTERM);
        int code = -1;
        const bool ended = process_->WaitForExit(std::chrono::seconds(10), &code);
        process_.reset();
        return ended && code == 0;
    }

private:
    std::unique_ptr<ksn::test::ChildProcess> process_;
    int out_ = -1;
    std::uint16_t port_ = 0;
    bool stoppedCleanly_ = false;
};

class ScpiClients : public ::testing::Test {
protected:
    void Start(bool fast = true)
    {
        crate_.emplace(std::string(), fast);
        server_.emplace();
    }
    void SetUp() override { Start(); }

    // Runs a scenario of pyvisa_client.py; its output for the failure message.
    std::pair<int, std::string> PyVisa(const std::string& scenario)
    {
        return ksn::test::RunProgram(Python, {KSN_PYVISA_CLIENT, std::to_string(server_->Port()),
                                              scenario});
    }
    std::string LxiScpi(const std::string& command)
    {
        const auto [code, out] = ksn::test::RunProgram(
            Lxi, {"scpi", "--address", "127.0.0.1", "--port", std::to_string(server_->Port()),
                  "--raw", "--timeout", "10", command});
        EXPECT_EQ(code, 0) << command;
        return out;
    }

    std::optional<ksn::test::CrateServer> crate_;
    std::optional<ScpiServerProcess> server_;
};

struct Scenario : ksn::test::NamedCase {
    const char* script;
};

class PyVisaScenarios : public ScpiClients, public ::testing::WithParamInterface<Scenario> {};

TEST_P(PyVisaScenarios, PassAgainstTheBuiltInModule)
{
    const auto [code, out] = PyVisa(GetParam().script);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find(std::string("ok ") + GetParam().script), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(ScpiClients, PyVisaScenarios,
                         ::testing::Values(Scenario{{"Identification"}, "identify"},
                                           Scenario{{"Configuration"}, "configure"},
                                           Scenario{{"Measurements"}, "measure"},
                                           Scenario{{"PrecisionMethod"}, "precision"},
                                           Scenario{{"ErrorQueue"}, "error_queue"},
                                           Scenario{{"DataRateRefusal"}, "data_rate"},
                                           Scenario{{"Garbage"}, "garbage"}),
                         ksn::test::CaseName<Scenario>);

TEST_F(ScpiClients, LxiScpiIdentifiesMeasuresAndReadsTheErrorQueue)
{
    EXPECT_EQ(LxiScpi("*IDN?").substr(0, 33), "KSN48_Vevu,KSN48,4811001,12/1.0.0");
    EXPECT_NEAR(std::stod(LxiScpi("MEAS:VOLT:AC? (@2)")), 0.5 / std::sqrt(2.0), 1e-3);
    EXPECT_NEAR(std::stod(LxiScpi("MEAS:PHAS? (@3)")), -90.0, 0.01);
    EXPECT_NEAR(std::stod(LxiScpi("MEAS:FREQ? (@4)")), 1000.0, 0.01);
    LxiScpi("SENS:RATE 19531");
    EXPECT_EQ(LxiScpi("SENS:RATE?"), "19531.25\n");
    LxiScpi("FOO");
    EXPECT_EQ(LxiScpi("SYST:ERR?"), "-113,\"Undefined header;FOO\"\n");
}

TEST_F(ScpiClients, ALostLinkIsHardwareMissingAndTheModuleComesBack)
{
    ASSERT_EQ(PyVisa("identify").first, 0);
    crate_->Kill();
    const auto [lostCode, lostOut] = PyVisa("lost");
    EXPECT_EQ(lostCode, 0) << lostOut;
    crate_->Restart();
    const auto [backCode, backOut] = PyVisa("recover");
    EXPECT_EQ(backCode, 0) << backOut;
    EXPECT_TRUE(server_->Stop());
}

TEST_F(ScpiClients, AClientThatGoesMidMeasurementLeavesTheModuleToTheNext)
{
    // In real time, so that the frame it leaves is still being acquired.
    server_.reset();
    Start(false);
    const auto [code, out] = PyVisa("hang_up");
    EXPECT_EQ(code, 0) << out;
}

TEST_F(ScpiClients, ASignalEndsTheServerCleanly)
{
    ASSERT_EQ(PyVisa("identify").first, 0);
    EXPECT_TRUE(server_->Stop());
}

}  // namespace
