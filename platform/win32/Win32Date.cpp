#include <windows.h>

#include "platform/Date.h"

namespace platform {

LocalDate Today() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return LocalDate{now.wYear, now.wMonth, now.wDay};
}

}  // namespace platform
