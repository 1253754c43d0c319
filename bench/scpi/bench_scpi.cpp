// How long a test system waits for ksn48-scpi: FETCh? (the last frame again,
// no acquisition; goal 1 ms), and MEASure:VOLTage:AC? beyond the frame's own
// acquisition time N / Fs (goal 5 ms): what the server, the cycle's
// processing and the module's start and stop add to a reading. Against a
// crate server in real time of its own and a ksn48-scpi on a free port;
// over loopback TCP as a client sees it. Prints per case the median, the
// 90th percentile and the largest time in ms, and whether the median meets
// the goal.

#include "CrateServer.h"
#include "Process.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr double FetchGoalMs = 1.0;
constexpr double MeasureGoalMs = 5.0;
constexpr int FetchQueries = 2000;
constexpr int MeasureQueries = 20;

class Client {
public:
    explicit Client(std::uint16_t port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
            throw std::runtime_error("cannot connect to ksn48-scpi");
        }
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    ~Client() { ::close(fd_); }

    void Write(const std::string& message)
    {
        const std::string line = message + "\n";
        if (::send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
            throw std::runtime_error("send failed");
        }
    }
    std::string Query(const std::string& message)
    {
        Write(message);
        std::string line;
        for (;;) {
            const std::size_t end = buffer_.find('\n');
            if (end != std::string::npos) {
                line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return line;
            }
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0) {
                throw std::runtime_error("no answer to " + message);
            }
            char chunk[4096];
            const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
            if (n <= 0) {
                throw std::runtime_error("connection closed");
            }
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
    }

private:
    int fd_ = -1;
    std::string buffer_;
};

struct Spread {
    double Median;
    double P90;
    double Max;
};

Spread SpreadOf(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) {
        return ms[std::min(ms.size() - 1, static_cast<std::size_t>(q * static_cast<double>(ms.size())))];
    };
    return {at(0.5), at(0.9), ms.back()};
}

double Since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void Print(const char* name, const std::string& setup, const Spread& s, double goal)
{
    std::printf("%-28s %-34s median_ms=%.3f p90_ms=%.3f max_ms=%.3f goal_ms=%.1f %s\n", name,
                setup.c_str(), s.Median, s.P90, s.Max, goal, s.Median <= goal ? "met" : "MISSED");
}

// N for the "fft" method: the smallest power of two that covers the time.
double FrameSeconds(double aperture, double rate)
{
    double n = 1.0;
    while (n / rate < aperture) {
        n *= 2.0;
    }
    return n / rate;
}

}  // namespace

int main()
{
    try {
        ksn::test::CrateServer crate(std::string(), false);
        int out = -1;
        ksn::test::ChildProcess server(KSN_SCPI_SERVER, {"--listen", "127.0.0.1:0"}, {}, &out);
        std::string line;
        char c = 0;
        while (::read(out, &c, 1) == 1 && c != '\n') {
            line.push_back(c);
        }
        const auto port = static_cast<std::uint16_t>(std::stoul(line.substr(line.rfind(':') + 1)));
        Client client(port);

        client.Query("*RST;:MEAS:VOLT:AC?");
        std::vector<double> fetch;
        for (int i = 0; i < FetchQueries; ++i) {
            const Clock::time_point start = Clock::now();
            client.Query("FETC?");
            fetch.push_back(Since(start));
        }
        Print("fetch", "6 channels, last frame", SpreadOf(fetch), FetchGoalMs);

        struct Case {
            const char* Channels;
            double Rate;
            double Aperture;
        };
        for (const Case& k : {Case{"(@1)", 78125.0, 0.01}, Case{"(@1)", 78125.0, 0.1},
                              Case{"(@1:6)", 39062.5, 0.1}, Case{"(@1:6)", 39062.5, 0.75}}) {
            char setup[96];
            std::snprintf(setup, sizeof setup, "CHAN %s;RATE %.10g;APER %.10g", k.Channels, k.Rate,
                          k.Aperture);
            client.Write(setup);
            const double frame = FrameSeconds(k.Aperture, k.Rate) * 1000.0;
            // The first reading of a setup configures the module; then
            // readings only acquire.
            client.Query("MEAS:VOLT:AC?");
            std::vector<double> beyond;
            for (int i = 0; i < MeasureQueries; ++i) {
                const Clock::time_point start = Clock::now();
                client.Query("MEAS:VOLT:AC?");
                beyond.push_back(Since(start) - frame);
            }
            char name[96];
            std::snprintf(name, sizeof name, "%s %.0f Hz N/Fs=%.1f ms", k.Channels, k.Rate, frame);
            Print("measure_beyond_acquisition", name, SpreadOf(beyond), MeasureGoalMs);
        }
        const std::string errors = client.Query("SYST:ERR:COUN?");
        if (errors != "0") {
            std::printf("errors in the queue: %s\n", errors.c_str());
            return 1;
        }
        ::close(out);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_scpi: %s\n", e.what());
        return 1;
    }
    return 0;
}
