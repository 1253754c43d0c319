// The broker's address, the topic prefix and levels, and the password file.
#include "BrokerOptions.h"
#include "CaseName.h"

#include <gtest/gtest.h>

#include <filesystem>

#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <string>

#include <unistd.h>

namespace {

using mqtt::OptionError;

struct AddressCase : ksn::test::NamedCase {
    const char* text;
    const char* host;  // null: refused
    int port;          // 0: none given
};

class BrokerAddress : public ::testing::TestWithParam<AddressCase> {};

TEST_P(BrokerAddress, ParsesOrRefuses)
{
    const AddressCase& c = GetParam();
    if (c.host == nullptr) {
        EXPECT_THROW(mqtt::ParseBrokerAddress(c.text), OptionError);
        return;
    }
    const mqtt::BrokerAddress address = mqtt::ParseBrokerAddress(c.text);
    EXPECT_EQ(address.Host, c.host);
    EXPECT_EQ(address.Port.value_or(0), c.port);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, BrokerAddress,
    ::testing::Values(
        AddressCase{{"Host"}, "broker.lab", "broker.lab", 0},
        AddressCase{{"HostPort"}, "127.0.0.1:1884", "127.0.0.1", 1884},
        AddressCase{{"V6"}, "[::1]", "::1", 0}, AddressCase{{"V6Port"}, "[::1]:8883", "::1", 8883},
        AddressCase{{"HighestPort"}, "h:65535", "h", 65535}, AddressCase{{"Empty"}, "", nullptr, 0},
        AddressCase{{"PortOnly"}, ":1883", nullptr, 0},
        AddressCase{{"EmptyPort"}, "h:", nullptr, 0}, AddressCase{{"PortZero"}, "h:0", nullptr, 0},
        AddressCase{{"PortTooHigh"}, "h:65536", nullptr, 0},
        AddressCase{{"PortNotANumber"}, "h:mqtt", nullptr, 0},
        AddressCase{{"PortWithTail"}, "h:1883x", nullptr, 0},
        AddressCase{{"BareV6"}, "::1", nullptr, 0}, AddressCase{{"UnclosedV6"}, "[::1", nullptr, 0},
        AddressCase{{"V6Tail"}, "[::1]x", nullptr, 0},
        AddressCase{{"Blank"}, "bro ker", nullptr, 0}),
    ksn::test::CaseName<AddressCase>);

struct PrefixCase : ksn::test::NamedCase {
    const char* prefix;
    bool good;
};

class TopicPrefix : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(TopicPrefix, TakesLevelsAndRefusesWildcards)
{
    const PrefixCase& c = GetParam();
    if (c.good) {
        EXPECT_NO_THROW(mqtt::CheckTopicPrefix(c.prefix));
    } else {
        EXPECT_THROW(mqtt::CheckTopicPrefix(c.prefix), OptionError);
    }
}

INSTANTIATE_TEST_SUITE_P(Prefixes, TopicPrefix,
                         ::testing::Values(PrefixCase{{"Default"}, "ksn48", true},
                                           PrefixCase{{"Levels"}, "plant/line-2/bench 7", true},
                                           PrefixCase{{"Empty"}, "", false},
                                           PrefixCase{{"LeadingSlash"}, "/ksn48", false},
                                           PrefixCase{{"TrailingSlash"}, "ksn48/", false},
                                           PrefixCase{{"EmptyLevel"}, "a//b", false},
                                           PrefixCase{{"Plus"}, "lab/+", false},
                                           PrefixCase{{"Hash"}, "lab/#", false},
                                           PrefixCase{{"Control"}, "lab\n", false}),
                         ksn::test::CaseName<PrefixCase>);

TEST(TopicLevel, EscapesWhatWouldSplitOrWidenATopic)
{
    EXPECT_EQ(mqtt::TopicLevel("KSN5-0042"), "KSN5-0042");
    EXPECT_EQ(mqtt::TopicLevel("A/B"), "A%2FB");
    EXPECT_EQ(mqtt::TopicLevel("+"), "%2B");
    EXPECT_EQ(mqtt::TopicLevel("#1"), "%231");
    EXPECT_EQ(mqtt::TopicLevel("x y"), "x%20y");
    EXPECT_EQ(mqtt::TopicLevel("\xC0"), "%C0");
    // The escape character itself, so that two serials never meet in one topic.
    EXPECT_EQ(mqtt::TopicLevel("A%2FB"), "A%252FB");
    EXPECT_NE(mqtt::TopicLevel("A/B"), mqtt::TopicLevel("A%2FB"));
    EXPECT_EQ(mqtt::TopicLevel(""), "%");
}

class PasswordFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string name =
            std::filesystem::temp_directory_path().string() + "/ksn-mqtt-password-XXXXXX";
        const int fd = ::mkstemp(name.data());
        ASSERT_GE(fd, 0);
        ::close(fd);
        path = name;
    }
    void TearDown() override { std::remove(path.c_str()); }
    void Write(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    std::string path;
};

TEST_F(PasswordFile, FirstLineWithoutItsEnd)
{
    Write("s3cret\nsecond line\n");
    EXPECT_EQ(mqtt::ReadPasswordFile(path), "s3cret");
    Write("dos\r\n");
    EXPECT_EQ(mqtt::ReadPasswordFile(path), "dos");
    Write("no line end");
    EXPECT_EQ(mqtt::ReadPasswordFile(path), "no line end");
    Write("");
    EXPECT_EQ(mqtt::ReadPasswordFile(path), "");
}

TEST_F(PasswordFile, MissingFileOrFolderIsRefusedByName)
{
    for (const std::string& bad : {path + ".missing", std::string("/")}) {
        try {
            mqtt::ReadPasswordFile(bad);
            ADD_FAILURE() << bad << " was read";
        } catch (const OptionError& e) {
            EXPECT_NE(std::string(e.what()).find("'" + bad + "'"), std::string::npos) << e.what();
        }
    }
}

}  // namespace

namespace {

using Field = mqtt::BrokerSetup::Field;

struct SetupCase : ksn::test::NamedCase {
    mqtt::BrokerSetup setup;
    std::optional<Field> refused;  // empty: taken
};

class BrokerSetup : public ::testing::TestWithParam<SetupCase> {};

TEST_P(BrokerSetup, EachValueIsCheckedAsTheToolChecksItsFlag)
{
    const SetupCase& c = GetParam();
    if (!c.refused) {
        EXPECT_NO_THROW(mqtt::MakeBrokerOptions(c.setup));
        return;
    }
    try {
        mqtt::MakeBrokerOptions(c.setup);
        ADD_FAILURE() << "taken";
    } catch (const mqtt::SetupError& e) {
        EXPECT_EQ(e.Field(), *c.refused) << e.what();
    }
}

mqtt::BrokerSetup With(std::function<void(mqtt::BrokerSetup&)> change)
{
    mqtt::BrokerSetup setup;
    setup.Address = "broker.lab";
    change(setup);
    return setup;
}

INSTANTIATE_TEST_SUITE_P(
    Values, BrokerSetup,
    ::testing::Values(
        SetupCase{{"Plain"}, With([](auto&) {}), std::nullopt},
        SetupCase{{"Everything"},
                  With([](auto& s) {
                      s.TopicPrefix = "plant/line2";
                      s.ClientId = "bench-7";
                      s.Qos = "1";
                      s.Username = "bench";
                  }),
                  std::nullopt},
        SetupCase{{"NoBroker"}, With([](auto& s) { s.Address.clear(); }), Field::Address},
        SetupCase{{"BadPort"}, With([](auto& s) { s.Address = "h:99999"; }), Field::Address},
        SetupCase{{"Wildcard"}, With([](auto& s) { s.TopicPrefix = "lab/+"; }), Field::TopicPrefix},
        SetupCase{{"ClientIdBlank"}, With([](auto& s) { s.ClientId = "a b"; }), Field::ClientId},
        SetupCase{{"ClientIdLong"},
                  With([](auto& s) { s.ClientId = std::string(24, 'a'); }),
                  Field::ClientId},
        SetupCase{{"QosTwo"}, With([](auto& s) { s.Qos = "2"; }), Field::Qos},
        SetupCase{{"QosWord"}, With([](auto& s) { s.Qos = "one"; }), Field::Qos},
        SetupCase{{"PasswordWithoutUser"},
                  With([](auto& s) { s.PasswordFile = "/"; }),
                  Field::PasswordFile},
        SetupCase{{"PasswordFileMissing"},
                  With([](auto& s) {
                      s.Username = "u";
                      s.PasswordFile = "/nonexistent/password";
                  }),
                  Field::PasswordFile},
        SetupCase{{"CaMissing"},
                  With([](auto& s) { s.TlsCaFile = "/nonexistent/ca.pem"; }),
                  Field::TlsCaFile},
        SetupCase{{"CaFolder"}, With([](auto& s) { s.TlsCaFile = "/"; }), Field::TlsCaFile}),
    ksn::test::CaseName<SetupCase>);

TEST(BrokerSetupPorts, DefaultsToThePlainOrTheTlsPort)
{
    mqtt::BrokerSetup setup;
    setup.Address = "broker.lab";
    EXPECT_EQ(mqtt::MakeBrokerOptions(setup).Port, 1883);
    EXPECT_EQ(mqtt::MakeBrokerOptions(setup).TopicPrefix, "ksn48");
    std::string ca = std::filesystem::temp_directory_path().string() + "/ksn-mqtt-ca-XXXXXX";
    const int fd = ::mkstemp(ca.data());
    ASSERT_GE(fd, 0);
    ::close(fd);
    setup.TlsCaFile = ca;
    EXPECT_EQ(mqtt::MakeBrokerOptions(setup).Port, 8883);
    std::remove(ca.c_str());
    setup.Address = "broker.lab:1884";
    setup.TlsCaFile.clear();
    EXPECT_EQ(mqtt::MakeBrokerOptions(setup).Port, 1884);
}

}  // namespace
