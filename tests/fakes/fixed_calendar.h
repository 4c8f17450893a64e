// A calendar whose today is the day the test gives it.
#pragma once

#include <string>
#include <utility>

#include "platform/calendar.h"

namespace quorvel::testing {

class FixedCalendar final : public Calendar {
 public:
  explicit FixedCalendar(std::string today) : today_(std::move(today)) {}
  std::string today() const override { return today_; }

 private:
  std::string today_;
};

}  // namespace quorvel::testing
