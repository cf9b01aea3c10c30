#include "Application/Classes/VersionText.h"

namespace somnara {

VersionText VersionText::make(const std::string& shortVersion, const std::string& build, const std::string& notice) {
  const std::string versionLine = "Version " + shortVersion + "\n";
  const std::string buildLine = "(" + build + ")\n";
  const std::string noticeLine = "\u00a9" + notice + "\n";
  VersionText v;
  v.text = "\n" + versionLine + buildLine + "\n\n\n" + noticeLine;
  v.versionLine = {1, versionLine.size()};
  v.noticeLine = {v.text.size() - noticeLine.size(), noticeLine.size()};
  return v;
}

}  // namespace somnara
