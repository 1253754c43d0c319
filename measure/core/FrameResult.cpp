#include "FrameResult.h"

namespace measure {

std::string_view ReadingStatusText(ReadingStatus status) noexcept
{
    switch (status) {
    case ReadingStatus::Ok:
        return "ok";
    case ReadingStatus::Short:
        return "short";
    case ReadingStatus::Open:
        return "open";
    case ReadingStatus::NoSignal:
        return "nosignal";
    case ReadingStatus::NoTone:
        return "notone";
    case ReadingStatus::OverRange:
        return "overrange";
    case ReadingStatus::Lost:
        return "lost";
    }
    return "lost";
}

}  // namespace measure
