#pragma once

#include "IniFile.h"

#include <string>
#include <string_view>

// The MQTT feed's section of the settings file: a section of its own with
// Latin keys, off by default, read and never written by the window (the
// settings writers edit their own keys in place and leave it as it stands).
//
//   [MQTT]
//   Enabled=1                 0 or 1; missing: 0
//   Broker=HOST[:PORT]
//   Topic=ksn48               topic prefix; missing: ksn48
//   ClientId=                 missing: the library makes one
//   QoS=0                     0 or 1
//   Username=
//   PasswordFile=             first line is the password
//   TlsCa=                    CA certificate file: TLS
namespace MqttSettingsNames {
inline constexpr std::string_view Section = "MQTT";
inline constexpr std::string_view Enabled = "Enabled";
inline constexpr std::string_view Broker = "Broker";
inline constexpr std::string_view Topic = "Topic";
inline constexpr std::string_view ClientId = "ClientId";
inline constexpr std::string_view Qos = "QoS";
inline constexpr std::string_view Username = "Username";
inline constexpr std::string_view PasswordFile = "PasswordFile";
inline constexpr std::string_view TlsCa = "TlsCa";
}  // namespace MqttSettingsNames

// The section's values as the file holds them (blanks around them taken off).
struct MqttSection {
    std::string Enabled;  // "" when missing
    std::string Broker;
    std::string Topic;
    std::string ClientId;
    std::string Qos;
    std::string Username;
    std::string PasswordFile;
    std::string TlsCa;
};

MqttSection ReadMqttSection(const IniFile& file);
