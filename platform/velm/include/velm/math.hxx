// Math value types of the kernel: positions, vectors, parameter points, boxes,
// intervals, matrices and transforms. Plain values; no kernel allocation.
#pragma once

#include <cfloat>

// Resolutions, in model units (millimetres). Defined once in math.cpp.
extern const double QELresabs;  // absolute position resolution
extern const double QELresnor;  // direction / normal resolution
extern const double QELresfit;  // fit tolerance of approximations
extern const double QELresmch;  // machine resolution

// Knots closer than this are one knot.
double bs3_curve_knottol();

class QELvector;
class QELunit_vector;
class QELmatrix;
class QELtransf;

class QELposition {
 public:
  QELposition() = default;
  QELposition(double x, double y, double z) : c_{x, y, z} {}
  double x() const { return c_[0]; }
  double y() const { return c_[1]; }
  double z() const { return c_[2]; }
  void set_x(double v) { c_[0] = v; }
  void set_y(double v) { c_[1] = v; }
  void set_z(double v) { c_[2] = v; }
  double operator[](int i) const { return c_[i]; }
  double& operator[](int i) { return c_[i]; }

 private:
  double c_[3] = {0.0, 0.0, 0.0};
};

class QELvector {
 public:
  QELvector() = default;
  QELvector(double x, double y, double z) : c_{x, y, z} {}
  double x() const { return c_[0]; }
  double y() const { return c_[1]; }
  double z() const { return c_[2]; }
  void set_x(double v) { c_[0] = v; }
  void set_y(double v) { c_[1] = v; }
  void set_z(double v) { c_[2] = v; }
  double operator[](int i) const { return c_[i]; }
  double& operator[](int i) { return c_[i]; }
  double len() const;
  double len_sq() const { return c_[0] * c_[0] + c_[1] * c_[1] + c_[2] * c_[2]; }
  QELvector& operator+=(const QELvector& o);
  QELvector& operator-=(const QELvector& o);
  QELvector& operator*=(double f);
  QELvector& operator/=(double f);

 private:
  double c_[3] = {0.0, 0.0, 0.0};
};

// A direction of length one; a zero input stays (0, 0, 0) and says so.
class QELunit_vector : public QELvector {
 public:
  QELunit_vector() : QELvector(0.0, 0.0, 1.0) {}
  QELunit_vector(double x, double y, double z);
  explicit QELunit_vector(const QELvector& v) : QELunit_vector(v.x(), v.y(), v.z()) {}
  bool is_zero() const { return len_sq() == 0.0; }
};

QELvector operator-(const QELposition& a, const QELposition& b);
QELposition operator+(const QELposition& p, const QELvector& v);
QELposition operator-(const QELposition& p, const QELvector& v);
QELvector operator+(const QELvector& a, const QELvector& b);
QELvector operator-(const QELvector& a, const QELvector& b);
QELvector operator-(const QELvector& a);
QELunit_vector operator-(const QELunit_vector& a);
QELvector operator*(double f, const QELvector& v);
QELvector operator*(const QELvector& v, double f);
QELvector operator/(const QELvector& v, double f);
double operator%(const QELvector& a, const QELvector& b);          // dot product
QELvector operator*(const QELvector& a, const QELvector& b);       // cross product
double dot(const QELvector& a, const QELvector& b);
QELvector cross(const QELvector& a, const QELvector& b);
QELunit_vector normalise(const QELvector& v);
// The point a + f (b - a).
QELposition interpolate(double f, const QELposition& a, const QELposition& b);
double distance(const QELposition& a, const QELposition& b);

struct QELpar_vec {
  double du = 0.0;
  double dv = 0.0;
  QELpar_vec() = default;
  QELpar_vec(double du_, double dv_) : du(du_), dv(dv_) {}
  double len() const;
};

struct QELpar_pos {
  double u = 0.0;
  double v = 0.0;
  QELpar_pos() = default;
  QELpar_pos(double u_, double v_) : u(u_), v(v_) {}
};

QELpar_vec operator-(const QELpar_pos& a, const QELpar_pos& b);
QELpar_pos operator+(const QELpar_pos& p, const QELpar_vec& d);
QELpar_vec operator+(const QELpar_vec& a, const QELpar_vec& b);
QELpar_vec operator-(const QELpar_vec& a, const QELpar_vec& b);
QELpar_vec operator*(double f, const QELpar_vec& d);

// Axis-aligned box; the default box is empty.
class QELbox {
 public:
  QELbox() = default;
  QELbox(const QELposition& low, const QELposition& high);  // corners in any order
  explicit QELbox(const QELposition& p) : QELbox(p, p) {}
  const QELposition& low() const { return low_; }
  const QELposition& high() const { return high_; }
  bool empty() const { return empty_; }
  QELposition mid() const;
  double diagonal() const;  // 0 for an empty box
  QELbox& operator|=(const QELbox& o);
  QELbox& operator|=(const QELposition& p);

 private:
  QELposition low_, high_;
  bool empty_ = true;
};

QELbox operator|(const QELbox& a, const QELbox& b);
// Containment within QELresabs; an empty box contains nothing and is in everything.
bool operator>>(const QELbox& outer, const QELbox& inner);
bool operator>>(const QELbox& box, const QELposition& p);
QELbox enlarge_box(const QELbox& box, double d);

enum interval_type {
  interval_unset = 0,
  interval_bounded = 1,
  interval_bounded_below = 2,  // high end +infinite
  interval_bounded_above = 3,  // low end -infinite
  interval_unbounded = 4
};

// Parameter interval. An unbounded end reads as -DBL_MAX / +DBL_MAX, so no
// arithmetic on it yields infinities or NaNs.
class QELinterval {
 public:
  QELinterval() = default;
  QELinterval(double low, double high) : type_(interval_bounded), low_(low), high_(high) {}
  QELinterval(interval_type type, double low, double high);
  interval_type type() const { return type_; }
  double start_pt() const { return low_; }
  double end_pt() const { return high_; }
  bool finite() const { return type_ == interval_bounded; }
  bool infinite() const { return type_ >= interval_bounded_below; }
  bool bounded_below() const { return type_ == interval_bounded || type_ == interval_bounded_below; }
  bool bounded_above() const { return type_ == interval_bounded || type_ == interval_bounded_above; }
  // Unset, or finite with low > high.
  bool empty() const { return type_ == interval_unset || (type_ == interval_bounded && low_ > high_); }
  double length() const;  // DBL_MAX when infinite, 0 when empty
  double mid_pt() const;
  double interpolate(double f) const { return low_ + f * (high_ - low_); }
  QELinterval operator-() const;
  QELinterval& operator+=(double shift);
  QELinterval& operator*=(double scale);  // a negative scale reverses the interval

 private:
  interval_type type_ = interval_unset;
  double low_ = 0.0;
  double high_ = 0.0;
};

// Same type and ends within QELresabs; all empty intervals are equal.
bool operator==(const QELinterval& a, const QELinterval& b);
QELinterval operator&(const QELinterval& a, const QELinterval& b);  // intersection
QELinterval operator|(const QELinterval& a, const QELinterval& b);  // hull
QELinterval operator+(const QELinterval& i, double shift);
QELinterval operator*(const QELinterval& i, double scale);
// Both forms read "left contains right", closed ends widened by QELresabs.
bool operator<<(const QELinterval& a, const QELinterval& b);
bool operator>>(const QELinterval& a, const QELinterval& b);
// Strict interior: low + QELresabs < x < high - QELresabs.
bool operator>>(const QELinterval& i, double x);

class QELpar_box {
 public:
  QELpar_box() = default;
  QELpar_box(const QELinterval& u, const QELinterval& v) : u_(u), v_(v) {}
  const QELinterval& u_range() const { return u_; }
  const QELinterval& v_range() const { return v_; }
  QELpar_pos low() const { return {u_.start_pt(), v_.start_pt()}; }
  QELpar_pos high() const { return {u_.end_pt(), v_.end_pt()}; }
  QELpar_pos mid() const { return {u_.mid_pt(), v_.mid_pt()}; }
  bool empty() const { return u_.empty() || v_.empty(); }
  void enlarge(double du, double dv);

 private:
  QELinterval u_, v_;
};

QELpar_box operator|(const QELpar_box& a, const QELpar_box& b);
bool operator>>(const QELpar_box& outer, const QELpar_box& inner);
bool operator>>(const QELpar_box& box, const QELpar_pos& p);  // closed, widened by QELresabs

// 3 x 3 matrix, read with row vectors (v' = v M).
class QELmatrix {
 public:
  QELmatrix();  // identity
  QELmatrix(const QELvector& c0, const QELvector& c1, const QELvector& c2);  // columns
  explicit QELmatrix(const double rows[9]);                                 // row by row
  QELvector column(int j) const { return {m_[0][j], m_[1][j], m_[2][j]}; }
  QELvector row(int i) const { return {m_[i][0], m_[i][1], m_[i][2]}; }
  double element(int i, int j) const { return m_[i][j]; }
  void set_element(int i, int j, double v) { m_[i][j] = v; }
  double determinant() const;
  QELmatrix transpose() const;
  QELmatrix inverse() const;  // identity when singular
  bool is_identity(double tol = QELresnor) const;

 private:
  double m_[3][3];
};

QELmatrix operator*(const QELmatrix& a, const QELmatrix& b);
QELvector operator*(const QELvector& v, const QELmatrix& m);

// p' = s (p M) + t. Reflection and shear are read from M and s, never taken on trust.
class QELtransf {
 public:
  QELtransf() = default;
  QELtransf(const QELmatrix& affine, const QELvector& translation, double scale, bool rotate,
            bool reflect, bool shear);
  const QELmatrix& affine() const { return m_; }
  const QELvector& translation() const { return t_; }
  double scaling() const { return s_; }
  bool rotate() const { return rotate_; }
  bool reflect() const { return reflect_; }
  bool shear() const { return shear_; }
  bool identity() const;
  QELtransf operator*(const QELtransf& then) const;  // this first, then the argument
  QELtransf& operator*=(const QELtransf& then) { return *this = *this * then; }
  QELtransf inverse() const;

 private:
  void derive_flags();
  QELmatrix m_;
  QELvector t_;
  double s_ = 1.0;
  bool rotate_ = false, reflect_ = false, shear_ = false;
};

QELtransf restore_transf(const QELmatrix& affine, const QELvector& translation, double scale,
                         int rotate, int reflect, int shear);
QELtransf translate_transf(const QELvector& v);
// Right-handed rotation about an axis through the origin.
QELtransf rotate_transf(double angle, const QELvector& axis);
QELtransf scale_transf(double s);

QELposition operator*(const QELposition& p, const QELtransf& t);
QELvector operator*(const QELvector& v, const QELtransf& t);
QELunit_vector operator*(const QELunit_vector& v, const QELtransf& t);
QELposition operator*(const QELposition& p, const QELmatrix& m);
QELbox operator*(const QELbox& b, const QELtransf& t);  // box of the transformed corners
QELposition& operator*=(QELposition& p, const QELtransf& t);
QELvector& operator*=(QELvector& v, const QELtransf& t);

// (u, v) -> (uscale u + uoffset, vscale v + voffset).
class QELpar_transf {
 public:
  QELpar_transf() = default;
  QELpar_transf(double uscale, double vscale, double uoffset, double voffset);
  bool identity() const { return identity_; }
  double uscale() const { return us_; }
  double vscale() const { return vs_; }
  double uoffset() const { return uo_; }
  double voffset() const { return vo_; }

 private:
  double us_ = 1.0, vs_ = 1.0, uo_ = 0.0, vo_ = 0.0;
  bool identity_ = true;
};

QELpar_pos operator*(const QELpar_pos& p, const QELpar_transf& t);

bool same_point(const QELposition& a, const QELposition& b, double tol = QELresabs);
bool same_vector(const QELvector& a, const QELvector& b, double tol = QELresnor);
// Same or opposite direction; a zero vector is parallel to every vector.
bool parallel(const QELvector& a, const QELvector& b, double tol = QELresnor);

class rgb_color {
 public:
  rgb_color() = default;
  rgb_color(double red, double green, double blue) : r_(red), g_(green), b_(blue) {}
  double red() const { return r_; }
  double green() const { return g_; }
  double blue() const { return b_; }
  bool operator==(const rgb_color&) const = default;

 private:
  double r_ = 0.0, g_ = 0.0, b_ = 0.0;
};
