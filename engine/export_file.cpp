#include "engine/export_file.h"

#include <memory>

#include "engine/error_report.h"
#include "platform/runtime_error.h"

namespace mKestrelmark {

void WriteExportFile(platform::FileSystem& files, const std::string& path, std::string_view bytes) {
  const std::string temporary = path + ".tmp";
  std::unique_ptr<platform::OutputFile> file;
  try {
    file = files.CreateOutputFile(temporary);
    if (!bytes.empty()) file->Write(bytes);
    file->Close();
    file.reset();
    files.MoveReplacing(temporary, path);
  } catch (...) {
    const std::string description = DescribeCurrentException();
    // Closed before it is removed: Windows keeps an open file.
    file.reset();
    static_cast<void>(files.RemoveFile(temporary));  // none there when it was never created
    throw platform::RuntimeError("Cannot write " + path + ": " + description);
  }
}

}  // namespace mKestrelmark
