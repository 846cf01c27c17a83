#pragma once
// In-memory source model: a plain B-rep of "another format" with its own
// geometry records, kept in the data layouts the geometry exporter hands
// out. It knows nothing of the kernel; the test exporters read it through
// the framework's interfaces, and the neutral document is read into it.
//
// Entities live in tables and refer to each other by index. Parameters:
// an edge's domain is in the edge's own parameter t, from its start vertex
// (low) to its end vertex (high); the edge is at the curve's parameter t
// when its sense is true and at -t when false. A coedge's domain and its
// pcurve use the coedge's parameter, which is the edge's for a forward
// coedge and the edge's negated for a reversed one, so a reversed coedge
// on [0, L] has the domain [-L, 0]; a pcurve whose sense is false is read
// at the negated coedge parameter.
#include "qelx/qelx_math.hxx"
#include "qelx/qelx_result.hxx"

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace qelx_test {

using Vec3 = std::array<double, 3>;

// Surface codes of the geometry exporter.
enum SurfaceKind {
    SurfUnknown = 0, SurfPlane = 1, SurfCylinder = 2, SurfCone = 3, SurfSphere = 4, SurfTorus = 5,
    SurfNurbs = 6, SurfRevolved = 7, SurfExtruded = 8, SurfOffset = 9
};
// Curve codes of the geometry exporter; pcurves are always PCurvNurbs (1).
enum CurveKind { CurvUnknown = 0, CurvLine = 1, CurvOther = 2, CurvEllipse = 3, CurvNurbs = 4 };
inline constexpr int PCurvNurbs = 1;

// Identifier words: (kind << 48) | (index + 1).
enum EntityKind {
    KindBody = 1, KindLump, KindVolume, KindShell, KindFace, KindLoop, KindCoedge, KindEdge, KindVertex, KindWire,
    KindSurface, KindCurve, KindPCurve, KindPoint,
    // Document features: their handles are words too.
    KindGroup, KindCoordinateSystem, KindSelectionSet, KindLayerFilter, KindNote, KindNoteParameter
};
inline std::uint64_t wordOf(EntityKind kind, int index)
{
    return (static_cast<std::uint64_t>(kind) << 48) | static_cast<std::uint64_t>(index + 1);
}
inline int kindOfWord(std::uint64_t word) { return static_cast<int>(word >> 48); }
inline int indexOfWord(std::uint64_t word) { return static_cast<int>(word & 0xffffffffffffULL) - 1; }

// A B-spline in exporter layout: distinct knots with multiplicities
// (sum = count + degree + 1), dim * count coordinates, weights empty when
// polynomial, closure 0 open, 1 closed, 2/3 periodic.
struct TestNurbs {
    int degree = 0;
    int count = 0;
    std::vector<double> ctrl;
    std::vector<double> weights;
    std::vector<double> knots;
    std::vector<int> mults;
    int form = 0;
};

struct TestSurface {
    int type = SurfUnknown;
    // Framework -> canonical: s = uA*uB*u + uC, t = vA*vB*v + vC; flag: the
    // surface's normal is the canonical frame's (true) or its opposite.
    double uA = 1.0, uB = 1.0, uC = 0.0, vA = 1.0, vB = 1.0, vC = 0.0;
    bool flag = true;
    double uSpan[2] = {0.0, 1.0}, vSpan[2] = {0.0, 1.0}; // canonical box
    bool bounded = true; // false: unbounded, no box (the spans mean nothing)
    double deviation = 0.0; // a replacement's largest distance from the source's surface
    // plane: origin, uVector, normal; cone/cylinder: origin, refDir, axis;
    // sphere: centre, dir1 (longitude 0), dir2 (pole); torus: centre, refDir,
    // axis; extruded: -, direction, -; revolved: axisPoint, axisDir, -.
    Vec3 p{}, d1{}, d2{};
    // cone: a radius, b half-angle, c signed sine; sphere: a radius; torus:
    // a major, b minor; offset: a distance.
    double a = 0.0, b = 0.0, c = 0.0;
    int toroidalType = 0;
    int ref = -1; // offset: base surface; revolved/extruded: profile curve
    // NURBS and unknown (answered as NURBS data).
    int uDegree = 0, vDegree = 0, uCount = 0, vCount = 0;
    std::vector<double> ctrl, weights, uKnots, vKnots;
    std::vector<int> uMults, vMults;
    int uClosure = 0, vClosure = 0;
};

struct TestCurve {
    int type = CurvUnknown;
    double scale = 1.0, offset = 0.0; // framework -> canonical: s = scale*t + offset
    bool flag = true;
    double domain[2] = {0.0, 1.0};    // framework parameters
    Vec3 p{}, d1{}, d2{};             // line: point, direction; ellipse: centre, majorDir, normal
    double major = 0.0, minor = 0.0;
    TestNurbs nurbs;                  // NURBS and other (answered as NURBS data)
};

struct TestPCurve {
    double scale = 1.0, offset = 0.0;
    bool flag = true;
    TestNurbs nurbs; // 2-D control points in the face surface's framework parameters
};

struct TestBody {
    std::vector<int> lumps, shells2D, faces, wires, pointWires;
};
struct TestLump { std::vector<int> volumes; };
struct TestVolume { std::vector<int> shells; };
struct TestShell {
    std::vector<int> faces;
    bool closed = false;
};
struct TestFace {
    int surface = -1;
    bool sense = true;
    bool orientationCorrect = true;
    int category = 2;
    double uDomain[2] = {0.0, 1.0}, vDomain[2] = {0.0, 1.0};
    std::vector<int> loops;
};
struct TestLoop {
    int face = -1;
    std::vector<int> coedges;
    bool degenerate = false;
    int vertex = -1;
    bool outer = false;
};
struct TestCoedge {
    int loop = -1;
    int edge = -1;
    bool sense = true;
    int pcurve = -1;
    bool pcurveSense = true;
    double domain[2] = {0.0, 1.0};
};
struct TestEdge {
    int curve = -1;
    int start = -1, end = -1;
    double domain[2] = {0.0, 1.0};
    bool sense = true;
    std::vector<int> coedges; // partner order
};
struct TestVertex {
    int point = -1;
    std::vector<int> edges;
};
struct TestWire {
    std::vector<int> edges, vertices;
};

struct TestLayer {
    std::string name;
    std::array<double, 4> color{0.0, 0.0, 0.0, 0.0};
    bool state = true;
};

// An optional text kept behind one pointer, read and written as a
// std::optional<std::string> is: a model may hold an attribute record for
// every entity, each with seven texts mostly not given, and an empty one
// then costs a word instead of a whole string.
class OptionalText {
public:
    OptionalText() = default;
    OptionalText(std::nullopt_t) {}
    OptionalText(std::string text) : m_text(std::make_unique<std::string>(std::move(text))) {}
    OptionalText(const char* text) : OptionalText(std::string(text)) {}
    OptionalText(const std::optional<std::string>& text)
        : m_text(text ? std::make_unique<std::string>(*text) : nullptr)
    {
    }
    OptionalText(const OptionalText& other)
        : m_text(other.m_text ? std::make_unique<std::string>(*other.m_text) : nullptr)
    {
    }
    OptionalText(OptionalText&&) noexcept = default;
    OptionalText& operator=(const OptionalText& other)
    {
        if (this != &other)
            m_text = other.m_text ? std::make_unique<std::string>(*other.m_text) : nullptr;
        return *this;
    }
    OptionalText& operator=(OptionalText&&) noexcept = default;

    bool has_value() const { return m_text != nullptr; }
    explicit operator bool() const { return has_value(); }
    const std::string& operator*() const { return *m_text; }
    std::string& operator*() { return *m_text; }
    const std::string* operator->() const { return m_text.get(); }
    std::string* operator->() { return m_text.get(); }
    const std::string& value() const
    {
        if (!m_text)
            throw std::bad_optional_access();
        return *m_text;
    }
    std::string value_or(const std::string& otherwise) const { return m_text ? *m_text : otherwise; }
    void reset() { m_text.reset(); }
    operator std::optional<std::string>() const
    {
        return m_text ? std::optional<std::string>(*m_text) : std::nullopt;
    }

    friend bool operator==(const OptionalText& a, const OptionalText& b)
    {
        return a.has_value() == b.has_value() && (!a || *a == *b);
    }
    friend bool operator==(const OptionalText& a, const std::string& b) { return a && *a == b; }
    friend bool operator==(const OptionalText& a, const char* b) { return a && *a == b; }
    friend bool operator==(const OptionalText& a, std::nullopt_t) { return !a; }
    friend bool operator==(const OptionalText& a, const std::optional<std::string>& b)
    {
        return a.has_value() == b.has_value() && (!a || *a == *b);
    }
    friend std::ostream& operator<<(std::ostream& out, const OptionalText& t)
    {
        return t ? out << '"' << *t << '"' : out << "(none)";
    }

private:
    std::unique_ptr<std::string> m_text;
};

// What the attribute exporter answers for one entity; an empty field is
// "nothing to answer".
struct TestAttributes {
    std::optional<int> layer;
    OptionalText name;
    std::optional<std::array<double, 4>> color;
    std::optional<bool> show, pick, planeUnbounded, surfaceUnbounded;
    std::optional<double> thickness;
    std::optional<int> lineType, lineWeight, id;
    OptionalText textId, pid, pname, pset, mdi, alias2;
    std::vector<std::string> aliases;
};

// The attribute records of a model by entity word, iterated in word order
// as a map is. A record that holds nothing but the four flags (show, pick and
// the two unboundedness flags: what a kernel export gives nearly every
// entity) is kept as its word and one byte, as long as such records come in
// rising word order; any other record is kept whole. Looking a record up
// hands out a copy for a compact one (an iterator holds it, so a reference
// got through one lives as long as the iterator); operator[] first makes the
// record whole.
class TestAttributeTable {
public:
    using value_type = std::pair<const std::uint64_t, TestAttributes>;

    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = TestAttributeTable::value_type;
        using difference_type = std::ptrdiff_t;
        using pointer = const value_type*;
        using reference = const value_type&;

        const_iterator() = default;
        // The record made for a compact slot is the iterator's own cache:
        // never copied, made again when read.
        const_iterator(const const_iterator& o) : m_table(o.m_table), m_compact(o.m_compact), m_whole(o.m_whole) {}
        const_iterator& operator=(const const_iterator& o)
        {
            m_table = o.m_table;
            m_compact = o.m_compact;
            m_whole = o.m_whole;
            m_made.reset();
            return *this;
        }
        reference operator*() const;
        pointer operator->() const { return &**this; }
        const_iterator& operator++();
        const_iterator operator++(int)
        {
            const_iterator before = *this;
            ++*this;
            return before;
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b)
        {
            return a.m_compact == b.m_compact && a.m_whole == b.m_whole;
        }
        friend bool operator!=(const const_iterator& a, const const_iterator& b) { return !(a == b); }

    private:
        friend class TestAttributeTable;
        using Whole = std::map<std::uint64_t, TestAttributes>::const_iterator;
        const_iterator(const TestAttributeTable* table, std::size_t compact, Whole whole);
        // Past dead compact slots.
        void settle();
        bool atCompact() const;

        const TestAttributeTable* m_table = nullptr;
        std::size_t m_compact = 0;
        Whole m_whole{};
        mutable std::optional<value_type> m_made;
    };
    using iterator = const_iterator;

    // The record of the word, made whole (an empty one when there was none).
    TestAttributes& operator[](std::uint64_t word);
    // Stores the record of the word in place of any it had.
    void set(std::uint64_t word, TestAttributes attributes);
    std::size_t count(std::uint64_t word) const;
    // A copy of the record; std::out_of_range when there is none.
    TestAttributes at(std::uint64_t word) const;
    const_iterator find(std::uint64_t word) const;
    // The first record of a word not below the given one.
    const_iterator lower_bound(std::uint64_t word) const;
    // Forgets the record there; the iterator after it.
    const_iterator erase(const_iterator at);
    const_iterator begin() const;
    const_iterator end() const;
    std::size_t size() const { return m_compactWords.size() - m_dead + m_whole.size(); }
    bool empty() const { return size() == 0; }
    void clear();

private:
    // The compact byte of a record of flags only; nullopt for any other.
    static std::optional<std::uint8_t> compactOf(const TestAttributes& a);
    static TestAttributes wholeOf(std::uint8_t flags);
    // The live compact slot of the word, or npos.
    std::size_t compactSlot(std::uint64_t word) const;
    void kill(std::size_t slot);

    std::vector<std::uint64_t> m_compactWords; // rising
    std::vector<std::uint8_t> m_compactFlags;  // kDead for a record made whole since
    std::size_t m_dead = 0;
    std::map<std::uint64_t, TestAttributes> m_whole;
};

struct TestGroup {
    std::string name;
    std::vector<std::uint64_t> members; // identifier words; a KindGroup word nests a group
    bool top = true;                    // handed out by itself, not only as a member
};
// A local coordinate system: the morph from it to the model.
struct TestCoordinateSystem {
    QELXMorph3D morph;
    bool current = false;
};
struct TestSelectionSet {
    bool current = false;
    std::vector<std::uint64_t> members; // identifier words
};
struct TestNoteParameter {
    std::string name, value;
    int type = 0;
};
struct TestNote {
    std::string name;
    std::vector<TestNoteParameter> parameters;
};
struct TestLayerFilter {
    std::string name;
    int type = 0; // 0 all layers, 1 listed layers, 2 none
    std::vector<int> layers;
    bool current = false;
};

// A forced answer of one exporter operation (for every word, or one word).
struct TestOverride {
    QELIResult result = QELI_FAIL;
    bool leaveUnwritten = true;
};
// Forced answers: operation name -> (word or 0 for all).
using TestOverrides = std::map<std::string, std::map<std::uint64_t, TestOverride>>;
// The forced answer for this call of the operation, if any.
const TestOverride* findOverride(const TestOverrides& overrides, const char* operation, std::uint64_t word);

class TestModel {
public:
    std::string xType = "XTest";
    int unit = 1; // QELXUnit code: millimetre

    std::vector<TestBody> bodies;
    std::vector<TestLump> lumps;
    std::vector<TestVolume> volumes;
    std::vector<TestShell> shells;
    std::vector<TestFace> faces;
    std::vector<TestLoop> loops;
    std::vector<TestCoedge> coedges;
    std::vector<TestEdge> edges;
    std::vector<TestVertex> vertices;
    std::vector<TestWire> wires;
    std::vector<TestSurface> surfaces;
    std::vector<TestCurve> curves;
    std::vector<TestPCurve> pcurves;
    std::vector<Vec3> points;
    std::vector<int> freeSurfaces, freeCurves, freePoints;

    TestAttributeTable attributes;
    std::map<int, TestLayer> layers;
    std::vector<TestLayerFilter> layerFilters;
    std::vector<TestGroup> groups;
    // Document features. Names of coordinate systems and selection sets are
    // attributes of their words (the attribute exporter answers them).
    std::vector<TestCoordinateSystem> coordinateSystems;
    std::vector<TestSelectionSet> selectionSets;
    std::vector<TestNote> notes;
    int addCoordinateSystem(const QELXMorph3D& morph, bool current, const std::string& name);
    int addSelectionSet(const std::string& name, bool current, std::vector<std::uint64_t> members);
    // The document's "Header" representation: values by name, then index
    // (e.g. "PRODUCT_NAME").
    std::map<std::string, std::vector<std::string>> header;

    // Forced exporter answers: operation name -> (word or 0 for all).
    TestOverrides overrides;
    void forceAnswer(const std::string& operation, QELIResult result, bool leaveUnwritten = true,
                     std::uint64_t word = 0)
    {
        overrides[operation][word] = TestOverride{result, leaveUnwritten};
    }
    // The forced answer for this call, if any.
    const TestOverride* overrideFor(const char* operation, std::uint64_t word) const;

    // ---- geometry records (return the new index) ----
    int addPoint(const Vec3& p);
    int addPlane(const Vec3& origin, const Vec3& uVector, const Vec3& normal);
    // Cylinder when halfAngle is 0; the radius shrinks along +axis.
    int addCone(const Vec3& origin, const Vec3& refDir, const Vec3& axis, double radius, double halfAngle);
    int addSphere(const Vec3& centre, double radius);
    // Lemon when lemon is set (then major < minor).
    int addTorus(const Vec3& centre, const Vec3& refDir, const Vec3& axis, double major, double minor, bool lemon);
    int addNurbsSurface(int uDegree, int vDegree, int uCount, int vCount, std::vector<double> ctrl,
                        std::vector<double> uKnots, std::vector<int> uMults, std::vector<double> vKnots,
                        std::vector<int> vMults, std::vector<double> weights = {});
    int addRevolved(int profileCurve, const Vec3& axisPoint, const Vec3& axisDir, double angle0, double angle1);
    int addExtruded(int profileCurve, const Vec3& direction, double t0, double t1);
    int addOffset(int baseSurface, double distance);
    int addLine(const Vec3& from, const Vec3& to); // unit speed, domain [0, |to - from|]
    int addEllipse(const Vec3& centre, const Vec3& majorDir, const Vec3& normal, double major, double minor,
                   double t0, double t1);
    int addNurbsCurve(TestNurbs nurbs); // domain from the knots
    // The polynomial segment from a to b over [t0, t1] (degree 1).
    int addLinePCurve(const QELXPoint2D& a, const QELXPoint2D& b, double t0, double t1);
    int addPCurve(TestNurbs nurbs);

    // ---- evaluation in framework parameters ----
    QELXPoint3D surfacePoint(int surface, double u, double v) const;
    // The surface's normal (the one face senses refer to), unit.
    QELXPoint3D surfaceNormal(int surface, double u, double v) const;
    QELXPoint3D curvePoint(int curve, double t) const;
    // The edge at its own parameter: the curve at t, or at -t for sense false.
    QELXPoint3D edgePoint(int edge, double t) const;
    QELXPoint2D pcurvePoint(int pcurve, double t) const;
    QELXPoint3D point(int index) const;
    // Largest gap between what the topology says should coincide: vertices
    // on their edges' curves, and pcurves (through the face's surface) on the
    // edge curves at the quarter points of each coedge domain.
    double maxGap() const;
    // Canonical evaluation (the data's own parameters).
    QELXPoint3D canonicalSurfacePoint(int surface, double s, double t) const;
    QELXPoint3D canonicalCurvePoint(int curve, double s) const;

    // ---- topology helpers ----
    int addBody() { bodies.emplace_back(); return static_cast<int>(bodies.size()) - 1; }
    // A solid body with one lump, one volume and one closed shell.
    int addSolidBody(int& shell);
    // A sheet body with one 2-D shell.
    int addSheetBody(int& shell);
    int addVertex(const Vec3& p);
    // Edge on a curve between two vertices over [t0, t1].
    int addEdge(int curve, int start, int end, double t0, double t1);
    int addFace(int shell, int surface, bool sense = true);
    int addLoop(int face);
    // Coedge of edge in loop; the pcurve (may be -1) runs in the coedge's parameter.
    int addCoedge(int loop, int edge, bool sense, int pcurve);
    // A planar face whose loops are vertex polygons (first the periphery,
    // counter-clockwise about the normal, then the holes). Edges between the
    // same two vertices are shared; pcurves are straight.
    int addPolygonFace(int shell, int plane, const std::vector<std::vector<int>>& loopVertices);
    // Framework (u, v) of a point on a plane.
    QELXPoint2D planeParams(int plane, const Vec3& p) const;

    // ---- builders: consistent models ----
    static TestModel block(double dx, double dy, double dz);
    static TestModel cylinder(double r, double h);
    static TestModel sphereFace(double r = 1.0);
    static TestModel torusFace(double R = 3.0, double r = 1.0);
    static TestModel lemonTorus(double R = 0.5, double r = 1.0);
    static TestModel planeFace(bool noLoops = false);
    static TestModel nurbsSheet(int nu = 4, int nv = 4, bool rational = false);
    static TestModel twoFacesSharingEdge();
    static TestModel sheetWithHole();
    static TestModel coneWithApexLoop(double r = 1.0, double halfAngle = 0.5);
    static TestModel polylineWire(const std::vector<Vec3>& points);
    static TestModel pointWire(const std::vector<Vec3>& points);
    // One of every geometry kind, as free entities of an empty model.
    static TestModel freeGeometry();
    // Everything of `other` after what this model holds (its bodies after
    // these bodies, its free entities after these, its attributes with their
    // entities); layers of a number this model has keep this model's. Returns
    // the index of the first appended body.
    int append(const TestModel& other);
    int freeSurface(int surface) { freeSurfaces.push_back(surface); return surface; }
    int freeCurve(int curve) { freeCurves.push_back(curve); return curve; }
    int freePoint(const Vec3& p) { int i = addPoint(p); freePoints.push_back(i); return i; }

    // ---- fault editors ----
    void dropPCurve(int coedge) { coedges[coedge].pcurve = -1; }
    void dropCurve(int edge) { edges[edge].curve = -1; }
    // The pcurve's parameter runs backwards (t -> -t); the coedge is unchanged.
    void reversePCurve(int coedge);
    void flipPCurveSense(int coedge) { coedges[coedge].pcurveSense = !coedges[coedge].pcurveSense; }
    // The pcurve stored against its coedge (its parameter negated) with the
    // sense that says so: the model stays consistent.
    void turnPCurve(int coedge);
    // Moves the vertex's point by d across its first edge's curve.
    void moveVertexOffCurve(int vertex, double d);
    // A tangent break of size d at the middle of the curve (a line becomes
    // a degree-1 spline).
    void kinkCurve(int curve, double d);
    void kinkPCurve(int pcurve, double d);
    // The curve moved rigidly by the vector: it no longer meets its pcurves.
    void shiftCurve(int curve, const Vec3& by);
    // Control point i + 1 moved onto control point i.
    void coincideControlPoints(int curve, int i);
    void coincidePCurveControlPoints(int pcurve, int i);
    void coincideSurfaceControlPoints(int surface, int i, int j); // (i, j) and (i + 1, j)
    // A periodic spline curve handed as open.
    void openPeriodicCurve(int curve) { curves[curve].nurbs.form = 0; }
    void dropLoops(int face) { faces[face].loops.clear(); }
    // A third coedge on the edge, in a loop of its own on the first coedge's face.
    int addThirdCoedge(int edge);
    int addEmptyLoop(int face);
    // Reparametrise consistently: canonical = a*t + c (a may be negative).
    // Face domains and pcurves on the surface, and edge/coedge domains and
    // pcurves over the curve, follow, so the model stays consistent.
    void reparametriseSurface(int surface, double ua, double uc, double va, double vc);
    void reparametriseCurve(int curve, double a, double c);
};

// Reverses a spline's parameter (t -> -t).
void reverseNurbs(TestNurbs& nurbs, int dim);
// Boehm knot insertion of t, once.
void insertKnot(TestNurbs& nurbs, int dim, double t);
// The full knot vector of distinct knots with multiplicities.
std::vector<double> expandKnots(const std::vector<double>& knots, const std::vector<int>& mults);

} // namespace qelx_test
