#include "toolkit/window_description.h"

#include <charconv>
#include <optional>

namespace toolkit {
namespace {

struct Token {
  std::string_view text;
  bool quoted = false;
};

// Splits one line into tokens; a quoted token keeps its bytes as they are.
// Returns false on an unterminated quote.
bool Tokenise(std::string_view line, std::vector<Token>& tokens) {
  tokens.clear();
  std::size_t at = 0;
  while (at < line.size()) {
    const char c = line[at];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++at;
    } else if (c == '"') {
      const std::size_t end = line.find('"', at + 1);
      if (end == std::string_view::npos) return false;
      tokens.push_back({line.substr(at + 1, end - at - 1), true});
      at = end + 1;
    } else {
      std::size_t end = at;
      while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
      tokens.push_back({line.substr(at, end - at), false});
      at = end;
    }
  }
  return true;
}

// Decimal (optionally negative) or 0x hex up to 32 bits.
std::optional<std::int32_t> ParseInt(const Token& token) {
  if (token.quoted || token.text.empty()) return std::nullopt;
  std::string_view s = token.text;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    std::uint32_t value = 0;
    auto [end, error] = std::from_chars(s.data() + 2, s.data() + s.size(), value, 16);
    if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return static_cast<std::int32_t>(value);
  }
  std::int32_t value = 0;
  auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value, 10);
  if (error != std::errc() || end != s.data() + s.size()) return std::nullopt;
  return value;
}

std::optional<bool> ParseBool(const Token& token) {
  if (token.quoted) return std::nullopt;
  if (token.text == "true") return true;
  if (token.text == "false") return false;
  return std::nullopt;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

StoredValue DefaultValue(const PropertySpec& info) {
  switch (info.type) {
    case ValueType::kBool:
      return info.int_default != 0;
    case ValueType::kText:
      return std::string(info.text_default);
    case ValueType::kBytes:
      return Bytes{};
    default:
      return info.int_default;
  }
}

class Reader {
 public:
  explicit Reader(const FileLookup& find_file) : find_file_(find_file) {}

  ReadResult Read(std::span<const std::uint8_t> bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::vector<Token> tokens;
    std::size_t at = 0;
    while (at < text.size() && error_.empty()) {
      std::size_t end = text.find('\n', at);
      if (end == std::string_view::npos) end = text.size();
      ++line_;
      const std::string_view line = text.substr(at, end - at);
      at = end + 1;
      if (!Tokenise(line, tokens)) {
        Fail("a text has no closing quote");
      } else if (!tokens.empty() && (tokens[0].quoted || !tokens[0].text.starts_with('#'))) {
        Statement(tokens);
      }
    }
    if (error_.empty()) Finish();
    if (error_.empty() && result_.windows.empty()) Fail("there is no window");
    return {std::move(result_), error_};
  }

 private:
  void Fail(std::string_view what) {
    if (error_.empty()) error_ = "line " + std::to_string(line_) + ": " + std::string(what);
  }

  ControlDescription* Current() {
    if (result_.windows.empty()) return nullptr;
    WindowDescription& window = result_.windows.back();
    return window.controls.empty() ? &window.window : &window.controls.back();
  }

  void Statement(const std::vector<Token>& t) {
    const std::string_view keyword = t[0].quoted ? std::string_view{} : t[0].text;
    if (keyword == "window" || keyword == "control") {
      Header(keyword == "window", t);
      return;
    }
    ControlDescription* control = Current();
    if (control == nullptr) return Fail("a setting comes before any window");
    if (t.size() != (keyword == "on" ? 3u : 2u)) {
      return Fail("expected a name and one value");
    }
    if (keyword == "kind") {
      if (control->kind != nullptr) return Fail("the kind is given twice");
      control->kind = FindKind(t[1].text);
      if (control->kind == nullptr) return Fail("unknown kind '" + std::string(t[1].text) + "'");
      if ((control == &result_.windows.back().window) != (control->kind->name == "window")) {
        return Fail("a window must be of kind window, and only a window");
      }
      for (int n = 0; n < PropertyCount(*control->kind); ++n) {
        control->properties.push_back(DefaultValue(*FindProperty(*control->kind, n)));
      }
    } else if (keyword == "name") {
      if (!t[1].quoted) return Fail("the name is a quoted text");
      control->name = std::string(t[1].text);
    } else if (keyword == "parent") {
      if (result_.windows.back().controls.empty()) return Fail("a window has no parent");
      parents_.push_back({result_.windows.size() - 1, result_.windows.back().controls.size() - 1,
                          std::string(t[1].text), line_});
    } else if (keyword == "TabStop") {
      const auto value = ParseBool(t[1]);
      if (!value) return Fail("TabStop is true or false");
      control->tab_stop = *value;
    } else if (keyword == "TabOrder") {
      const auto value = ParseInt(t[1]);
      if (!value) return Fail("TabOrder is an integer");
      control->tab_order = *value;
    } else if (keyword == "on") {
      const auto event = ParseInt(t[1]);
      if (!event || t[2].quoted) return Fail("expected: on EVENT-NUMBER HANDLER");
      for (const EventBinding& binding : control->events) {
        if (binding.event == *event) return Fail("the event is bound twice");
      }
      control->events.push_back({*event, std::string(t[2].text)});
    } else {
      Property(*control, keyword, t[1]);
    }
  }

  void Header(bool is_window, const std::vector<Token>& t) {
    if (t.size() != 3 || t[2].quoted) return Fail("expected: window|control ID LABEL");
    const auto id = ParseInt(t[1]);
    if (!id) return Fail("the identifier is not an integer");
    CheckLastComplete();
    ControlDescription description;
    description.id = static_cast<std::uint32_t>(*id);
    description.label = std::string(t[2].text);
    if (is_window) {
      for (const WindowDescription& window : result_.windows) {
        if (window.id == description.id) return Fail("two windows have this identifier");
      }
      description.id = kWindowItself;
      result_.windows.push_back({static_cast<std::uint32_t>(*id), std::move(description), {}});
      return;
    }
    if (result_.windows.empty()) return Fail("a control comes before any window");
    WindowDescription& window = result_.windows.back();
    if (description.id == kWindowItself || description.id == 0) {
      return Fail("this identifier is reserved for the window itself");
    }
    for (const ControlDescription& other : window.controls) {
      if (other.id == description.id) return Fail("two controls have this identifier");
      if (other.label == description.label) return Fail("two controls have this label");
    }
    window.controls.push_back(std::move(description));
  }

  void CheckLastComplete() {
    const ControlDescription* control = Current();
    if (control != nullptr && control->kind == nullptr) {
      Fail("'" + control->label + "' has no kind");
    }
  }

  void Property(ControlDescription& control, std::string_view name, const Token& value) {
    if (control.kind == nullptr) return Fail("the kind must come first");
    const int number = FindPropertyNumber(*control.kind, name);
    if (number < 0) {
      return Fail(std::string(control.kind->name) + " has no property '" + std::string(name) + "'");
    }
    const PropertySpec& info = *FindProperty(*control.kind, number);
    if (info.read_only) return Fail("'" + std::string(name) + "' is read-only");
    StoredValue& slot = control.properties[static_cast<std::size_t>(number)];
    switch (info.type) {
      case ValueType::kBool:
        if (const auto b = ParseBool(value)) return void(slot = *b);
        return Fail("'" + std::string(name) + "' is true or false");
      case ValueType::kInt:
        if (const auto i = ParseInt(value)) return void(slot = *i);
        return Fail("'" + std::string(name) + "' is an integer");
      case ValueType::kChoice:
        if (const auto i = ParseInt(value); i && *i >= 0 && *i <= info.max) return void(slot = *i);
        return Fail("'" + std::string(name) + "' is a choice from 0 to " + std::to_string(info.max));
      case ValueType::kText:
        if (value.quoted) return void(slot = std::string(value.text));
        return Fail("'" + std::string(name) + "' is a quoted text");
      case ValueType::kPointer:
        if (const auto i = ParseInt(value)) return void(slot = *i);
        [[fallthrough]];
      case ValueType::kBytes:
        if (const auto bytes = ParseBytes(value)) return void(slot = *bytes);
        return Fail("'" + std::string(name) + "' takes file:NAME or hex:DIGITS");
    }
  }

  std::optional<Bytes> ParseBytes(const Token& value) {
    if (value.quoted) return std::nullopt;
    if (value.text.starts_with("file:")) {
      const Bytes file = find_file_(value.text.substr(5));
      if (file.empty()) {
        Fail("no embedded file '" + std::string(value.text.substr(5)) + "'");
        return Bytes{};
      }
      return file;
    }
    if (!value.text.starts_with("hex:") || value.text.size() % 2 != 0) return std::nullopt;
    auto blob = std::make_unique<std::vector<std::uint8_t>>();
    for (std::size_t i = 4; i < value.text.size(); i += 2) {
      const int high = HexDigit(value.text[i]);
      const int low = HexDigit(value.text[i + 1]);
      if (high < 0 || low < 0) return std::nullopt;
      blob->push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    const Bytes bytes(*blob);
    result_.blobs.push_back(std::move(blob));
    return bytes;
  }

  // Parents may be named before they are described; resolve them at the end
  // and make sure every chain of parents ends at the window.
  void Finish() {
    CheckLastComplete();
    for (const PendingParent& pending : parents_) {
      line_ = pending.line;
      WindowDescription& window = result_.windows[pending.window];
      ControlDescription& control = window.controls[pending.index];
      if (pending.label == window.window.label) {
        control.parent = kWindowItself;
        continue;
      }
      const ControlDescription* parent = nullptr;
      for (const ControlDescription& other : window.controls) {
        if (other.label == pending.label) parent = &other;
      }
      if (parent == nullptr) return Fail("no control '" + pending.label + "' in this window");
      control.parent = parent->id;
    }
    for (const WindowDescription& window : result_.windows) {
      for (const ControlDescription& control : window.controls) {
        ControlId at = control.parent;
        for (std::size_t steps = 0; at != kWindowItself; ++steps) {
          if (steps > window.controls.size()) {
            return Fail("'" + control.label + "' is its own ancestor");
          }
          for (const ControlDescription& other : window.controls) {
            if (other.id == at) {
              at = other.parent;
              break;
            }
          }
        }
      }
    }
  }

  struct PendingParent {
    std::size_t window;
    std::size_t index;
    std::string label;
    int line;
  };

  const FileLookup& find_file_;
  WindowData result_;
  std::vector<PendingParent> parents_;
  std::string error_;
  int line_ = 0;
};

}  // namespace

ReadResult ReadWindowData(std::span<const std::uint8_t> text, const FileLookup& find_file) {
  return Reader(find_file).Read(text);
}

bool ControlDescription::GetBool(int number) const { return GetInt(number) != 0; }

std::int32_t ControlDescription::GetInt(int number) const {
  if (number < 0 || static_cast<std::size_t>(number) >= properties.size()) return 0;
  const StoredValue& value = properties[static_cast<std::size_t>(number)];
  if (const bool* b = std::get_if<bool>(&value)) return *b ? 1 : 0;
  if (const std::int32_t* i = std::get_if<std::int32_t>(&value)) return *i;
  return 0;
}

std::string_view ControlDescription::GetText(int number) const {
  if (number < 0 || static_cast<std::size_t>(number) >= properties.size()) return {};
  const auto* text = std::get_if<std::string>(&properties[static_cast<std::size_t>(number)]);
  return text != nullptr ? std::string_view(*text) : std::string_view{};
}

Bytes ControlDescription::GetBytes(int number) const {
  if (number < 0 || static_cast<std::size_t>(number) >= properties.size()) return {};
  const auto* bytes = std::get_if<Bytes>(&properties[static_cast<std::size_t>(number)]);
  return bytes != nullptr ? *bytes : Bytes{};
}

}  // namespace toolkit
