// The driver's own output: every write checked, so that a full disk, a closed
// stream or a file-size limit is a failed run, never a silent loss.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace xvelm {

// True when everything written to `out` so far reached it; otherwise one line
// on `err`.
inline bool output_written(FILE* out, FILE* err) {
  errno = 0;
  if (std::fflush(out) == 0 && !std::ferror(out)) return true;
  const int why = errno;
  std::fprintf(err, "xvelm: the output could not be written: %s\n",
               why ? std::strerror(why) : "write error");
  return false;
}

// Run once at start-up. A standard stream the caller closed is opened on
// /dev/null for reading, so that writes to it fail and are seen, and a file the
// run opens never takes its number. A file-size limit then fails a write
// instead of killing the process, which would leave a temporary file behind.
inline void guard_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
      const int opened = open("/dev/null", O_RDONLY);
      if (opened >= 0 && opened != fd) {
        dup2(opened, fd);
        close(opened);
      }
    }
  std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace xvelm
