// libFuzzer entry for the INI reader: any bytes must parse, read back to the
// same bytes, and take a write that reads back.
#include "IniDocument.h"
#include "IniFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view Sections[] = {"Приложение. Общие", "Приложение. Обнаружение",
                                         "Модуль KSN48", "s"};
constexpr std::string_view Keys[] = {"Сохранение настроек",
                                     "Top    основной панели",
                                     "Серийный номер KSN крейта",
                                     "АЦП. Mаксимальное время сбора данных, с",
                                     "АЦП. Индекс частоты работы АЦП",
                                     "k"};

void Check(bool condition)
{
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const IniDocument document(bytes);
    Check(document.Bytes() == bytes);

    for (const auto section : Sections) {
        for (const auto key : Keys) {
            if (const auto value = document.Value(section, key)) {
                IniFile::ParseInteger(*value);
                if (const auto number = IniFile::ParseFloat(*value)) {
                    Check(IniFile::ParseFloat(IniFile::FormatFloat(*number)) == number);
                }
            }
        }
    }

    // A value taken from the input, so that odd bytes get written too.
    const std::string value = bytes.substr(0, 64);
    IniDocument edited = document;
    edited.SetValue(Sections[2], Keys[4], "3");
    edited.SetValue("new", "k", value);
    const std::string out = edited.Bytes();
    const IniDocument reread(out);
    Check(reread.Bytes() == out);
    Check(reread.Value(Sections[2], Keys[4]) == "3");
    Check(reread.Value("new", "k").has_value());
    return 0;
}
