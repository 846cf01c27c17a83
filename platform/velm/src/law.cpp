// Laws: base behaviour, numerical derivatives, the constant, vector and surface
// kinds, and the kernel's law table.
#include "velm/law.hxx"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>

int new_law_id() {
  static int next = 100;
  return next++;
}

int law::id() {
  static const int value = new_law_id();
  return value;
}
int constant_law::id() {
  static const int value = new_law_id();
  return value;
}
int vector_law::id() {
  static const int value = new_law_id();
  return value;
}
int unary_data_law::id() {
  static const int value = new_law_id();
  return value;
}
int surface_law::id() {
  static const int value = new_law_id();
  return value;
}

void law::remove() {
  if (--use_count_ <= 0) delete this;
}

void law_data::remove() {
  if (--use_count_ <= 0) delete this;
}

namespace {
// d/dx_which of a law by central differences; holds one use of the law.
class difference_law : public law {
 public:
  difference_law(const law* of, int which) : of_(const_cast<law*>(of)), which_(which) { of_->add(); }
  ~difference_law() override { of_->remove(); }
  int take_size() const override { return of_->take_size(); }
  int return_size() const override { return of_->return_size(); }
  void evaluate(const double* x, double* answer) const override {
    const int nt = take_size(), nr = return_size();
    double lo[8] = {}, hi[8] = {}, a[8] = {}, b[8] = {};
    std::copy(x, x + std::min(nt, 8), lo);
    std::copy(x, x + std::min(nt, 8), hi);
    const double h = 1e-5 * std::max(1.0, std::fabs(x[which_]));
    lo[which_] -= h;
    hi[which_] += h;
    of_->evaluate(lo, a);
    of_->evaluate(hi, b);
    for (int i = 0; i < std::min(nr, 8); ++i) answer[i] = (b[i] - a[i]) / (2 * h);
  }
  const char* class_name() const override { return "difference_law"; }

 private:
  law* of_;
  int which_;
};
}  // namespace

law* law::deriv(int which) const {
  if (which < 0 || which >= std::min(take_size(), 8)) return nullptr;
  return velm_require(VELM_NEW difference_law(this, which));
}

double law::evaluateVAR(double x0, double x1) const {
  const double x[2] = {x0, x1};
  double answer[8] = {};
  evaluate(x, answer);
  return answer[0];
}

char* law::string() const {
  const char* s = symbol();
  char* r = new char[std::strlen(s) + 1];
  std::strcpy(r, s);
  return r;
}

bool law::in_domain(const double* x) const {
  if (domain_.type() == interval_unset) return true;
  return (!domain_.bounded_below() || x[0] >= domain_.start_pt() - QELresabs) &&
         (!domain_.bounded_above() || x[0] <= domain_.end_pt() + QELresabs);
}

void law::set_domain(const QELinterval* d) { domain_ = d ? *d : QELinterval(); }
void law::set_range(const QELinterval* r) { range_ = r ? *r : QELinterval(); }

law* constant_law::deriv(int) const { return velm_require(VELM_NEW constant_law(0.0)); }
law* constant_law::deep_copy() const { return velm_require(VELM_NEW constant_law(value_)); }

void vector_law::evaluate(const double*, double* answer) const {
  for (int i = 0; i < 3; ++i) answer[i] = value_[i];
}
law* vector_law::deriv(int) const { return velm_require(VELM_NEW vector_law(QELvector())); }
law* vector_law::deep_copy() const { return velm_require(VELM_NEW vector_law(value_)); }

unary_data_law::unary_data_law(law_data* data) : data_(data) {}
unary_data_law::unary_data_law(const unary_data_law& o) : law(o), data_(o.data_) {
  if (data_) data_->add();
}
unary_data_law::~unary_data_law() {
  if (data_) data_->remove();
}

surface_law_data::surface_law_data(const surface& srf, const QELpar_box& box)
    : srf_(srf.make_copy()), box_(box) {}
surface_law_data::surface_law_data(const surface_law_data& o)
    : law_data(o), srf_(o.srf_->make_copy()), box_(o.box_) {}
surface_law_data::~surface_law_data() { delete srf_; }
law_data* surface_law_data::deep_copy() const { return velm_require(VELM_NEW surface_law_data(*this)); }

surface_law::surface_law(surface_law_data* data) : unary_data_law(data) {}

void surface_law::evaluate(const double* x, double* answer) const {
  const QELposition p = surface_data().srf().eval_position(QELpar_pos(x[0], x[1]));
  for (int i = 0; i < 3; ++i) answer[i] = p[i];
}

law* surface_law::deep_copy() const {
  return velm_require(VELM_NEW surface_law(static_cast<surface_law_data*>(surface_data().deep_copy())));
}

// ---- the law table ----
namespace {
std::map<int, law*>& table() {
  static std::map<int, law*> t;
  return t;
}
}  // namespace

void law_add(law* l) {
  if (!l) return;
  l->add();
  law*& slot = table()[l->type()];
  if (slot) slot->remove();
  slot = l;
}

law* law_find(int type) {
  auto it = table().find(type);
  return it == table().end() ? nullptr : it->second;
}

void law_clear_table() {
  for (auto& [type, l] : table()) l->remove();
  table().clear();
}
