#ifndef SOMNARA_POWERTOOL_POWER_TOOL_STATUS_H
#define SOMNARA_POWERTOOL_POWER_TOOL_STATUS_H

/* Exit statuses of the power tool (pmset), for the tool and its callers. */
enum power_tool_status {
  POWER_TOOL_OK = 0,
  /* A write was refused for lack of privileges (EACCES, EPERM, EROFS), or
     -g found no readable value. */
  POWER_TOOL_DENIED = 1,
  /* Bad arguments or a bad SOMNARA_ROOT. */
  POWER_TOOL_USAGE = 2,
  /* Any other I/O failure, a failed systemd reload included. */
  POWER_TOOL_IO_FAILURE = 3,
  /* The machine cannot do the kind of sleep the mode needs (hibernation,
     hybrid sleep); nothing was changed. */
  POWER_TOOL_UNSUPPORTED = 4,
  /* Not now: another run kept the settings locked for 2 s, changes came
     faster than the machine allows (a burst of 5, then one a second), or a
     change made meanwhile replaced this one. Try again later. */
  POWER_TOOL_BUSY = 5
};

#endif
