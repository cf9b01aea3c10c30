#include "ChangeBudget.h"

#include <algorithm>
#include <cstdio>

namespace somnara::pmset {
namespace {

constexpr std::int64_t kFullMs = ChangeBudget::kBurst * ChangeBudget::kCostMs;

}  // namespace

ChangeBudget ChangeBudget::fromText(std::string_view text, std::int64_t nowMs) {
  const std::string copy(text.substr(0, 64));
  long long creditMs = 0, atMs = 0;
  char rest = 0;
  if (std::sscanf(copy.c_str(), "%lld %lld %c", &creditMs, &atMs, &rest) != 2 || creditMs < 0 || atMs < 0 || atMs > nowMs)
    return {kFullMs, nowMs};
  return {std::min<std::int64_t>(creditMs, kFullMs), atMs};
}

bool ChangeBudget::take(std::int64_t nowMs) {
  if (nowMs > atMs_) {
    creditMs_ = std::min(kFullMs, creditMs_ + std::min(nowMs - atMs_, kFullMs));
    atMs_ = nowMs;
  }
  if (creditMs_ < kCostMs) return false;
  creditMs_ -= kCostMs;
  return true;
}

std::string ChangeBudget::toText() const {
  return std::to_string(creditMs_) + " " + std::to_string(atMs_) + "\n";
}

}  // namespace somnara::pmset
