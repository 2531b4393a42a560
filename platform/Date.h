// The current local date.
#pragma once

namespace platform {

struct LocalDate {
  int year;
  int month;
  int day;
};

// Today's date in the local time zone.
LocalDate Today();

}  // namespace platform
