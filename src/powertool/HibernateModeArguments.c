#include "powertool/HibernateModeArguments.h"

#include <string.h>

static const char *const kModeWords[] = {"0", "1", "3", "25"};
static const int kModes[] = {0, 1, 3, 25};

/* Index of word in kModeWords; -1 when it is none of them. */
static int mode_index(const char *word) {
  for (size_t m = 0; m < sizeof kModes / sizeof kModes[0]; ++m)
    if (strcmp(word, kModeWords[m]) == 0) return (int)m;
  return -1;
}

int hibernatemode_value(const char *word) {
  int m = word != NULL ? mode_index(word) : -1;
  return m < 0 ? -1 : kModes[m];
}

static enum hibernatemode_verdict refuse(enum hibernatemode_verdict verdict, size_t index, size_t *at) {
  if (at != NULL) *at = index;
  return verdict;
}

enum hibernatemode_verdict hibernatemode_parse(size_t count, const char *const *words,
                                               struct hibernatemode_command *out, size_t *at) {
  size_t i = 0;
  int force = 0;
  if (i < count && strcmp(words[i], "force") == 0) {
    force = 1;
    ++i;
  }
  if (i >= count || strcmp(words[i], "hibernatemode") != 0)
    return refuse(HIBERNATEMODE_UNKNOWN_WORD, i, at);
  ++i;
  if (i >= count) return refuse(HIBERNATEMODE_MISSING_VALUE, i, at);
  const int m = mode_index(words[i]);
  if (m < 0) return refuse(HIBERNATEMODE_BAD_VALUE, i, at);
  if (i + 1 != count) return refuse(HIBERNATEMODE_EXTRA_WORD, i + 1, at);
  if (out != NULL) {
    out->force = force;
    out->mode = kModes[m];
    out->mode_word = kModeWords[m];
  }
  return HIBERNATEMODE_OK;
}
