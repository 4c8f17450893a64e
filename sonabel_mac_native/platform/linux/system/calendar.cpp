// Calendar from the system clock in the local time zone, always Gregorian (struct tm is
// Gregorian whatever the locale). Missing: nothing.
#include <cstdio>
#include <ctime>

#include "platform/calendar.h"

namespace quorvel {

namespace {

class SystemCalendar final : public Calendar {
 public:
  std::string today() const override {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) gmtime_r(&now, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday);
    return text;
  }
};

}  // namespace

Calendar& systemCalendar() {
  static SystemCalendar calendar;
  return calendar;
}

}  // namespace quorvel
