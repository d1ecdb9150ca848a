#include "prefs/m_start_up.h"

#include "prefs/reg_stuff_writer.h"

namespace mStartUp {

std::optional<std::string> FindProgramExecutable(platform::FileSystem& file_system) {
  std::string folder = file_system.ExecutableFolder();
  // A drive root already ends in its backslash; "C:\\*.exe" is not a pattern
  // every file system accepts.
  if (folder.empty() || folder.back() != '\\') folder += '\\';
  return file_system.FindFirstPlainFile(folder + "*.exe");
}

void EnableRunAtLogon(platform::FileSystem& file_system, platform::Registry& registry) {
  const std::optional<std::string> name = FindProgramExecutable(file_system);
  if (!name) return;
  RegStuff::AddRunEntry(registry, file_system.ExecutableFolder(), *name);
}

void DisableRunAtLogon(platform::FileSystem& file_system, platform::Registry& registry) {
  const std::optional<std::string> name = FindProgramExecutable(file_system);
  if (!name) return;
  RegStuff::RemoveRunEntry(registry, *name);
}

}  // namespace mStartUp
