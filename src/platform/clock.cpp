#include "platform/clock.h"

#include <cstdio>

namespace firmora::platform {

std::string ShortDateText(const LocalDateTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", t.year, t.month, t.day);
    return text;
}

std::string LongTimeText(const LocalDateTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", t.hour, t.minute, t.second);
    return text;
}

}  // namespace firmora::platform
