/* pmsethelper: lets an unprivileged program run exactly one privileged
 * operation, `<power tool> [force] hibernatemode <0|1|3|25>`, where the power
 * tool is the one whose path was fixed at build time (HELPER_TOOL_PATH).
 *
 * Usage: pmsethelper <power tool path> [force] hibernatemode <0|1|3|25>
 *
 * When running with privileges (set-user-id/set-group-id or secure
 * execution) it first makes the process safe: empty environment except a
 * fixed PATH, umask 022, only descriptors 0-2 open, all user ids equal to the
 * effective one (group ids likewise; root's group when that is root), no
 * supplementary groups, default signal dispositions, empty signal mask,
 * every resource limit the tool needs raised (refused when that fails) and
 * working directory "/"; and it runs the tool only when that file is a
 * regular file owned by root and writable by nobody else, reached from "/" through directories that are
 * owned by root, writable by nobody else and not symbolic links. Without
 * privileges the caller's environment is passed through and the tool only
 * has to be a regular file that is not a symbolic link. Either way the tool
 * runs in a session of its own with standard input on /dev/null.
 *
 * Exit status: the tool's own status when it ran; 64 arguments refused;
 * 65 the tool file or a directory on its path is not trustworthy; 71 the
 * process could not be made safe; 126 the tool could not be started; 127 the tool does not exist; 128+n the
 * tool was killed by signal n. Never 1 or 7 for the helper's own failures. */

#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/auxv.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "HelperArguments.h"
#include "TrustedPath.h"
#include "powertool/PowerToolStatus.h"

#ifndef HELPER_TOOL_PATH
#error "HELPER_TOOL_PATH must name the power tool"
#endif

static const char kSafePath[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";

extern char **environ;

/* One line to stderr, formatted into a small buffer: printing to the
 * unbuffered stderr stream takes 8 KiB of stack, more than a caller's
 * lowered stack limit may leave before it is raised. */
static void complain(const char *what, const char *detail) {
  char line[1024];
  int n = detail != NULL ? snprintf(line, sizeof line, "pmsethelper: %s: %s\n", what, detail)
                         : snprintf(line, sizeof line, "pmsethelper: %s\n", what);
  if (n > (int)sizeof line - 1) n = (int)sizeof line - 1;
  if (n > 0) (void)!write(STDERR_FILENO, line, (size_t)n);
}

/* Makes sure 0, 1 and 2 are open (on /dev/null when not) so no file the
 * helper or the tool opens later can land on them. */
static int ensure_standard_descriptors(void) {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    int opened = open("/dev/null", O_RDWR | O_NOCTTY);
    if (opened != fd) {
      if (opened >= 0) close(opened);
      return -1;
    }
  }
  return 0;
}

/* Closes every descriptor above 2. */
static void close_inherited_descriptors(void) {
  if (close_range(3, ~0U, 0) == 0) return;
  long max = sysconf(_SC_OPEN_MAX);
  if (max < 0 || max > 1 << 20) max = 1 << 20;
  for (long fd = 3; fd < max; ++fd) (void)close((int)fd);
}

static int reset_signals(void) {
  struct sigaction dfl;
  memset(&dfl, 0, sizeof dfl);
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  for (int sig = 1; sig < NSIG; ++sig) {
    if (sig == SIGKILL || sig == SIGSTOP) continue;
    (void)sigaction(sig, &dfl, NULL); /* fails harmlessly for reserved numbers */
  }
  sigset_t none;
  sigemptyset(&none);
  return sigprocmask(SIG_SETMASK, &none, NULL);
}

/* Real, effective and saved user ids all become the effective one. Group ids
 * become the effective group id, or root's group (with no supplementary
 * groups) when the effective user is root, so files the tool creates never
 * belong to the caller's group. Verified afterwards. */
static int adopt_effective_ids(void) {
  uid_t euid = geteuid();
  gid_t egid = euid == 0 ? 0 : getegid();
  if (euid == 0 && setgroups(0, NULL) != 0) return -1;
  if (setresgid(egid, egid, egid) != 0) return -1;
  if (setresuid(euid, euid, euid) != 0) return -1;
  uid_t r, e, s;
  gid_t rg, eg, sg;
  if (getresuid(&r, &e, &s) != 0 || r != euid || e != euid || s != euid) return -1;
  if (getresgid(&rg, &eg, &sg) != 0 || rg != egid || eg != egid || sg != egid) return -1;
  return 0;
}

/* Limits a caller could lower to make the tool fail half way: each is
 * raised to at least the value the tool needs. Raising a hard limit needs
 * CAP_SYS_RESOURCE, which root lacks in many containers; then the tool is not
 * run at all. Core dumps of the privileged process are turned off. */
static int reset_limits(void) {
  static const struct {
    int resource;
    rlim_t needed;
  } kNeeded[] = {{RLIMIT_FSIZE, RLIM_INFINITY}, {RLIMIT_CPU, RLIM_INFINITY},
                 {RLIMIT_DATA, RLIM_INFINITY},  {RLIMIT_AS, RLIM_INFINITY},
                 {RLIMIT_RTTIME, RLIM_INFINITY}, {RLIMIT_STACK, 8u << 20},
                 {RLIMIT_NOFILE, 256}};
  for (size_t i = 0; i < sizeof kNeeded / sizeof kNeeded[0]; ++i) {
    struct rlimit limit;
    if (getrlimit(kNeeded[i].resource, &limit) != 0) return -1;
    const rlim_t needed = kNeeded[i].needed;
    if (limit.rlim_cur != RLIM_INFINITY && (needed == RLIM_INFINITY || limit.rlim_cur < needed)) {
      limit.rlim_cur = needed;
      if (limit.rlim_max != RLIM_INFINITY && (needed == RLIM_INFINITY || limit.rlim_max < needed))
        limit.rlim_max = needed;
      if (setrlimit(kNeeded[i].resource, &limit) != 0) return -1;
    }
  }
  struct rlimit none = {0, 0};
  return setrlimit(RLIMIT_CORE, &none);
}

static int is_privileged(void) {
  return getauxval(AT_SECURE) != 0 || geteuid() != getuid() || getegid() != getgid();
}

static int run_tool(int tool_fd, char *const argv[], char *const envp[]) {
  pid_t pid = fork();
  if (pid < 0) {
    complain("cannot start the power tool", strerror(errno));
    return HELPER_CANNOT_START;
  }
  if (pid == 0) {
    /* A session of its own: the caller's terminal cannot interrupt or stop
     * the tool half way through a change, and it reads nothing from it. */
    int null_fd = open("/dev/null", O_RDONLY | O_NOCTTY);
    if (setsid() < 0 || null_fd < 0 || dup2(null_fd, STDIN_FILENO) != STDIN_FILENO) {
      complain("cannot detach the power tool from the terminal", strerror(errno));
      _exit(HELPER_CANNOT_START);
    }
    if (null_fd != STDIN_FILENO) close(null_fd);
    execveat(tool_fd, "", argv, envp, AT_EMPTY_PATH);
    if (errno == ENOSYS) fexecve(tool_fd, argv, envp);
    int err = errno;
    complain("cannot run " HELPER_TOOL_PATH, strerror(err));
    _exit(err == ENOENT ? HELPER_TOOL_NOT_FOUND : HELPER_CANNOT_START);
  }
  close(tool_fd);

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      complain("cannot wait for the power tool", strerror(errno));
      return HELPER_CANNOT_START;
    }
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return HELPER_CANNOT_START;
}

int main(int argc, char **argv) {
  struct helper_request request;
  enum helper_verdict verdict =
      helper_validate(argc, (const char *const *)argv, HELPER_TOOL_PATH, &request);
  if (verdict != HELPER_ARGS_OK) {
    complain("refused", helper_verdict_text(verdict));
    complain("usage: pmsethelper " HELPER_TOOL_PATH " [force] hibernatemode <0|1|3|25>", NULL);
    return HELPER_REFUSED_ARGUMENTS;
  }

  const int privileged = is_privileged();
  /* First, while the helper itself has used little stack. */
  if (privileged && reset_limits() != 0) {
    complain("cannot reset resource limits", strerror(errno));
    return HELPER_UNSAFE_PROCESS;
  }
  if (ensure_standard_descriptors() != 0) return HELPER_UNSAFE_PROCESS;
  close_inherited_descriptors();
  if (reset_signals() != 0) {
    complain("cannot reset signals", strerror(errno));
    return HELPER_UNSAFE_PROCESS;
  }

  static char *clean_env[] = {(char *)kSafePath, NULL};
  char *const *envp = environ;
  if (privileged) {
    if (clearenv() != 0 || putenv((char *)kSafePath) != 0) {
      complain("cannot clear the environment", NULL);
      return HELPER_UNSAFE_PROCESS;
    }
    envp = clean_env;
    umask(022);
    if (adopt_effective_ids() != 0) {
      complain("cannot set user and group ids", strerror(errno));
      return HELPER_UNSAFE_PROCESS;
    }
    if (chdir("/") != 0) {
      complain("cannot change to /", strerror(errno));
      return HELPER_UNSAFE_PROCESS;
    }
  }

  /* Check and run the same file: the descriptor, not the path, is executed.
   * With privileges it is opened relative to its checked directory, so no
   * directory can be swapped between the check and the open. */
  int tool_fd;
  if (privileged) {
    struct trusted_parent parent;
    const char *why = NULL;
    if (trusted_open_parent(HELPER_TOOL_PATH, &parent, &why) != 0) {
      int err = errno;
      complain(HELPER_TOOL_PATH, why);
      return err == ENOENT ? HELPER_TOOL_NOT_FOUND : HELPER_UNTRUSTED_TOOL;
    }
    tool_fd = openat(parent.fd, parent.name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    int err = errno;
    close(parent.fd);
    errno = err;
  } else {
    tool_fd = open(HELPER_TOOL_PATH, O_PATH | O_NOFOLLOW | O_CLOEXEC);
  }
  if (tool_fd < 0) {
    int err = errno;
    complain("cannot open " HELPER_TOOL_PATH, strerror(err));
    return err == ENOENT ? HELPER_TOOL_NOT_FOUND : HELPER_CANNOT_START;
  }
  struct stat st;
  if (fstat(tool_fd, &st) != 0) {
    complain("cannot inspect " HELPER_TOOL_PATH, strerror(errno));
    return HELPER_CANNOT_START;
  }
  if (!S_ISREG(st.st_mode)) {
    complain(HELPER_TOOL_PATH, "not a regular file");
    return HELPER_UNTRUSTED_TOOL;
  }
  if (privileged && (st.st_uid != 0 || (st.st_mode & (S_IWGRP | S_IWOTH)) != 0)) {
    complain(HELPER_TOOL_PATH, "must be owned by root and writable only by its owner");
    return HELPER_UNTRUSTED_TOOL;
  }

  /* The tool's argv is rebuilt from constants; nothing of the caller's is passed. */
  char *tool_argv[6];
  int n = 0;
  tool_argv[n++] = (char *)HELPER_TOOL_PATH;
  if (request.force) tool_argv[n++] = (char *)"force";
  tool_argv[n++] = (char *)"hibernatemode";
  tool_argv[n++] = (char *)request.mode_word;
  tool_argv[n] = NULL;

  return run_tool(tool_fd, tool_argv, envp);
}
