/* Allow-list of the argument vectors pmsethelper accepts. Pure: reads only
 * the arguments it is given, never more than a bounded number of bytes of
 * each, and has no side effects. */
#ifndef SOMNARA_HELPER_ARGUMENTS_H
#define SOMNARA_HELPER_ARGUMENTS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Longest accepted command word or value, in bytes. The tool path argument
 * may be as long as the fixed tool path when that is longer. */
#define HELPER_MAX_ARG_BYTES 64
/* Longest accepted argv[0]; it is never interpreted. */
#define HELPER_MAX_ARGV0_BYTES 4096

enum helper_verdict {
  HELPER_ARGS_OK = 0,
  HELPER_ARGS_NO_PROGRAM_NAME, /* argc < 1, argv or argv[0] null, argv[0] empty */
  HELPER_ARGS_BAD_COUNT,       /* not 4 or 5 entries */
  HELPER_ARGS_MISSING,         /* a null entry before argc */
  HELPER_ARGS_TOO_LONG,        /* an entry over its byte limit */
  HELPER_ARGS_RELATIVE_TOOL,   /* tool path does not start with '/' */
  HELPER_ARGS_WRONG_TOOL,      /* tool path differs from the fixed one */
  HELPER_ARGS_UNKNOWN_WORD,    /* not "[force] hibernatemode" */
  HELPER_ARGS_BAD_MODE         /* value not exactly "0", "1", "3" or "25" */
};

/* An accepted request. mode_word points to a static string, never into argv. */
struct helper_request {
  int force;
  int mode;
  const char *mode_word;
};

/* Checks `argv[0] <tool_path> [force] hibernatemode <0|1|3|25>`. tool_path is
 * the trusted, NUL-terminated, fixed path. Fills *out only on HELPER_ARGS_OK. */
enum helper_verdict helper_validate(int argc, const char *const *argv, const char *tool_path,
                                    struct helper_request *out);

/* One-line English reason for a verdict. */
const char *helper_verdict_text(enum helper_verdict verdict);

#ifdef __cplusplus
}
#endif

#endif
