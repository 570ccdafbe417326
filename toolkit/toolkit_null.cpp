// Null backend checklist:
// - [x] every kind's factory, making controls that log what is asked of them
// - [x] a loop that ends at once with the code of the last Quit
// - [x] an error box that logs its message; ExitProcess throws ProcessExit
// - [ ] drawing, input, pointers: nothing is shown

#include "toolkit/toolkit_null.h"

#include <cstdio>

#include "toolkit/native.h"
#include "toolkit/toolkit_internal.h"

namespace toolkit {
namespace {

struct NullState {
  std::vector<std::string> log;
  ControlId failing = 0;
  bool display = true;
  int quit_code = 0;
  void (*on_create)() = nullptr;
};

NullState& Null() {
  static NullState state;
  return state;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

class NullControl : public NativeControl {
 public:
  explicit NullControl(ControlId id) : id_(id) {
    Null().log.push_back("create " + Hex(id));
    if (Null().on_create != nullptr) Null().on_create();
  }
  NativeHandle Handle() const override { return reinterpret_cast<NativeHandle>(this); }
  void MoveInto(NativeControl& container) override {
    Null().log.push_back("move " + Hex(id_) + " into " + Hex(static_cast<NullControl&>(container).id_));
  }
  void PlaceBehind(NativeControl* sibling) override {
    Null().log.push_back("behind " + Hex(id_) + " " +
                         (sibling ? Hex(static_cast<NullControl*>(sibling)->id_) : "top"));
  }
  void SetShown(bool shown) override { Null().log.push_back((shown ? "show " : "hide ") + Hex(id_)); }
  void PropertyWritten(const ControlDescription&, int number) override {
    Null().log.push_back("write " + Hex(id_) + " " + std::to_string(number));
  }

 private:
  ControlId id_;
};

std::unique_ptr<NativeControl> CreateNull(const ControlDescription& control, NativeControl*) {
  if (control.id == Null().failing) return nullptr;
  return std::make_unique<NullControl>(control.id);
}

}  // namespace

std::unique_ptr<NativeControl> CreateNativeWindow(const ControlDescription& c, NativeControl* w) {
  return CreateNull(c, w);
}
std::unique_ptr<NativeControl> CreateNativePicBox(const ControlDescription& c, NativeControl* w) {
  return CreateNull(c, w);
}
std::unique_ptr<NativeControl> CreateNativeLabel(const ControlDescription& c, NativeControl* w) {
  return CreateNull(c, w);
}
std::unique_ptr<NativeControl> CreateNativeTransLabel(const ControlDescription& c, NativeControl* w) {
  return CreateNull(c, w);
}

namespace native {

bool Initialise(std::string& why) {
  if (!Null().display) why = "no display";
  return Null().display;
}
void Uninitialise() { Null().log.push_back("uninitialise"); }
ScreenSize PrimaryScreenSize() { return {1280, 1024}; }
int RunLoop() { return Null().quit_code; }
void Quit(int code) {
  Null().quit_code = code;
  Null().log.push_back("quit " + std::to_string(code));
}
void ShowErrorBox(std::string_view message) { Null().log.push_back("error " + std::string(message)); }
void ExitProcess(int code) {
  Null().log.push_back("exit " + std::to_string(code));
  throw null_backend::ProcessExit{code};
}

}  // namespace native

namespace null_backend {
std::vector<std::string>& Log() { return Null().log; }
void FailCreating(ControlId control) { Null().failing = control; }
void OnCreate(void (*callback)()) { Null().on_create = callback; }
void SetDisplayAvailable(bool available) { Null().display = available; }
void Reset() {
  ResetToolkit();
  Null() = NullState{};
}
}  // namespace null_backend

}  // namespace toolkit
