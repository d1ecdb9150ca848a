#include "ui/skin_framework.h"

#include "platform/runtime_error.h"

namespace ui {

namespace {

template <class T>
const T& Arg(const std::vector<DispValue>& args, size_t index) {
  if (index >= args.size() || !std::holds_alternative<T>(args[index])) {
    throw platform::RuntimeError("Type mismatch");
  }
  return std::get<T>(args[index]);
}

}  // namespace

DispValue SkinFramework::Invoke(int dispid, DispatchKind kind,
                                const std::vector<DispValue>& args) {
  calls_.push_back({dispid, kind, args});
  switch (dispid) {
    case kSkinLoadMethod:
      if (kind != DispatchKind::kMethod) break;
      skin_path_ = Arg<std::string>(args, 0);
      Arg<std::string>(args, 1);  // the section text: one skin per file here
      skin_bytes_ = files_.ReadWholeFile(skin_path_);
      loaded_ = true;
      return true;
    case kSkinApplyWindowMethod:
      if (kind != DispatchKind::kMethod) break;
      window_ = Arg<std::int64_t>(args, 0);
      return {};
    case kSkinOptionsProperty:
      if (kind == DispatchKind::kPropertyGet) return options_;
      if (kind == DispatchKind::kPropertyPut) {
        options_ = Arg<std::int64_t>(args, 0);
        return {};
      }
      break;
    case kSkinFrameProperty:
    case kSkinControlsProperty:
      if (kind == DispatchKind::kPropertyGet) {
        return dispid == kSkinFrameProperty ? frame_skinned_ : controls_skinned_;
      }
      if (kind == DispatchKind::kPropertyPut) {
        (dispid == kSkinFrameProperty ? frame_skinned_ : controls_skinned_) =
            Arg<bool>(args, 0);
        return {};
      }
      break;
    default:
      break;
  }
  throw platform::RuntimeError("Object doesn't support this property or method");
}

}  // namespace ui
