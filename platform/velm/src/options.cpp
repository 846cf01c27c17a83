// Kernel options, registered by name with their defaults.
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "velm/options.hxx"

option_header::option_header(const char* name, option_value_type type, double default_value,
                             const char* default_text)
    : name_(name ? name : ""),
      type_(type),
      value_(default_value),
      default_value_(default_value),
      text_(default_text ? default_text : ""),
      default_text_(text_) {}

int option_header::count() const {
  return type_ == option_int || type_ == option_logical ? static_cast<int>(value_) : 0;
}

void option_header::set(int v) { value_ = type_ == option_logical ? (v != 0 ? 1.0 : 0.0) : v; }

void option_header::set(double v) {
  if (type_ == option_logical)
    value_ = v != 0.0 ? 1.0 : 0.0;
  else if (type_ == option_int)
    value_ = static_cast<double>(static_cast<long>(v));
  else
    value_ = v;
}

void option_header::set(const char* text) { text_ = text ? text : ""; }

void option_header::reset() {
  value_ = default_value_;
  text_ = default_text_;
}

namespace {
std::map<std::string, std::unique_ptr<option_header>, std::less<>>& options() {
  static std::map<std::string, std::unique_ptr<option_header>, std::less<>> all;
  return all;
}

struct kernel_option {
  const char* name;
  option_value_type type;
  double value;
};
// The kernel's options and their defaults.
const kernel_option kernel_options[] = {
    {"new_pcurve", option_logical, 1.0},          {"new_pcurve_fit", option_logical, 0.0},
    {"check_level", option_int, 20.0},            {"merge_spline_vertex", option_logical, 0.0},
    {"trim_faces", option_logical, 1.0},          {"logging", option_logical, 1.0}};

struct kernel_options_at_load {
  kernel_options_at_load() { reset_kernel_options(); }
} at_load;
}  // namespace

namespace {
// The last option found: the bulletin board asks for "logging" at every call.
const std::string* last_name = nullptr;
option_header* last_found = nullptr;
}  // namespace

option_header* find_option(const char* name) {
  if (!name) return nullptr;
  if (last_found && *last_name == name) return last_found;
  auto it = options().find(name);
  if (it == options().end()) return nullptr;
  last_name = &it->first;
  last_found = it->second.get();
  return last_found;
}

option_header* register_option(const char* name, option_value_type type, double default_value,
                               const char* default_text) {
  if (!name) return nullptr;
  if (option_header* existing = find_option(name)) return existing;
  auto& slot = options()[name];
  slot = std::make_unique<option_header>(name, type, default_value, default_text);
  return slot.get();
}

void unregister_option(const char* name) {
  if (!name) return;
  last_name = nullptr;
  last_found = nullptr;
  options().erase(name);
}

void reset_kernel_options() {
  for (const kernel_option& o : kernel_options) register_option(o.name, o.type, o.value);
  for (auto& [name, option] : options()) option->reset();
}
