// rename-exchange: puts one path in another's place in a single step.
//
//   rename-exchange FROM TO
//
// When TO exists, FROM and TO trade places atomically: at every instant TO names either what it
// named before or what FROM named, and FROM is left naming TO's old content. When TO does not
// exist, FROM is renamed to TO, never replacing something that appeared there meanwhile. Both must
// be on one file system.
//
// Exit status: 0 done; 1 it failed (nothing changed); 3 the file system cannot exchange (nothing
// changed; the caller may fall back to moves of its own); 64 a usage error.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs("usage: rename-exchange FROM TO\n", stderr);
    return 64;
  }
  const char* from = argv[1];
  const char* to = argv[2];
  int done = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE);
  if (done != 0 && errno == ENOENT && ::faccessat(AT_FDCWD, from, F_OK, AT_SYMLINK_NOFOLLOW) == 0) {
    done = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
  }
  if (done == 0) return 0;
  int error = errno;
  std::fprintf(stderr, "rename-exchange: cannot put %s in place of %s: %s\n", from, to,
               std::strerror(error));
  return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP ? 3 : 1;
}
