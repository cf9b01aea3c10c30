#pragma once

#include <chrono>
#include <cstdint>

// Identifiers, settings keys and property names shared by all programs.
namespace somnara {

inline constexpr const char* kS_SomnaraApplicationBundleIdentifier = "de.orvane.Somnara";
inline constexpr const char* kS_SomnaraDaemonBundleIdentifier = "de.orvane.Somnara.Daemon";
inline constexpr const char* kS_SomnaraMenuBarBundleIdentifier = "de.orvane.Somnara.MenuBar";
inline constexpr const char* kS_SomnaraDaemonDistributedGroupName = "de.orvane.Somnara.DistributedMessageGroup";

// Settings keys in the domain "de.orvane.Somnara".
inline constexpr const char* kS_SomnaraUserDefaultSleepModeIndex = "somnaramodeindex";
inline constexpr const char* kS_SomnaraUserDefaultsHibernateLevel = "hibernatelevel";
inline constexpr const char* kS_SomnaraUserDefaultBlackAndWhiteIcon = "blackandwhiteicon";
// The settings the controllers follow and a settings message carries.
inline constexpr const char* kSettingsKeys[] = {kS_SomnaraUserDefaultSleepModeIndex,
                                                kS_SomnaraUserDefaultsHibernateLevel,
                                                kS_SomnaraUserDefaultBlackAndWhiteIcon};
inline constexpr const char* kS_SomnaraUserDefaultsHardSetValues = "hardvalues";
inline constexpr const char* kS_SomnaraUserDefaultsEnableInsomniaOnStart = "enableinsomniaonlaunch";
inline constexpr const char* kS_SomnaraUserDefaultsBlinkInterval = "blinkinterval";
inline constexpr const char* kS_SomnaraUserDefaultsInsomniaSound = "insomniasoundfile";
inline constexpr const char* kS_SomnaraUserDefaultsInsomniaSoundVolume = "soundvolume";
inline constexpr const char* kS_SomnaraUserDefaultsInsomniaDisableDisplayDetection = "disableinsomniadisplaydetection";
inline constexpr const char* kS_SomnaraUserDefaultsInsomniaSoundNameDefault = "Insomnia";
// Insomnia's rules: a battery floor in percent (0: none), pausing it on
// battery, starting it when external power comes, stopping it at the lock.
inline constexpr const char* kS_SomnaraUserDefaultsInsomniaBatteryFloor = "insomniabatteryfloor";
inline constexpr const char* kS_SomnaraUserDefaultsInsomniaOnlyOnExternalPower = "insomniaonlyonexternalpower";
inline constexpr const char* kS_SomnaraUserDefaultsInsomniaStartOnExternalPower = "insomniastartonexternalpower";
inline constexpr const char* kS_SomnaraUserDefaultsInsomniaStopWhenLocked = "insomniastopwhenlocked";

// Observable properties of the sleep controller.
inline constexpr const char* kS_Property_sleepmode = "sleepmode";
inline constexpr const char* kS_Property_sleepmodeissomnara = "sleepmodeissomnara";
inline constexpr const char* kS_Property_blackandwhiteicon = "blackandwhiteicon";
inline constexpr const char* kS_Property_currentsleepstate = "currentsleepstate";
inline constexpr const char* kS_Property_currentStateString = "currentStateString";

/// Initial values of the shared defaults controller.
inline constexpr std::int64_t kDefaultHibernateLevel = 20;
inline constexpr std::int64_t kDefaultBlinkInterval = 58;
/// Insomnia's battery floor in percent when the setting is missing.
inline constexpr std::int64_t kDefaultInsomniaBatteryFloor = 10;

/// Which program a controller runs in.
enum ProcessType : std::int64_t {
  kProcessTypeOther = 0,
  kProcessTypeMenuBar = 1,
  kProcessTypeApplication = 2,
  kProcessTypeDaemon = 3,
};

/// What the controller asks the power manager for.
enum SleepState : std::int64_t {
  kSleepStateSystemDefault = 0,
  kSleepStateSleep = 2,
  kSleepStateHibernate = 3,
  kSleepStateSleepAndHibernate = 4,
};

/// Messages between the controllers of the programs.
enum MessageType : std::int64_t {
  kMessageQuickSleep = 0,       // payload: end date of the sleep-now window
  kMessageSleepNowEnded = 1,
  kMessageResetToDefault = 2,
  kMessageSettings = 3,         // payload: {somnaramodeindex, hibernatelevel, blackandwhiteicon}
  kMessageStateApplied = 4,
  kMessageWoke = 5,
};

using namespace std::chrono_literals;
inline constexpr std::chrono::milliseconds kContinuousRetryInterval = 3000ms;
inline constexpr std::chrono::milliseconds kDelayedRetryInterval = 3000ms;
inline constexpr std::chrono::milliseconds kQuickSleepWindow = 35000ms;
inline constexpr std::chrono::milliseconds kReflectWait = 1000ms;
inline constexpr int kMaxApplyAttempts = 10;
/// Battery level (percent or minutes) at or below which the machine hibernates.
inline constexpr std::int64_t kCriticalBatteryLevel = 4;

}  // namespace somnara
