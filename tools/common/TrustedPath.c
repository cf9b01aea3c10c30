#define _GNU_SOURCE
#include "TrustedPath.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* 0 when fd is a directory owned by root that only its owner can write. */
static int check_directory(int fd, const char **why) {
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *why = "cannot inspect a directory in the path";
    return -1;
  }
  if (!S_ISDIR(st.st_mode)) {
    *why = "a component of the path is not a directory";
    errno = ENOTDIR;
    return -1;
  }
  if (st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    *why = "a directory in the path is not owned by root or is writable by group or others";
    errno = EPERM;
    return -1;
  }
  return 0;
}

static int fail(int fd, int err, const char **why, const char *reason) {
  if (fd >= 0) close(fd);
  if (reason != NULL) *why = reason;
  errno = err;
  return -1;
}

int trusted_open_parent(const char *path, struct trusted_parent *out, const char **why) {
  if (path == NULL || path[0] != '/') return fail(-1, EINVAL, why, "path is not absolute");
  int dir = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return fail(-1, errno, why, "cannot open /");
  if (check_directory(dir, why) != 0) return fail(dir, errno, why, NULL);

  const char *dir_name = "";
  size_t dir_name_len = 0;
  const char *p = path;
  for (;;) {
    while (*p == '/') ++p;
    const char *end = strchrnul(p, '/');
    const size_t len = (size_t)(end - p);
    if (len == 0) return fail(dir, EINVAL, why, "path ends with a slash");
    if ((len == 1 && p[0] == '.') || (len == 2 && p[0] == '.' && p[1] == '.'))
      return fail(dir, EINVAL, why, "path has a . or .. component");
    if (*end == '\0') {
      out->fd = dir;
      out->name = p;
      out->dir_name = dir_name;
      out->dir_name_len = dir_name_len;
      return 0;
    }
    if (len > NAME_MAX) return fail(dir, ENAMETOOLONG, why, "path component too long");
    char name[NAME_MAX + 1];
    memcpy(name, p, len);
    name[len] = '\0';
    int next = openat(dir, name, O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC);
    int err = errno;
    close(dir);
    if (next < 0) {
      return fail(-1, err, why,
                  err == ENOENT                    ? "a directory in the path does not exist"
                  : err == ENOTDIR || err == ELOOP ? "a directory in the path is a symbolic link "
                                                     "or not a directory"
                                                   : "cannot open a directory in the path");
    }
    if (check_directory(next, why) != 0) return fail(next, errno, why, NULL);
    dir = next;
    dir_name = p;
    dir_name_len = len;
    p = end;
  }
}
