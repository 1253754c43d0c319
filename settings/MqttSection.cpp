#include "MqttSection.h"

namespace {

std::string Trimmed(std::string text)
{
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

MqttSection ReadMqttSection(const IniFile& file)
{
    namespace Names = MqttSettingsNames;
    const auto read = [&](std::string_view key) {
        return Trimmed(file.ReadString(Names::Section, key, ""));
    };
    MqttSection section;
    section.Enabled = read(Names::Enabled);
    section.Broker = read(Names::Broker);
    section.Topic = read(Names::Topic);
    section.ClientId = read(Names::ClientId);
    section.Qos = read(Names::Qos);
    section.Username = read(Names::Username);
    section.PasswordFile = read(Names::PasswordFile);
    section.TlsCa = read(Names::TlsCa);
    return section;
}
