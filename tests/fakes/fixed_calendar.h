// A calendar whose today is whatever the test sets, so tests can cross a month boundary.
#pragma once

#include <string>
#include <utility>

#include "platform/calendar.h"

namespace quorvel::testing {

class FixedCalendar final : public Calendar {
 public:
  explicit FixedCalendar(std::string today) : today_(std::move(today)) {}
  std::string today() const override { return today_; }
  void set(std::string today) { today_ = std::move(today); }

 private:
  std::string today_;
};

}  // namespace quorvel::testing
