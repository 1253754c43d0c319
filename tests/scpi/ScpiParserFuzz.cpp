// libFuzzer entry: any bytes as program messages, parsed and executed by the
// instrument on an engine without a module. Nothing may crash, and every
// message leaves the instrument answering.
#include "FakeEngine.h"
#include "ScpiInstrument.h"
#include "ScpiParser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    (void)scpi::ParseMessage(input);

    ksn::test::FakeEngine engine;
    scpi::ScpiInstrument instrument(engine, ksn::test::FreshSetup(), ksn::test::FreshSetup(),
                                    "1.0.0");
    std::size_t from = 0;
    while (from <= input.size()) {
        std::size_t end = input.find('\n', from);
        if (end == std::string_view::npos) {
            end = input.size();
        }
        (void)instrument.Execute(input.substr(from, end - from));
        from = end + 1;
    }
    if (instrument.ErrorCount() > scpi::ScpiInstrument::ErrorQueueSize ||
        instrument.Execute("*OPC?") != "1") {
        std::abort();
    }
    return 0;
}
