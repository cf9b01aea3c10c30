/* Stand-in power tool for the helper tests: records what it was started
 * with (arguments, environment, ids, umask, open descriptors, signal state)
 * to RECORDER_LOG, then exits with the hibernate mode it was given, except
 * "force hibernatemode 25", which ends the process with SIGUSR1. */
#define _GNU_SOURCE
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

extern char **environ;

static void copy_status_line(FILE *out, const char *key) {
  FILE *in = fopen("/proc/self/status", "re");
  if (!in) return;
  char line[512];
  size_t klen = strlen(key);
  while (fgets(line, sizeof line, in)) {
    if (strncmp(line, key, klen) == 0 && line[klen] == ':') {
      char *v = line + klen + 1;
      while (*v == ' ' || *v == '\t') ++v;
      fprintf(out, "%s %s", key, v);
    }
  }
  fclose(in);
}

int main(int argc, char **argv) {
  /* Descriptors first, before this program opens anything of its own. */
  char fds[1024] = "";
  DIR *dir = opendir("/proc/self/fd");
  if (dir) {
    struct dirent *e;
    while ((e = readdir(dir)) != NULL) {
      if (e->d_name[0] == '.' || atoi(e->d_name) == dirfd(dir)) continue;
      strncat(fds, " ", sizeof fds - strlen(fds) - 1);
      strncat(fds, e->d_name, sizeof fds - strlen(fds) - 1);
    }
    closedir(dir);
  }

  FILE *out = fopen(RECORDER_LOG, "we");
  if (!out) return 99;
  fprintf(out, "argc %d\n", argc);
  for (int i = 0; i < argc; ++i) fprintf(out, "argv %s\n", argv[i]);
  for (char **e = environ; *e; ++e) fprintf(out, "env %s\n", *e);
  uid_t r, eu, s;
  gid_t rg, eg, sg;
  getresuid(&r, &eu, &s);
  getresgid(&rg, &eg, &sg);
  fprintf(out, "uids %u %u %u\n", r, eu, s);
  fprintf(out, "gids %u %u %u\n", rg, eg, sg);
  fprintf(out, "groups %d\n", getgroups(0, NULL));
  mode_t mask = umask(0);
  umask(mask);
  fprintf(out, "umask %04o\n", (unsigned)mask);
  fprintf(out, "fds%s\n", fds);
  copy_status_line(out, "SigBlk");
  copy_status_line(out, "SigIgn");
  fclose(out);

  if (argc == 4 && strcmp(argv[1], "force") == 0 && strcmp(argv[3], "25") == 0) {
    raise(SIGUSR1);
    return 98;
  }
  return argc >= 2 ? atoi(argv[argc - 1]) : 97;
}
