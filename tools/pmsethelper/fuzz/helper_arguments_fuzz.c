/* libFuzzer target for the helper's argument allow-list. The input is split
 * at NUL bytes into an argument vector; the verdict is checked against an
 * independent statement of the accepted vectors, and the validator must not
 * read past any argument's terminator (AddressSanitizer catches that, each
 * argument lives in its own allocation). */
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "HelperArguments.h"

static const char kTool[] = "/usr/libexec/somnara/pmset";

static int same(const char *a, const char *b) { return strcmp(a, b) == 0; }

static int expected_to_accept(int argc, char **argv, int *force, int *mode) {
  if (argc != 4 && argc != 5) return 0;
  if (argv[0][0] == '\0' || strlen(argv[0]) > HELPER_MAX_ARGV0_BYTES) return 0;
  if (!same(argv[1], kTool)) return 0;
  int i = 2;
  *force = 0;
  if (argc == 5) {
    if (!same(argv[2], "force")) return 0;
    *force = 1;
    i = 3;
  }
  if (!same(argv[i], "hibernatemode")) return 0;
  const char *v = argv[i + 1];
  if (same(v, "0")) *mode = 0;
  else if (same(v, "1")) *mode = 1;
  else if (same(v, "3")) *mode = 3;
  else if (same(v, "25")) *mode = 25;
  else return 0;
  return 1;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  enum { kMaxArgs = 8 };
  char *argv[kMaxArgs + 1] = {0};
  int argc = 0;
  size_t start = 0;
  for (size_t i = 0; i <= size && argc < kMaxArgs; ++i) {
    if (i == size || data[i] == 0) {
      size_t len = i - start;
      argv[argc] = malloc(len + 1);
      if (argv[argc] == NULL) abort();
      memcpy(argv[argc], data + start, len);
      argv[argc][len] = '\0';
      ++argc;
      start = i + 1;
    }
  }

  struct helper_request req = {-1, -1, NULL};
  enum helper_verdict verdict = helper_validate(argc, (const char *const *)argv, kTool, &req);
  int force = 0, mode = -1;
  int accept = expected_to_accept(argc, argv, &force, &mode);
  if ((verdict == HELPER_ARGS_OK) != accept) abort();
  if (accept) {
    if (req.force != force || req.mode != mode || req.mode_word == NULL) abort();
    if (strcmp(req.mode_word, argv[argc - 1]) != 0) abort();
  }
  if (helper_verdict_text(verdict) == NULL) abort();

  for (int i = 0; i < argc; ++i) free(argv[i]);
  return 0;
}
