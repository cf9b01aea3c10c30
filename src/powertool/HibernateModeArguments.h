/* The one grammar of the hibernate-mode command, `[force] hibernatemode
 * <0|1|3|25>`, shared by the power tool, its set-user-id helper and the
 * simulated helper. Pure: reads only the words it is given, has no side
 * effects, and returns only pointers to static strings. */
#ifndef SOMNARA_HIBERNATEMODE_ARGUMENTS_H
#define SOMNARA_HIBERNATEMODE_ARGUMENTS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

enum hibernatemode_verdict {
  HIBERNATEMODE_OK = 0,
  HIBERNATEMODE_UNKNOWN_WORD,  /* the words do not start with "[force] hibernatemode" */
  HIBERNATEMODE_MISSING_VALUE, /* nothing after "hibernatemode" */
  HIBERNATEMODE_BAD_VALUE,     /* the value is not exactly "0", "1", "3" or "25" */
  HIBERNATEMODE_EXTRA_WORD     /* a word after the value */
};

struct hibernatemode_command {
  int force;             /* "force" given: change the running system only */
  int mode;              /* 0, 1, 3 or 25 */
  const char *mode_word; /* the mode's one spelling; static, never into the words */
};

/* Reads count NUL-terminated words (words may be null only when count is 0).
 * Fills *out (when not null) only on HIBERNATEMODE_OK; *at (when not null)
 * gets the index of the word a refusal is about (count when it is missing). */
enum hibernatemode_verdict hibernatemode_parse(size_t count, const char *const *words,
                                               struct hibernatemode_command *out, size_t *at);

/* The mode an exact spelling stands for ("03", "+1", "1 " stand for none): 0,
 * 1, 3 or 25; -1 otherwise. */
int hibernatemode_value(const char *word);

#ifdef __cplusplus
}
#endif

#endif
