// Neutral document text: model -> JSON and JSON -> model with every field
// checked, so a damaged document is refused with the path of its fault.
#include "qelx_formats/neutral_document.hxx"
#include "qelx/qelx_units.hxx"
#include "model_extent.hxx"

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <set>
#include <sstream>
#include <unordered_map>

namespace qelx_formats {

using qelx_test::TestModel;
using qelx_test::TestNurbs;
using qelx_test::Vec3;
using Json = nlohmann::ordered_json;

namespace {

const char* const SurfaceNames[] = {"unknown", "plane",   "cylinder", "cone",     "sphere",
                                    "torus",   "nurbs",   "revolved", "extruded", "offset"};
const char* const CurveNames[] = {"unknown", "line", "other", "ellipse", "nurbs"};

// Table names in document order; attribute and group members name them.
const char* const Tables[] = {"bodies", "lumps",    "volumes", "shells",  "faces",   "loops",  "coedges",
                              "edges",  "vertices", "wires",   "surfaces", "curves", "pcurves", "points"};
const char* const KindNames[] = {"body",   "lump",   "volume",  "shell",  "face",   "loop",   "coedge",
                                 "edge",   "vertex", "wire",    "surface", "curve", "pcurve", "point"};
constexpr int TableCount = 14;

Json ref(int index) { return index < 0 ? Json(nullptr) : Json(index + 1); }
Json refs(const std::vector<int>& list)
{
    Json a = Json::array();
    for (int i : list)
        a.push_back(i + 1);
    return a;
}
Json vec(const Vec3& v) { return Json::array({v[0], v[1], v[2]}); }
Json pair(const double p[2]) { return Json::array({p[0], p[1]}); }

// Entity word of the model -> {"kind", "id"}.
Json entity(std::uint64_t word)
{
    const int kind = qelx_test::kindOfWord(word);
    Json e = Json::object();
    // A group nests another by its place in the groups table.
    e["kind"] = (kind >= 1 && kind <= TableCount) ? KindNames[kind - 1]
                : kind == qelx_test::KindGroup     ? "group"
                                                   : "unknown";
    e["id"] = qelx_test::indexOfWord(word) + 1;
    return e;
}

// What makes a spline's knots unreadable, or null: distinct knots rising,
// each used at least once and at most degree + 1 times, as many in all as
// the control points and the degree ask for (the writers open periodic
// splines, so that holds for them too). `inMults` says the multiplicities
// are at fault.
const char* knotsFault(long long degree, long long count, const std::vector<double>& knots,
                       const std::vector<int>& mults, bool& inMults)
{
    inMults = false;
    if (degree < 1 || degree > 64)
        return "a spline degree outside 1 .. 64";
    if (count < degree + 1)
        return "fewer control points in a direction than the degree asks for (at least degree + 1)";
    for (std::size_t i = 1; i < knots.size(); ++i)
        if (!(knots[i] > knots[i - 1]))
            return "knots that do not rise";
    inMults = true;
    long long sum = 0;
    for (int m : mults) {
        if (m < 1 || m > degree + 1)
            return "a multiplicity outside 1 .. degree + 1";
        sum += m;
    }
    if (sum != count + degree + 1)
        return "multiplicities that do not add up to the control points and the degree";
    return nullptr;
}

// The fault a written element's spline (a curve's, a pcurve's, either
// direction of a surface's) would be refused for on reading: "/mults: ...".
std::string writtenSplineFault(const Json& row)
{
    const auto fault = [&row](const char* degree, const char* count, const char* knots,
                              const char* mults) -> std::string {
        if (!row.contains(degree) || !row.contains(knots) || !row.contains(mults) || !row.contains(count) ||
            !row[degree].is_number_integer() || !row[count].is_number_integer() || !row[knots].is_array() ||
            !row[mults].is_array())
            return std::string();
        bool inMults = false;
        const char* why = knotsFault(row[degree].get<long long>(), row[count].get<long long>(),
                                     row[knots].get<std::vector<double>>(), row[mults].get<std::vector<int>>(),
                                     inMults);
        if (!why)
            return std::string();
        return (inMults ? std::string("/") + mults : std::string(why).rfind("knots", 0) == 0 ? std::string("/") + knots
                                                                                             : std::string()) +
               ": " + why;
    };
    std::string why = fault("degree", "count", "knots", "mults");
    if (why.empty())
        why = fault("uDegree", "uCount", "uKnots", "uMults");
    if (why.empty())
        why = fault("vDegree", "vCount", "vKnots", "vMults");
    return why;
}

// Whether an ellipse's parameter range, mapped by its parameterization's
// scale, stays within the one turn after which the ellipse closes.
bool withinOneTurn(double scale, const double t[2])
{
    return std::fabs(scale * (t[1] - t[0])) <= 2.0 * M_PI * (1.0 + 1e-9) + 1e-12;
}

// The fault a written element would be refused for on reading: its spline's
// (see writtenSplineFault), or an ellipse's domain going round it more than
// once (an edge's range on a circle, wound past a turn by a damaged model).
std::string writtenFault(const Json& row)
{
    if (std::string why = writtenSplineFault(row); !why.empty())
        return why;
    if (!row.contains("type") || row["type"] != "ellipse" || !row.contains("domain") ||
        !row.contains("parameterization"))
        return std::string();
    const Json& domain = row["domain"];
    const Json& map = row["parameterization"];
    if (!domain.is_array() || domain.size() != 2 || !domain[0].is_number() || !domain[1].is_number() ||
        !map.is_object() || !map.contains("scale") || !map["scale"].is_number())
        return std::string();
    const double t[2] = {domain[0].get<double>(), domain[1].get<double>()};
    if (withinOneTurn(map["scale"].get<double>(), t))
        return std::string();
    return "/domain: a domain that its parameterization takes more than once round its ellipse";
}

// A fault of a model's geometry that no document may hold: the JSON path
// of the entity (and field) and what is wrong there.
struct GeometryFault {
    std::string path;
    std::string what;
};

// The bounds the reader holds a document's geometry to, judged on a whole
// model: the reader refuses a document outside them, so the writers refuse
// to write one (a curve scaled so that its edge wound round its circle 3.4e8
// times was written and then refused on reading). judge throws the first
// GeometryFault in the reader's order.
class GeometryJudge {
public:
    void judge(const TestModel& m) const
    {
        // A reference that does not hold is its reader's refusal before any
        // of these; a writer's own model holds them.
        if (!referencesHold(m))
            return;
        for (std::size_t i = 0; i < m.surfaces.size(); ++i) {
            const qelx_test::TestSurface& s = m.surfaces[i];
            const std::string p = "/surfaces/" + std::to_string(i);
            const double map[6] = {s.uA, s.uB, s.uC, s.vA, s.vB, s.vC};
            withinModel(p + "/parameterization", map, 6);
            if (s.bounded) {
                withinModel(p + "/uSpan", s.uSpan, 2);
                withinModel(p + "/vSpan", s.vSpan, 2);
            }
            const double sizes[3] = {s.a, s.b, s.c};
            withinModel(p, sizes, 3);
            withinModel(p, s.p), withinModel(p, s.d1), withinModel(p, s.d2);
            withinModel(p + "/controlPoints", s.ctrl);
            pointWithinModel(p, s.p.data());
            controlPointsWithinModel(p + "/controlPoints", s.ctrl);
            withinModel(p + "/weights", s.weights);
            withinModel(p + "/uKnots", s.uKnots);
            withinModel(p + "/vKnots", s.vKnots);
        }
        for (std::size_t i = 0; i < m.curves.size(); ++i) {
            const qelx_test::TestCurve& c = m.curves[i];
            const std::string p = "/curves/" + std::to_string(i);
            mapWithinModel(p, c.scale, c.offset);
            withinModel(p + "/domain", c.domain, 2);
            mappedWithinModel(p + "/domain", c.scale, c.offset, c.domain, "a domain");
            const double sizes[2] = {c.major, c.minor};
            withinModel(p, sizes, 2);
            withinModel(p, c.p), withinModel(p, c.d1), withinModel(p, c.d2);
            nurbsWithinModel(p, c.nurbs);
            pointWithinModel(p, c.p.data());
            controlPointsWithinModel(p + "/controlPoints", c.nurbs.ctrl);
        }
        for (std::size_t i = 0; i < m.pcurves.size(); ++i) {
            const std::string p = "/pcurves/" + std::to_string(i);
            mapWithinModel(p, m.pcurves[i].scale, m.pcurves[i].offset);
            nurbsWithinModel(p, m.pcurves[i].nurbs);
        }
        for (std::size_t i = 0; i < m.points.size(); ++i) {
            const std::string p = "/points/" + std::to_string(i) + "/xyz";
            withinModel(p, m.points[i]);
            // A point the writers' tolerances cannot resolve (model_extent.hxx).
            pointWithinModel(p, m.points[i].data(), 0);
        }
        for (std::size_t i = 0; i < m.edges.size(); ++i)
            if (const int c = m.edges[i].curve; c >= 0) {
                const qelx_test::TestCurve& curve = m.curves[static_cast<std::size_t>(c)];
                mappedWithinModel("/edges/" + std::to_string(i) + "/domain", curve.scale, curve.offset,
                                  m.edges[i].domain, "a range");
            }
        for (std::size_t i = 0; i < m.coedges.size(); ++i)
            if (const int c = m.coedges[i].pcurve; c >= 0) {
                const qelx_test::TestPCurve& pcurve = m.pcurves[static_cast<std::size_t>(c)];
                mappedWithinModel("/coedges/" + std::to_string(i) + "/domain", pcurve.scale, pcurve.offset,
                                  m.coedges[i].domain, "a range");
            }
        // An ellipse closes after one turn of its angle: a domain or an
        // edge's range its parameterization takes round it more than once
        // (a scale of two billion over a range of 5) made an edge that
        // wound round its circle and a written face the peer refused.
        const auto withinATurn = [this](const std::string& path, const qelx_test::TestCurve& curve, const double t[2],
                                        const char* what) {
            if (!withinOneTurn(curve.scale, t))
                fail(path, std::string(what) + " that its parameterization takes more than once round its ellipse");
        };
        for (std::size_t i = 0; i < m.curves.size(); ++i)
            if (m.curves[i].type == qelx_test::CurvEllipse)
                withinATurn("/curves/" + std::to_string(i) + "/domain", m.curves[i], m.curves[i].domain, "a domain");
        for (std::size_t i = 0; i < m.edges.size(); ++i)
            if (const int c = m.edges[i].curve; c >= 0 && m.curves[static_cast<std::size_t>(c)].type == qelx_test::CurvEllipse)
                withinATurn("/edges/" + std::to_string(i) + "/domain", m.curves[static_cast<std::size_t>(c)],
                            m.edges[i].domain, "a range");
        for (std::size_t i = 0; i < m.faces.size(); ++i)
            if (const int k = m.faces[i].surface; k >= 0) {
                const qelx_test::TestFace& f = m.faces[i];
                const qelx_test::TestSurface& surface = m.surfaces[static_cast<std::size_t>(k)];
                const std::string p = "/faces/" + std::to_string(i);
                withinModel(p + "/uDomain", f.uDomain, 2);
                withinModel(p + "/vDomain", f.vDomain, 2);
                mappedWithinModel(p + "/uDomain", surface.uA * surface.uB, surface.uC, f.uDomain, "a domain");
                mappedWithinModel(p + "/vDomain", surface.vA * surface.vB, surface.vC, f.vDomain, "a domain");
            }
        splinesNearTheirModel(m);
        // Every number is bounded now: the ends are evaluated.
        for (std::size_t i = 0; i < m.curves.size(); ++i)
            if (evaluable(m, static_cast<int>(i)))
                for (const double t : m.curves[i].domain)
                    if (!withinModel(m.curvePoint(static_cast<int>(i), t)))
                        fail("/curves/" + std::to_string(i) + "/domain", "a domain whose end lies beyond any model");
        // An edge's ends are points of the model, held as every point is: a
        // line along a direction of length 1e8 put an edge's end at
        // y = -5.5e8, and the writers' projection onto its cylinder ran on
        // for minutes.
        for (std::size_t i = 0; i < m.edges.size(); ++i)
            if (const int c = m.edges[i].curve; c >= 0 && evaluable(m, c))
                for (const double t : m.edges[i].domain) {
                    const QELXPoint3D end = m.curvePoint(c, t);
                    const double xyz[3] = {end[0], end[1], end[2]};
                    if (axisBeyondAnyModel(xyz) >= 0)
                        fail("/edges/" + std::to_string(i) + "/domain",
                             "a range whose end lies at " + coordinateBeyondAnyModel(xyz));
                }
        for (std::size_t i = 0; i < m.faces.size(); ++i)
            if (const int k = m.faces[i].surface; k >= 0 && evaluableSurface(m, k))
                for (const double u : m.faces[i].uDomain)
                    for (const double v : m.faces[i].vDomain)
                        if (!withinModel(m.surfacePoint(k, u, v)))
                            fail("/faces/" + std::to_string(i), "a domain whose corner lies beyond any model");
        pcurvesWithinATurn(m);
    }

private:
    // Geometry whose numbers overflow when it is evaluated is refused here,
    // naming the entity, rather than imported to fail later (a curve scaled
    // to 1e308 reached the kernel's save, which refused its overflowed
    // numbers only after the whole import): every number of a surface,
    // curve, pcurve or point lies within 1e100 of nothing (two multiplied
    // stay finite), a curve's or pcurve's parameterization has a scale, and
    // the canonical parameters it gives the ends of the curve's domain and
    // of the edges and coedges on it (and a surface's to the corners of the
    // faces on it) lie within 1e100 too. Numbers within bounds still
    // multiply beyond them (a line through 1e99 along 1e99): the ends of
    // every domain and range are evaluated once, and must lie within 1e100.
    static constexpr double BeyondAnyModel = 1e100;

    static bool withinModel(const QELXPoint3D& point)
    {
        return std::fabs(point[0]) <= BeyondAnyModel && std::fabs(point[1]) <= BeyondAnyModel &&
               std::fabs(point[2]) <= BeyondAnyModel;
    }
    // Whether the geometry is evaluated here: a spline's points lie among
    // its control points, which are bounded already, and its knots are
    // checked only by the import.
    static bool evaluable(const TestModel& m, int curve)
    {
        const int type = m.curves[static_cast<std::size_t>(curve)].type;
        return type == qelx_test::CurvLine || type == qelx_test::CurvEllipse;
    }
    static bool evaluableSurface(const TestModel& m, int surface)
    {
        // Offset chains end (the reader checks them before; a writer's
        // model is walked from the kernel's).
        for (std::size_t depth = 0; depth <= m.surfaces.size(); ++depth) {
            const qelx_test::TestSurface& s = m.surfaces[static_cast<std::size_t>(surface)];
            switch (s.type) {
            case qelx_test::SurfPlane:
            case qelx_test::SurfCylinder:
            case qelx_test::SurfCone:
            case qelx_test::SurfSphere:
            case qelx_test::SurfTorus:
                return true;
            case qelx_test::SurfRevolved:
            case qelx_test::SurfExtruded:
                return s.ref >= 0 && evaluable(m, s.ref);
            case qelx_test::SurfOffset:
                if (s.ref < 0)
                    return false;
                surface = s.ref;
                break;
            default:
                return false;
            }
        }
        return false;
    }

    // Whether each reference the judgement follows names an element of its table.
    static bool referencesHold(const TestModel& m)
    {
        const auto in = [](int index, std::size_t size) { return index < static_cast<long long>(size); };
        for (const qelx_test::TestSurface& s : m.surfaces)
            if (!in(s.ref, s.type == qelx_test::SurfOffset ? m.surfaces.size() : m.curves.size()))
                return false;
        for (const qelx_test::TestFace& f : m.faces)
            if (!in(f.surface, m.surfaces.size()))
                return false;
        for (const qelx_test::TestLoop& l : m.loops)
            if (!in(l.face, m.faces.size()))
                return false;
        for (const qelx_test::TestCoedge& c : m.coedges)
            if (!in(c.pcurve, m.pcurves.size()) || !in(c.edge, m.edges.size()) || !in(c.loop, m.loops.size()))
                return false;
        for (const qelx_test::TestEdge& e : m.edges)
            if (!in(e.curve, m.curves.size()))
                return false;
        for (const qelx_test::TestVertex& v : m.vertices)
            if (!in(v.point, m.points.size()))
                return false;
        return true;
    }

    // Whether a spline pcurve can be evaluated: what its reader checks of
    // it before (control points, weights and knots agreeing).
    static bool evaluablePCurve(const qelx_test::TestPCurve& p)
    {
        const TestNurbs& n = p.nurbs;
        bool inMults = false;
        return n.count >= 0 && n.ctrl.size() == 2 * static_cast<std::size_t>(n.count) &&
               (n.weights.empty() || n.weights.size() == static_cast<std::size_t>(n.count)) &&
               n.knots.size() == n.mults.size() && !knotsFault(n.degree, n.count, n.knots, n.mults, inMults);
    }

    void withinModel(const std::string& path, const double* values, std::size_t count) const
    {
        for (std::size_t i = 0; i < count; ++i)
            if (!(std::fabs(values[i]) <= BeyondAnyModel))
                fail(path, "a number beyond any model");
    }
    void withinModel(const std::string& path, const std::vector<double>& values) const
    {
        withinModel(path, values.data(), values.size());
    }
    void withinModel(const std::string& path, const Vec3& v) const { withinModel(path, v.data(), v.size()); }

    // A parameterization s = scale * t + offset over the range `t`.
    void mappedWithinModel(const std::string& path, double scale, double offset, const double t[2],
                           const char* what) const
    {
        for (int end = 0; end < 2; ++end)
            if (!(std::fabs(scale) * std::fabs(t[end]) + std::fabs(offset) <= BeyondAnyModel))
                fail(path, std::string(what) + " that its parameterization takes beyond any model");
    }
    void mapWithinModel(const std::string& path, double scale, double offset) const
    {
        const double map[2] = {scale, offset};
        withinModel(path + "/parameterization", map, 2);
        if (scale == 0.0)
            fail(path + "/parameterization/scale", "a parameterization of no scale");
    }
    // A point of the model (a vertex's, an analytic curve's or surface's
    // point: a line's point, a centre, an origin; a spline's control point)
    // within the bound every reader holds a point to, as the kernel holds its
    // model's points: a line through x = 2147483647 was imported and could
    // not be saved. `path` names the entity, or, given `first` (the place of
    // the point's x in an array of coordinates), that array: the refusal
    // then names the coordinate.
    void pointWithinModel(const std::string& path, const double* xyz, std::ptrdiff_t first = -1) const
    {
        if (const int axis = axisBeyondAnyModel(xyz); axis >= 0)
            fail(first < 0 ? path : path + "/" + std::to_string(first + axis),
                 "a point at " + coordinateBeyondAnyModel(xyz));
    }
    // A spline's control points (three coordinates each), as every other point.
    void controlPointsWithinModel(const std::string& path, const std::vector<double>& ctrl) const
    {
        for (std::size_t i = 0; i + 2 < ctrl.size(); i += 3)
            pointWithinModel(path, ctrl.data() + i, static_cast<std::ptrdiff_t>(i));
    }
    void nurbsWithinModel(const std::string& path, const TestNurbs& n) const
    {
        withinModel(path + "/controlPoints", n.ctrl);
        withinModel(path + "/weights", n.weights);
        withinModel(path + "/knots", n.knots);
    }

    // A spline of an edge or a face with a control point farther from the
    // box of the model's vertices than a million times its size (and a
    // millimetre), as the CAD readers refuse it: a pole two billion out on a
    // model six across is no model's, and sends the import's fitting of
    // curves onto surfaces into minutes of work.
    void splinesNearTheirModel(const TestModel& m) const
    {
        double low[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, high[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
        bool any = false;
        for (const qelx_test::TestVertex& v : m.vertices)
            if (v.point >= 0)
                for (int k = 0; k < 3; ++k) {
                    const double x = m.points[static_cast<std::size_t>(v.point)][static_cast<std::size_t>(k)];
                    low[k] = std::min(low[k], x), high[k] = std::max(high[k], x), any = true;
                }
        if (!any)
            return;
        const double size = std::hypot(high[0] - low[0], high[1] - low[1], high[2] - low[2]);
        const double reach = 1e6 * std::max(size, 1.0);
        const auto check = [&](const std::string& path, const std::vector<double>& ctrl) {
            for (std::size_t i = 0; i + 2 < ctrl.size(); i += 3) {
                bool beyond = false;
                for (int k = 0; k < 3; ++k)
                    beyond = beyond || ctrl[i + k] < low[k] - reach || ctrl[i + k] > high[k] + reach;
                if (beyond) {
                    std::ostringstream text;
                    text << "a spline whose control point " << i / 3 << " at (" << ctrl[i] << ", " << ctrl[i + 1]
                         << ", " << ctrl[i + 2] << ") lies farther than " << reach << " from every vertex of the model";
                    fail(path, text.str());
                }
            }
        };
        for (std::size_t i = 0; i < m.edges.size(); ++i)
            if (const int c = m.edges[i].curve; c >= 0)
                check("/curves/" + std::to_string(c) + "/controlPoints", m.curves[static_cast<std::size_t>(c)].nurbs.ctrl);
        for (std::size_t i = 0; i < m.faces.size(); ++i)
            if (const int k = m.faces[i].surface; k >= 0)
                check("/surfaces/" + std::to_string(k) + "/controlPoints", m.surfaces[static_cast<std::size_t>(k)].ctrl);
    }

    // The period of a surface's framework parameter (u or v) in which it
    // closes by turning round an axis; 0 when it does not.
    static double turnPeriod(const TestModel& m, int surface, bool u)
    {
        for (int depth = 0; surface >= 0 && depth <= static_cast<int>(m.surfaces.size()); ++depth) {
            const qelx_test::TestSurface& s = m.surfaces[static_cast<std::size_t>(surface)];
            bool turns = false;
            switch (s.type) {
            case qelx_test::SurfCylinder:
            case qelx_test::SurfCone:
            case qelx_test::SurfSphere:
            case qelx_test::SurfRevolved:
                turns = !u;
                break;
            case qelx_test::SurfTorus:
                turns = true;
                break;
            case qelx_test::SurfOffset:
                surface = s.ref;
                continue;
            default:
                break;
            }
            const double scale = std::fabs(u ? s.uA * s.uB : s.vA * s.vB);
            return turns && scale > 0.0 ? 2.0 * M_PI / scale : 0.0;
        }
        return 0.0;
    }

    // How many times a curve may run round an axis (or a torus's tube), at
    // most; 0 where it is not told. A line or an ellipse within one turn runs
    // round once at most. A spline (a helix) may wind round more often, but
    // not as often as its control points' count allows: a spline crosses a
    // plane no more often than its control polygon does (positive weights),
    // each of its n - 1 sides at most once, and each half turn round the axis
    // crosses a plane through it (round a tube, its middle plane) once, so a
    // spline of n control points runs round fewer than n / 2 times.
    static double turnsAllowed(const TestModel& m, int curve)
    {
        const qelx_test::TestCurve& k = m.curves[static_cast<std::size_t>(curve)];
        if (evaluable(m, curve))
            return 1.0;
        if ((k.type == qelx_test::CurvNurbs || k.type == qelx_test::CurvOther) && k.nurbs.count > 0)
            return k.nurbs.count / 2.0 + 1.0;
        return 0.0;
    }

    // A coedge's pcurve that runs round its surface more often than its
    // edge's curve can: a straight pcurve scaled to a billion turns of a
    // cylinder under one circle, or under a helix of a few turns.
    void pcurvesWithinATurn(const TestModel& m) const
    {
        for (std::size_t i = 0; i < m.coedges.size(); ++i) {
            const qelx_test::TestCoedge& c = m.coedges[i];
            if (c.pcurve < 0 || c.edge < 0 || c.loop < 0)
                continue;
            const int curve = m.edges[static_cast<std::size_t>(c.edge)].curve;
            const int face = m.loops[static_cast<std::size_t>(c.loop)].face;
            if (curve < 0 || face < 0)
                continue;
            const double turns = turnsAllowed(m, curve);
            const int surface = m.faces[static_cast<std::size_t>(face)].surface;
            if (surface < 0 || turns <= 0.0 || !evaluablePCurve(m.pcurves[static_cast<std::size_t>(c.pcurve)]))
                continue;
            const QELXPoint2D from = m.pcurvePoint(c.pcurve, c.pcurveSense ? c.domain[0] : -c.domain[0]);
            const QELXPoint2D to = m.pcurvePoint(c.pcurve, c.pcurveSense ? c.domain[1] : -c.domain[1]);
            for (const bool u : {true, false}) {
                const double period = turnPeriod(m, surface, u);
                const double run = std::fabs(u ? to.u() - from.u() : to.v() - from.v());
                if (period > 0.0 && !(run <= turns * period * (1.0 + 1e-9) + 1e-12)) {
                    std::ostringstream text;
                    text << "a range whose pcurve runs " << run / period << " times round its surface in "
                         << (u ? "u" : "v") << ", where its edge's curve runs round ";
                    if (turns == 1.0)
                        text << "at most once";
                    else
                        text << "fewer than " << turns << " times (a spline of "
                             << m.curves[static_cast<std::size_t>(curve)].nurbs.count << " control points)";
                    fail("/coedges/" + std::to_string(i) + "/domain", text.str());
                }
            }
        }
    }


private:
    [[noreturn]] static void fail(const std::string& path, const std::string& what)
    {
        throw GeometryFault{path, what};
    }
};

// The body and face or edge that the element at a document path ("/edges/7/
// domain") belongs to, as "body 0, edge 7"; "" when none holds it. The first
// owner found: a curve by its first edge, a surface by its first face.
std::string ownerOf(const TestModel& m, const std::string& path)
{
    const std::size_t slash = path.find('/', 1);
    if (path.empty() || path[0] != '/' || slash == std::string::npos)
        return std::string();
    const std::string table = path.substr(1, slash - 1);
    const long index = std::strtol(path.c_str() + slash + 1, nullptr, 10);
    const auto find = [](const auto& list, auto&& is) {
        for (std::size_t i = 0; i < list.size(); ++i)
            if (is(list[i]))
                return static_cast<long>(i);
        return -1L;
    };
    const auto valid = [](long i, std::size_t size) { return i >= 0 && static_cast<std::size_t>(i) < size; };
    long face = -1, edge = -1;
    if (table == "faces")
        face = index;
    else if (table == "surfaces")
        face = find(m.faces, [&](const qelx_test::TestFace& f) { return f.surface == index; });
    else if (table == "edges")
        edge = index;
    else if (table == "curves")
        edge = find(m.edges, [&](const qelx_test::TestEdge& e) { return e.curve == index; });
    else if (table == "points") {
        const long vertex = find(m.vertices, [&](const qelx_test::TestVertex& v) { return v.point == index; });
        if (vertex >= 0)
            edge = find(m.edges, [&](const qelx_test::TestEdge& e) { return e.start == vertex || e.end == vertex; });
    }
    long coedge = table == "coedges" ? index : -1;
    if (table == "pcurves")
        coedge = find(m.coedges, [&](const qelx_test::TestCoedge& c) { return c.pcurve == index; });
    if (edge >= 0 && coedge < 0)
        coedge = find(m.coedges, [&](const qelx_test::TestCoedge& c) { return c.edge == edge; });
    if (face < 0 && valid(coedge, m.coedges.size())) {
        const int loop = m.coedges[static_cast<std::size_t>(coedge)].loop;
        if (valid(loop, m.loops.size()))
            face = m.loops[static_cast<std::size_t>(loop)].face;
    }
    // The body whose faces, or whose wires' edges, hold it.
    const auto inShells = [&](const std::vector<int>& shells) {
        for (int s : shells)
            if (valid(s, m.shells.size()) && std::count(m.shells[static_cast<std::size_t>(s)].faces.begin(),
                                                        m.shells[static_cast<std::size_t>(s)].faces.end(), face))
                return true;
        return false;
    };
    const auto inWires = [&](const std::vector<int>& wires) {
        for (int w : wires)
            if (valid(w, m.wires.size()) && std::count(m.wires[static_cast<std::size_t>(w)].edges.begin(),
                                                       m.wires[static_cast<std::size_t>(w)].edges.end(), edge))
                return true;
        return false;
    };
    long body = -1;
    for (std::size_t b = 0; b < m.bodies.size() && body < 0; ++b) {
        const qelx_test::TestBody& t = m.bodies[b];
        bool holds = face >= 0 ? std::count(t.faces.begin(), t.faces.end(), face) || inShells(t.shells2D)
                               : edge >= 0 && (inWires(t.wires) || inWires(t.pointWires));
        for (int l : t.lumps)
            if (face >= 0 && valid(l, m.lumps.size()))
                for (int v : m.lumps[static_cast<std::size_t>(l)].volumes)
                    holds = holds || (valid(v, m.volumes.size()) && inShells(m.volumes[static_cast<std::size_t>(v)].shells));
        if (holds)
            body = static_cast<long>(b);
    }
    const bool byEdge = table == "edges" || table == "curves" || table == "points";
    const long named = byEdge ? edge : face;
    std::string place = body >= 0 ? "body " + std::to_string(body) : std::string();
    if (named >= 0)
        place += (place.empty() ? "" : ", ") + std::string(byEdge ? "edge " : "face ") + std::to_string(named);
    return place;
}

// Why a writer refuses the model for its geometry ("" when it takes it):
// as its reader judges it, naming the element by its document path and the
// body and face or edge it belongs to.
std::string unwritableGeometry(const TestModel& m)
{
    try {
        GeometryJudge().judge(m);
    } catch (const GeometryFault& f) {
        const std::string owner = ownerOf(m, f.path);
        return f.path + (owner.empty() ? "" : " (" + owner + ")") + ": " + f.what + ", which a document cannot hold";
    }
    return std::string();
}

void putNurbs(Json& j, const TestNurbs& n)
{
    j["degree"] = n.degree;
    j["count"] = n.count;
    j["controlPoints"] = n.ctrl;
    j["weights"] = n.weights.empty() ? Json(nullptr) : Json(n.weights);
    j["knots"] = n.knots;
    j["mults"] = n.mults;
    j["form"] = n.form;
}

Json surfaceJson(int i, const qelx_test::TestSurface& s)
{
    Json j = Json::object();
    j["id"] = i + 1;
    j["type"] = (s.type >= 0 && s.type <= 9) ? SurfaceNames[s.type] : "unknown";
    j["parameterization"] = {{"u", {s.uA, s.uB, s.uC}}, {"v", {s.vA, s.vB, s.vC}}, {"flag", s.flag}};
    j["uSpan"] = s.bounded ? pair(s.uSpan) : Json(nullptr);
    j["vSpan"] = s.bounded ? pair(s.vSpan) : Json(nullptr);
    if (s.deviation != 0.0)
        j["deviation"] = s.deviation;
    switch (s.type) {
    case qelx_test::SurfPlane:
        j["origin"] = vec(s.p);
        j["uVector"] = vec(s.d1);
        j["normal"] = vec(s.d2);
        break;
    case qelx_test::SurfCylinder:
    case qelx_test::SurfCone:
        j["radius"] = s.a;
        j["halfAngle"] = s.b;
        j["sine"] = s.c;
        j["origin"] = vec(s.p);
        j["refDir"] = vec(s.d1);
        j["axis"] = vec(s.d2);
        break;
    case qelx_test::SurfSphere:
        j["radius"] = s.a;
        j["centre"] = vec(s.p);
        j["dir1"] = vec(s.d1);
        j["dir2"] = vec(s.d2);
        break;
    case qelx_test::SurfTorus:
        j["major"] = s.a;
        j["minor"] = s.b;
        j["toroidalType"] = s.toroidalType;
        j["centre"] = vec(s.p);
        j["refDir"] = vec(s.d1);
        j["axis"] = vec(s.d2);
        break;
    case qelx_test::SurfRevolved:
        j["axisPoint"] = vec(s.p);
        j["axisDir"] = vec(s.d1);
        j["profile"] = ref(s.ref);
        break;
    case qelx_test::SurfExtruded:
        j["direction"] = vec(s.d1);
        j["profile"] = ref(s.ref);
        break;
    case qelx_test::SurfOffset:
        j["distance"] = s.a;
        j["base"] = ref(s.ref);
        break;
    default:
        if (s.type == qelx_test::SurfNurbs || s.uCount > 0) {
            j["uDegree"] = s.uDegree;
            j["vDegree"] = s.vDegree;
            j["uCount"] = s.uCount;
            j["vCount"] = s.vCount;
            j["controlPoints"] = s.ctrl;
            j["weights"] = s.weights.empty() ? Json(nullptr) : Json(s.weights);
            j["uKnots"] = s.uKnots;
            j["uMults"] = s.uMults;
            j["vKnots"] = s.vKnots;
            j["vMults"] = s.vMults;
            j["uClosure"] = s.uClosure;
            j["vClosure"] = s.vClosure;
        }
        break;
    }
    return j;
}

Json curveJson(int i, const qelx_test::TestCurve& c)
{
    Json j = Json::object();
    j["id"] = i + 1;
    j["type"] = (c.type >= 0 && c.type <= 4) ? CurveNames[c.type] : "unknown";
    j["parameterization"] = {{"scale", c.scale}, {"offset", c.offset}, {"flag", c.flag}};
    j["domain"] = pair(c.domain);
    if (c.type == qelx_test::CurvLine) {
        j["point"] = vec(c.p);
        j["direction"] = vec(c.d1);
    } else if (c.type == qelx_test::CurvEllipse) {
        j["major"] = c.major;
        j["minor"] = c.minor;
        j["centre"] = vec(c.p);
        j["majorDir"] = vec(c.d1);
        j["normal"] = vec(c.d2);
    } else if (c.type == qelx_test::CurvNurbs || c.nurbs.count > 0) {
        putNurbs(j, c.nurbs);
    }
    return j;
}

Json attributesJson(std::uint64_t word, const qelx_test::TestAttributes& a)
{
    Json j = Json::object();
    j["entity"] = entity(word);
    auto opt = [&](const char* key, const auto& field) {
        if (field)
            j[key] = *field;
    };
    opt("layer", a.layer);
    opt("name", a.name);
    opt("color", a.color);
    opt("show", a.show);
    opt("pick", a.pick);
    opt("planeUnbounded", a.planeUnbounded);
    opt("surfaceUnbounded", a.surfaceUnbounded);
    opt("thickness", a.thickness);
    opt("lineType", a.lineType);
    opt("lineWeight", a.lineWeight);
    opt("id", a.id);
    opt("textId", a.textId);
    opt("pid", a.pid);
    opt("pname", a.pname);
    opt("pset", a.pset);
    opt("mdi", a.mdi);
    opt("alias2", a.alias2);
    if (!a.aliases.empty())
        j["aliases"] = a.aliases;
    return j;
}

// One element of each entity table, keys in document order.
Json element(int i)
{
    Json j = Json::object();
    j["id"] = i + 1;
    return j;
}

Json bodyJson(int i, const qelx_test::TestBody& b)
{
    Json j = element(i);
    j["lumps"] = refs(b.lumps);
    j["shells2D"] = refs(b.shells2D);
    j["faces"] = refs(b.faces);
    j["wires"] = refs(b.wires);
    j["pointWires"] = refs(b.pointWires);
    return j;
}

Json lumpJson(int i, const qelx_test::TestLump& l)
{
    Json j = element(i);
    j["volumes"] = refs(l.volumes);
    return j;
}

Json volumeJson(int i, const qelx_test::TestVolume& v)
{
    Json j = element(i);
    j["shells"] = refs(v.shells);
    return j;
}

Json shellJson(int i, const qelx_test::TestShell& s)
{
    Json j = element(i);
    j["closed"] = s.closed;
    j["faces"] = refs(s.faces);
    return j;
}

Json faceJson(int i, const qelx_test::TestFace& f)
{
    Json j = element(i);
    j["surface"] = ref(f.surface);
    j["sense"] = f.sense;
    j["orientationCorrect"] = f.orientationCorrect;
    j["category"] = f.category;
    j["uDomain"] = pair(f.uDomain);
    j["vDomain"] = pair(f.vDomain);
    j["loops"] = refs(f.loops);
    return j;
}

Json loopJson(int i, const qelx_test::TestLoop& l)
{
    Json j = element(i);
    j["face"] = ref(l.face);
    j["outer"] = l.outer;
    j["degenerate"] = l.degenerate;
    j["vertex"] = ref(l.vertex);
    j["coedges"] = refs(l.coedges);
    return j;
}

Json coedgeJson(int i, const qelx_test::TestCoedge& c)
{
    Json j = element(i);
    j["loop"] = ref(c.loop);
    j["edge"] = ref(c.edge);
    j["sense"] = c.sense;
    j["domain"] = pair(c.domain);
    j["pcurve"] = ref(c.pcurve);
    j["pcurveSense"] = c.pcurveSense;
    return j;
}

// The partner coedges come last: a streamed document adds them at the end.
Json edgeJson(int i, const qelx_test::TestEdge& e)
{
    Json j = element(i);
    j["curve"] = ref(e.curve);
    j["sense"] = e.sense;
    j["domain"] = pair(e.domain);
    j["start"] = ref(e.start);
    j["end"] = ref(e.end);
    j["coedges"] = refs(e.coedges);
    return j;
}

// The edges come last, as an edge's coedges do.
Json vertexJson(int i, const qelx_test::TestVertex& v)
{
    Json j = element(i);
    j["point"] = ref(v.point);
    j["edges"] = refs(v.edges);
    return j;
}

Json wireJson(int i, const qelx_test::TestWire& w)
{
    Json j = element(i);
    j["edges"] = refs(w.edges);
    j["vertices"] = refs(w.vertices);
    return j;
}

Json pcurveJson(int i, const qelx_test::TestPCurve& p)
{
    Json j = element(i);
    j["type"] = "nurbs";
    j["parameterization"] = {{"scale", p.scale}, {"offset", p.offset}, {"flag", p.flag}};
    putNurbs(j, p.nurbs);
    return j;
}

Json pointJson(int i, const Vec3& p)
{
    Json j = element(i);
    j["xyz"] = vec(p);
    return j;
}

Json layerJson(int number, const qelx_test::TestLayer& l)
{
    return {{"number", number}, {"name", l.name}, {"color", l.color}, {"state", l.state}};
}

// The top-level fields in document order: a field's text (its key and value)
// comes from the callback, the fields between them from here.
constexpr const char* FieldOrder[] = {"format", "version", "xtype", "unit", "bodies", "lumps", "volumes",
                                      "shells", "faces", "loops", "coedges", "edges", "vertices", "wires",
                                      "surfaces", "curves", "pcurves", "points", "freeSurfaces", "freeCurves",
                                      "freePoints", "attributes", "layers", "layerFilters", "groups"};

// A number that is not finite is written as null, which no reader takes: a
// model holding one (an overflowed coordinate) is refused, not written as a
// document that cannot be read back.
bool finiteNumbers(const Json& j)
{
    if (j.is_number_float())
        return std::isfinite(j.get<double>());
    if (j.is_structured())
        for (const Json& v : j)
            if (!finiteNumbers(v))
                return false;
    return true;
}

std::string notFiniteText(const char* key, std::size_t index)
{
    return "/" + std::string(key) + "/" + std::to_string(index) +
           ": a number that is not finite, which a document cannot hold";
}

std::string splineFaultText(const char* key, std::size_t index, const std::string& why)
{
    return "/" + std::string(key) + "/" + std::to_string(index) + why + ", which a document cannot hold";
}

// Why a table's element could not be read back ("" when it could): a
// number that is not finite, or a spline or an ellipse's domain its reader
// refuses (a pcurve cut to a coedge's range of no length had all its knots at
// one value).
std::string unwritableText(const char* key, std::size_t index, const Json& row)
{
    if (!finiteNumbers(row))
        return notFiniteText(key, index);
    if (const std::string why = writtenFault(row); !why.empty())
        return splineFaultText(key, index, why);
    return std::string();
}

// The element of a table that could not be read back: a number that is not
// finite, or (`spline`) a spline or an ellipse's domain its reader refuses.
struct UnwritableElement {
    std::size_t index;
    std::string spline;
};

// Compact, with one table element per line: large documents stay small and a
// line still names one entity. `value(key, out)` writes the value of each field.
template <class Value, class Out>
void writeDocument(Value&& value, Out&& out)
{
    out("{\n");
    bool first = true;
    for (const char* key : FieldOrder) {
        out(first ? "" : ",\n");
        first = false;
        out(Json(key).dump() + ":");
        try {
            value(key);
        } catch (const UnwritableElement& e) {
            throw NeutralDocumentError(e.spline.empty() ? notFiniteText(key, e.index)
                                                        : splineFaultText(key, e.index, e.spline));
        }
    }
    out("\n}\n");
}

// A table's elements, one per line, each written as element(i) makes it for
// i = 0, 1, ... in turn (no table is ever whole as JSON values): "[]" when
// there are none.
template <class Element, class Out>
void writeTable(std::size_t count, Element&& element, Out&& out)
{
    if (count == 0) {
        out("[]");
        return;
    }
    out("[\n");
    for (std::size_t i = 0; i < count; ++i) {
        const auto& row = element(i);
        if (!finiteNumbers(row))
            throw UnwritableElement{i, std::string()};
        if (std::string why = writtenFault(row); !why.empty())
            throw UnwritableElement{i, std::move(why)};
        out(row.dump() + (i + 1 < count ? ",\n" : "\n"));
    }
    out("]");
}

template <class Out>
void writeTable(const std::vector<Json>& elements, Out&& out)
{
    writeTable(elements.size(), [&](std::size_t i) -> const Json& { return elements[i]; }, out);
}

// The fields every writer writes alike from what it holds: the header, the
// free lists and the layers. False for a key that is the writer's own.
template <class Source, class Out>
bool writeSharedField(const std::string& key, const Source& s, Out&& out)
{
    if (key == "format")
        out(Json(NeutralFormatName).dump());
    else if (key == "version")
        out(Json(NeutralFormatVersion).dump());
    else if (key == "xtype")
        out(Json(s.xType).dump());
    else if (key == "unit")
        out(Json(s.unit).dump());
    else if (key == "freeSurfaces")
        out(refs(s.freeSurfaces).dump());
    else if (key == "freeCurves")
        out(refs(s.freeCurves).dump());
    else if (key == "freePoints")
        out(refs(s.freePoints).dump());
    else if (key == "layers") {
        std::vector<Json> elements;
        for (const auto& [number, l] : s.layers)
            elements.push_back(layerJson(number, l));
        writeTable(elements, out);
    } else
        return false;
    return true;
}

} // namespace

std::string writeNeutralText(const TestModel& m)
{
    std::string text;
    auto out = [&](const std::string& piece) { text += piece; };
    auto table = [&](const auto& rows, auto&& json) {
        writeTable(rows.size(), [&](std::size_t i) { return json(static_cast<int>(i), rows[i]); }, out);
    };
    auto value = [&](const std::string& key) {
        if (writeSharedField(key, m, out))
            return;
        if (key == "bodies")
            table(m.bodies, bodyJson);
        else if (key == "lumps")
            table(m.lumps, lumpJson);
        else if (key == "volumes")
            table(m.volumes, volumeJson);
        else if (key == "shells")
            table(m.shells, shellJson);
        else if (key == "faces")
            table(m.faces, faceJson);
        else if (key == "loops")
            table(m.loops, loopJson);
        else if (key == "coedges")
            table(m.coedges, coedgeJson);
        else if (key == "edges")
            table(m.edges, edgeJson);
        else if (key == "vertices")
            table(m.vertices, vertexJson);
        else if (key == "wires")
            table(m.wires, wireJson);
        else if (key == "surfaces")
            table(m.surfaces, surfaceJson);
        else if (key == "curves")
            table(m.curves, curveJson);
        else if (key == "pcurves")
            table(m.pcurves, pcurveJson);
        else if (key == "points")
            table(m.points, pointJson);
        else if (key == "attributes") {
            auto next = m.attributes.begin();
            writeTable(
                m.attributes.size(),
                [&](std::size_t) {
                    // A compact record lives in the iterator: used before it moves on.
                    Json j = attributesJson(next->first, next->second);
                    ++next;
                    return j;
                },
                out);
        } else if (key == "layerFilters") {
            std::vector<Json> elements;
            for (const qelx_test::TestLayerFilter& f : m.layerFilters)
                elements.push_back({{"name", f.name}, {"type", f.type}, {"layers", f.layers}, {"current", f.current}});
            writeTable(elements, out);
        } else if (key == "groups") {
            std::vector<Json> elements;
            for (const qelx_test::TestGroup& g : m.groups) {
                Json members = Json::array();
                for (std::uint64_t w : g.members)
                    members.push_back(entity(w));
                Json element = {{"name", g.name}, {"members", std::move(members)}};
                // Only a member of other groups: written when so, read as a
                // group of its own when not given.
                if (!g.top)
                    element["top"] = false;
                elements.push_back(std::move(element));
            }
            writeTable(elements, out);
        }
    };
    writeDocument(value, out);
    if (std::string why = unwritableGeometry(m); !why.empty())
        throw NeutralDocumentError(why);
    return text;
}

// ------------------------------------------------------------------ streaming

// The lines of one table: in memory while the table is small, then in an
// unnamed temporary file (gone when closed, whatever happens to the process).
class SpillFile {
public:
    SpillFile() = default;
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;
    ~SpillFile()
    {
        if (m_fp)
            std::fclose(m_fp);
        std::free(m_line);
    }

    std::size_t lines() const { return m_lines; }

    // One line (the text holds no line break); false with `failure` set when
    // the file could not be made or written.
    bool add(const std::string& folder, const std::string& text, std::string& failure)
    {
        if (!m_fp && m_buffer.size() + text.size() < kKeptInMemory) {
            m_buffer.append(text);
            m_buffer.push_back('\n');
            ++m_lines;
            return true;
        }
        if (!m_fp) {
            if (!open(folder, failure))
                return false;
            // What was kept in memory goes first, so the lines keep their order.
            if (std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_fp) != m_buffer.size()) {
                failure = std::string("cannot be written (a temporary table: ") + std::strerror(errno) + ")";
                return false;
            }
            std::string().swap(m_buffer);
        }
        if (std::fwrite(text.data(), 1, text.size(), m_fp) != text.size() || std::fputc('\n', m_fp) == EOF) {
            failure = std::string("cannot be written (a temporary table: ") + std::strerror(errno) + ")";
            return false;
        }
        ++m_lines;
        return true;
    }

    // Back to the first line for reading; false when writing had failed.
    bool rewind(std::string& failure)
    {
        m_read = 0;
        if (!m_fp)
            return true;
        if (std::fflush(m_fp) != 0 || std::ferror(m_fp) || std::fseek(m_fp, 0, SEEK_SET) != 0) {
            failure = std::string("cannot be written (a temporary table: ") + std::strerror(errno) + ")";
            return false;
        }
        return true;
    }

    // The next line without its line break; false at the end or on a read failure.
    bool next(std::string& line)
    {
        line.clear();
        if (!m_fp) {
            const std::size_t end = m_buffer.find('\n', m_read);
            if (end == std::string::npos)
                return false;
            line.assign(m_buffer, m_read, end - m_read);
            m_read = end + 1;
            return true;
        }
        const ssize_t n = ::getline(&m_line, &m_capacity, m_fp);
        if (n <= 0 || m_line[n - 1] != '\n')
            return false;
        line.assign(m_line, static_cast<std::size_t>(n - 1));
        return true;
    }

private:
    bool open(const std::string& folder, std::string& failure)
    {
        int fd = -1;
#ifdef O_TMPFILE
        fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
        if (fd >= 0) {
            m_fp = ::fdopen(fd, "w+");
            if (!m_fp)
                ::close(fd);
        } else {
            m_fp = std::tmpfile();
        }
        if (!m_fp) {
            failure = std::string("cannot be written (no temporary table: ") + std::strerror(errno) + ")";
            return false;
        }
        return true;
    }

    // A table stays in memory until it passes this size, so that a small
    // document costs no temporary files; a large one spills and streams.
    static constexpr std::size_t kKeptInMemory = std::size_t(1) << 20;

    FILE* m_fp = nullptr;
    std::string m_buffer;
    std::size_t m_read = 0;
    std::size_t m_lines = 0;
    char* m_line = nullptr;
    std::size_t m_capacity = 0;
};

namespace {

// Entity tables in document order, then the deferred rings and edge lists.
enum SpillTable {
    SpillBodies, SpillLumps, SpillVolumes, SpillShells, SpillFaces, SpillLoops, SpillCoedges, SpillEdges,
    SpillVertices, SpillWires, SpillSurfaces, SpillCurves, SpillPCurves, SpillPoints, SpillEdgeRings,
    SpillVertexEdges, SpillCount
};

// The text of a row whose lists of references may be as long as the model
// (a body's or shell's faces, a wire's edges): each list is written as text
// where its key stands, never built as one JSON value a number each; byte for
// byte what dump() gives for the row with the lists in it.
std::string rowWithLists(Json row, std::initializer_list<std::pair<const char*, const std::vector<int>*>> lists)
{
    // A marker per list, which dump() writes as "\u0001<n>" and no number or
    // key of a row can contain.
    int n = 0;
    for (const auto& [key, list] : lists)
        row[key] = std::string(1, '\x01') + static_cast<char>('a' + n++);
    const std::string bare = row.dump();
    std::string text;
    std::size_t from = 0;
    n = 0;
    char number[16];
    for (const auto& [key, list] : lists) {
        const std::string marker = std::string("\"\\u0001") + static_cast<char>('a' + n++) + "\"";
        const std::size_t at = bare.find(marker, from);
        text.append(bare, from, at - from);
        text += '[';
        for (std::size_t k = 0; k < list->size(); ++k) {
            if (k)
                text += ',';
            const auto end = std::to_chars(number, number + sizeof number, (*list)[k] + 1).ptr;
            text.append(number, end);
        }
        text += ']';
        from = at + marker.size();
    }
    text.append(bare, from, std::string::npos);
    return text;
}

// An element written before its last list: the text up to that list's key.
std::string withoutLastList(const Json& j)
{
    std::string text = j.dump();
    // The element ends with "[]}": its last list, given empty.
    text.resize(text.size() - 3);
    return text;
}

} // namespace

struct NeutralDocumentStream::Tables {
    std::string folder;
    std::string xType = "XTest";
    int unit = 1;
    SpillFile tables[SpillCount];
    SpillFile attributes[16]; // by entity kind: word order is kind, then index
    std::vector<int> freeSurfaces, freeCurves, freePoints;
    std::map<int, qelx_test::TestLayer> layers;
    std::string failure;
    // What the reader's judgement of the geometry reads (unwritableGeometry):
    // the geometry whole, of the topology the references, ranges and the
    // lists that tell which body holds a face or an edge, judged once the
    // walk is over.
    TestModel judged;
    bool judgedOnce = false;

    void keep(const qelx_test::TestLump& l) { judged.lumps.push_back(l); }
    void keep(const qelx_test::TestVolume& v) { judged.volumes.push_back(v); }
    void keep(const qelx_test::TestShell& s) { judged.shells.emplace_back().faces = s.faces; }
    void keep(const qelx_test::TestBody& b) { judged.bodies.push_back(b); }
    void keep(const qelx_test::TestWire& w) { judged.wires.emplace_back().edges = w.edges; }
    void keep(const qelx_test::TestFace& f)
    {
        qelx_test::TestFace& kept = judged.faces.emplace_back();
        kept.surface = f.surface;
        std::copy(f.uDomain, f.uDomain + 2, kept.uDomain);
        std::copy(f.vDomain, f.vDomain + 2, kept.vDomain);
    }
    void keep(const qelx_test::TestLoop& l) { judged.loops.emplace_back().face = l.face; }
    void keep(const qelx_test::TestCoedge& c) { judged.coedges.push_back(c); }
    void keep(const qelx_test::TestEdge& e)
    {
        qelx_test::TestEdge& kept = judged.edges.emplace_back();
        kept.curve = e.curve;
        kept.start = e.start;
        kept.end = e.end;
        std::copy(e.domain, e.domain + 2, kept.domain);
    }
    void keep(const qelx_test::TestVertex& v) { judged.vertices.emplace_back().point = v.point; }
    void keep(const qelx_test::TestSurface& k) { judged.surfaces.push_back(k); }
    void keep(const qelx_test::TestCurve& c) { judged.curves.push_back(c); }
    void keep(const qelx_test::TestPCurve& p) { judged.pcurves.push_back(p); }
    void keep(const Vec3& p) { judged.points.push_back(p); }

    // The writer's refusal of what the walk handed over, once: a fault of a
    // table row, or else of the geometry as its reader judges it.
    const std::string& judge()
    {
        if (!judgedOnce && failure.empty())
            failure = unwritableGeometry(judged);
        judgedOnce = true;
        return failure;
    }

    void add(int table, const std::string& text)
    {
        if (failure.empty())
            tables[table].add(folder, text, failure);
    }
};

NeutralDocumentStream::NeutralDocumentStream(const std::string& path) : m_path(path), m_tables(new Tables)
{
    std::string target, reason;
    if (resolveWriteTarget(path, target, reason) != QELI_OK)
        target = path;
    const std::size_t slash = target.rfind('/');
    m_tables->folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
}

NeutralDocumentStream::~NeutralDocumentStream() = default;

void NeutralDocumentStream::document(const std::string& xType, int unit)
{
    m_tables->xType = xType;
    m_tables->unit = unit;
}

// Numbered by arrival: the walk hands each table's elements over in index order.
#define QELX_NEUTRAL_STREAM_TABLE(METHOD, TYPE, TABLE, KEY, JSON)                                                 \
    void NeutralDocumentStream::METHOD(const TYPE& element)                                                   \
    {                                                                                                          \
        const std::size_t i = m_tables->tables[TABLE].lines();                                                \
        const Json row = JSON(static_cast<int>(i), element);                                                   \
        if (m_tables->failure.empty())                                                                         \
            m_tables->failure = unwritableText(KEY, i, row);                                                   \
        m_tables->add(TABLE, row.dump());                                                                      \
        m_tables->keep(element);                                                                               \
    }
QELX_NEUTRAL_STREAM_TABLE(lump, qelx_test::TestLump, SpillLumps, "lumps", lumpJson)
QELX_NEUTRAL_STREAM_TABLE(volume, qelx_test::TestVolume, SpillVolumes, "volumes", volumeJson)
QELX_NEUTRAL_STREAM_TABLE(face, qelx_test::TestFace, SpillFaces, "faces", faceJson)
QELX_NEUTRAL_STREAM_TABLE(loop, qelx_test::TestLoop, SpillLoops, "loops", loopJson)
QELX_NEUTRAL_STREAM_TABLE(coedge, qelx_test::TestCoedge, SpillCoedges, "coedges", coedgeJson)
QELX_NEUTRAL_STREAM_TABLE(surface, qelx_test::TestSurface, SpillSurfaces, "surfaces", surfaceJson)
QELX_NEUTRAL_STREAM_TABLE(curve, qelx_test::TestCurve, SpillCurves, "curves", curveJson)
QELX_NEUTRAL_STREAM_TABLE(pcurve, qelx_test::TestPCurve, SpillPCurves, "pcurves", pcurveJson)
QELX_NEUTRAL_STREAM_TABLE(point, qelx_test::Vec3, SpillPoints, "points", pointJson)
#undef QELX_NEUTRAL_STREAM_TABLE

void NeutralDocumentStream::body(const qelx_test::TestBody& b)
{
    m_tables->keep(b);
    const int i = static_cast<int>(m_tables->tables[SpillBodies].lines());
    m_tables->add(SpillBodies, rowWithLists(bodyJson(i, {}), {{"lumps", &b.lumps},
                                                              {"shells2D", &b.shells2D},
                                                              {"faces", &b.faces},
                                                              {"wires", &b.wires},
                                                              {"pointWires", &b.pointWires}}));
}

void NeutralDocumentStream::shell(const qelx_test::TestShell& s)
{
    m_tables->keep(s);
    qelx_test::TestShell bare;
    bare.closed = s.closed;
    const int i = static_cast<int>(m_tables->tables[SpillShells].lines());
    m_tables->add(SpillShells, rowWithLists(shellJson(i, bare), {{"faces", &s.faces}}));
}

void NeutralDocumentStream::wire(const qelx_test::TestWire& w)
{
    m_tables->keep(w);
    const int i = static_cast<int>(m_tables->tables[SpillWires].lines());
    m_tables->add(SpillWires, rowWithLists(wireJson(i, {}), {{"edges", &w.edges}, {"vertices", &w.vertices}}));
}

void NeutralDocumentStream::edge(const qelx_test::TestEdge& e)
{
    qelx_test::TestEdge bare = e;
    bare.coedges.clear();
    const std::size_t i = m_tables->tables[SpillEdges].lines();
    const Json row = edgeJson(static_cast<int>(i), bare);
    if (!finiteNumbers(row) && m_tables->failure.empty())
        m_tables->failure = notFiniteText("edges", i);
    m_tables->add(SpillEdges, withoutLastList(row));
    m_tables->keep(e);
}

void NeutralDocumentStream::vertex(const qelx_test::TestVertex& v)
{
    qelx_test::TestVertex bare = v;
    bare.edges.clear();
    m_tables->add(SpillVertices,
                  withoutLastList(vertexJson(static_cast<int>(m_tables->tables[SpillVertices].lines()), bare)));
    m_tables->keep(v);
}

void NeutralDocumentStream::edgeCoedges(int, const std::vector<int>& coedges)
{
    m_tables->add(SpillEdgeRings, refs(coedges).dump());
}

void NeutralDocumentStream::vertexEdges(int, const std::vector<int>& edges)
{
    m_tables->add(SpillVertexEdges, refs(edges).dump());
}

void NeutralDocumentStream::freeEntities(const std::vector<int>& surfaces, const std::vector<int>& curves,
                                         const std::vector<int>& points)
{
    m_tables->freeSurfaces = surfaces;
    m_tables->freeCurves = curves;
    m_tables->freePoints = points;
}

void NeutralDocumentStream::attributes(std::uint64_t word, const qelx_test::TestAttributes& a)
{
    const int kind = std::min(qelx_test::kindOfWord(word), 15);
    if (!m_tables->failure.empty())
        return;
    const Json row = attributesJson(word, a);
    if (!finiteNumbers(row))
        m_tables->failure = "/attributes: a number that is not finite, which a document cannot hold";
    else
        m_tables->attributes[kind].add(m_tables->folder, row.dump(), m_tables->failure);
}

void NeutralDocumentStream::layer(int number, const qelx_test::TestLayer& l)
{
    if (!finiteNumbers(layerJson(number, l)) && m_tables->failure.empty())
        m_tables->failure = "/layers: a number that is not finite, which a document cannot hold";
    m_tables->layers[number] = l;
}

QELIResult NeutralDocumentStream::commit(std::string& reason)
{
    if (!m_tables->judge().empty()) {
        reason = m_tables->failure;
        return QELI_FILE_NOT_SAVED;
    }
    return writeWholeFile([&](const TextPut& put, std::string& why) { return produce(put, why); }, m_path, reason);
}

bool NeutralDocumentStream::produce(const TextPut& put, std::string& why)
{
    Tables& t = *m_tables;
    if (!t.judge().empty()) {
        why = t.failure;
        return false;
    }
    // Pieces gathered into large writes.
    std::string buffer;
    bool ok = true;
    auto out = [&](const std::string& piece) {
        buffer += piece;
        if (ok && buffer.size() >= (1u << 20)) {
            ok = put(buffer.data(), buffer.size());
            buffer.clear();
        }
    };
    std::string line, tail;
    // Lines of the files one after another as one table; `finish`
    // completes a line (the deferred list of an edge or vertex).
    auto spilled = [&](std::initializer_list<SpillFile*> files, SpillFile* rest) {
        std::size_t count = 0;
        for (SpillFile* f : files) {
            count += f->lines();
            if (!f->rewind(why))
                ok = false;
        }
        if (rest && !rest->rewind(why))
            ok = false;
        if (count == 0) {
            out("[]");
            return;
        }
        out("[\n");
        std::size_t written = 0;
        for (SpillFile* f : files)
            while (ok && f->next(line)) {
                if (rest) {
                    if (!rest->next(tail)) {
                        why = "cannot be written (a temporary table was cut short)";
                        ok = false;
                        return;
                    }
                    line += tail + "}";
                }
                out(line + (++written < count ? ",\n" : "\n"));
            }
        if (written != count) {
            why = "cannot be written (a temporary table was cut short)";
            ok = false;
        }
        out("]");
    };
    auto value = [&](const std::string& key) {
        static const char* const tableKeys[] = {"bodies", "lumps", "volumes", "shells", "faces",
                                                "loops", "coedges", "edges", "vertices", "wires",
                                                "surfaces", "curves", "pcurves", "points"};
        for (int k = 0; k < TableCount; ++k)
            if (key == tableKeys[k]) {
                SpillFile* rest = k == SpillEdges      ? &t.tables[SpillEdgeRings]
                                  : k == SpillVertices ? &t.tables[SpillVertexEdges]
                                                       : nullptr;
                spilled({&t.tables[k]}, rest);
                return;
            }
        if (writeSharedField(key, t, out))
            return;
        if (key == "attributes") {
            std::initializer_list<SpillFile*> kinds = {
                &t.attributes[0],  &t.attributes[1],  &t.attributes[2],  &t.attributes[3],
                &t.attributes[4],  &t.attributes[5],  &t.attributes[6],  &t.attributes[7],
                &t.attributes[8],  &t.attributes[9],  &t.attributes[10], &t.attributes[11],
                &t.attributes[12], &t.attributes[13], &t.attributes[14], &t.attributes[15]};
            spilled(kinds, nullptr);
        } else {
            // Layer filters and groups: the walk reads none.
            out("[]");
        }
    };
    writeDocument(value, out);
    if (ok && !buffer.empty())
        ok = put(buffer.data(), buffer.size());
    return ok;
}

// ------------------------------------------------------------------ reading

namespace {

// Follows the parser through the text so that a syntax error can be
// reported with the path it stopped in.
class PathTracker : public nlohmann::json_sax<Json> {
public:
    std::string path() const
    {
        std::string p;
        for (const Level& l : m_stack)
            p += "/" + (l.array ? std::to_string(l.index) : l.key);
        return p.empty() ? "/" : p;
    }
    std::string error;

    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool string(string_t&) override { return value(); }
    bool binary(binary_t&) override { return value(); }
    bool start_object(std::size_t) override
    {
        m_stack.push_back({false, 0, ""});
        return true;
    }
    bool key(string_t& k) override
    {
        m_stack.back().key = k;
        return true;
    }
    bool end_object() override { return end(); }
    bool start_array(std::size_t) override
    {
        m_stack.push_back({true, 0, ""});
        return true;
    }
    bool end_array() override { return end(); }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& e) override
    {
        error = "byte " + std::to_string(position) + ": " + e.what();
        return false;
    }

private:
    struct Level {
        bool array;
        int index;
        std::string key;
    };
    bool value()
    {
        if (!m_stack.empty() && m_stack.back().array)
            ++m_stack.back().index;
        return true;
    }
    bool end()
    {
        m_stack.pop_back();
        return value();
    }
    std::vector<Level> m_stack;
};

// Where a value lies in the document: a chain of pieces, each on the stack of
// the reading that reached it, spelled out only when a refusal names it, so
// that reading a sound document builds no path text at all. A piece refers to
// its parent: keep a named Where for the parent of any Where kept in a
// variable.
class Where {
public:
    Where() = default; // the document itself
    Where operator/(const char* name) const { return Where(this, name, 0); }
    Where operator/(std::size_t index) const { return Where(this, nullptr, index); }
    std::string text() const
    {
        if (!m_parent)
            return std::string();
        return m_parent->text() + "/" + (m_name ? std::string(m_name) : std::to_string(m_index));
    }
    // The last piece: a field's name, or null for an array index.
    const char* name() const { return m_name; }
    std::size_t index() const { return m_index; }
    const Where* parent() const { return m_parent; }

private:
    Where(const Where* parent, const char* name, std::size_t index) : m_parent(parent), m_name(name), m_index(index)
    {
    }
    const Where* m_parent = nullptr;
    const char* m_name = nullptr; // null: an array index
    std::size_t m_index = 0;
};

class Reader {
public:
    explicit Reader(std::string source) : m_source(std::move(source)) {}

    [[noreturn]] void fail(const std::string& path, const std::string& what) const
    {
        throw NeutralDocumentError(m_source + ": " + (path.empty() ? "/" : path) + ": " + what);
    }
    [[noreturn]] void fail(const Where& path, const std::string& what) const { fail(path.text(), what); }

    const Json& at(const Json& j, const Where& path, const char* key) const
    {
        if (!j.is_object())
            fail(path, "expected an object");
        auto it = j.find(key);
        if (it == j.end())
            fail(path / key, "missing");
        return *it;
    }
    double num(const Json& j, const Where& path) const
    {
        if (!j.is_number())
            fail(path, "expected a number");
        const double v = j.get<double>();
        if (!std::isfinite(v))
            fail(path, "not a finite number");
        return v;
    }
    int integer(const Json& j, const Where& path) const
    {
        if (!j.is_number_integer())
            fail(path, "expected an integer");
        const auto v = j.get<std::int64_t>();
        if (v < INT32_MIN || v > INT32_MAX)
            fail(path, "integer out of range");
        return static_cast<int>(v);
    }
    bool boolean(const Json& j, const Where& path) const
    {
        if (!j.is_boolean())
            fail(path, "expected true or false");
        return j.get<bool>();
    }
    std::string text(const Json& j, const Where& path) const
    {
        if (!j.is_string())
            fail(path, "expected a string");
        return j.get<std::string>();
    }
    const Json& array(const Json& j, const Where& path) const
    {
        if (!j.is_array())
            fail(path, "expected an array");
        return j;
    }
    std::vector<double> nums(const Json& j, const Where& path) const
    {
        std::vector<double> v;
        const Json& a = array(j, path);
        for (std::size_t i = 0; i < a.size(); ++i)
            v.push_back(num(a[i], path / i));
        return v;
    }
    std::vector<int> ints(const Json& j, const Where& path) const
    {
        std::vector<int> v;
        const Json& a = array(j, path);
        for (std::size_t i = 0; i < a.size(); ++i)
            v.push_back(integer(a[i], path / i));
        return v;
    }
    Vec3 vec3(const Json& j, const Where& path) const
    {
        const std::vector<double> v = nums(j, path);
        if (v.size() != 3)
            fail(path, "expected 3 numbers");
        return {v[0], v[1], v[2]};
    }
    void pairInto(const Json& j, const Where& path, double out[2]) const
    {
        const std::vector<double> v = nums(j, path);
        if (v.size() != 2)
            fail(path, "expected 2 numbers");
        out[0] = v[0];
        out[1] = v[1];
    }
    // The range of an edge on a curve runs forwards (its sense says which way
    // the edge goes): a backwards one made pcurves whose knots fall, and a
    // save file that could not be read back. An edge without a curve has no
    // range to speak of (the exporter writes it as [1, 0]).
    void rangeInto(const Json& j, const Where& path, double out[2], bool onCurve) const
    {
        pairInto(j, path, out);
        if (onCurve && out[0] > out[1])
            fail(path, "a parameter range that runs backwards");
    }

    // A reference into a table: an id that exists, or null where allowed.
    // While an element is read its table may refer to tables still to come,
    // so the id is kept (the element holds -2 - k, k its place among the ids
    // kept) and is resolved once every table is in (`resolveTable`).
    int resolve(const Json& j, const Where& path, int table, bool nullable = true)
    {
        if (j.is_null() && nullable)
            return -1;
        const int id = integer(j, path);
        if (m_deferring) {
            const int k = static_cast<int>(m_pending.size());
            m_pending.push_back(id);
            // Where it stands in its element, should the element fail later on.
            m_captured.push_back(path.name() ? PendingRef{path.name(), -1, table, k}
                                             : PendingRef{path.parent()->name(), static_cast<long>(path.index()),
                                                          table, k});
            return -2 - k;
        }
        return lookup(id, table, [&] { return path.text(); });
    }
    template <class PathText>
    int lookup(int id, int table, PathText&& path) const
    {
        auto it = m_ids[table].find(id);
        if (it == m_ids[table].end())
            fail(path(), std::string("refers to ") + KindNames[table] + " " + std::to_string(id) +
                             ", which does not exist");
        return it->second;
    }
    std::vector<int> resolveAll(const Json& j, const Where& path, int table)
    {
        std::vector<int> v;
        const Json& a = array(j, path);
        for (std::size_t i = 0; i < a.size(); ++i)
            v.push_back(resolve(a[i], path / i, table, false));
        return v;
    }
    std::uint64_t entityWord(const Json& j, const Where& path)
    {
        const std::string kind = text(at(j, path, "kind"), path / "kind");
        for (int t = 0; t < TableCount; ++t)
            if (kind == KindNames[t])
                return qelx_test::wordOf(static_cast<qelx_test::EntityKind>(t + 1),
                                         resolve(at(j, path, "id"), path / "id", t, false));
        fail(path / "kind", "unknown entity kind \"" + kind + "\"");
    }
    TestNurbs nurbs(const Json& j, const Where& path, int dim) const
    {
        TestNurbs n;
        n.degree = integer(at(j, path, "degree"), path / "degree");
        n.count = integer(at(j, path, "count"), path / "count");
        n.ctrl = nums(at(j, path, "controlPoints"), path / "controlPoints");
        const Json& w = at(j, path, "weights");
        if (!w.is_null())
            n.weights = nums(w, path / "weights");
        n.knots = nums(at(j, path, "knots"), path / "knots");
        n.mults = ints(at(j, path, "mults"), path / "mults");
        n.form = integer(at(j, path, "form"), path / "form");
        if (n.count < 0 || n.ctrl.size() != static_cast<std::size_t>(dim) * static_cast<std::size_t>(n.count))
            fail(path / "controlPoints", "expected " + std::to_string(dim) + " numbers per control point");
        if (!n.weights.empty() && n.weights.size() != static_cast<std::size_t>(n.count))
            fail(path / "weights", "expected one weight per control point");
        if (n.knots.size() != n.mults.size())
            fail(path / "mults", "expected one multiplicity per knot");
        checkKnots(path, "knots", "mults", n.degree, n.count, n.knots, n.mults);
        checkWeights(path / "weights", n.weights);
        return n;
    }

    void checkKnots(const Where& path, const char* knotKey, const char* multKey, int degree, int count,
                    const std::vector<double>& knots, const std::vector<int>& mults) const
    {
        bool inMults = false;
        if (const char* why = knotsFault(degree, count, knots, mults, inMults))
            fail(inMults ? path / multKey : std::string(why).rfind("knots", 0) == 0 ? path / knotKey : path, why);
    }
    void checkWeights(const Where& path, const std::vector<double>& weights) const
    {
        for (double w : weights)
            if (!(w > 0.0))
                fail(path, "a weight that is not positive");
    }

    // Table numbers, in document order.
    enum : int {
        body, lump, volume, shell, face, loop, coedge, edge, vertex, wire, surface, curve, pcurve, point
    };

    // One element of entity table `t` as it arrives: its id is collected,
    // then (while its table has no fault yet) it is read into the model with
    // its references kept for later. A fault is kept, not thrown: an earlier
    // fault of the document's order (a broken id anywhere, a dangling
    // reference in an earlier element, the text itself) may still come first.
    void element(int t, std::size_t i, const Json& j, TestModel& m)
    {
        TableState& s = m_tables[t];
        const Where table = m_document / Tables[t];
        const Where p = table / i;
        if (!s.collectFault.empty())
            return;
        try {
            const int id = integer(at(j, p, "id"), p / "id");
            if (!m_ids[t].emplace(id, static_cast<int>(i)).second)
                fail(p / "id", "duplicate id " + std::to_string(id));
        } catch (const NeutralDocumentError& e) {
            s.collectFault = e.what();
            return;
        }
        if (s.failed)
            return;
        m_captured.clear();
        m_deferring = true;
        try {
            fill(t, j, p, m);
        } catch (const NeutralDocumentError& e) {
            s.failed = true;
            s.failIndex = i;
            s.fault = e.what();
            s.failRefs = m_captured;
        }
        m_deferring = false;
    }

    // One attribute record as it arrives (every entity table already in);
    // the first fault is kept for its turn.
    void attributeRecord(std::size_t i, const Json& j, TestModel& m)
    {
        if (!m_attributeFault.empty())
            return;
        try {
            readAttribute(m_document / "attributes" / i, j, m);
        } catch (const NeutralDocumentError& e) {
            m_attributeFault = e.what();
        }
    }

    void sawTable(int t, bool isArray)
    {
        m_tables[t].seen = true;
        m_tables[t].isArray = isArray;
    }
    void sawKeyTwice(const std::string& key)
    {
        if (m_twice.empty())
            m_twice = key;
    }
    void documentIsNotAnObject() { m_notAnObject = true; }
    void attributesStreamed() { m_attributesStreamed = true; }

    // The refusals in the order a reader of the whole document meets them:
    // the document's shape, its header, every table's ids, each table's
    // elements with their references, offsets of themselves, the free
    // entities, then attributes, layers, filters and groups.
    void finish(const Json& rest, TestModel& m)
    {
        if (m_notAnObject)
            fail("/", "expected an object");
        if (text(at(rest, m_document, "format"), m_document / "format") != NeutralFormatName)
            fail("/format", std::string("not a \"") + NeutralFormatName + "\" document");
        const int version = integer(at(rest, m_document, "version"), m_document / "version");
        if (version != NeutralFormatVersion)
            fail("/version", "version " + std::to_string(version) + " is not supported");
        m.xType = text(at(rest, m_document, "xtype"), m_document / "xtype");
        m.unit = integer(at(rest, m_document, "unit"), m_document / "unit");
        if (m.unit < QELX_UNIT_NONE || m.unit > QELX_UNIT_MILE)
            fail("/unit", "unit " + std::to_string(m.unit) + " is not a unit code");
        for (int t = 0; t < TableCount; ++t) {
            const TableState& s = m_tables[t];
            if (!s.seen)
                fail(m_document / Tables[t], "missing");
            if (!s.isArray)
                fail(m_document / Tables[t], "expected an array");
            if (!s.collectFault.empty())
                throw NeutralDocumentError(s.collectFault);
        }
        for (int t = 0; t < TableCount; ++t)
            resolveTable(t, m);
        std::vector<int>().swap(m_pending);
        // Tables grown an element at a time hold up to twice their size.
        m.bodies.shrink_to_fit(), m.lumps.shrink_to_fit(), m.volumes.shrink_to_fit(), m.shells.shrink_to_fit();
        m.faces.shrink_to_fit(), m.loops.shrink_to_fit(), m.coedges.shrink_to_fit(), m.edges.shrink_to_fit();
        m.vertices.shrink_to_fit(), m.wires.shrink_to_fit(), m.surfaces.shrink_to_fit(), m.curves.shrink_to_fit();
        m.pcurves.shrink_to_fit(), m.points.shrink_to_fit();
        // An offset chain that comes back to where it started has no surface at its end.
        for (std::size_t i = 0; i < m.surfaces.size(); ++i) {
            std::size_t steps = 0;
            for (int s = static_cast<int>(i); s >= 0 && m.surfaces[s].type == qelx_test::SurfOffset;
                 s = m.surfaces[s].ref)
                if (++steps > m.surfaces.size())
                    fail("/surfaces/" + std::to_string(i) + "/base", "an offset of itself");
        }
        // A loop's or an edge's coedges name it back, and none is in a list
        // twice: the importer builds loops from the loops' lists and partner
        // rings from the edges', so a coedge on an edge that does not list it
        // made a body whose rings did not close, and one listed twice was
        // built twice. (A coedge its loop leaves out is a loop that does not
        // close, which the import refuses on its own.)
        const auto listedOnce = [&](const char* owners, const char* owner, std::size_t ownerCount, const auto& listOf,
                                    const auto& ownerOf, bool mustList) {
            std::vector<int> listed(m.coedges.size(), 0);
            for (std::size_t o = 0; o < ownerCount; ++o) {
                const std::vector<int>& list = listOf(o);
                for (std::size_t k = 0; k < list.size(); ++k) {
                    const auto c = static_cast<std::size_t>(list[k]);
                    if (ownerOf(c) != static_cast<int>(o))
                        fail("/" + std::string(owners) + "/" + std::to_string(o) + "/coedges/" + std::to_string(k),
                             "a coedge that does not name it back");
                    ++listed[c];
                }
            }
            for (std::size_t c = 0; c < m.coedges.size(); ++c) {
                if (listed[c] > 1)
                    fail("/coedges/" + std::to_string(c),
                         "listed " + std::to_string(listed[c]) + " times by the " + owner + " it names");
                // An edge leaves out none of its coedges: the kernel's
                // partner ring of an edge that listed none of the coedges on
                // it was read through a null as the body was made.
                if (mustList && listed[c] == 0 && ownerOf(c) >= 0)
                    fail("/coedges/" + std::to_string(c) + "/" + owner, std::string("an ") + owner +
                                                                      " that does not list it");
            }
        };
        listedOnce("loops", "loop", m.loops.size(), [&](std::size_t l) -> const std::vector<int>& { return m.loops[l].coedges; },
                   [&](std::size_t c) { return m.coedges[c].loop; }, false);
        listedOnce("edges", "edge", m.edges.size(), [&](std::size_t e) -> const std::vector<int>& { return m.edges[e].coedges; },
                   [&](std::size_t c) { return m.coedges[c].edge; }, true);
        // A vertex lists only edges that start or end at it, and an edge's
        // ends list it: the importer meets a vertex's edges through its list,
        // so an edge moved onto another vertex left one whose list held an
        // edge it was not on, and the healing read that edge after it had
        // replaced it.
        {
            std::vector<char> startListed(m.edges.size(), 0), endListed(m.edges.size(), 0);
            for (std::size_t v = 0; v < m.vertices.size(); ++v) {
                const std::vector<int>& list = m.vertices[v].edges;
                for (std::size_t k = 0; k < list.size(); ++k) {
                    const auto e = static_cast<std::size_t>(list[k]);
                    const bool starts = m.edges[e].start == static_cast<int>(v);
                    const bool ends = m.edges[e].end == static_cast<int>(v);
                    if (!starts && !ends)
                        fail("/vertices/" + std::to_string(v) + "/edges/" + std::to_string(k),
                             "an edge that does not start or end at it");
                    startListed[e] |= starts;
                    endListed[e] |= ends;
                }
            }
            for (std::size_t e = 0; e < m.edges.size(); ++e) {
                if (m.edges[e].start >= 0 && !startListed[e])
                    fail("/edges/" + std::to_string(e) + "/start", "a vertex that does not list it");
                if (m.edges[e].end >= 0 && !endListed[e])
                    fail("/edges/" + std::to_string(e) + "/end", "a vertex that does not list it");
            }
        }
        checkGeometry(m);
        m.freeSurfaces = resolveAll(at(rest, m_document, "freeSurfaces"), m_document / "freeSurfaces", surface);
        m.freeCurves = resolveAll(at(rest, m_document, "freeCurves"), m_document / "freeCurves", curve);
        m.freePoints = resolveAll(at(rest, m_document, "freePoints"), m_document / "freePoints", point);
        if (m_attributesStreamed) {
            if (!m_attributeFault.empty())
                throw NeutralDocumentError(m_attributeFault);
        } else {
            const Where attributesAt = m_document / "attributes";
            const Json& attrs = array(at(rest, m_document, "attributes"), attributesAt);
            for (std::size_t i = 0; i < attrs.size(); ++i)
                readAttribute(attributesAt / i, attrs[i], m);
        }
        readLayersAndGroups(rest, m);
        // A field given twice (two tables of one name): the value after the
        // first is passed over, and would be lost without a word.
        if (!m_twice.empty())
            fail("/" + m_twice, "appears twice");
    }

private:
    // A reference read while its element was: the field (and list place) it
    // stands in, the table it names and its place among the ids kept.
    struct PendingRef {
        const char* key;
        long index; // -1: a single reference
        int table;
        int k;
    };
    struct TableState {
        bool seen = false, isArray = false;
        std::string collectFault; // the first broken id
        bool failed = false;      // elements from failIndex on were not read
        std::size_t failIndex = 0;
        std::string fault;
        std::vector<PendingRef> failRefs; // the failed element's references before its fault
    };

    void fill(int t, const Json& j, const Where& p, TestModel& m)
    {
        switch (t) {
        case body: {
            qelx_test::TestBody b;
            b.lumps = resolveAll(at(j, p, "lumps"), p / "lumps", lump);
            b.shells2D = resolveAll(at(j, p, "shells2D"), p / "shells2D", shell);
            b.faces = resolveAll(at(j, p, "faces"), p / "faces", face);
            b.wires = resolveAll(at(j, p, "wires"), p / "wires", wire);
            b.pointWires = resolveAll(at(j, p, "pointWires"), p / "pointWires", wire);
            m.bodies.push_back(std::move(b));
            break;
        }
        case lump:
            m.lumps.push_back({resolveAll(at(j, p, "volumes"), p / "volumes", volume)});
            break;
        case volume:
            m.volumes.push_back({resolveAll(at(j, p, "shells"), p / "shells", shell)});
            break;
        case shell: {
            qelx_test::TestShell s;
            s.closed = boolean(at(j, p, "closed"), p / "closed");
            s.faces = resolveAll(at(j, p, "faces"), p / "faces", face);
            m.shells.push_back(std::move(s));
            break;
        }
        case face: {
            qelx_test::TestFace f;
            f.surface = resolve(at(j, p, "surface"), p / "surface", surface);
            f.sense = boolean(at(j, p, "sense"), p / "sense");
            f.orientationCorrect = boolean(at(j, p, "orientationCorrect"), p / "orientationCorrect");
            f.category = integer(at(j, p, "category"), p / "category");
            pairInto(at(j, p, "uDomain"), p / "uDomain", f.uDomain);
            pairInto(at(j, p, "vDomain"), p / "vDomain", f.vDomain);
            f.loops = resolveAll(at(j, p, "loops"), p / "loops", loop);
            m.faces.push_back(std::move(f));
            break;
        }
        case loop: {
            qelx_test::TestLoop l;
            l.face = resolve(at(j, p, "face"), p / "face", face);
            l.outer = boolean(at(j, p, "outer"), p / "outer");
            l.degenerate = boolean(at(j, p, "degenerate"), p / "degenerate");
            l.vertex = resolve(at(j, p, "vertex"), p / "vertex", vertex);
            l.coedges = resolveAll(at(j, p, "coedges"), p / "coedges", coedge);
            m.loops.push_back(std::move(l));
            break;
        }
        case coedge: {
            qelx_test::TestCoedge c;
            c.loop = resolve(at(j, p, "loop"), p / "loop", loop);
            c.edge = resolve(at(j, p, "edge"), p / "edge", edge, false);
            c.sense = boolean(at(j, p, "sense"), p / "sense");
            pairInto(at(j, p, "domain"), p / "domain", c.domain);
            c.pcurve = resolve(at(j, p, "pcurve"), p / "pcurve", pcurve);
            c.pcurveSense = boolean(at(j, p, "pcurveSense"), p / "pcurveSense");
            m.coedges.push_back(c);
            break;
        }
        case edge: {
            qelx_test::TestEdge e;
            e.curve = resolve(at(j, p, "curve"), p / "curve", curve);
            e.sense = boolean(at(j, p, "sense"), p / "sense");
            rangeInto(at(j, p, "domain"), p / "domain", e.domain, !at(j, p, "curve").is_null());
            e.start = resolve(at(j, p, "start"), p / "start", vertex);
            e.end = resolve(at(j, p, "end"), p / "end", vertex);
            e.coedges = resolveAll(at(j, p, "coedges"), p / "coedges", coedge);
            m.edges.push_back(std::move(e));
            break;
        }
        case vertex: {
            qelx_test::TestVertex v;
            v.point = resolve(at(j, p, "point"), p / "point", point);
            v.edges = resolveAll(at(j, p, "edges"), p / "edges", edge);
            m.vertices.push_back(std::move(v));
            break;
        }
        case wire:
            m.wires.push_back({resolveAll(at(j, p, "edges"), p / "edges", edge),
                               resolveAll(at(j, p, "vertices"), p / "vertices", vertex)});
            break;
        case surface:
            m.surfaces.push_back(readSurface(j, p));
            break;
        case curve:
            m.curves.push_back(readCurve(j, p));
            break;
        case pcurve: {
            qelx_test::TestPCurve c;
            if (text(at(j, p, "type"), p / "type") != "nurbs")
                fail(p / "type", "a pcurve is \"nurbs\"");
            readCurveMap(j, p, c.scale, c.offset, c.flag);
            c.nurbs = nurbs(j, p, 2);
            m.pcurves.push_back(std::move(c));
            break;
        }
        default:
            m.points.push_back(vec3(at(j, p, "xyz"), p / "xyz"));
            break;
        }
    }

    // The references of element i of table t in the order `fill` reads them.
    template <class Each>
    static void eachRef(int t, TestModel& m, std::size_t i, Each&& each)
    {
        auto list = [&](const char* key, std::vector<int>& refs, int table) {
            for (std::size_t k = 0; k < refs.size(); ++k)
                each(key, static_cast<long>(k), refs[k], table);
        };
        switch (t) {
        case body: {
            qelx_test::TestBody& b = m.bodies[i];
            list("lumps", b.lumps, lump);
            list("shells2D", b.shells2D, shell);
            list("faces", b.faces, face);
            list("wires", b.wires, wire);
            list("pointWires", b.pointWires, wire);
            break;
        }
        case lump: list("volumes", m.lumps[i].volumes, volume); break;
        case volume: list("shells", m.volumes[i].shells, shell); break;
        case shell: list("faces", m.shells[i].faces, face); break;
        case face:
            each("surface", -1, m.faces[i].surface, surface);
            list("loops", m.faces[i].loops, loop);
            break;
        case loop:
            each("face", -1, m.loops[i].face, face);
            each("vertex", -1, m.loops[i].vertex, vertex);
            list("coedges", m.loops[i].coedges, coedge);
            break;
        case coedge:
            each("loop", -1, m.coedges[i].loop, loop);
            each("edge", -1, m.coedges[i].edge, edge);
            each("pcurve", -1, m.coedges[i].pcurve, pcurve);
            break;
        case edge:
            each("curve", -1, m.edges[i].curve, curve);
            each("start", -1, m.edges[i].start, vertex);
            each("end", -1, m.edges[i].end, vertex);
            list("coedges", m.edges[i].coedges, coedge);
            break;
        case vertex:
            each("point", -1, m.vertices[i].point, point);
            list("edges", m.vertices[i].edges, edge);
            break;
        case wire:
            list("edges", m.wires[i].edges, edge);
            list("vertices", m.wires[i].vertices, vertex);
            break;
        case surface: {
            qelx_test::TestSurface& s = m.surfaces[i];
            if (s.type == qelx_test::SurfRevolved || s.type == qelx_test::SurfExtruded)
                each("profile", -1, s.ref, curve);
            else if (s.type == qelx_test::SurfOffset)
                each("base", -1, s.ref, surface);
            break;
        }
        default:
            break;
        }
    }

    // Every kept reference of table t made an index, in the order the
    // elements were read; a dangling one, or the fault that stopped the
    // table's reading, is refused here.
    void resolveTable(int t, TestModel& m)
    {
        const TableState& s = m_tables[t];
        auto settle = [&](std::size_t i, const char* key, long index, int& slot, int table) {
            if (slot > -2)
                return;
            slot = lookup(m_pending[static_cast<std::size_t>(-2 - slot)], table, [&] {
                std::string path = "/" + std::string(Tables[t]) + "/" + std::to_string(i) + "/" + key;
                return index < 0 ? path : path + "/" + std::to_string(index);
            });
        };
        const std::size_t read = s.failed ? s.failIndex : m_ids[t].size();
        for (std::size_t i = 0; i < read; ++i)
            eachRef(t, m, i, [&](const char* key, long index, int& slot, int table) {
                settle(i, key, index, slot, table);
            });
        if (!s.failed)
            return;
        for (const PendingRef& r : s.failRefs) {
            int slot = -2 - r.k;
            settle(s.failIndex, r.key, r.index, slot, r.table);
        }
        throw NeutralDocumentError(s.fault);
    }

private:
    // The geometry judged as every writer judges it before writing (see
    // GeometryJudge), refused naming the entity.
    void checkGeometry(const TestModel& m) const
    {
        try {
            GeometryJudge().judge(m);
        } catch (const GeometryFault& f) {
            fail(f.path, f.what);
        }
    }

    void readCurveMap(const Json& j, const Where& p, double& scale, double& offset, bool& flag) const
    {
        const Where mp = p / "parameterization";
        const Json& map = at(j, p, "parameterization");
        scale = num(at(map, mp, "scale"), mp / "scale");
        offset = num(at(map, mp, "offset"), mp / "offset");
        flag = boolean(at(map, mp, "flag"), mp / "flag");
    }

    qelx_test::TestSurface readSurface(const Json& j, const Where& p)
    {
        qelx_test::TestSurface s;
        const std::string type = text(at(j, p, "type"), p / "type");
        s.type = -1;
        for (int k = 0; k <= 9; ++k)
            if (type == SurfaceNames[k])
                s.type = k;
        if (s.type < 0)
            fail(p / "type", "unknown surface type \"" + type + "\"");
        const Where mp = p / "parameterization";
        const Json& map = at(j, p, "parameterization");
        const std::vector<double> u = nums(at(map, mp, "u"), mp / "u"), v = nums(at(map, mp, "v"), mp / "v");
        if (u.size() != 3)
            fail(mp / "u", "expected 3 numbers");
        if (v.size() != 3)
            fail(mp / "v", "expected 3 numbers");
        s.uA = u[0], s.uB = u[1], s.uC = u[2], s.vA = v[0], s.vB = v[1], s.vC = v[2];
        s.flag = boolean(at(map, mp, "flag"), mp / "flag");
        // Both spans null: an unbounded surface without a box.
        const Json& uSpan = at(j, p, "uSpan");
        s.bounded = !uSpan.is_null();
        if (s.bounded)
            pairInto(uSpan, p / "uSpan", s.uSpan);
        const Json& vSpan = at(j, p, "vSpan");
        if (vSpan.is_null() != !s.bounded)
            fail(p / "vSpan", s.bounded ? "expected 2 numbers" : "expected null, as uSpan is");
        if (s.bounded)
            pairInto(vSpan, p / "vSpan", s.vSpan);
        if (j.contains("deviation")) {
            s.deviation = num(j["deviation"], p / "deviation");
            if (!(s.deviation > 0.0))
                fail(p / "deviation", "a deviation is positive");
        }
        auto v3 = [&](const char* key) { return vec3(at(j, p, key), p / key); };
        auto n = [&](const char* key) { return num(at(j, p, key), p / key); };
        switch (s.type) {
        case qelx_test::SurfPlane:
            s.p = v3("origin"), s.d1 = v3("uVector"), s.d2 = v3("normal");
            break;
        case qelx_test::SurfCylinder:
        case qelx_test::SurfCone:
            s.a = n("radius"), s.b = n("halfAngle"), s.c = n("sine");
            s.p = v3("origin"), s.d1 = v3("refDir"), s.d2 = v3("axis");
            break;
        case qelx_test::SurfSphere:
            s.a = n("radius"), s.p = v3("centre"), s.d1 = v3("dir1"), s.d2 = v3("dir2");
            break;
        case qelx_test::SurfTorus:
            s.a = n("major"), s.b = n("minor");
            s.toroidalType = integer(at(j, p, "toroidalType"), p / "toroidalType");
            s.p = v3("centre"), s.d1 = v3("refDir"), s.d2 = v3("axis");
            break;
        case qelx_test::SurfRevolved:
            s.p = v3("axisPoint"), s.d1 = v3("axisDir");
            s.ref = resolve(at(j, p, "profile"), p / "profile", 11);
            break;
        case qelx_test::SurfExtruded:
            s.d1 = v3("direction");
            s.ref = resolve(at(j, p, "profile"), p / "profile", 11);
            break;
        case qelx_test::SurfOffset:
            s.a = n("distance");
            s.ref = resolve(at(j, p, "base"), p / "base", 10);
            break;
        default:
            if (s.type == qelx_test::SurfNurbs || j.contains("uCount")) {
                auto i = [&](const char* key) { return integer(at(j, p, key), p / key); };
                s.uDegree = i("uDegree"), s.vDegree = i("vDegree"), s.uCount = i("uCount"), s.vCount = i("vCount");
                s.ctrl = nums(at(j, p, "controlPoints"), p / "controlPoints");
                const Json& w = at(j, p, "weights");
                if (!w.is_null())
                    s.weights = nums(w, p / "weights");
                s.uKnots = nums(at(j, p, "uKnots"), p / "uKnots");
                s.uMults = ints(at(j, p, "uMults"), p / "uMults");
                s.vKnots = nums(at(j, p, "vKnots"), p / "vKnots");
                s.vMults = ints(at(j, p, "vMults"), p / "vMults");
                s.uClosure = i("uClosure"), s.vClosure = i("vClosure");
                const long long points = static_cast<long long>(s.uCount) * s.vCount;
                if (s.uCount < 0 || s.vCount < 0 || static_cast<long long>(s.ctrl.size()) != 3 * points)
                    fail(p / "controlPoints", "expected 3 numbers per control point");
                if (!s.weights.empty() && static_cast<long long>(s.weights.size()) != points)
                    fail(p / "weights", "expected one weight per control point");
                if (s.uKnots.size() != s.uMults.size())
                    fail(p / "uMults", "expected one multiplicity per knot");
                if (s.vKnots.size() != s.vMults.size())
                    fail(p / "vMults", "expected one multiplicity per knot");
                checkKnots(p, "uKnots", "uMults", s.uDegree, s.uCount, s.uKnots, s.uMults);
                checkKnots(p, "vKnots", "vMults", s.vDegree, s.vCount, s.vKnots, s.vMults);
                checkWeights(p / "weights", s.weights);
            }
            break;
        }
        return s;
    }

    qelx_test::TestCurve readCurve(const Json& j, const Where& p) const
    {
        qelx_test::TestCurve c;
        const std::string type = text(at(j, p, "type"), p / "type");
        c.type = -1;
        for (int k = 0; k <= 4; ++k)
            if (type == CurveNames[k])
                c.type = k;
        if (c.type < 0)
            fail(p / "type", "unknown curve type \"" + type + "\"");
        readCurveMap(j, p, c.scale, c.offset, c.flag);
        pairInto(at(j, p, "domain"), p / "domain", c.domain);
        if (c.type == qelx_test::CurvLine) {
            c.p = vec3(at(j, p, "point"), p / "point");
            c.d1 = vec3(at(j, p, "direction"), p / "direction");
        } else if (c.type == qelx_test::CurvEllipse) {
            c.major = num(at(j, p, "major"), p / "major");
            c.minor = num(at(j, p, "minor"), p / "minor");
            c.p = vec3(at(j, p, "centre"), p / "centre");
            c.d1 = vec3(at(j, p, "majorDir"), p / "majorDir");
            c.d2 = vec3(at(j, p, "normal"), p / "normal");
        } else if (c.type == qelx_test::CurvNurbs || j.contains("count")) {
            c.nurbs = nurbs(j, p, 3);
        }
        return c;
    }

    void readAttribute(const Where& p, const Json& j, TestModel& m)
    {
        {
            const std::uint64_t word = entityWord(at(j, p, "entity"), p / "entity");
            if (m.attributes.count(word))
                fail(p / "entity", "a second attribute record for one entity");
            qelx_test::TestAttributes a;
            for (auto it = j.begin(); it != j.end(); ++it) {
                const std::string& key = it.key();
                const Where kp = p / key.c_str();
                const Json& v = it.value();
                if (key == "entity")
                    continue;
                else if (key == "layer")
                    a.layer = integer(v, kp);
                else if (key == "lineType")
                    a.lineType = integer(v, kp);
                else if (key == "lineWeight")
                    a.lineWeight = integer(v, kp);
                else if (key == "id")
                    a.id = integer(v, kp);
                else if (key == "thickness")
                    a.thickness = num(v, kp);
                else if (key == "show")
                    a.show = boolean(v, kp);
                else if (key == "pick")
                    a.pick = boolean(v, kp);
                else if (key == "planeUnbounded")
                    a.planeUnbounded = boolean(v, kp);
                else if (key == "surfaceUnbounded")
                    a.surfaceUnbounded = boolean(v, kp);
                else if (key == "name")
                    a.name = text(v, kp);
                else if (key == "textId")
                    a.textId = text(v, kp);
                else if (key == "pid")
                    a.pid = text(v, kp);
                else if (key == "pname")
                    a.pname = text(v, kp);
                else if (key == "pset")
                    a.pset = text(v, kp);
                else if (key == "mdi")
                    a.mdi = text(v, kp);
                else if (key == "alias2")
                    a.alias2 = text(v, kp);
                else if (key == "color")
                    a.color = color(v, kp);
                else if (key == "aliases") {
                    const Json& list = array(v, kp);
                    for (std::size_t k = 0; k < list.size(); ++k)
                        a.aliases.push_back(text(list[k], kp / k));
                } else
                    fail(kp, "unknown attribute");
            }
            m.attributes.set(word, std::move(a));
        }
    }

    void readLayersAndGroups(const Json& doc, TestModel& m)
    {
        const Where layersAt = m_document / "layers";
        const Json& layers = array(at(doc, m_document, "layers"), layersAt);
        for (std::size_t i = 0; i < layers.size(); ++i) {
            const Where p = layersAt / i;
            const int number = integer(at(layers[i], p, "number"), p / "number");
            if (m.layers.count(number))
                fail(p / "number", "duplicate layer " + std::to_string(number));
            qelx_test::TestLayer& l = m.layers[number];
            l.name = text(at(layers[i], p, "name"), p / "name");
            l.color = color(at(layers[i], p, "color"), p / "color");
            l.state = boolean(at(layers[i], p, "state"), p / "state");
        }
        const Where filtersAt = m_document / "layerFilters";
        const Json& filters = array(at(doc, m_document, "layerFilters"), filtersAt);
        for (std::size_t i = 0; i < filters.size(); ++i) {
            const Where p = filtersAt / i;
            qelx_test::TestLayerFilter f;
            f.name = text(at(filters[i], p, "name"), p / "name");
            f.type = integer(at(filters[i], p, "type"), p / "type");
            f.layers = ints(at(filters[i], p, "layers"), p / "layers");
            f.current = boolean(at(filters[i], p, "current"), p / "current");
            m.layerFilters.push_back(std::move(f));
        }
        const Where groupsAt = m_document / "groups";
        const Json& groups = array(at(doc, m_document, "groups"), groupsAt);
        for (std::size_t i = 0; i < groups.size(); ++i) {
            const Where p = groupsAt / i;
            qelx_test::TestGroup g;
            g.name = text(at(groups[i], p, "name"), p / "name");
            const Where membersAt = p / "members";
            const Json& members = array(at(groups[i], p, "members"), membersAt);
            for (std::size_t k = 0; k < members.size(); ++k) {
                const Where mp = membersAt / k;
                if (text(at(members[k], mp, "kind"), mp / "kind") == "group") {
                    // A nested group, by its id in this table (1 the first).
                    const int id = integer(at(members[k], mp, "id"), mp / "id");
                    if (id < 1 || static_cast<std::size_t>(id) > groups.size())
                        fail(mp / "id", "refers to group " + std::to_string(id) + ", which does not exist");
                    g.members.push_back(qelx_test::wordOf(qelx_test::KindGroup, id - 1));
                } else {
                    g.members.push_back(entityWord(members[k], mp));
                }
            }
            if (groups[i].is_object() && groups[i].contains("top"))
                g.top = boolean(groups[i]["top"], p / "top");
            m.groups.push_back(std::move(g));
        }
    }

    std::array<double, 4> color(const Json& j, const Where& p) const
    {
        const std::vector<double> v = nums(j, p);
        if (v.size() != 4)
            fail(p, "expected 4 numbers");
        return {v[0], v[1], v[2], v[3]};
    }

    std::string m_source;
    const Where m_document;
    std::unordered_map<int, int> m_ids[TableCount];
    TableState m_tables[TableCount];
    bool m_deferring = false;
    std::vector<int> m_pending;            // ids of references not yet resolved
    std::vector<PendingRef> m_captured;    // those of the element being read
    std::string m_twice;                   // a top-level key met twice
    bool m_notAnObject = false;
    bool m_attributesStreamed = false;
    std::string m_attributeFault;
};

// The parser's events, turned into the model as they come: each element of
// an entity table (and each attribute record, when every table came before
// them) is made a small JSON value of its own, read into the model and
// dropped, so the document is never a tree in memory; the other top-level
// fields, small, are kept as values. The path of each event is followed for
// a syntax error, which outranks every other fault.
class StreamParser : public nlohmann::json_sax<Json> {
public:
    StreamParser(Reader& reader, TestModel& model) : m_reader(reader), m_model(model) {}

    PathTracker tracker;
    Json rest = Json::object();

    bool null() override
    {
        tracker.null();
        return m_dom ? m_dom->parser.null() : m_skip >= 0 || deliver(Json(nullptr));
    }
    bool boolean(bool v) override
    {
        tracker.boolean(v);
        return m_dom ? m_dom->parser.boolean(v) : m_skip >= 0 || deliver(Json(v));
    }
    bool number_integer(number_integer_t v) override
    {
        tracker.number_integer(v);
        return m_dom ? m_dom->parser.number_integer(v) : m_skip >= 0 || deliver(Json(v));
    }
    bool number_unsigned(number_unsigned_t v) override
    {
        tracker.number_unsigned(v);
        return m_dom ? m_dom->parser.number_unsigned(v) : m_skip >= 0 || deliver(Json(v));
    }
    bool number_float(number_float_t v, const string_t& text) override
    {
        tracker.number_float(v, text);
        return m_dom ? m_dom->parser.number_float(v, text) : m_skip >= 0 || deliver(Json(v));
    }
    bool string(string_t& v) override
    {
        tracker.string(v);
        return m_dom ? m_dom->parser.string(v) : m_skip >= 0 || deliver(Json(std::move(v)));
    }
    bool binary(binary_t& v) override
    {
        tracker.binary(v);
        return m_dom ? m_dom->parser.binary(v) : m_skip >= 0 || deliver(Json(std::move(v)));
    }
    bool key(string_t& k) override
    {
        tracker.key(k);
        if (m_dom)
            return m_dom->parser.key(k);
        if (m_skip < 0 && m_depth == 1) {
            m_key = k;
            m_repeated = !m_keys.insert(k).second;
            if (m_repeated)
                m_reader.sawKeyTwice(k);
        }
        return true;
    }
    bool start_object(std::size_t n) override
    {
        tracker.start_object(n);
        return start(false, n);
    }
    bool start_array(std::size_t n) override
    {
        tracker.start_array(n);
        return start(true, n);
    }
    bool end_object() override
    {
        tracker.end_object();
        return end(false);
    }
    bool end_array() override
    {
        tracker.end_array();
        return end(true);
    }
    bool parse_error(std::size_t position, const std::string& token, const nlohmann::detail::exception& e) override
    {
        return tracker.parse_error(position, token, e);
    }

private:
    // A value built by nlohmann's own tree builder, so that a value reads as
    // it would in a whole-document tree (a repeated key keeps its last value).
    struct Dom {
        Json value;
        nlohmann::detail::json_sax_dom_parser<Json> parser{value, false};
        int base; // the depth its first bracket opened at
        explicit Dom(int at) : base(at) {}
    };
    static constexpr int NoArray = -1, AttributeArray = TableCount, MaxNesting = 64;

    // A whole value outside any container being built: where it belongs.
    bool deliver(Json&& v)
    {
        if (m_depth == 0) {
            m_reader.documentIsNotAnObject();
        } else if (m_depth == 1) {
            if (m_repeated)
                return true;
            const int t = tableOf(m_key);
            if (t >= 0)
                m_reader.sawTable(t, false);
            else
                rest[m_key] = std::move(v);
        } else if (m_array == AttributeArray) {
            m_reader.attributeRecord(m_index++, v, m_model);
        } else if (m_array != NoArray) {
            m_reader.element(m_array, m_index++, v, m_model);
        }
        return true;
    }

    bool start(bool isArray, std::size_t n)
    {
        // A document nests five levels; a value nested far deeper is damage,
        // and the tree built of it would be copied and freed by recursion.
        if (m_depth >= MaxNesting) {
            tracker.error = "nested more than " + std::to_string(MaxNesting) + " levels deep";
            return false;
        }
        const int at = m_depth++;
        if (m_dom)
            return isArray ? m_dom->parser.start_array(n) : m_dom->parser.start_object(n);
        if (m_skip >= 0)
            return true;
        if (at == 0) {
            if (isArray) {
                m_reader.documentIsNotAnObject();
                m_skip = 0;
            }
            return true;
        }
        if (at == 1) {
            if (m_repeated) {
                m_skip = 1;
                return true;
            }
            const int t = tableOf(m_key);
            if (t >= 0) {
                m_reader.sawTable(t, isArray);
                if (!isArray) {
                    m_skip = 1;
                    return true;
                }
                m_array = t;
                m_index = 0;
                return true;
            }
            if (isArray && m_key == "attributes" && m_closedTables == TableCount) {
                m_reader.attributesStreamed();
                m_array = AttributeArray;
                m_index = 0;
                return true;
            }
        }
        // A value of its own: a top-level field's, or an element's.
        m_dom = std::make_unique<Dom>(at);
        return isArray ? m_dom->parser.start_array(n) : m_dom->parser.start_object(n);
    }

    bool end(bool isArray)
    {
        const int at = --m_depth;
        if (m_dom) {
            if (!(isArray ? m_dom->parser.end_array() : m_dom->parser.end_object()))
                return false;
            if (at == m_dom->base) {
                std::unique_ptr<Dom> done = std::move(m_dom);
                return deliver(std::move(done->value));
            }
            return true;
        }
        if (m_skip >= 0) {
            if (at == m_skip)
                m_skip = -1;
            return true;
        }
        if (at == 1 && m_array != NoArray) {
            if (m_array != AttributeArray)
                ++m_closedTables;
            m_array = NoArray;
        }
        return true;
    }

    static int tableOf(const std::string& key)
    {
        for (int t = 0; t < TableCount; ++t)
            if (key == Tables[t])
                return t;
        return -1;
    }
    Reader& m_reader;
    TestModel& m_model;
    int m_depth = 0;
    int m_skip = -1; // skipping a value whose first bracket opened at this depth
    std::unique_ptr<Dom> m_dom;
    std::string m_key;
    std::set<std::string> m_keys;
    bool m_repeated = false; // the key's second value: passed over, the document refused for it
    int m_array = NoArray;
    std::size_t m_index = 0;
    int m_closedTables = 0;
};

// Characters of a text handed over in pieces, as the parser reads them.
class PieceCursor {
public:
    explicit PieceCursor(const TextPull& pull) : m_pull(pull) {}
    bool more()
    {
        while (m_at == m_end) {
            std::string_view piece;
            if (m_done || !m_pull(piece)) {
                m_done = true;
                return false;
            }
            m_at = piece.data();
            m_end = piece.data() + piece.size();
        }
        return true;
    }
    char get() const { return *m_at; }
    void step() { ++m_at; }

private:
    const TextPull& m_pull;
    const char* m_at = nullptr;
    const char* m_end = nullptr;
    bool m_done = false;
};

// An input iterator over a PieceCursor; the null one is the end.
class PieceIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = char;

    PieceIterator() = default;
    explicit PieceIterator(PieceCursor* c) : m_c(c) {}
    char operator*() const { return m_c->get(); }
    PieceIterator& operator++()
    {
        m_c->step();
        return *this;
    }
    PieceIterator operator++(int)
    {
        PieceIterator was = *this;
        m_c->step();
        return was;
    }
    // Only ever compared with the end.
    bool operator==(const PieceIterator& other) const { return atEnd() == other.atEnd(); }
    bool operator!=(const PieceIterator& other) const { return !(*this == other); }

private:
    bool atEnd() const { return !m_c || !m_c->more(); }
    PieceCursor* m_c = nullptr;
};

template <class Parse>
TestModel readStreamed(const std::string& source, Parse&& parse)
{
    TestModel m;
    Reader reader(source);
    StreamParser events(reader, m);
    if (!parse(events))
        throw NeutralDocumentError(source + ": " + events.tracker.path() + ": not valid JSON (" +
                                   events.tracker.error + ")");
    reader.finish(events.rest, m);
    return m;
}

} // namespace

TestModel readNeutralText(const std::string& text, const std::string& source)
{
    return readStreamed(source, [&](StreamParser& events) { return Json::sax_parse(text, &events); });
}

TestModel readNeutralText(const TextPull& pull, const std::string& source)
{
    return readStreamed(source, [&](StreamParser& events) {
        PieceCursor cursor(pull);
        return Json::sax_parse(PieceIterator(&cursor), PieceIterator(), &events);
    });
}

} // namespace qelx_formats
