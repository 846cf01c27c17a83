// Conversions between the kernel's B-spline arrays and Open CASCADE's.
#include "occ_bridge.hxx"

#include <BSplCLib.hxx>
#include <Standard_ConstructionError.hxx>
#include <TColStd_Array2OfReal.hxx>
#include <TColgp_Array1OfPnt.hxx>
#include <TColgp_Array2OfPnt.hxx>

gp_Pnt to_gp(const QELposition& p) { return gp_Pnt(p.x(), p.y(), p.z()); }
QELposition from_gp(const gp_Pnt& p) { return QELposition(p.X(), p.Y(), p.Z()); }

void split_knots(const std::vector<double>& full, Handle(TColStd_HArray1OfReal)& k,
                 Handle(TColStd_HArray1OfInteger)& m) {
  TColStd_Array1OfReal flat(1, static_cast<int>(full.size()));
  for (size_t i = 0; i < full.size(); ++i) flat(static_cast<int>(i) + 1) = full[i];
  const int n = BSplCLib::KnotsLength(flat, Standard_False);
  k = new TColStd_HArray1OfReal(1, n);
  m = new TColStd_HArray1OfInteger(1, n);
  BSplCLib::Knots(flat, k->ChangeArray1(), m->ChangeArray1(), Standard_False);
}

Handle(Geom_BSplineCurve) to_occ(const bs_curve_data& c) {
  // Checked first: Open CASCADE's constructors read past short arrays and
  // take numbers that are not finite (every caller handles its failure).
  if (const char* why = bs_curve_problem(c)) throw Standard_ConstructionError(why);
  TColgp_Array1OfPnt poles(1, c.n());
  TColStd_Array1OfReal w(1, c.n());
  for (int i = 0; i < c.n(); ++i) {
    poles(i + 1) = to_gp(c.pts[i]);
    w(i + 1) = c.weight(i);
  }
  Handle(TColStd_HArray1OfReal) k;
  Handle(TColStd_HArray1OfInteger) m;
  split_knots(c.dir.knots, k, m);
  if (c.rational) return new Geom_BSplineCurve(poles, w, k->Array1(), m->Array1(), c.dir.degree);
  return new Geom_BSplineCurve(poles, k->Array1(), m->Array1(), c.dir.degree);
}

void from_occ(const Handle(Geom_BSplineCurve)& h, bs_curve_data& c, bool keep_rational) {
  if (h->IsPeriodic()) h->SetNotPeriodic();
  const int n = h->NbPoles(), p = h->Degree();
  c.dir.degree = p;
  c.pts.resize(n);
  for (int i = 1; i <= n; ++i) c.pts[i - 1] = from_gp(h->Pole(i));
  c.rational = keep_rational || h->IsRational();
  c.weights.clear();
  if (c.rational)
    for (int i = 1; i <= n; ++i) c.weights.push_back(h->Weight(i));
  TColStd_Array1OfReal flat(1, n + p + 1);
  h->KnotSequence(flat);
  c.dir.knots.assign(flat.begin(), flat.end());
}

Handle(Geom_BSplineSurface) to_occ(const bs3_surf_def& s) {
  if (const char* why = bs_surface_problem(s)) throw Standard_ConstructionError(why);
  TColgp_Array2OfPnt poles(1, s.nu(), 1, s.nv());
  TColStd_Array2OfReal w(1, s.nu(), 1, s.nv());
  for (int i = 0; i < s.nu(); ++i)
    for (int j = 0; j < s.nv(); ++j) {
      poles(i + 1, j + 1) = to_gp(s.pt(i, j));
      w(i + 1, j + 1) = s.weight(i, j);
    }
  Handle(TColStd_HArray1OfReal) uk, vk;
  Handle(TColStd_HArray1OfInteger) um, vm;
  split_knots(s.u.knots, uk, um);
  split_knots(s.v.knots, vk, vm);
  if (s.rational)
    return new Geom_BSplineSurface(poles, w, uk->Array1(), vk->Array1(), um->Array1(), vm->Array1(), s.u.degree,
                                   s.v.degree);
  return new Geom_BSplineSurface(poles, uk->Array1(), vk->Array1(), um->Array1(), vm->Array1(), s.u.degree,
                                 s.v.degree);
}

void from_occ(const Handle(Geom_BSplineSurface)& h, bs3_surf_def& s) {
  const int nu = h->NbUPoles(), nv = h->NbVPoles();
  s.u.degree = h->UDegree();
  s.v.degree = h->VDegree();
  TColStd_Array1OfReal uf(1, nu + s.u.degree + 1), vf(1, nv + s.v.degree + 1);
  h->UKnotSequence(uf);
  h->VKnotSequence(vf);
  s.u.knots.assign(uf.begin(), uf.end());
  s.v.knots.assign(vf.begin(), vf.end());
  s.pts.resize(nu * nv);
  s.weights.clear();
  for (int i = 1; i <= nu; ++i)
    for (int j = 1; j <= nv; ++j) {
      s.pts[(i - 1) * nv + (j - 1)] = from_gp(h->Pole(i, j));
      if (s.rational) s.weights.push_back(h->Weight(i, j));
    }
}
