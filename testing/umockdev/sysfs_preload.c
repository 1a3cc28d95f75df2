// Loaded into the program under test ahead of umockdev's own preload library, for what that
// library does not do: a write to a driver's bind or unbind, or to a bus's drivers_probe, is what
// the kernel acts on before the write returns. In the mocked tree these are plain files, so each
// such write is handed to the test world (laptop_world.cpp) over a socket, and the write returns
// only once the world has answered with what the kernel would: the byte count, or an error number.
//
// Every call goes to the system call or to the next library's function, never back here.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

// The file an open descriptor holds, as the kernel names it.
static int held_path(int fd, char* path, size_t size) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  long length = syscall(SYS_readlinkat, AT_FDCWD, link, path, size - 1);
  if (length < 0) return 0;
  path[length] = '\0';
  return 1;
}

// The rest of `path` after the testbed's root and `area` ("/sys/", "/dev/"), or NULL.
static const char* in_testbed(const char* path, const char* area) {
  const char* root = getenv("UMOCKDEV_DIR");
  if (root == NULL) return NULL;
  size_t root_length = strlen(root);
  size_t area_length = strlen(area);
  if (strncmp(path, root, root_length) != 0 ||
      strncmp(path + root_length, area, area_length) != 0) {
    return NULL;
  }
  return path + root_length + area_length;
}

static int is_driver_core_action(const char* sys_path) {
  const char* name = strrchr(sys_path, '/');
  name = name == NULL ? sys_path : name + 1;
  return strcmp(name, "bind") == 0 || strcmp(name, "unbind") == 0 ||
         strcmp(name, "drivers_probe") == 0;
}

static int send_all(int fd, const void* data, size_t length) {
  const char* bytes = data;
  while (length > 0) {
    long sent = syscall(SYS_write, fd, bytes, length);
    if (sent <= 0) return 0;
    bytes += sent;
    length -= (size_t)sent;
  }
  return 1;
}

// Asks the world: "/sys/..." NUL, then the bytes written. It answers with a 32-bit result: the
// count taken, or a negative error number.
static ssize_t ask_world(const char* sys_path, const void* buffer, size_t count) {
  struct sockaddr_un address = {.sun_family = AF_UNIX};
  int length = snprintf(address.sun_path, sizeof address.sun_path, "%s/sysfs-writes",
                        getenv("UMOCKDEV_DIR"));
  int fd = (int)syscall(SYS_socket, AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int32_t answer = -EIO;
  if (fd >= 0 && length > 0 && (size_t)length < sizeof address.sun_path &&
      syscall(SYS_connect, fd, &address, sizeof address) == 0 && send_all(fd, "/sys/", 5) &&
      send_all(fd, sys_path, strlen(sys_path) + 1) && send_all(fd, buffer, count) &&
      syscall(SYS_shutdown, fd, SHUT_WR) == 0 &&
      syscall(SYS_read, fd, &answer, sizeof answer) != (long)sizeof answer) {
    answer = -EIO;
  }
  if (fd >= 0) syscall(SYS_close, fd);
  if (answer < 0) {
    errno = -answer;
    return -1;
  }
  return answer;
}

ssize_t write(int fd, const void* buffer, size_t count) {
  static ssize_t (*next)(int, const void*, size_t);
  if (next == NULL) *(void**)&next = dlsym(RTLD_NEXT, "write");
  char path[PATH_MAX];
  const char* sys_path = NULL;
  if (held_path(fd, path, sizeof path) && (sys_path = in_testbed(path, "/sys/")) != NULL &&
      is_driver_core_action(sys_path)) {
    return ask_world(sys_path, buffer, count);
  }
  return next(fd, buffer, count);
}
