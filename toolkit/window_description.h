#pragma once
// Window descriptions: a window and its controls as data, and the reader of
// the text form the executable carries.
//
// The text form, one statement a line ('#' starts a comment line):
//
//   window 0x52010001 MainWindow      a window: identifier, label
//   control 0x1601000D BackgroundPanel    a control of the window above
//     kind PicBox                     the control kind (required)
//     name "图片框1"                  the stored name (GBK)
//     parent MainWindow               the label of the parent (default: the window)
//     TabStop true                    TabOrder 0
//     left 0                          any numbered property by its name
//     Picture file:background.png     bytes of an embedded file ...
//     Font hex:F0FFFFFF...            ... or written out in hex
//     on -1 OnSomethingPressed        an event binding
//
// Values: true/false, decimal or 0x hex integers (hex may fill all 32 bits),
// "text" (any bytes but '"' and line ends), file:NAME, hex:DIGITS.
// Descriptions are listed in order: that order is the stacking order among
// siblings (earlier on top) and, backwards, the creation order.

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "toolkit/control_kinds.h"
#include "toolkit/toolkit.h"

namespace toolkit {

using Bytes = std::span<const std::uint8_t>;

// A stored property: unset values hold the kind's default, so every slot is
// filled once a description is read.
using StoredValue = std::variant<bool, std::int32_t, std::string, Bytes>;

struct EventBinding {
  std::int32_t event;
  std::string handler_name;
  EventHandler handler = nullptr;  // bound by PrepareToolkit
};

struct ControlDescription {
  ControlId id = 0;
  std::string label;
  const ControlKind* kind = nullptr;
  std::string name;
  ControlId parent = kWindowItself;
  bool tab_stop = false;
  std::int32_t tab_order = 0;
  std::vector<StoredValue> properties;  // indexed by property number
  std::vector<EventBinding> events;

  bool GetBool(int number) const;
  std::int32_t GetInt(int number) const;  // also a boolean as 0/1
  std::string_view GetText(int number) const;
  Bytes GetBytes(int number) const;  // empty unless the value is bytes
};

struct WindowDescription {
  WindowId id = 0;
  ControlDescription window;                // the window itself
  std::vector<ControlDescription> controls; // in description order
};

struct WindowData {
  std::vector<WindowDescription> windows;
  std::vector<std::unique_ptr<std::vector<std::uint8_t>>> blobs;  // hex values
};

// Looks up an embedded file named by file:NAME; empty when there is none.
using FileLookup = std::function<Bytes(std::string_view name)>;

struct ReadResult {
  WindowData data;
  std::string error;  // empty on success; else "line N: what is wrong"
};

ReadResult ReadWindowData(std::span<const std::uint8_t> text, const FileLookup& find_file);

}  // namespace toolkit
