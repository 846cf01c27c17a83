#pragma once
// Framework surfaces: the abstract base surface over foreign or defined
// geometry, the framework surface (base + sense + parameter map), the
// traversal callback, approximation records and the geometry-object table.
#include "qelx/gk_surface_defs.hxx"

#include <cstdint>
#include <vector>

// A 3-D pole and the parameter segment that collapses onto it.
struct Gk_SurfacePole {
    QELXPoint3D point;
    QELXPoint2D start;
    QELXPoint2D end;
};
// The pole list. (The connector's array template needs the kernel's math
// header, which the framework may not include.)
using Gk_SurfacePoleArray = std::vector<Gk_SurfacePole>;

class Gk_ApproxInfo {
public:
    enum Form { Any = 0, NonRational = 1 };
    explicit Gk_ApproxInfo(double tolerance = 0.0, int form = Any) : m_tolerance(tolerance), m_form(form) {}
    virtual ~Gk_ApproxInfo() = default;
    double getTolerance() const { return m_tolerance; }
    int getForm() const { return m_form; }

private:
    double m_tolerance;
    int m_form;
};

// Description of an approximation made. getPCurveState() answers the state:
// 1 (a cone approximation) tells the importer to skip pcurves.
class Gk_SurfApproxInfo : public QELXReferenceCount, public Gk_ApproxInfo {
public:
    enum Enum { General = 0, Cone = 1 };
    Gk_SurfApproxInfo(const Gk_Span& approxBox, const Gk_Span& surfaceBox, Enum state, double tolerance,
                      Gk_ApproxInfo::Form form)
        : Gk_ApproxInfo(tolerance, form), m_approxBox(approxBox), m_surfaceBox(surfaceBox), m_state(state) {}
    int getPCurveState() const { return m_state; }
    const Gk_Span& approxBox() const { return m_approxBox; }
    const Gk_Span& surfaceBox() const { return m_surfaceBox; }
    const char* GetName() const override { return "Gk_SurfApproxInfo"; }

private:
    Gk_Span m_approxBox, m_surfaceBox;
    Enum m_state;
};
using Gk_SurfApproxInfoHandle = QELXTypedHandle<Gk_SurfApproxInfo>;

// Receives the exact definition of a traversed surface with the handedness
// flag of the base's frame. map() is the composed parameter map (a
// framework surface's traverse sets it to its own map), span() the span at
// this level.
class Gk_SurfaceCallback3 {
public:
    virtual ~Gk_SurfaceCallback3() = default;

    virtual void doOffset(const Gk_OffsetSurface3Def&, bool) {}
    virtual void doSpun(const Gk_SpunSurface3Def&, bool) {}
    virtual void doTorus(const Gk_Torus3Def&, bool) {}
    virtual void doCone(const Gk_Cone3Def&, bool) {}
    virtual void doEllipsoid(const Gk_Ellipsoid3Def&, bool) {}
    virtual void doBSpline(const Gk_BSSurface3Def&, bool) {}
    virtual void doPlane(const Gk_Plane3Def&, bool) {}
    virtual void doDefault(const Gk_BaseSurface3&) {}
    virtual void doSwept(const Gk_SweptSurface3Def&, bool) {}

    Gk_BiLinMap& map() { return m_map; }
    const Gk_BiLinMap& map() const { return m_map; }
    void setSpan(const Gk_Span& span) { m_span = span; }
    const Gk_Span& span() const { return m_span; }

private:
    Gk_BiLinMap m_map;
    Gk_Span m_span;
};

// Abstract surface. Defaults: Newton inversion on |S - p|^2 (at most 20
// steps, stop below Gk_Def::FuzzKnot), no principal ranges, no B-spline
// net, a sampled box over finite spans, no transform (asserts), traversal
// through doDefault.
class Gk_BaseSurface3 : public QELXReferenceCount {
public:
    virtual Gk_BaseSurface3Handle clone() const = 0;
    virtual Gk_SurfaceType3::Enum GetGkSurfaceType3() const { return Gk_SurfaceType3::None; }
    virtual bool IsRightHandedUV() const { return true; }
    virtual bool isDefined() const { return true; }
    virtual bool isAnalytic() const { return false; }
    virtual QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* derivatives) const = 0;
    virtual QELXPoint2D invert(const QELXPoint3D& p, Gk_Flat3* derivatives) const = 0;
    virtual QELXPoint2D invertNewton(const QELXPoint3D& p, const QELXPoint2D& guess, Gk_Flat3* derivatives) const;
    virtual Gk_Domain uPrincipalRange() const;
    virtual Gk_Domain vPrincipalRange() const;
    virtual QELXBSplineNetDef3D bspline(const Gk_Span& span) const;
    // Over an unbounded span.
    virtual QELXBSplineNetDef3D bspline(const Gk_ApproxInfo* info, Gk_SurfApproxInfoHandle* out) const;
    virtual QELXBSplineNetDef3D bspline(const Gk_Span& span, const Gk_ApproxInfo* info,
                                        Gk_SurfApproxInfoHandle* out) const;
    virtual QELIResult GetBoundingBox(const Gk_Span& span, QELXBox3D& box) const;
    virtual void apply(const QELXMorph3D& morph);
    virtual void traverse(Gk_SurfaceCallback3* callback) const;
    virtual QELXSnapper3D* getSnapper() const { return nullptr; }
    virtual QELXPoint3D snapToPoint(const QELXPoint3D& p) const;
    virtual Gk_SurfacePoleArray getPoles() const { return {}; }
    virtual void dump(QELXStreamFormatter& out) const;
    virtual unsigned long GetPersistentIdentifier() const { return 0; }

    const char* GetName() const override { return "Gk_BaseSurface3"; }

protected:
    // Nearest of a 16 x 16 grid over a finite span, polished by invertNewton.
    QELXPoint2D invertBySampling(const QELXPoint3D& p, const Gk_Span& span, Gk_Flat3* derivatives) const;
};

// Framework surface: base + same-sense flag + map M (framework -> base
// parameters). Its normal is the base's, reversed when not same sense,
// whatever M does to the parameter frame. Created objects are entered in
// the geometry-object table.
class Gk_Surface3 : public QELXReferenceCount {
public:
    static Gk_Surface3Handle Create(const Gk_BaseSurface3Handle& base, bool sameSense, const Gk_BiLinMap& map);
    ~Gk_Surface3() override;

    Gk_Surface3Handle Copy() const;
    // Base at M(uv), derivatives by the chain rule (swapped for a crossed
    // map).
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat) const;
    QELXPoint2D invert(const QELXPoint3D& p, Gk_Flat3* flat) const;
    // The callback's map becomes M, its span unbounded; then the base.
    void traverse(Gk_SurfaceCallback3* callback) const;
    const Gk_BaseSurface3Handle& getBase() const { return m_base; }
    bool isSameSense() const { return m_sameSense; }
    const Gk_BiLinMap& getMap() const { return m_map; }
    unsigned long GetPersistentIdentifier() const;
    const char* GetName() const override { return "Gk_Surface3"; }

private:
    Gk_Surface3(const Gk_BaseSurface3Handle& base, bool sameSense, const Gk_BiLinMap& map)
        : m_base(base), m_sameSense(sameSense), m_map(map) {}

    Gk_BaseSurface3Handle m_base;
    bool m_sameSense;
    Gk_BiLinMap m_map;
    std::uint64_t m_word = 0;
};

// Base surface over one of the framework's definitions; traversal hands the
// definition over with the flag true (every definition frame is
// right-handed w.r.t. the normal it evaluates). Its persistent identifier is
// its address.
template <class Def>
class Gk_DefSurface3 : public Gk_BaseSurface3 {
public:
    explicit Gk_DefSurface3(const Def& def) : m_def(def) {}
    const Def& definition() const { return m_def; }

    Gk_BaseSurface3Handle clone() const override { return new Gk_DefSurface3(*this); }
    Gk_SurfaceType3::Enum GetGkSurfaceType3() const override;
    bool isAnalytic() const override;
    QELXPoint3D eval(const QELXPoint2D& uv, Gk_Flat3* flat) const override { return m_def.eval(uv, flat); }
    QELXPoint2D invert(const QELXPoint3D& p, Gk_Flat3* flat) const override;
    Gk_Domain uPrincipalRange() const override;
    Gk_Domain vPrincipalRange() const override;
    // A B-spline definition answers its own net; the others none.
    QELXBSplineNetDef3D bspline(const Gk_Span& span, const Gk_ApproxInfo* info,
                                Gk_SurfApproxInfoHandle* out) const override;
    using Gk_BaseSurface3::bspline;
    void apply(const QELXMorph3D& morph) override;
    void traverse(Gk_SurfaceCallback3* callback) const override;
    unsigned long GetPersistentIdentifier() const override;
    const char* GetName() const override { return "Gk_DefSurface3"; }

private:
    Def m_def;
};

using Gk_PlaneSurface3 = Gk_DefSurface3<Gk_Plane3Def>;
using Gk_ConeSurface3 = Gk_DefSurface3<Gk_Cone3Def>;
using Gk_EllipsoidSurface3 = Gk_DefSurface3<Gk_Ellipsoid3Def>;
using Gk_TorusSurface3 = Gk_DefSurface3<Gk_Torus3Def>;
using Gk_SpunSurface3 = Gk_DefSurface3<Gk_SpunSurface3Def>;
using Gk_SweptSurface3 = Gk_DefSurface3<Gk_SweptSurface3Def>;
using Gk_OffsetSurface3 = Gk_DefSurface3<Gk_OffsetSurface3Def>;
using Gk_BSSurface3 = Gk_DefSurface3<Gk_BSSurface3Def>;

// Process-wide table from a geometry word to the most recently created live
// framework surface or curve with that word. Word 0 is never entered.
class Gk_GeometryTable {
public:
    static Gk_Surface3Handle findSurface(std::uint64_t word);
    static QELXCurve3DHandle findCurve(std::uint64_t word);
    static QELXCurve2DHandle findPCurve(std::uint64_t word);
    static int size();

    // A later entry under the same word replaces the earlier one; leaving
    // removes the entry only while it still names the object.
    static void enter(std::uint64_t word, QELXReferenceCount* object);
    static void leave(std::uint64_t word, const QELXReferenceCount* object);
};

extern template class Gk_DefSurface3<Gk_Plane3Def>;
extern template class Gk_DefSurface3<Gk_Cone3Def>;
extern template class Gk_DefSurface3<Gk_Ellipsoid3Def>;
extern template class Gk_DefSurface3<Gk_Torus3Def>;
extern template class Gk_DefSurface3<Gk_SpunSurface3Def>;
extern template class Gk_DefSurface3<Gk_SweptSurface3Def>;
extern template class Gk_DefSurface3<Gk_OffsetSurface3Def>;
extern template class Gk_DefSurface3<Gk_BSSurface3Def>;
