// ksn-cratectl: looks at and steers a running ksn-crated.

#include <cerrno>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Connection.h"
#include "Protocol.h"
#include "ksnerror.h"

namespace {

using nlohmann::json;

constexpr uint32_t kTimeoutMs = 3000;

constexpr const char* kUsage =
    "Usage: ksn-cratectl [--port N] [--json] COMMAND ...\n"
    "Looks at and changes a running ksn-crated (port: --port, else KSN_CRATE_PORT, else 11111).\n"
    "Every command but list needs a server started with --control.\n"
    "Commands (CRATE = crate serial, SLOT = 1..16, CHANNEL = 1..8):\n"
    "  list                                  crates, slots, modules, signals and faults\n"
    "  signal CRATE SLOT CHANNEL [--sine A,F[,P]]... [--no-sines] [--dc V] [--noise RMS]\n"
    "                                        [--status ok|short|open]\n"
    "                                        change a channel's signal (A volts, F hertz,\n"
    "                                        P degrees); options not given stay as they are,\n"
    "                                        --sine replaces all sines\n"
    "  status CRATE SLOT CHANNEL ok|short|open   sensor status of a channel\n"
    "  refuse CRATE SLOT on|off              the module refuses to be opened\n"
    "  stall CRATE SLOT on|off               receives get no answer\n"
    "  limit CRATE SLOT WORDS|off            every receive delivers at most WORDS words\n"
    "  drop CRATE SLOT                       drops the connection of the module's client\n"
    "  --help                                this text\n";

int Fail(const std::string& message)
{
    std::cerr << "ksn-cratectl: " << message << "\n";
    return 2;
}

bool ParseNumber(const std::string& text, double& out)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0';
}

bool ParseInt(const std::string& text, long long lo, long long hi, long long& out)
{
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    out = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && out >= lo && out <= hi;
}

bool ParseOnOff(const std::string& text, bool& on)
{
    on = text == "on";
    return text == "on" || text == "off";
}

// Why the server did not take a request, in words.
std::string Refusal(int status, const json& reply)
{
    if (status == KSN_ERR_SERVER_FULL) {
        return "the crate server serves as many clients as it allows; try again later";
    }
    const std::string text = reply.is_object() ? reply.value("error", "") : "";
    if (status == KSN_ERR_REFUSED) {
        return text.empty() ? "the crate server refuses control requests" : text;
    }
    return text.empty() ? std::string("the crate server refused: ") + KSN_ErrorName(status) : text;
}

// Sends one control request; prints the server's error and returns false on failure.
bool Send(uint16_t port, const json& request, json& reply)
{
    uint32_t id = 1;
    const auto deadline = ksn::proto::DeadlineIn(2 * kTimeoutMs);
    const int fd = ksn::proto::ClientConnection::Connect(0x7F000001U, port, kTimeoutMs, id,
                                                         ksn::proto::kRequestIds32, deadline);
    if (fd == KSN_ERR_CONNECT) {
        std::cerr << "ksn-cratectl: no crate server on 127.0.0.1:" << port << " ("
                  << KSN_ErrorName(fd) << ")\n";
        return false;
    }
    if (fd == KSN_ERR_SERVER_FULL) {
        std::cerr << "ksn-cratectl: " << Refusal(fd, nullptr) << "\n";
        return false;
    }
    int r = fd;
    ksn::proto::Message m;
    if (fd >= 0) {
        ksn::proto::ClientConnection c(fd, id);
        const std::string text = request.dump();
        r = c.Call(ksn::proto::Opcode::Control, std::vector<uint8_t>(text.begin(), text.end()), m,
                   deadline);
        c.Drop(KSN_OK);
    }
    // A failure of the call itself, not a refusal the server sent.
    if (r != KSN_OK && r != m.header.status) {
        std::cerr << "ksn-cratectl: crate server did not answer (" << KSN_ErrorName(r) << ")\n";
        return false;
    }
    reply = json::parse(m.payload.begin(), m.payload.end(), nullptr, false);
    if (reply.is_discarded() && r == KSN_OK) {
        std::cerr << "ksn-cratectl: malformed answer from the crate server\n";
        return false;
    }
    if (r != KSN_OK) {
        std::cerr << "ksn-cratectl: " << Refusal(r, reply) << "\n";
        return false;
    }
    return true;
}

std::string Hex(unsigned v)
{
    std::ostringstream s;
    s << "0x" << std::hex << std::uppercase << std::setw(4) << std::setfill('0') << v;
    return s.str();
}

void PrintList(const json& all)
{
    for (const auto& crate : all.value("crates", json::array())) {
        std::cout << "crate " << crate.value("serial", "?") << "  type " << crate.value("type", 0)
                  << "\n";
        for (const auto& slot : crate.value("slots", json::array())) {
            std::cout << "  slot " << std::setw(2) << slot.value("slot", 0) << "  ";
            if (!slot.contains("ksn48")) {
                std::cout << "module " << Hex(slot.value("module_id", 0U)) << "\n";
                continue;
            }
            const auto& m = slot["ksn48"];
            std::cout << m.value("name", "?") << " " << Hex(0x3030) << "  serial "
                      << m.value("serial", "?") << "  firmware " << m.value("firmware", 0);
            if (slot.value("open", false))
                std::cout << "  [open]";
            if (slot.value("refuse", false))
                std::cout << "  [refuses open]";
            if (slot.value("stall", false))
                std::cout << "  [stalls]";
            if (slot.value("limit", -1) >= 0)
                std::cout << "  [limit " << slot.value("limit", -1) << " words]";
            std::cout << "\n";
            int ch = 1;
            for (const auto& c : m.value("channels", json::array())) {
                std::cout << "    ch" << ch++ << "  " << c.value("status", "?");
                for (const auto& s : c.value("sines", json::array())) {
                    std::cout << "  " << s.value("amplitude", 0.0) << " V "
                              << s.value("frequency", 0.0) << " Hz " << s.value("phase", 0.0)
                              << " deg";
                }
                if (c.value("dc", 0.0) != 0.0)
                    std::cout << "  dc " << c.value("dc", 0.0) << " V";
                if (c.value("noise", 0.0) != 0.0)
                    std::cout << "  noise " << c.value("noise", 0.0) << " V rms";
                std::cout << "\n";
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    uint16_t port = ksn::proto::PortFromEnvironment(11111);
    bool asJson = false;
    std::size_t i = 0;
    for (; i < args.size() && args[i].rfind("--", 0) == 0; ++i) {
        if (args[i] == "--help") {
            std::cout << kUsage;
            return 0;
        }
        if (args[i] == "--json") {
            asJson = true;
        } else if (args[i] == "--port" && i + 1 < args.size()) {
            long long p = 0;
            if (!ParseInt(args[++i], 1, 65535, p)) {
                return Fail("bad port \"" + args[i] + "\"");
            }
            port = static_cast<uint16_t>(p);
        } else {
            return Fail("unknown option \"" + args[i] + "\"\n" + kUsage);
        }
    }
    if (i >= args.size()) {
        return Fail(std::string("no command given\n") + kUsage);
    }
    const std::string cmd = args[i++];
    const std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());

    json request = {{"cmd", cmd}};
    if (cmd == "list") {
        if (!rest.empty())
            return Fail("list takes no arguments");
    } else {
        const std::size_t need = (cmd == "drop")     ? 2
                                 : (cmd == "signal") ? 3
                                 : (cmd == "status") ? 4
                                                     : 3;
        if (cmd != "signal" && cmd != "status" && cmd != "refuse" && cmd != "stall" &&
            cmd != "limit" && cmd != "drop") {
            return Fail("unknown command \"" + cmd + "\"\n" + kUsage);
        }
        if (rest.size() < need || (cmd != "signal" && rest.size() != need)) {
            return Fail("wrong arguments for " + cmd + "\n" + kUsage);
        }
        long long slot = 0;
        if (!ParseInt(rest[1], 1, 16, slot))
            return Fail("bad slot \"" + rest[1] + "\"");
        request["crate"] = rest[0];
        request["slot"] = slot;
        if (cmd == "signal" || cmd == "status") {
            long long channel = 0;
            if (!ParseInt(rest[2], 1, 8, channel))
                return Fail("bad channel \"" + rest[2] + "\"");
            request["channel"] = channel;
            request["cmd"] = "signal";
        }
        if (cmd == "status") {
            request["signal"] = {{"status", rest[3]}};
        } else if (cmd == "signal") {
            json signal = json::object();
            for (std::size_t k = 3; k < rest.size(); ++k) {
                const std::string& opt = rest[k];
                if (opt == "--no-sines") {
                    signal["sines"] = json::array();
                    continue;
                }
                if (k + 1 >= rest.size())
                    return Fail("option " + opt + " needs a value");
                const std::string& value = rest[++k];
                double v = 0.0;
                if (opt == "--sine") {
                    std::vector<double> parts;
                    std::stringstream ss(value);
                    std::string item;
                    while (std::getline(ss, item, ',')) {
                        if (!ParseNumber(item, v))
                            return Fail("bad sine \"" + value + "\" (A,F[,P])");
                        parts.push_back(v);
                    }
                    if (parts.size() < 2 || parts.size() > 3)
                        return Fail("bad sine \"" + value + "\" (A,F[,P])");
                    if (!signal.contains("sines"))
                        signal["sines"] = json::array();
                    signal["sines"].push_back({{"amplitude", parts[0]},
                                               {"frequency", parts[1]},
                                               {"phase", parts.size() > 2 ? parts[2] : 0.0}});
                } else if (opt == "--dc" || opt == "--noise") {
                    if (!ParseNumber(value, v))
                        return Fail("bad number \"" + value + "\"");
                    signal[opt.substr(2)] = v;
                } else if (opt == "--status") {
                    signal["status"] = value;
                } else {
                    return Fail("unknown option \"" + opt + "\" for signal");
                }
            }
            request["signal"] = signal;
        } else if (cmd == "refuse" || cmd == "stall") {
            bool on = false;
            if (!ParseOnOff(rest[2], on))
                return Fail("expected on or off, got \"" + rest[2] + "\"");
            request["on"] = on;
        } else if (cmd == "limit") {
            long long words = -1;
            if (rest[2] != "off" && !ParseInt(rest[2], 0, 0x7FFFFFFF, words)) {
                return Fail("expected a word count or off, got \"" + rest[2] + "\"");
            }
            request["words"] = words;
        }
    }

    json reply;
    if (!Send(port, request, reply)) {
        return 1;
    }
    if (asJson) {
        std::cout << reply.dump(2) << "\n";
    } else if (cmd == "list") {
        PrintList(reply);
    } else {
        std::cout << reply.dump() << "\n";
    }
    return 0;
}
