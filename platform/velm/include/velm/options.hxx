// Kernel options, found by name.
#pragma once

#include <string>

enum option_value_type { option_none = 0, option_int, option_logical, option_double, option_string };

class option_header {
 public:
  option_header(const char* name, option_value_type type, double default_value,
                const char* default_text = nullptr);

  const char* name() const { return name_.c_str(); }
  option_value_type type() const { return type_; }
  // Integer or logical value; 0 for other kinds.
  int count() const;
  bool on() const { return count() != 0; }
  double value() const { return value_; }
  const char* string() const { return text_.c_str(); }
  void set(int v);            // a logical option stores 0/1
  void set(double v);
  void set(const char* text);
  void reset();               // back to the default

 private:
  std::string name_;
  option_value_type type_;
  double value_;
  double default_value_;
  std::string text_;
  std::string default_text_;
};

// The option of that name, or null when none is registered.
option_header* find_option(const char* name);
// Registers (or returns the existing) option with its default.
option_header* register_option(const char* name, option_value_type type, double default_value = 0.0,
                               const char* default_text = nullptr);
// Removes an option; find_option then answers null until it is registered again.
void unregister_option(const char* name);
// Registers any missing kernel option and resets every option to its default.
void reset_kernel_options();

// Options of api_spline_resurface.
class resurface_options {
 public:
  resurface_options() = default;
  void set_use_R10_algorithm(int on) { use_r10_ = on; }
  int use_R10_algorithm() const { return use_r10_; }

 private:
  int use_r10_ = 0;
};

// Options of api_simplify_entity.
class simplify_options {
 public:
  simplify_options() = default;
  void set_simplification_tol(double tol) { tol_ = tol; }
  double simplification_tol() const { return tol_; }
  void set_do_curve_simplification(bool on) { curves_ = on; }
  bool do_curve_simplification() const { return curves_; }
  void set_do_surface_simplification(bool on) { surfaces_ = on; }
  bool do_surface_simplification() const { return surfaces_; }

 private:
  double tol_ = 1.0e-6;
  bool curves_ = true;
  bool surfaces_ = true;
};
