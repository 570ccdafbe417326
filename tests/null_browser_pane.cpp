// A browser pane for the null backend: it logs what it is asked to load and
// which commands it gets, in the null backend's log.

#include <cstdio>

#include "player/browser_pane.h"
#include "toolkit/native.h"
#include "toolkit/toolkit_null.h"

namespace toolkit {
namespace {

class NullBrowserPane : public NativeControl, public player::BrowserPane {
 public:
  explicit NullBrowserPane(const ControlDescription& control) {
    null_backend::Log().push_back("create pane");
    if (!control.GetText(browser_setting::kUrl).empty()) Load(control);
  }
  NativeHandle Handle() const override { return reinterpret_cast<NativeHandle>(this); }
  void MoveInto(NativeControl&) override {}
  void PlaceBehind(NativeControl*) override {}
  void SetShown(bool) override {}
  void PropertyWritten(const ControlDescription& control, int number) override {
    if (number == browser_setting::kUrl) Load(control);
  }
  void Command(std::int32_t code) override {
    null_backend::Log().push_back("pane command " + std::to_string(code));
  }

 private:
  static void Load(const ControlDescription& control) {
    null_backend::Log().push_back("pane load " + std::string(control.GetText(browser_setting::kUrl)));
  }
};

}  // namespace

std::unique_ptr<NativeControl> CreateNativeBrowserPane(const ControlDescription& control, NativeControl*) {
  return std::make_unique<NullBrowserPane>(control);
}

}  // namespace toolkit
