#include "MqttSection.h"

#include "SectionValue.h"

MqttSection ReadMqttSection(const IniFile& file)
{
    namespace Names = MqttSettingsNames;
    const auto read = [&](std::string_view key) {
        return ReadSectionValue(file, Names::Section, key);
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
