#include "velm/math.hxx"

#include <algorithm>
#include <cmath>

const double QELresabs = 1.0e-6;
const double QELresnor = 1.0e-10;
const double QELresfit = 1.0e-3;
const double QELresmch = 1.0e-11;

double bs3_curve_knottol() { return 1.0e-10; }

// ---- vectors and positions ----

double QELvector::len() const { return std::sqrt(len_sq()); }

QELvector& QELvector::operator+=(const QELvector& o) {
  for (int i = 0; i < 3; ++i) c_[i] += o.c_[i];
  return *this;
}
QELvector& QELvector::operator-=(const QELvector& o) {
  for (int i = 0; i < 3; ++i) c_[i] -= o.c_[i];
  return *this;
}
QELvector& QELvector::operator*=(double f) {
  for (double& c : c_) c *= f;
  return *this;
}
QELvector& QELvector::operator/=(double f) { return *this *= 1.0 / f; }

QELunit_vector::QELunit_vector(double x, double y, double z) : QELvector(x, y, z) {
  const double l = len();
  if (l > 0.0 && std::isfinite(l))
    *this *= 1.0 / l;
  else
    static_cast<QELvector&>(*this) = QELvector();
}

QELvector operator-(const QELposition& a, const QELposition& b) {
  return {a.x() - b.x(), a.y() - b.y(), a.z() - b.z()};
}
QELposition operator+(const QELposition& p, const QELvector& v) {
  return {p.x() + v.x(), p.y() + v.y(), p.z() + v.z()};
}
QELposition operator-(const QELposition& p, const QELvector& v) { return p + (-v); }
QELvector operator+(const QELvector& a, const QELvector& b) { return QELvector(a) += b; }
QELvector operator-(const QELvector& a, const QELvector& b) { return QELvector(a) -= b; }
QELvector operator-(const QELvector& a) { return {-a.x(), -a.y(), -a.z()}; }
QELunit_vector operator-(const QELunit_vector& a) {
  QELunit_vector r = a;
  r *= -1.0;
  return r;
}
QELvector operator*(double f, const QELvector& v) { return QELvector(v) *= f; }
QELvector operator*(const QELvector& v, double f) { return QELvector(v) *= f; }
QELvector operator/(const QELvector& v, double f) { return QELvector(v) /= f; }
double operator%(const QELvector& a, const QELvector& b) {
  return a.x() * b.x() + a.y() * b.y() + a.z() * b.z();
}
QELvector operator*(const QELvector& a, const QELvector& b) {
  return {a.y() * b.z() - a.z() * b.y(), a.z() * b.x() - a.x() * b.z(),
          a.x() * b.y() - a.y() * b.x()};
}
double dot(const QELvector& a, const QELvector& b) { return a % b; }
QELvector cross(const QELvector& a, const QELvector& b) { return a * b; }
QELunit_vector normalise(const QELvector& v) { return QELunit_vector(v); }
QELposition interpolate(double f, const QELposition& a, const QELposition& b) {
  return a + f * (b - a);
}
double distance(const QELposition& a, const QELposition& b) { return (a - b).len(); }

// ---- parameter points ----

double QELpar_vec::len() const { return std::hypot(du, dv); }
QELpar_vec operator-(const QELpar_pos& a, const QELpar_pos& b) { return {a.u - b.u, a.v - b.v}; }
QELpar_pos operator+(const QELpar_pos& p, const QELpar_vec& d) { return {p.u + d.du, p.v + d.dv}; }
QELpar_vec operator+(const QELpar_vec& a, const QELpar_vec& b) { return {a.du + b.du, a.dv + b.dv}; }
QELpar_vec operator-(const QELpar_vec& a, const QELpar_vec& b) { return {a.du - b.du, a.dv - b.dv}; }
QELpar_vec operator*(double f, const QELpar_vec& d) { return {f * d.du, f * d.dv}; }

// ---- boxes ----

QELbox::QELbox(const QELposition& low, const QELposition& high) : empty_(false) {
  for (int i = 0; i < 3; ++i) {
    low_[i] = std::min(low[i], high[i]);
    high_[i] = std::max(low[i], high[i]);
  }
}

QELposition QELbox::mid() const { return interpolate(0.5, low_, high_); }
double QELbox::diagonal() const { return empty_ ? 0.0 : distance(low_, high_); }

QELbox& QELbox::operator|=(const QELbox& o) {
  if (o.empty_) return *this;
  if (empty_) return *this = o;
  for (int i = 0; i < 3; ++i) {
    low_[i] = std::min(low_[i], o.low_[i]);
    high_[i] = std::max(high_[i], o.high_[i]);
  }
  return *this;
}
QELbox& QELbox::operator|=(const QELposition& p) { return *this |= QELbox(p); }
QELbox operator|(const QELbox& a, const QELbox& b) { return QELbox(a) |= b; }

bool operator>>(const QELbox& outer, const QELbox& inner) {
  if (inner.empty()) return true;
  if (outer.empty()) return false;
  for (int i = 0; i < 3; ++i)
    if (inner.low()[i] < outer.low()[i] - QELresabs || inner.high()[i] > outer.high()[i] + QELresabs)
      return false;
  return true;
}
bool operator>>(const QELbox& box, const QELposition& p) { return box >> QELbox(p); }

QELbox enlarge_box(const QELbox& box, double d) {
  if (box.empty()) return box;
  const QELvector g(d, d, d);
  return QELbox(box.low() - g, box.high() + g);
}

// ---- intervals ----

QELinterval::QELinterval(interval_type type, double low, double high)
    : type_(type), low_(low), high_(high) {
  if (!bounded_below()) low_ = type_ == interval_unset ? 0.0 : -DBL_MAX;
  if (!bounded_above()) high_ = type_ == interval_unset ? 0.0 : DBL_MAX;
}

double QELinterval::length() const {
  if (empty()) return 0.0;
  return finite() ? high_ - low_ : DBL_MAX;
}

double QELinterval::mid_pt() const {
  // Halves first, so unbounded ends do not overflow.
  return 0.5 * low_ + 0.5 * high_;
}

QELinterval QELinterval::operator-() const {
  static const interval_type negated[] = {interval_unset, interval_bounded, interval_bounded_above,
                                          interval_bounded_below, interval_unbounded};
  QELinterval r;
  r.type_ = negated[type_];
  r.low_ = -high_;
  r.high_ = -low_;
  return r;
}

QELinterval& QELinterval::operator+=(double shift) {
  if (bounded_below()) low_ += shift;
  if (bounded_above()) high_ += shift;
  return *this;
}

QELinterval& QELinterval::operator*=(double scale) {
  if (scale < 0.0) {
    *this = -*this;
    scale = -scale;
  }
  if (bounded_below()) low_ *= scale;
  if (bounded_above()) high_ *= scale;
  return *this;
}

QELinterval operator+(const QELinterval& i, double shift) { return QELinterval(i) += shift; }
QELinterval operator*(const QELinterval& i, double scale) { return QELinterval(i) *= scale; }

bool operator==(const QELinterval& a, const QELinterval& b) {
  if (a.empty() || b.empty()) return a.empty() && b.empty();
  return a.type() == b.type() && std::fabs(a.start_pt() - b.start_pt()) <= QELresabs &&
         std::fabs(a.end_pt() - b.end_pt()) <= QELresabs;
}

namespace {
interval_type type_of(bool below, bool above) {
  if (below && above) return interval_bounded;
  if (below) return interval_bounded_below;
  if (above) return interval_bounded_above;
  return interval_unbounded;
}
}  // namespace

QELinterval operator&(const QELinterval& a, const QELinterval& b) {
  if (a.empty() || b.empty()) return QELinterval();
  const bool below = a.bounded_below() || b.bounded_below();
  const bool above = a.bounded_above() || b.bounded_above();
  const QELinterval r(type_of(below, above), std::max(a.start_pt(), b.start_pt()),
                      std::min(a.end_pt(), b.end_pt()));
  return r.empty() ? QELinterval() : r;
}

QELinterval operator|(const QELinterval& a, const QELinterval& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  const bool below = a.bounded_below() && b.bounded_below();
  const bool above = a.bounded_above() && b.bounded_above();
  return QELinterval(type_of(below, above), std::min(a.start_pt(), b.start_pt()),
                     std::max(a.end_pt(), b.end_pt()));
}

bool operator>>(const QELinterval& a, const QELinterval& b) {
  if (b.empty()) return true;
  if (a.empty()) return false;
  if (a.bounded_below() && (!b.bounded_below() || b.start_pt() < a.start_pt() - QELresabs))
    return false;
  if (a.bounded_above() && (!b.bounded_above() || b.end_pt() > a.end_pt() + QELresabs))
    return false;
  return true;
}
bool operator<<(const QELinterval& a, const QELinterval& b) { return a >> b; }

bool operator>>(const QELinterval& i, double x) {
  if (i.empty()) return false;
  return (!i.bounded_below() || x > i.start_pt() + QELresabs) &&
         (!i.bounded_above() || x < i.end_pt() - QELresabs);
}

void QELpar_box::enlarge(double du, double dv) {
  u_ = QELinterval(u_.type(), u_.start_pt() - du, u_.end_pt() + du);
  v_ = QELinterval(v_.type(), v_.start_pt() - dv, v_.end_pt() + dv);
}

QELpar_box operator|(const QELpar_box& a, const QELpar_box& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return {a.u_range() | b.u_range(), a.v_range() | b.v_range()};
}

bool operator>>(const QELpar_box& outer, const QELpar_box& inner) {
  if (inner.empty()) return true;
  return (outer.u_range() >> inner.u_range()) && (outer.v_range() >> inner.v_range());
}

bool operator>>(const QELpar_box& box, const QELpar_pos& p) {
  return box >> QELpar_box(QELinterval(p.u, p.u), QELinterval(p.v, p.v));
}

// ---- matrices ----

QELmatrix::QELmatrix() : m_{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}} {}

QELmatrix::QELmatrix(const QELvector& c0, const QELvector& c1, const QELvector& c2) {
  for (int i = 0; i < 3; ++i) {
    m_[i][0] = c0[i];
    m_[i][1] = c1[i];
    m_[i][2] = c2[i];
  }
}

QELmatrix::QELmatrix(const double rows[9]) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m_[i][j] = rows[3 * i + j];
}

double QELmatrix::determinant() const { return row(0) % (row(1) * row(2)); }

QELmatrix QELmatrix::transpose() const { return QELmatrix(row(0), row(1), row(2)); }

QELmatrix QELmatrix::inverse() const {
  const double d = determinant();
  if (d == 0.0) return QELmatrix();
  // Columns of the inverse are the cross products of the rows, over the determinant.
  return QELmatrix(row(1) * row(2) / d, row(2) * row(0) / d, row(0) * row(1) / d);
}

bool QELmatrix::is_identity(double tol) const {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (std::fabs(m_[i][j] - (i == j ? 1.0 : 0.0)) > tol) return false;
  return true;
}

QELmatrix operator*(const QELmatrix& a, const QELmatrix& b) {
  QELmatrix r;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) r.set_element(i, j, a.row(i) % b.column(j));
  return r;
}

QELvector operator*(const QELvector& v, const QELmatrix& m) {
  return {v % m.column(0), v % m.column(1), v % m.column(2)};
}

// ---- transforms ----

QELtransf::QELtransf(const QELmatrix& affine, const QELvector& translation, double scale,
                     bool rotate, bool, bool)
    : m_(affine), t_(translation), s_(scale), rotate_(rotate) {
  derive_flags();
}

void QELtransf::derive_flags() {
  reflect_ = s_ * s_ * s_ * m_.determinant() < 0.0;
  const QELmatrix g = m_.transpose() * m_;
  const double k = (g.element(0, 0) + g.element(1, 1) + g.element(2, 2)) / 3.0;
  const double tol = QELresnor * std::max(1.0, k);
  shear_ = false;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      if (std::fabs(g.element(i, j) - (i == j ? k : 0.0)) > tol) shear_ = true;
}

bool QELtransf::identity() const {
  return m_.is_identity() && t_.len() <= QELresabs && std::fabs(s_ - 1.0) <= QELresnor;
}

QELtransf QELtransf::operator*(const QELtransf& b) const {
  // p'' = sb ((sa p Ma + ta) Mb) + tb
  QELtransf r;
  r.m_ = m_ * b.m_;
  r.s_ = s_ * b.s_;
  r.t_ = b.s_ * (t_ * b.m_) + b.t_;
  r.rotate_ = !r.m_.is_identity();
  r.derive_flags();
  return r;
}

QELtransf QELtransf::inverse() const {
  QELtransf r;
  r.m_ = m_.inverse();
  r.s_ = 1.0 / s_;
  r.t_ = -(t_ * r.m_) / s_;
  r.rotate_ = rotate_;
  r.derive_flags();
  return r;
}

QELtransf restore_transf(const QELmatrix& affine, const QELvector& translation, double scale,
                         int rotate, int reflect, int shear) {
  return QELtransf(affine, translation, scale, rotate != 0, reflect != 0, shear != 0);
}

QELtransf translate_transf(const QELvector& v) {
  return QELtransf(QELmatrix(), v, 1.0, false, false, false);
}

QELtransf rotate_transf(double angle, const QELvector& axis) {
  const QELunit_vector k(axis);
  const double c = std::cos(angle), s = std::sin(angle);
  // Row i is the image of the i-th unit vector (Rodrigues' formula).
  double rows[9];
  for (int i = 0; i < 3; ++i) {
    QELvector e;
    e[i] = 1.0;
    const QELvector r = c * e + s * (k * e) + ((1.0 - c) * (k % e)) * k;
    for (int j = 0; j < 3; ++j) rows[3 * i + j] = r[j];
  }
  return QELtransf(QELmatrix(rows), QELvector(), 1.0, true, false, false);
}

QELtransf scale_transf(double s) { return QELtransf(QELmatrix(), QELvector(), s, false, false, false); }

QELposition operator*(const QELposition& p, const QELmatrix& m) {
  const QELvector v = QELvector(p.x(), p.y(), p.z()) * m;
  return {v.x(), v.y(), v.z()};
}

QELposition operator*(const QELposition& p, const QELtransf& t) {
  const QELvector v = t.scaling() * (QELvector(p.x(), p.y(), p.z()) * t.affine()) + t.translation();
  return {v.x(), v.y(), v.z()};
}

QELvector operator*(const QELvector& v, const QELtransf& t) { return t.scaling() * (v * t.affine()); }

QELunit_vector operator*(const QELunit_vector& v, const QELtransf& t) {
  return QELunit_vector(static_cast<const QELvector&>(v) * t);
}

QELbox operator*(const QELbox& b, const QELtransf& t) {
  if (b.empty()) return b;
  QELbox r;
  for (int corner = 0; corner < 8; ++corner) {
    const QELposition c((corner & 1 ? b.high() : b.low()).x(), (corner & 2 ? b.high() : b.low()).y(),
                        (corner & 4 ? b.high() : b.low()).z());
    r |= c * t;
  }
  return r;
}

QELposition& operator*=(QELposition& p, const QELtransf& t) { return p = p * t; }
QELvector& operator*=(QELvector& v, const QELtransf& t) { return v = v * t; }

QELpar_transf::QELpar_transf(double uscale, double vscale, double uoffset, double voffset)
    : us_(uscale), vs_(vscale), uo_(uoffset), vo_(voffset),
      identity_(uscale == 1.0 && vscale == 1.0 && uoffset == 0.0 && voffset == 0.0) {}

QELpar_pos operator*(const QELpar_pos& p, const QELpar_transf& t) {
  return {t.uscale() * p.u + t.uoffset(), t.vscale() * p.v + t.voffset()};
}

// ---- comparisons ----

// Squared lengths: the checks compare every neighbouring control point pair.
bool same_point(const QELposition& a, const QELposition& b, double tol) {
  const double dx = a.x() - b.x(), dy = a.y() - b.y(), dz = a.z() - b.z();
  return tol >= 0.0 && dx * dx + dy * dy + dz * dz <= tol * tol;
}

bool same_vector(const QELvector& a, const QELvector& b, double tol) { return (a - b).len() <= tol; }

bool parallel(const QELvector& a, const QELvector& b, double tol) {
  const QELunit_vector ua(a), ub(b);
  if (ua.is_zero() || ub.is_zero()) return true;
  return (ua * ub).len() <= tol;
}
