#include "platform/posix/PosixHome.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>

namespace platform {
namespace {

// /etc/passwd is read as a file, not through getpwuid: the C library's
// look-up loads the name service modules, which a statically linked program
// can only take from the C library it was built with. Users that only a
// directory service knows get their home from $HOME, which a login sets.
std::string ReadPasswd() {
  std::string text;
  const int fd = open("/etc/passwd", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[16384];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(buffer, static_cast<std::size_t>(got));
  }
  close(fd);
  return text;
}

}  // namespace

std::string HomeInPasswd(const std::string& passwd, unsigned uid) {
  const std::string id = std::to_string(uid);
  std::size_t line = 0;
  while (line < passwd.size()) {
    std::size_t end = passwd.find('\n', line);
    if (end == std::string::npos) end = passwd.size();
    // name:password:uid:gid:gecos:home:shell
    std::size_t field[7] = {line};
    std::size_t count = 1;
    for (std::size_t pos = line; pos < end && count < 7; ++pos) {
      if (passwd[pos] == ':') field[count++] = pos + 1;
    }
    if (count == 7 && passwd.compare(field[2], field[3] - 1 - field[2], id) == 0) {
      return passwd.substr(field[5], field[6] - 1 - field[5]);
    }
    line = end + 1;
  }
  return {};
}

std::string HomeDirectory() {
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  return HomeInPasswd(ReadPasswd(), getuid());
}

}  // namespace platform
