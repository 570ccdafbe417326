#pragma once
// The table of control kinds: for each kind its code, its name in the
// window descriptions, its numbered properties and the backend factory that
// makes its native control.

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace toolkit {

struct ControlDescription;
class NativeControl;

enum class ValueType {
  kBool,
  kInt,     // any 32-bit value; colours and codes are written in hex
  kChoice,  // a pick list: 0 to PropertySpec::max
  kText,    // GBK text
  kBytes,   // a picture, font record, sound or icon
  kPointer, // a pointer code, or the bytes of a pointer file
};

struct PropertySpec {
  std::string_view name;
  ValueType type;
  std::int32_t int_default = 0;      // for kBool, kInt, kChoice, kPointer
  std::string_view text_default{};   // for kText, GBK bytes
  std::int32_t max = 0;              // for kChoice
  bool read_only = false;            // kept by the control; descriptions may not set it
};

// Makes the native control of `control`. Controls are made as children of
// `window`; the window itself gets nullptr. Returns nullptr on failure.
using NativeFactory = std::unique_ptr<NativeControl> (*)(const ControlDescription& control,
                                                        NativeControl* window);

struct ControlKind {
  std::uint32_t code;
  std::string_view name;
  std::span<const PropertySpec> settings;  // properties 8 and up
  bool drags_window;                       // a left press on it moves its window
  NativeFactory create;
};

inline constexpr int kFirstSetting = 8;

// Properties 0 to 7, the same on every kind.
std::span<const PropertySpec> StandardProperties();

const ControlKind* FindKind(std::string_view name);

// What property `number` of `kind` is, or nullptr when it has none.
const PropertySpec* FindProperty(const ControlKind& kind, int number);

// The number of the property called `name`, or -1.
int FindPropertyNumber(const ControlKind& kind, std::string_view name);

inline int PropertyCount(const ControlKind& kind) {
  return kFirstSetting + static_cast<int>(kind.settings.size());
}

// Each backend defines the factory of every kind; the browser pane's lives
// with the player.
std::unique_ptr<NativeControl> CreateNativeWindow(const ControlDescription&, NativeControl*);
std::unique_ptr<NativeControl> CreateNativePicBox(const ControlDescription&, NativeControl*);
std::unique_ptr<NativeControl> CreateNativeLabel(const ControlDescription&, NativeControl*);
std::unique_ptr<NativeControl> CreateNativeTransLabel(const ControlDescription&, NativeControl*);
std::unique_ptr<NativeControl> CreateNativeBrowserPane(const ControlDescription&, NativeControl*);

// Property numbers of each kind's own settings, for the backends.
namespace window_setting {
enum : int {
  kTitle = 8, kBorderStyle, kBackColor, kBackPicture, kBackPictureMode, kBackMusic,
  kMusicPlayCount, kControlBox, kMaxButton, kMinButton, kStartPosition, kMovable, kIcon,
  kEnterMovesFocus, kEscCloses, kF1OpensHelp, kHelpFile, kHelpContext, kShowInTaskbar,
  kDragByBody, kShape, kAlwaysOnTop, kKeepTitleActive, kClassName,
};
}
namespace picbox_setting {
enum : int { kBorderStyle = 8, kBackColor, kPicture, kDisplayMode, kPlayAnimation, kDataSource, kDataColumn };
}
namespace translabel_setting {
enum : int { kText = 8, kEffect, kFont, kTextColor, kAlign, kWordWrap, kVAlign };
}
namespace label_setting {
enum : int {
  kText = 8, kEffect, kBorderStyle, kFont, kTextColor, kBackColor, kBackPicture, kBackPictureMode,
  kAlign, kVAlign, kWordWrap,
};
}
namespace browser_setting {
enum : int { kFontSize = 8, kOffline, kSilent, kUrl, kStatusText, kCaption, kPreviewInDesignMode };
}

// A colour setting holding this value means the kind's default colour
// (the system's button face).
inline constexpr std::int32_t kDefaultColour = static_cast<std::int32_t>(0xFF000000u);

}  // namespace toolkit
