#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace mqtt {

inline constexpr int DefaultPort = 1883;
inline constexpr int DefaultTlsPort = 8883;
inline constexpr std::string_view DefaultTopicPrefix = "ksn48";

// Where frames go and how the client logs in.
struct BrokerOptions {
    std::string Host;
    int Port = DefaultPort;
    std::string TopicPrefix = std::string(DefaultTopicPrefix);
    std::string ClientId;  // empty: the library makes one
    int Qos = 0;           // 0 or 1
    std::string Username;  // empty: no login
    std::string Password;
    std::string TlsCaFile;  // empty: plain TCP
    // Frames held while the broker is slow or away; the oldest goes first.
    std::size_t QueueLength = 256;

    bool operator==(const BrokerOptions&) const = default;
};

// A value of the broker's setup that cannot be used; the text says which and why.
class OptionError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

struct BrokerAddress {
    std::string Host;
    std::optional<int> Port;
};

// "HOST", "HOST:PORT", "[V6ADDR]" or "[V6ADDR]:PORT"; the port 1 to 65535.
// Throws OptionError.
BrokerAddress ParseBrokerAddress(std::string_view text);

// A prefix of topics: one or more levels separated by '/', none empty, no
// wildcard ('+', '#') and no control character. Throws OptionError.
void CheckTopicPrefix(std::string_view prefix);

// A crate serial or any other text as one topic level: '/', '+', '#', '%'
// and characters below 0x21 or above 0x7e become %XX, so that no text can
// split the level, turn it into a wildcard or collide with another text.
std::string TopicLevel(std::string_view text);

// A client id every broker takes: 1 to 23 letters, digits, '-' or '_'.
// Throws OptionError.
void CheckClientId(std::string_view id);

// The broker's setup as texts (a settings file's values), each checked as
// the tool checks its flags.
struct BrokerSetup {
    enum class Field { Address, TopicPrefix, ClientId, Qos, Username, PasswordFile, TlsCaFile };
    std::string Address;      // HOST[:PORT]
    std::string TopicPrefix;  // empty: the default
    std::string ClientId;     // empty: the library's own
    std::string Qos;          // "0", "1"; empty: 0
    std::string Username;
    std::string PasswordFile;  // needs a user name
    std::string TlsCaFile;
};

// A setup value that cannot be used; Field says which.
class SetupError : public OptionError {
public:
    SetupError(BrokerSetup::Field field, const std::string& message)
        : OptionError(message), field_(field)
    {}
    BrokerSetup::Field Field() const noexcept { return field_; }

private:
    BrokerSetup::Field field_;
};

// The options of a setup, the password read from its file. Throws
// SetupError.
BrokerOptions MakeBrokerOptions(const BrokerSetup& setup);

// The first line of a password file, without its line end. Throws
// OptionError naming the file when it is missing or cannot be read.
std::string ReadPasswordFile(const std::string& path);

// host:port for messages, with brackets around an IPv6 address.
std::string DescribeBroker(const BrokerOptions& options);

}  // namespace mqtt
