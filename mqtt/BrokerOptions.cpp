#include "BrokerOptions.h"

#include <cerrno>
#include <charconv>
#include <fstream>
#include <system_error>

#include <sys/stat.h>

namespace mqtt {

namespace {

constexpr int MaxPort = 65535;

std::optional<int> PortNumber(std::string_view text)
{
    int port = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), port);
    if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size() ||
        port < 1 || port > MaxPort) {
        return std::nullopt;
    }
    return port;
}

std::string Quoted(std::string_view text)
{
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted.push_back('\'');
    quoted.append(text);
    quoted.push_back('\'');
    return quoted;
}

bool Printable(std::string_view text)
{
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x21 || u == 0x7F) {
            return false;
        }
    }
    return true;
}

}  // namespace

BrokerAddress ParseBrokerAddress(std::string_view text)
{
    const std::string quoted = Quoted(text);
    BrokerAddress address;
    std::string_view port;
    bool hasPort = false;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1) {
            throw OptionError("the broker " + quoted + " is not HOST, HOST:PORT or [ADDRESS]:PORT");
        }
        address.Host = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty()) {
            if (rest.front() != ':') {
                throw OptionError("the broker " + quoted +
                                  " is not HOST, HOST:PORT or [ADDRESS]:PORT");
            }
            port = rest.substr(1);
            hasPort = true;
        }
    } else {
        const std::size_t colon = text.find(':');
        if (colon != std::string_view::npos &&
            text.find(':', colon + 1) != std::string_view::npos) {
            throw OptionError("the broker " + quoted +
                              " looks like an IPv6 address: write it as [ADDRESS]:PORT");
        }
        address.Host = std::string(text.substr(0, colon));
        if (colon != std::string_view::npos) {
            port = text.substr(colon + 1);
            hasPort = true;
        }
    }
    if (address.Host.empty() || !Printable(address.Host)) {
        throw OptionError("the broker " + quoted + " names no host");
    }
    if (hasPort) {
        address.Port = PortNumber(port);
        if (!address.Port) {
            throw OptionError("the broker " + quoted + " has no port from 1 to 65535");
        }
    }
    return address;
}

void CheckTopicPrefix(std::string_view prefix)
{
    const std::string quoted = Quoted(prefix);
    if (prefix.empty()) {
        throw OptionError("the topic prefix is empty");
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = prefix.find('/', start);
        if (end == start || start == prefix.size()) {
            throw OptionError("the topic prefix " + quoted + " has an empty level");
        }
        if (end == std::string_view::npos) {
            break;
        }
        start = end + 1;
    }
    for (const char c : prefix) {
        if (c == '+' || c == '#') {
            throw OptionError("the topic prefix " + quoted +
                              " holds a wildcard ('+' or '#'), which no message can be sent to");
        }
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            throw OptionError("the topic prefix " + quoted + " holds a control character");
        }
    }
}

std::string TopicLevel(std::string_view text)
{
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string level;
    level.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '/' || c == '+' || c == '#' || c == '%' || u < 0x21 || u > 0x7E) {
            level += '%';
            level += Hex[u >> 4];
            level += Hex[u & 0x0F];
        } else {
            level += c;
        }
    }
    if (level.empty()) {
        level.assign(1, '%');  // no empty level: a topic of its own for "no serial"
    }
    return level;
}

std::string ReadPasswordFile(const std::string& path)
{
    const std::string quoted = Quoted(path);
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throw OptionError("the password file " + quoted +
                          " cannot be read: " + std::generic_category().message(errno));
    }
    if (S_ISDIR(info.st_mode)) {
        throw OptionError("the password file " + quoted + " is a folder");
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw OptionError("the password file " + quoted +
                          " cannot be read: " + std::generic_category().message(errno));
    }
    std::string password;
    std::getline(file, password);
    if (file.bad()) {
        throw OptionError("the password file " + quoted + " cannot be read");
    }
    if (!password.empty() && password.back() == '\r') {
        password.pop_back();
    }
    return password;
}

void CheckClientId(std::string_view id)
{
    constexpr std::size_t MaxLength = 23;
    bool good = !id.empty() && id.size() <= MaxLength;
    for (const char c : id) {
        good = good && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') ||
                        (c >= 'A' && c <= 'Z') || c == '-' || c == '_');
    }
    if (!good) {
        throw OptionError("the client id " + Quoted(id) +
                          " is not 1 to 23 letters, digits, '-' or '_'");
    }
}

BrokerOptions MakeBrokerOptions(const BrokerSetup& setup)
{
    using Field = BrokerSetup::Field;
    // Each check's refusal, with the field it concerns.
    const auto checked = [](Field field, auto check) {
        try {
            return check();
        } catch (const OptionError& e) {
            throw SetupError(field, e.what());
        }
    };
    BrokerOptions options;
    const BrokerAddress address =
        checked(Field::Address, [&] { return ParseBrokerAddress(setup.Address); });
    options.Host = address.Host;
    options.Port = address.Port.value_or(setup.TlsCaFile.empty() ? DefaultPort : DefaultTlsPort);
    if (!setup.TopicPrefix.empty()) {
        checked(Field::TopicPrefix, [&] {
            CheckTopicPrefix(setup.TopicPrefix);
            return 0;
        });
        options.TopicPrefix = setup.TopicPrefix;
    }
    if (!setup.ClientId.empty()) {
        checked(Field::ClientId, [&] {
            CheckClientId(setup.ClientId);
            return 0;
        });
        options.ClientId = setup.ClientId;
    }
    if (setup.Qos == "1") {
        options.Qos = 1;
    } else if (!setup.Qos.empty() && setup.Qos != "0") {
        throw SetupError(Field::Qos, "the QoS " + Quoted(setup.Qos) + " is not 0 or 1");
    }
    options.Username = setup.Username;
    if (!setup.PasswordFile.empty()) {
        if (setup.Username.empty()) {
            throw SetupError(Field::PasswordFile, "a password file needs a user name");
        }
        options.Password =
            checked(Field::PasswordFile, [&] { return ReadPasswordFile(setup.PasswordFile); });
    }
    if (!setup.TlsCaFile.empty()) {
        struct stat info {};
        if (::stat(setup.TlsCaFile.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
            throw SetupError(Field::TlsCaFile,
                             "the CA file " + Quoted(setup.TlsCaFile) + " is not there");
        }
        options.TlsCaFile = setup.TlsCaFile;
    }
    return options;
}

std::string DescribeBroker(const BrokerOptions& options)
{
    const bool v6 = options.Host.find(':') != std::string::npos;
    return (v6 ? "[" + options.Host + "]" : options.Host) + ":" + std::to_string(options.Port);
}

}  // namespace mqtt
