// An exported file (a .reg file, CSV) written beside its name and renamed
// over it once whole: a failure leaves nothing half-written under the name,
// and an existing file stays as it was.
#pragma once

#include <string>
#include <string_view>

#include "platform/file_system.h"

namespace mKestrelmark {

// Throws platform::RuntimeError naming the path ("Cannot write PATH: ...")
// when the file cannot be written; what was written beside it is removed.
void WriteExportFile(platform::FileSystem& files, const std::string& path, std::string_view bytes);

}  // namespace mKestrelmark
