/* Reaching a file through directories only root can change. */
#ifndef SOMNARA_TRUSTED_PATH_H
#define SOMNARA_TRUSTED_PATH_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The directory holding a path's last component. */
struct trusted_parent {
  int fd;                /* O_PATH, close-on-exec descriptor of the directory */
  const char *name;      /* the path's last component (points into the path) */
  const char *dir_name;  /* the directory's own name (points into the path; "" for "/") */
  size_t dir_name_len;
};

/* Opens the directory that holds the last component of the absolute path by
 * walking from "/" one component at a time with
 * openat(O_PATH | O_NOFOLLOW | O_DIRECTORY): no directory on the way may be a
 * symbolic link, and "/" and every directory below it must be owned by root
 * and writable by neither group nor others (sticky or not). Empty components
 * (repeated slashes) are skipped; "." and ".." components and a trailing
 * slash are refused. The last component itself is not opened or checked.
 *
 * Returns 0 and fills *out (the caller closes out->fd), or -1 with errno set
 * (ENOENT: a directory does not exist; EPERM: a directory is not trusted;
 * ENOTDIR or ELOOP: something on the way is not a directory or is a symbolic
 * link; EINVAL: the path's form is refused) and *why pointing to a static
 * one-line reason. */
int trusted_open_parent(const char *path, struct trusted_parent *out, const char **why);

#ifdef __cplusplus
}
#endif

#endif
