#include "HelperArguments.h"

#include <string.h>

static const char *const kModeWords[] = {"0", "1", "3", "25"};
static const int kModes[] = {0, 1, 3, 25};

/* True when s (known to be at most limit bytes) equals word exactly. */
static int equals(const char *s, const char *word) { return strcmp(s, word) == 0; }

enum helper_verdict helper_validate(int argc, const char *const *argv, const char *tool_path,
                                    struct helper_request *out) {
  if (argc < 1 || argv == NULL || argv[0] == NULL || argv[0][0] == '\0')
    return HELPER_ARGS_NO_PROGRAM_NAME;
  if (argc != 4 && argc != 5) return HELPER_ARGS_BAD_COUNT;

  /* Bound every entry before any comparison reads it to its end. */
  size_t tool_len = strlen(tool_path);
  size_t tool_limit = tool_len > HELPER_MAX_ARG_BYTES ? tool_len : HELPER_MAX_ARG_BYTES;
  for (int i = 0; i < argc; ++i) {
    if (argv[i] == NULL) return HELPER_ARGS_MISSING;
    size_t limit = i == 0 ? HELPER_MAX_ARGV0_BYTES : i == 1 ? tool_limit : HELPER_MAX_ARG_BYTES;
    if (strnlen(argv[i], limit + 1) > limit) return HELPER_ARGS_TOO_LONG;
  }

  if (argv[1][0] != '/') return HELPER_ARGS_RELATIVE_TOOL;
  if (!equals(argv[1], tool_path)) return HELPER_ARGS_WRONG_TOOL;

  int i = 2;
  int force = 0;
  if (argc == 5) {
    if (!equals(argv[i], "force")) return HELPER_ARGS_UNKNOWN_WORD;
    force = 1;
    ++i;
  }
  if (!equals(argv[i], "hibernatemode")) return HELPER_ARGS_UNKNOWN_WORD;
  ++i;
  for (size_t m = 0; m < sizeof kModes / sizeof kModes[0]; ++m) {
    if (equals(argv[i], kModeWords[m])) {
      if (out != NULL) {
        out->force = force;
        out->mode = kModes[m];
        out->mode_word = kModeWords[m];
      }
      return HELPER_ARGS_OK;
    }
  }
  return HELPER_ARGS_BAD_MODE;
}

const char *helper_verdict_text(enum helper_verdict verdict) {
  switch (verdict) {
    case HELPER_ARGS_OK: return "accepted";
    case HELPER_ARGS_NO_PROGRAM_NAME: return "missing program name";
    case HELPER_ARGS_BAD_COUNT: return "wrong number of arguments";
    case HELPER_ARGS_MISSING: return "missing argument";
    case HELPER_ARGS_TOO_LONG: return "argument too long";
    case HELPER_ARGS_RELATIVE_TOOL: return "tool path is not absolute";
    case HELPER_ARGS_WRONG_TOOL: return "tool path is not the power tool";
    case HELPER_ARGS_UNKNOWN_WORD: return "unknown command word";
    case HELPER_ARGS_BAD_MODE: return "hibernatemode must be 0, 1, 3 or 25";
  }
  return "refused";
}
