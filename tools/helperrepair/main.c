/* pmsethelper-repair: gives a pmsethelper file its privileges. Run as root
 * (directly or through pkexec) with one argument, the helper's absolute path.
 *
 * The file must be reached without following a symlink at the last path
 * component, be a regular file with exactly one link, be named
 * "pmsethelper", and be the same file (device and inode) that the path named
 * when it was first looked at. It then becomes owned by root:root and gets
 * mode (old permissions without group/other write) | set-user-id | set-group-id.
 * Ownership changes first because changing the owner clears set-id bits.
 *
 * Exit status: 0 done; 2 refused (arguments or file); 3 chown failed;
 * 4 chmod failed. */

#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum { EXIT_REFUSED = 2, EXIT_CHOWN_FAILED = 3, EXIT_CHMOD_FAILED = 4 };

static const char kHelperName[] = "pmsethelper";

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

  struct stat before;
  if (lstat(path, &before) != 0) return refuse(path, strerror(errno));
  if (!S_ISREG(before.st_mode)) return refuse(path, "not a regular file");

  /* O_NONBLOCK: a FIFO swapped in after lstat must not block the open. */
  int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    return refuse(path, errno == ELOOP ? "is a symbolic link" : strerror(errno));
  }
  struct stat st;
  if (fstat(fd, &st) != 0) return refuse(path, strerror(errno));
  if (!S_ISREG(st.st_mode)) return refuse(path, "not a regular file");
  if (st.st_nlink != 1) return refuse(path, "file has more than one link");
  if (st.st_dev != before.st_dev || st.st_ino != before.st_ino)
    return refuse(path, "file changed while being checked");

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
