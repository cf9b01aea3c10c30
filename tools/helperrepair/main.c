/* pmsethelper-repair: gives a pmsethelper file its privileges. Run as root
 * (directly or through pkexec) with one argument, the helper's absolute path.
 *
 * The file must lie where only root can put or replace it: the path is walked
 * from "/" one directory at a time by descriptor, never following a symbolic
 * link, and "/" and every directory below it must be owned by root and
 * writable by neither group nor others. The file's directory must be named
 * "Resources" (a bundle's Contents/Resources), and the file must be named
 * "pmsethelper" and, before it is opened, be a regular file (not a symbolic
 * link) with exactly one link. Once opened it must be owned by root and
 * writable by neither group nor others, have no writer and no writable
 * mapping anywhere (a read lease on it is held from this check until the
 * change is done; a writer that turns up meanwhile undoes the change), and
 * its content must be, byte for byte, the helper this build produced (its
 * SHA-256 digest is fixed at build time). The opened file then becomes owned
 * by root:root and gets mode (old permissions) | set-user-id | set-group-id.
 * Ownership changes first because changing the owner clears set-id bits.
 *
 * Exit status: 0 done; 2 refused (arguments, path, file or content); 3 chown
 * failed; 4 chmod failed. */

#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sha2.h>
#include <sys/stat.h>
#include <unistd.h>

#include "HelperDigest.h"
#include "TrustedPath.h"
#include "powertool/PowerToolStatus.h"

static const char kHelperName[] = "pmsethelper";
static const char kDirectoryName[] = "Resources";

static int refuse(const char *path, const char *why) {
  fprintf(stderr, "pmsethelper-repair: refusing %s: %s\n", path ? path : "(none)", why);
  return REPAIR_REFUSED;
}

/* 0 when the content of fd has the digest of the built helper. */
static int check_content(int fd, const char **why) {
  SHA2_CTX ctx;
  SHA256Init(&ctx);
  unsigned char buf[65536];
  off_t at = 0;
  for (;;) {
    ssize_t n = pread(fd, buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *why = "cannot read the file";
      return -1;
    }
    if (n == 0) break;
    SHA256Update(&ctx, buf, (size_t)n);
    at += n;
  }
  char hex[SHA256_DIGEST_STRING_LENGTH];
  SHA256End(&ctx, hex);
  if (strcmp(hex, HELPER_SHA256) != 0) {
    *why = "content is not the pmsethelper this build installed";
    return -1;
  }
  return 0;
}

int main(int argc, char **argv) {
  (void)clearenv();
  /* A lease break is noticed by asking for the lease, never by this signal. */
  sigset_t lease_break;
  sigemptyset(&lease_break);
  sigaddset(&lease_break, SIGIO);
  (void)sigprocmask(SIG_BLOCK, &lease_break, NULL);

  if (argc != 2 || argv[1] == NULL) {
    fprintf(stderr, "usage: pmsethelper-repair /absolute/path/to/%s\n", kHelperName);
    return REPAIR_REFUSED;
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

  /* The type is checked before anything is opened: opening a device or FIFO
   * can have effects of its own. The directory is root's alone, so the entry
   * cannot be replaced between this check and the open. */
  struct stat entry;
  if (fstatat(parent.fd, parent.name, &entry, AT_SYMLINK_NOFOLLOW) != 0) {
    int err = errno;
    close(parent.fd);
    return refuse(path, strerror(err));
  }
  if (S_ISLNK(entry.st_mode)) {
    close(parent.fd);
    return refuse(path, "is a symbolic link");
  }
  if (!S_ISREG(entry.st_mode)) {
    close(parent.fd);
    return refuse(path, "not a regular file");
  }
  int fd = openat(parent.fd, parent.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  int err = errno;
  close(parent.fd);
  if (fd < 0) return refuse(path, strerror(err));
  struct stat st;
  if (fstat(fd, &st) != 0) return refuse(path, strerror(errno));
  if (!S_ISREG(st.st_mode) || st.st_dev != entry.st_dev || st.st_ino != entry.st_ino)
    return refuse(path, "file changed while it was opened");
  if (st.st_nlink != 1) return refuse(path, "file has more than one link");
  if (st.st_uid != 0) return refuse(path, "file is not owned by root");
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0)
    return refuse(path, "file is writable by group or others");

  /* A read lease is granted only while no one has the file open for writing
   * or mapped writable; while it is held, an open for writing breaks it. */
  if (fcntl(fd, F_SETLEASE, F_RDLCK) != 0)
    return refuse(path, errno == EAGAIN || errno == EBUSY
                            ? "file is open for writing or mapped writable"
                            : "cannot take a read lease on the file");
  if (check_content(fd, &why) != 0) return refuse(path, why);

  if (fchown(fd, 0, 0) != 0) {
    fprintf(stderr, "pmsethelper-repair: cannot chown %s: %s\n", path, strerror(errno));
    return REPAIR_CHOWN_FAILED;
  }
  const mode_t plain = st.st_mode & 0777;
  if (fchmod(fd, plain | S_ISUID | S_ISGID) != 0) {
    fprintf(stderr, "pmsethelper-repair: cannot chmod %s: %s\n", path, strerror(errno));
    return REPAIR_CHMOD_FAILED;
  }
  if (fcntl(fd, F_GETLEASE) != F_RDLCK) {
    /* Someone opened the file for writing while it was being changed. */
    (void)fchmod(fd, plain);
    return refuse(path, "file was opened for writing during the repair");
  }
  (void)fcntl(fd, F_SETLEASE, F_UNLCK);
  if (close(fd) != 0) {
    fprintf(stderr, "pmsethelper-repair: cannot close %s: %s\n", path, strerror(errno));
    return REPAIR_CHMOD_FAILED;
  }
  return 0;
}
