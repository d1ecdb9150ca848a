// SkinFramework1: the window's skin component, reached the way the window
// calls it, through dispatch identifiers. It loads the skin file and keeps the
// settings it is given; it changes nothing that is drawn. The file's content
// is kept as bytes and not interpreted.
//
//   method 2 (path, text)   load the skin file
//   property 1              option flags (an integer; bit 0 = apply to the whole window)
//   property 5              apply to the window's frame (Boolean)
//   property 10             apply to the window's controls (Boolean)
//   method 3 (window)       attach to a window handle
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "platform/file_system.h"

namespace ui {

using DispValue = std::variant<std::monostate, bool, std::int64_t, std::string>;
enum class DispatchKind { kMethod, kPropertyGet, kPropertyPut };

inline constexpr int kSkinLoadMethod = 2;
inline constexpr int kSkinApplyWindowMethod = 3;
inline constexpr int kSkinOptionsProperty = 1;
inline constexpr int kSkinFrameProperty = 5;
inline constexpr int kSkinControlsProperty = 10;

class SkinFramework {
 public:
  struct Call {
    int dispid;
    DispatchKind kind;
    std::vector<DispValue> args;
  };

  explicit SkinFramework(platform::FileSystem& files) : files_(files) {}

  // Throws platform::RuntimeError for an unknown member or wrong arguments,
  // and when the skin file cannot be read.
  DispValue Invoke(int dispid, DispatchKind kind, const std::vector<DispValue>& args = {});

  bool loaded() const { return loaded_; }
  const std::string& skin_path() const { return skin_path_; }
  std::size_t skin_size() const { return skin_bytes_.size(); }
  std::int64_t options() const { return options_; }
  bool frame_skinned() const { return frame_skinned_; }
  bool controls_skinned() const { return controls_skinned_; }
  std::int64_t window() const { return window_; }
  const std::vector<Call>& calls() const { return calls_; }

 private:
  platform::FileSystem& files_;
  bool loaded_ = false;
  std::string skin_path_;
  std::string skin_bytes_;
  std::int64_t options_ = 0;
  bool frame_skinned_ = false;
  bool controls_skinned_ = false;
  std::int64_t window_ = 0;
  std::vector<Call> calls_;
};

}  // namespace ui
