#include <time.h>

#include "platform/Date.h"

namespace platform {

LocalDate Today() {
  const time_t now = time(nullptr);
  struct tm parts {};
  localtime_r(&now, &parts);
  return LocalDate{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday};
}

}  // namespace platform
