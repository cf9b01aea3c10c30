#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace somnara::pmset {

/// How many changes of the sleep settings the machine allows now, whoever
/// asks: a burst of kBurst, then one per second (a token bucket kept as
/// whole milliseconds of credit, a change costing a second of it). Each
/// change costs a systemd reload and fsynced root writes, so a local loop of
/// alternating changes must not turn into a stream of them; the few changes
/// a day the daemon makes always fit. Times are milliseconds on a clock that
/// never goes back within one boot.
class ChangeBudget {
 public:
  static constexpr std::int64_t kBurst = 5;
  static constexpr std::int64_t kCostMs = 1000;

  /// The budget stored as text by toText. Empty or unreadable text, or text
  /// stamped before boot or later than nowMs (kept from another boot), is a
  /// full budget.
  static ChangeBudget fromText(std::string_view text, std::int64_t nowMs);

  /// Takes one change at nowMs; false, taking nothing, when none is left.
  bool take(std::int64_t nowMs);

  /// "<credit ms> <ms>".
  std::string toText() const;

 private:
  ChangeBudget(std::int64_t creditMs, std::int64_t atMs) : creditMs_(creditMs), atMs_(atMs) {}

  std::int64_t creditMs_;
  std::int64_t atMs_;
};

}  // namespace somnara::pmset
