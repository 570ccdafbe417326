#include "toolkit/control_kinds.h"

#include <array>

namespace toolkit {
namespace {

using enum ValueType;

constexpr std::array kStandard{
    PropertySpec{"left", kInt},    PropertySpec{"top", kInt},
    PropertySpec{"width", kInt},   PropertySpec{"height", kInt},
    PropertySpec{"tag", kText},    PropertySpec{"visible", kBool, 1},
    PropertySpec{"disable", kBool}, PropertySpec{"MousePointer", kPointer},
};

constexpr std::array kWindowSettings{
    PropertySpec{"Title", kText},
    PropertySpec{"BorderStyle", kChoice, 2, {}, 6},
    PropertySpec{"BackColor", kInt, kDefaultColour},
    PropertySpec{"BackPicture", kBytes},
    PropertySpec{"BackPictureMode", kChoice, 1, {}, 3},
    PropertySpec{"BackMusic", kBytes},
    PropertySpec{"MusicPlayCount", kChoice, 0, {}, 2},
    PropertySpec{"ControlBox", kBool, 1},
    PropertySpec{"MaxButton", kBool, 1},
    PropertySpec{"MinButton", kBool, 1},
    PropertySpec{"StartPosition", kChoice, 1, {}, 3},
    PropertySpec{"Movable", kBool, 1},
    PropertySpec{"Icon", kBytes},
    PropertySpec{"EnterMovesFocus", kBool},
    PropertySpec{"EscCloses", kBool},
    PropertySpec{"F1OpensHelp", kBool},
    PropertySpec{"HelpFile", kText},
    PropertySpec{"HelpContext", kInt},
    PropertySpec{"ShowInTaskbar", kBool, 1},
    PropertySpec{"DragByBody", kBool},
    PropertySpec{"Shape", kChoice, 0, {}, 29},
    PropertySpec{"AlwaysOnTop", kBool},
    PropertySpec{"KeepTitleActive", kBool},
    PropertySpec{"ClassName", kText},
};

constexpr std::array kPicBoxSettings{
    PropertySpec{"BorderStyle", kChoice, 0, {}, 5},
    PropertySpec{"BackColor", kInt, kDefaultColour},
    PropertySpec{"Picture", kBytes},
    PropertySpec{"DisplayMode", kChoice, 0, {}, 2},
    PropertySpec{"PlayAnimation", kBool, 1},
    PropertySpec{"DataSource", kText},
    PropertySpec{"DataColumn", kText},
};

constexpr std::array kTransLabelSettings{
    PropertySpec{"Text", kText},
    PropertySpec{"Effect", kChoice, 0, {}, 3},
    PropertySpec{"Font", kBytes},
    PropertySpec{"TextColor", kInt, 0},
    PropertySpec{"Align", kChoice, 0, {}, 2},
    PropertySpec{"WordWrap", kBool},
    PropertySpec{"VAlign", kChoice, 0, {}, 2},
};

// "标签" in GBK: the text a new label shows.
constexpr std::string_view kLabelDefaultText = "\xB1\xEA\xC7\xA9";

constexpr std::array kLabelSettings{
    PropertySpec{"Text", kText, 0, kLabelDefaultText},
    PropertySpec{"Effect", kChoice, 0, {}, 3},
    PropertySpec{"BorderStyle", kChoice, 0, {}, 5},
    PropertySpec{"Font", kBytes},
    PropertySpec{"TextColor", kInt, 0},
    PropertySpec{"BackColor", kInt, kDefaultColour},
    PropertySpec{"BackPicture", kBytes},
    PropertySpec{"BackPictureMode", kChoice, 0, {}, 3},
    PropertySpec{"Align", kChoice, 0, {}, 2},
    PropertySpec{"VAlign", kChoice, 0, {}, 2},
    PropertySpec{"WordWrap", kBool},
    PropertySpec{"LineSpacing", kInt},
    PropertySpec{"FirstLineIndent", kInt},
    PropertySpec{"MarginLeft", kInt},
    PropertySpec{"MarginTop", kInt},
    PropertySpec{"GradientMode", kChoice, 0, {}, 2},
    PropertySpec{"GradientStart", kInt, kDefaultColour},
    PropertySpec{"GradientEnd", kInt, kDefaultColour},
    PropertySpec{"DataSource", kText},
    PropertySpec{"DataColumn", kText},
    PropertySpec{"Transparent", kBool},
};

constexpr std::array kBrowserPaneSettings{
    PropertySpec{"FontSize", kChoice, 2, {}, 4},
    PropertySpec{"Offline", kBool},
    PropertySpec{"Silent", kBool},
    PropertySpec{"url", kText},
    PropertySpec{"StatusText", kText, 0, {}, 0, true},
    PropertySpec{"Caption", kText, 0, {}, 0, true},
    PropertySpec{"PreviewInDesignMode", kBool},
};

const ControlKind kKinds[] = {
    {0x00010001, "window", kWindowSettings, true, CreateNativeWindow},
    {0x00010006, "PicBox", kPicBoxSettings, true, CreateNativePicBox},
    {0x0001000A, "Label", kLabelSettings, true, CreateNativeLabel},
    {0x00020005, "TransLabel", kTransLabelSettings, false, CreateNativeTransLabel},
    {0x00040001, "BrowserPane", kBrowserPaneSettings, false, CreateNativeBrowserPane},
};

static_assert(kLabelSettings.size() == 21, "a label has settings 8 to 28");
static_assert(kWindowSettings.size() == 24, "a window has settings 8 to 31");

}  // namespace

std::span<const PropertySpec> StandardProperties() { return kStandard; }

const ControlKind* FindKind(std::string_view name) {
  for (const ControlKind& kind : kKinds) {
    if (kind.name == name) return &kind;
  }
  return nullptr;
}

const PropertySpec* FindProperty(const ControlKind& kind, int number) {
  if (number < 0) return nullptr;
  if (number < kFirstSetting) return &kStandard[static_cast<std::size_t>(number)];
  const auto setting = static_cast<std::size_t>(number - kFirstSetting);
  return setting < kind.settings.size() ? &kind.settings[setting] : nullptr;
}

int FindPropertyNumber(const ControlKind& kind, std::string_view name) {
  for (int number = 0; number < PropertyCount(kind); ++number) {
    if (FindProperty(kind, number)->name == name) return number;
  }
  return -1;
}

}  // namespace toolkit
