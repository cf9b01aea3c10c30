// libFuzzer target for the autostart-entry reader, which reads files any
// program of the user may have written. The input is read as an entry file;
// every value's Exec reading must terminate without faults. The input is
// also taken as a program path: where it can be written, it must read back
// unchanged through the same reader.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "host/linux/DesktopEntry.h"

using somnara::linuxhost::DesktopEntry;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  if (const auto entry = DesktopEntry::parse(input)) {
    for (const char* key : {"Exec", "Type", "Hidden", "X-GNOME-Autostart-enabled"})
      if (const auto value = entry->value(key)) (void)DesktopEntry::execProgram(*value);
  }
  if (const auto written = DesktopEntry::execArgument(input)) {
    const auto entry = DesktopEntry::parse("[Desktop Entry]\nExec=" + *written + " --flag\n");
    if (!entry) std::abort();
    const auto back = DesktopEntry::execProgram(entry->value("Exec").value_or(""));
    if (input.empty() ? back.has_value() : back != input) std::abort();
  }
  return 0;
}
