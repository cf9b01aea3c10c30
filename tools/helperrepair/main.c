/* pmsethelper-repair: gives a pmsethelper file its privileges. Run as root
 * (directly or through pkexec) with one argument, the helper's absolute path.
 *
 * The file must lie where only root can put or replace it: the path is walked
 * from "/" one directory at a time by descriptor, never following a symbolic
 * link, and "/" and every directory below it must be owned by root and
 * writable by neither group nor others. The file's directory must be named
 * "Resources" (a bundle's Contents/Resources), and the file, opened relative
 * to that directory without following a symbolic link, must be named
 * "pmsethelper" and be a regular file with exactly one link. The opened file
 * then becomes owned by root:root and gets mode (old permissions without
 * group/other write) | set-user-id | set-group-id. Ownership changes first
 * because changing the owner clears set-id bits.
 *
 * Exit status: 0 done; 2 refused (arguments, path or file); 3 chown failed;
 * 4 chmod failed. */

#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "TrustedPath.h"

enum { EXIT_REFUSED = 2, EXIT_CHOWN_FAILED = 3, EXIT_CHMOD_FAILED = 4 };

static const char kHelperName[] = "pmsethelper";
static const char kDirectoryName[] = "Resources";

static int refuse(const char *path, const char *why) {
  fprintf(stderr, "pmsethelper-repair: refusing %s: %s\n", path ? path : "(none)", why);
  return EXIT_REFUSED;
}

int main(int argc, char **argv) {
  (void)clearenv();

  if (argc != 2 || argv[1] == NULL) {
    fprintf(stderr, "usage: pmsethelper-repair /absolute/path/to/%s\n", kHelperName);
    return EXIT_REFUSED;
  }
  const char *path = argv[1];
  if (path[0] != '/') return refuse(path, "path is not absolute");
  const char *base = strrchr(path, '/') + 1;
  if (strcmp(base, kHelperName) != 0) return refuse(path, "file is not named pmsethelper");

  struct trusted_parent parent;
  const char *why = NULL;
  if (trusted_open_parent(path, &parent, &why) != 0) return refuse(path, why);
  if (parent.dir_name_len != sizeof kDirectoryName - 1 ||
      memcmp(parent.dir_name, kDirectoryName, parent.dir_name_len) != 0) {
    close(parent.fd);
    return refuse(path, "file is not in a directory named Resources");
  }

  /* O_NONBLOCK: opening a FIFO must not block. */
  int fd = openat(parent.fd, parent.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  int err = errno;
  close(parent.fd);
  if (fd < 0) return refuse(path, err == ELOOP ? "is a symbolic link" : strerror(err));
  struct stat st;
  if (fstat(fd, &st) != 0) return refuse(path, strerror(errno));
  if (!S_ISREG(st.st_mode)) return refuse(path, "not a regular file");
  if (st.st_nlink != 1) return refuse(path, "file has more than one link");

  if (fchown(fd, 0, 0) != 0) {
    fprintf(stderr, "pmsethelper-repair: cannot chown %s: %s\n", path, strerror(errno));
    return EXIT_CHOWN_FAILED;
  }
  mode_t mode = (st.st_mode & 0777 & ~(mode_t)(S_IWGRP | S_IWOTH)) | S_ISUID | S_ISGID;
  if (fchmod(fd, mode) != 0) {
    fprintf(stderr, "pmsethelper-repair: cannot chmod %s: %s\n", path, strerror(errno));
    return EXIT_CHMOD_FAILED;
  }
  if (close(fd) != 0) {
    fprintf(stderr, "pmsethelper-repair: cannot close %s: %s\n", path, strerror(errno));
    return EXIT_CHMOD_FAILED;
  }
  return 0;
}
