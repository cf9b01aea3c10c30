#pragma once

#include <string>

#include "host/Authorization.h"
#include "host/Processes.h"

namespace somnara::linuxhost {

/// Privilege repair through the repair tool, which chowns root:root and then
/// sets ug+s on the verified regular file it is given. Root runs it directly;
/// everyone else through pkexec (one prompt). Exit statuses: 0 done, 2 refused,
/// 3 chown failed, 4 chmod failed; pkexec's own 126 dismissed, 127 not
/// authorized.
class PkexecAuthorization final : public host::Authorization {
 public:
  /// The repair tool this build installs.
  static std::string defaultRepairTool();

  PkexecAuthorization(host::Processes& processes, std::string repairTool = defaultRepairTool(),
                      std::string pkexec = "/usr/bin/pkexec");

  /// nullopt on status 0; Chmod for status 4; Chown with the status (or -1
  /// when the tool could not be started or crashed) for everything else.
  std::optional<Failure> repairHelperPrivileges(const std::string& path) override;

 private:
  host::Processes& processes_;
  std::string repairTool_;
  std::string pkexec_;
};

}  // namespace somnara::linuxhost
