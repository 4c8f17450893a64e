// Today's date as the user sees it.
//
// Contract: today() is the current local date in the Gregorian calendar as "yyyy-MM-dd".
// Safe from any thread. Linux: the system clock and the local time zone. Tests: a settable date.
#pragma once

#include <string>

namespace quorvel {

class Calendar {
 public:
  virtual ~Calendar() = default;
  virtual std::string today() const = 0;
};

// The system clock in the local time zone (defined in platform/linux).
Calendar& systemCalendar();

}  // namespace quorvel
