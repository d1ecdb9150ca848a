// Run at logon for the program's own executable: the first "*.exe" that a
// listing of the program's folder returns (files only, hidden and system
// files left out) names the Run value. Without such a file nothing is
// written or deleted. Registry failures are silent.
#pragma once

#include <optional>
#include <string>

#include "platform/file_system.h"
#include "platform/registry.h"

namespace mStartUp {

// The file name (with extension) of the first executable in the program's
// folder; nullopt when there is none.
std::optional<std::string> FindProgramExecutable(platform::FileSystem& file_system);

void EnableRunAtLogon(platform::FileSystem& file_system, platform::Registry& registry);
void DisableRunAtLogon(platform::FileSystem& file_system, platform::Registry& registry);

}  // namespace mStartUp
