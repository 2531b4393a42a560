/* The read floor of a scan: one process that opens and reads every file
   named on standard input (NUL-separated), as a scanning tool must at the
   least. Built by bench/run.sh. */
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

int main(void) {
  static char name[8192];
  static char buffer[1 << 17];
  size_t used = 0;
  int c;
  while ((c = getchar()) != EOF) {
    if (c != '\0') {
      if (used + 1 < sizeof name) name[used++] = (char)c;
      continue;
    }
    name[used] = '\0';
    used = 0;
    const int fd = open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) continue;
    while (read(fd, buffer, sizeof buffer) > 0) {
    }
    close(fd);
  }
  return 0;
}
