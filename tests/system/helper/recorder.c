/* Stand-in power tool: records its arguments, environment, ids, umask, open
 * descriptors, signal state, working directory, session, standard input and
 * the resource limits a caller could lower to RECORDER_LOG, then exits with the mode it
 * was given, except "force hibernatemode 25", which dies of SIGUSR1. */
#define _GNU_SOURCE
#include <dirent.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

extern char **environ;

int main(int argc, char **argv) {
  char fds[1024] = ""; /* before this program opens anything of its own */
  DIR *dir = opendir("/proc/self/fd");
  for (struct dirent *e; dir && (e = readdir(dir)) != NULL;)
    if (e->d_name[0] != '.' && atoi(e->d_name) != dirfd(dir))
      snprintf(fds + strlen(fds), sizeof fds - strlen(fds), " %s", e->d_name);
  if (dir) closedir(dir);

  FILE *out = fopen(RECORDER_LOG, "we");
  if (!out) return 99;
  for (int i = 0; i < argc; ++i) fprintf(out, "argv %s\n", argv[i]);
  for (char **e = environ; *e; ++e) fprintf(out, "env %s\n", *e);
  uid_t r, eu, s;
  gid_t rg, eg, sg;
  getresuid(&r, &eu, &s);
  getresgid(&rg, &eg, &sg);
  mode_t mask = umask(0);
  fprintf(out, "uids %u %u %u\ngids %u %u %u\ngroups %d\numask %04o\nfds%s\n", r, eu, s, rg, eg,
          sg, getgroups(0, NULL), (unsigned)mask, fds);
  char cwd[4096] = "?", in[4096] = "?";
  if (!getcwd(cwd, sizeof cwd)) strcpy(cwd, "?");
  ssize_t n = readlink("/proc/self/fd/0", in, sizeof in - 1);
  in[n > 0 ? n : 0] = '\0';
  fprintf(out, "cwd %s\nsession %s\nstdin %s\n", cwd, getsid(0) == getpid() ? "own" : "caller's", in);
  static const struct {
    const char *name;
    int resource;
  } kLimits[] = {{"fsize", RLIMIT_FSIZE}, {"stack", RLIMIT_STACK}, {"nofile", RLIMIT_NOFILE},
                 {"cpu", RLIMIT_CPU}, {"as", RLIMIT_AS}};
  for (size_t i = 0; i < sizeof kLimits / sizeof kLimits[0]; ++i) {
    struct rlimit l;
    getrlimit(kLimits[i].resource, &l);
    if (l.rlim_cur == RLIM_INFINITY) fprintf(out, "limit %s unlimited\n", kLimits[i].name);
    else fprintf(out, "limit %s %llu\n", kLimits[i].name, (unsigned long long)l.rlim_cur);
  }
  FILE *status = fopen("/proc/self/status", "re");
  char line[512];
  while (status && fgets(line, sizeof line, status))
    if (strncmp(line, "SigBlk:", 7) == 0 || strncmp(line, "SigIgn:", 7) == 0)
      fprintf(out, "%.6s %s", line, line + 8);
  if (status) fclose(status);
  fclose(out);

  if (argc == 4 && strcmp(argv[1], "force") == 0 && strcmp(argv[3], "25") == 0) raise(SIGUSR1);
  return argc >= 2 ? atoi(argv[argc - 1]) : 97;
}
