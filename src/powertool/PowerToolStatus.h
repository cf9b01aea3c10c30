#ifndef SOMNARA_POWERTOOL_POWER_TOOL_STATUS_H
#define SOMNARA_POWERTOOL_POWER_TOOL_STATUS_H

/* Exit statuses of the power tool (pmset), its set-user-id helper
   (pmsethelper) and the helper's repair tool (pmsethelper-repair): one list
   for the tools and the programs that run them. Plain C, so the set-user-id
   programs link no C++ runtime. */

/* The power tool. The helper passes these through when it ran the tool. */
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

/* The helper's own failures; it never exits with 1 or 7 for them. */
enum power_tool_helper_status {
  /* A helper without its privileges, where the system reports that with
     its own status: the daemon repairs the privileges on newer systems.
     This helper does not use it: without privileges it runs the tool as the
     caller, whose refusal is POWER_TOOL_DENIED. */
  HELPER_NOT_PRIVILEGED = 7,
  HELPER_REFUSED_ARGUMENTS = 64,
  /* The tool file or a directory on its path is not trustworthy. */
  HELPER_UNTRUSTED_TOOL = 65,
  /* The process could not be made safe. */
  HELPER_UNSAFE_PROCESS = 71,
  HELPER_CANNOT_START = 126,
  HELPER_TOOL_NOT_FOUND = 127
  /* 128 + n: the tool was killed by signal n. */
};

/* The repair tool, which gives the helper root ownership and its set-id bits. */
enum power_tool_repair_status {
  REPAIR_OK = 0,
  REPAIR_REFUSED = 2,
  REPAIR_CHOWN_FAILED = 3,
  REPAIR_CHMOD_FAILED = 4
};

#endif
