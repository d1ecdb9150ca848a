#include "platform/win32/single_instance_win.h"

namespace platform {

SingleInstance::SingleInstance(const std::string& name)
    : mutex_(CreateMutexA(nullptr, FALSE, name.c_str())) {
  // ERROR_ALREADY_EXISTS comes with a valid handle to the other instance's
  // mutex; a failure to create (no handle) is taken as "alone".
  another_running_ = mutex_ && GetLastError() == ERROR_ALREADY_EXISTS;
}

}  // namespace platform
