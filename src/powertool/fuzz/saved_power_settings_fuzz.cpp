// libFuzzer target for the saved power-management settings codec: any bytes
// decode without a crash, and whatever the power tool would write back for
// them reads back with the mode it stored and every other entry it kept.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "powertool/SavedPowerSettings.h"

using somnara::powertool::SavedPowerSettings;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const SavedPowerSettings read = SavedPowerSettings::decode(
      std::string_view(reinterpret_cast<const char*>(data), size));
  if (read.list.has_value() == !read.error.empty()) std::abort();
  if (read.hibernateMode && !read.list) std::abort();

  std::optional<somnara::Value> existing = read.list;
  if (existing && !existing->dictionary()) existing.reset();
  const somnara::Value written = somnara::powertool::withHibernateMode(existing, 25);
  const SavedPowerSettings again = SavedPowerSettings::decode(somnara::powertool::encode(written));
  if (again.hibernateMode != 25) std::abort();
  if (existing)
    for (const auto& [key, value] : *existing->dictionary())
      if (key != "Custom Profile" && !again.list->find(key)) std::abort();
  return 0;
}
