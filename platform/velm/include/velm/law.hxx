// Laws: reference-counted functions R^take -> R^return that sweeps and law
// surfaces evaluate. Derivatives default to central differences.
//
// Every law kind has a type id from new_law_id(); isa(t) is true for the kind's
// own id and for the ids of the kinds it derives from.
#pragma once

#include "velm/geometry.hxx"
#include "velm/math.hxx"
#include "velm/memory.hxx"

class law_data;

// A fresh law type id, distinct from every id given before (built-ins included).
int new_law_id();

class law : public VELM_OBJECT {
 public:
  law() = default;
  law(const law&) : use_count_(1) {}
  law& operator=(const law&) { return *this; }  // the use count stays with the object

  void add() { ++use_count_; }
  // Releases one use; the last one deletes the law.
  void remove();
  int use_count() const { return use_count_; }

  // Virtual slots, in the kernel's order.
  virtual law* deriv(int which) const;  // new law (use count 1)
  virtual law* sub_inverse() const { return nullptr; }
  virtual int take_size() const { return 1; }
  virtual int return_size() const { return 1; }
  virtual ~law() = default;
  virtual law* derivative(int which = 0) const { return deriv(which); }
  virtual void evaluate(const double* x, double* answer) const = 0;
  virtual void evaluate_with_side(const double* x, double* answer, const int*) const { evaluate(x, answer); }
  virtual void evaluate_with_guess(const double* x, double* answer, const double*) const { evaluate(x, answer); }
  // First component at (x0, x1).
  virtual double evaluateVAR(double x0, double x1 = 0.0) const;
  virtual bool isa(int type) const { return type == id(); }
  virtual int type() const { return id(); }
  virtual const char* class_name() const { return "law"; }
  virtual int return_dim() const { return return_size(); }
  virtual int take_dim() const { return take_size(); }
  virtual const char* symbol() const { return "LAW"; }
  virtual int precedence() const { return 0; }
  virtual bool same(const law* other) const { return other == this; }
  virtual char* string() const;  // new[] text of symbol(); caller frees
  virtual int date() const { return 0; }
  virtual law* deep_copy() const { return nullptr; }
  virtual bool polynomial() const { return false; }
  virtual bool identity() const { return false; }
  virtual bool identity(int) const { return false; }
  virtual double term_domain(int) const { return 0.0; }
  virtual bool in_domain(const double* x) const;
  virtual double* singularities(int& n) const {
    n = 0;
    return nullptr;
  }
  virtual void set_domain(const QELinterval* domain);
  virtual void set_range(const QELinterval* range);
  virtual law* sub_simplify(int, const char*& what) const {
    what = nullptr;
    return nullptr;
  }
  virtual void enable_branching(bool) {}
  virtual int branches() const { return 0; }
  virtual int full_size() const { return static_cast<int>(sizeof(law)); }
  virtual bool hasa(int type) const { return isa(type); }
  virtual law* make_one(law_data**, int) const { return nullptr; }

  static int id();

 protected:
  QELinterval domain_, range_;

 private:
  int use_count_ = 1;
};

// Data a law carries (a surface, a curve); reference counted like laws.
class law_data : public VELM_OBJECT {
 public:
  law_data() = default;
  law_data(const law_data&) : use_count_(1) {}
  law_data& operator=(const law_data&) = delete;
  virtual ~law_data() = default;
  void add() { ++use_count_; }
  void remove();
  int use_count() const { return use_count_; }
  virtual law_data* deep_copy() const = 0;

 private:
  int use_count_ = 1;
};

class constant_law : public law {
 public:
  explicit constant_law(double value) : value_(value) {}
  void evaluate(const double*, double* answer) const override { answer[0] = value_; }
  law* deriv(int) const override;
  bool isa(int type) const override { return type == id() || law::isa(type); }
  int type() const override { return id(); }
  const char* class_name() const override { return "constant_law"; }
  const char* symbol() const override { return "CONST"; }
  law* deep_copy() const override;
  bool polynomial() const override { return true; }
  double value() const { return value_; }
  static int id();

 private:
  double value_;
};

class vector_law : public law {
 public:
  explicit vector_law(const QELvector& value) : value_(value) {}
  int return_size() const override { return 3; }
  void evaluate(const double*, double* answer) const override;
  law* deriv(int) const override;
  bool isa(int type) const override { return type == id() || law::isa(type); }
  int type() const override { return id(); }
  const char* class_name() const override { return "vector_law"; }
  const char* symbol() const override { return "VEC"; }
  law* deep_copy() const override;
  bool polynomial() const override { return true; }
  const QELvector& value() const { return value_; }
  static int id();

 private:
  QELvector value_;
};

// A law with one law-data argument (held by one use).
class unary_data_law : public law {
 public:
  explicit unary_data_law(law_data* data = nullptr);
  unary_data_law(const unary_data_law& o);
  ~unary_data_law() override;
  bool isa(int type) const override { return type == id() || law::isa(type); }
  int type() const override { return id(); }
  const char* class_name() const override { return "unary_data_law"; }
  law_data* data() const { return data_; }
  static int id();

 private:
  law_data* data_;
};

class surface_law_data : public law_data {
 public:
  surface_law_data(const surface& srf, const QELpar_box& box);
  surface_law_data(const surface_law_data& o);
  ~surface_law_data() override;
  law_data* deep_copy() const override;
  const surface& srf() const { return *srf_; }
  const QELpar_box& box() const { return box_; }

 private:
  surface* srf_;
  QELpar_box box_;
};

// (u, v) -> the surface point.
class surface_law : public unary_data_law {
 public:
  explicit surface_law(surface_law_data* data);  // takes the caller's use
  int take_size() const override { return 2; }
  int return_size() const override { return 3; }
  void evaluate(const double* x, double* answer) const override;
  bool isa(int type) const override { return type == id() || unary_data_law::isa(type); }
  int type() const override { return id(); }
  const char* class_name() const override { return "surface_law"; }
  const char* symbol() const override { return "SURF"; }
  law* deep_copy() const override;
  const surface_law_data& surface_data() const { return *static_cast<surface_law_data*>(data()); }
  static int id();
};

// The kernel's law table: registers a law (one use) under its type id, so a
// law surface can find its kind again; a later law of the same id replaces it.
void law_add(law* l);
// The registered law of that type id, or null.
law* law_find(int type);
// Empties the table (tests).
void law_clear_table();
