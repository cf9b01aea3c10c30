#include "HelperArguments.h"

#include <string.h>

#include "powertool/HibernateModeArguments.h"

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

  struct hibernatemode_command command;
  switch (hibernatemode_parse((size_t)argc - 2, argv + 2, &command, NULL)) {
    case HIBERNATEMODE_OK: break;
    case HIBERNATEMODE_BAD_VALUE: return HELPER_ARGS_BAD_MODE;
    case HIBERNATEMODE_MISSING_VALUE:
    case HIBERNATEMODE_EXTRA_WORD: return HELPER_ARGS_BAD_COUNT;
    case HIBERNATEMODE_UNKNOWN_WORD:
    default: return HELPER_ARGS_UNKNOWN_WORD;
  }
  if (out != NULL) {
    out->force = command.force;
    out->mode = command.mode;
    out->mode_word = command.mode_word;
  }
  return HELPER_ARGS_OK;
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
