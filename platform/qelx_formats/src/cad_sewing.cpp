// Loose faces sewn on reading. Many files (IGES trimmed surfaces above all,
// STEP surface models) hand every face over alone, with edges of its own; the
// reader sews them along their free edges, as a framework's reader does, so
// that the model reaches the kernel as the sheets and solids it stands for.
#include "cad_shapes.hxx"

#include <BRepAdaptor_Curve.hxx>
#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeVertex.hxx>
#include <BRepExtrema_DistShapeShape.hxx>
#include <BRepBuilderAPI_MakeSolid.hxx>
#include <BRepBuilderAPI_Sewing.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepLib.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Standard_Failure.hxx>
#include <TopExp.hxx>
#include <TopExp_Explorer.hxx>
#include <TopTools_IndexedDataMapOfShapeListOfShape.hxx>
#include <TopTools_IndexedMapOfShape.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>
#include <Bnd_Box.hxx>

#include <algorithm>
#include <cstddef>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

namespace qelx_formats {

namespace {

// Ends this far apart at most are sewn, the tolerance growing fivefold from
// the first until no free edge is left, but never past a thousandth of the
// faces' extent: a gap that wide between faces of a small model is a shape of
// the model, not a crack, and sewn it bends the faces across it with edge
// tolerances that swallow whole faces of their neighbours (the kernel then
// measures such a face as another).
constexpr double kFirstSewTolerance = 1e-4;
constexpr double kLastSewTolerance = 0.1;
constexpr double kSewToleranceStep = 5.0;
constexpr double kSewShareOfExtent = 1e-3;

double extentOf(const std::vector<TopoDS_Shape>& shapes)
{
    Bnd_Box box;
    for (const TopoDS_Shape& s : shapes)
        BRepBndLib::Add(s, box);
    return box.IsVoid() ? 0.0 : std::sqrt(box.SquareExtent());
}

int freeEdgesOf(const BRepBuilderAPI_Sewing& sewing) { return sewing.NbFreeEdges(); }

// What a sewing made of a face it was handed, alone or in a shell (a face of
// a shell is known to the sewing only as a part of that shell); null when
// the sewing never had it.
TopoDS_Shape sewnFace(const BRepBuilderAPI_Sewing& sewing, const TopoDS_Shape& face)
{
    if (sewing.IsModified(face))
        return sewing.Modified(face);
    if (sewing.IsModifiedSubShape(face))
        return sewing.ModifiedSubShape(face);
    return TopoDS_Shape();
}

// The items sewn at tolerances growing from the first up to `last`: the
// valid sewing with fewest free edges (none when no sewing is valid).
std::unique_ptr<BRepBuilderAPI_Sewing> sewnAtBest(const std::vector<TopoDS_Shape>& items, double last)
{
    std::unique_ptr<BRepBuilderAPI_Sewing> best;
    for (double t = std::min(kFirstSewTolerance, last); t > 0.0 && t <= last * 1.0001; t *= kSewToleranceStep) {
        auto sewing = std::make_unique<BRepBuilderAPI_Sewing>(t);
        for (const TopoDS_Shape& s : items)
            sewing->Add(s);
        sewing->Perform();
        const TopoDS_Shape sewn = sewing->SewedShape();
        // Sewing that leaves an invalid shape is no join: the faces stay as they came.
        if (sewn.IsNull() || !BRepCheck_Analyzer(sewn).IsValid())
            continue;
        if (!best || freeEdgesOf(*sewing) < freeEdgesOf(*best))
            best = std::move(sewing);
        if (freeEdgesOf(*best) == 0)
            break;
    }
    return best;
}

// An edge of a sewn shell: its ends and the point halfway along its curve.
struct EdgeSpan {
    TopoDS_Edge edge;
    gp_Pnt first, last, middle;
    double key = 0.0, tolerance = 0.0;
};

// Edges of one sewn shell that lie along one line: the sewing paired the
// faces of two solids that only touch there (along an edge, or round a face
// they share) across the touch, making one body of them that pinches there,
// often with one solid turned inside out in it. A sound shell never runs
// twice along one line, so these are where the sewn faces must part.
TopTools_IndexedMapOfShape pinchedEdges(const TopoDS_Shape& sewn, double tolerance)
{
    TopTools_IndexedMapOfShape pinched;
    for (TopExp_Explorer sh(sewn, TopAbs_SHELL); sh.More(); sh.Next()) {
        TopTools_IndexedMapOfShape edges;
        TopExp::MapShapes(sh.Current(), TopAbs_EDGE, edges);
        std::vector<EdgeSpan> spans;
        for (int i = 1; i <= edges.Extent(); ++i) {
            const TopoDS_Edge& e = TopoDS::Edge(edges(i));
            if (BRep_Tool::Degenerated(e) || !BRep_Tool::IsGeometric(e))
                continue;
            BRepAdaptor_Curve c(e);
            EdgeSpan s{e, c.Value(c.FirstParameter()), c.Value(c.LastParameter()),
                       c.Value(0.5 * (c.FirstParameter() + c.LastParameter())), 0.0,
                       tolerance + BRep_Tool::Tolerance(e)};
            // Ends in either order give one key: edges along one line lie
            // side by side once sorted by it (a slanted axis, so that edges
            // merely in one plane of the model seldom share it).
            const gp_XYZ sum = s.first.XYZ() + s.last.XYZ();
            s.key = sum.X() + 0.7071 * sum.Y() + 0.5773 * sum.Z();
            spans.push_back(s);
        }
        std::sort(spans.begin(), spans.end(), [](const EdgeSpan& a, const EdgeSpan& b) { return a.key < b.key; });
        for (std::size_t i = 0; i < spans.size(); ++i)
            for (std::size_t j = i + 1; j < spans.size(); ++j) {
                const EdgeSpan& a = spans[i];
                const EdgeSpan& b = spans[j];
                const double near = a.tolerance + b.tolerance;
                if (b.key - a.key > 5.0 * near)
                    break;
                const bool ends = (a.first.Distance(b.first) <= near && a.last.Distance(b.last) <= near) ||
                                  (a.first.Distance(b.last) <= near && a.last.Distance(b.first) <= near);
                if (!ends)
                    continue;
                BRepExtrema_DistShapeShape apart(BRepBuilderAPI_MakeVertex(a.middle).Vertex(), b.edge);
                if (apart.IsDone() && apart.Value() <= near) {
                    pinched.Add(a.edge);
                    pinched.Add(b.edge);
                }
            }
    }
    return pinched;
}

// The faces of a sewn shape in groups that hold together across the edges
// that are not pinched: each group, sewn alone, closes on its own.
std::vector<std::vector<int>> groupsApartAt(const TopTools_IndexedMapOfShape& faces, const TopoDS_Shape& sewn,
                                            const TopTools_IndexedMapOfShape& pinched)
{
    std::vector<int> root(static_cast<std::size_t>(faces.Extent()) + 1);
    for (std::size_t i = 0; i < root.size(); ++i)
        root[i] = static_cast<int>(i);
    const auto find = [&](int i) {
        while (root[static_cast<std::size_t>(i)] != i)
            i = root[static_cast<std::size_t>(i)] = root[static_cast<std::size_t>(root[static_cast<std::size_t>(i)])];
        return i;
    };
    TopTools_IndexedDataMapOfShapeListOfShape edgeFaces;
    TopExp::MapShapesAndAncestors(sewn, TopAbs_EDGE, TopAbs_FACE, edgeFaces);
    for (int i = 1; i <= edgeFaces.Extent(); ++i) {
        if (pinched.Contains(edgeFaces.FindKey(i)))
            continue;
        int first = 0;
        for (const TopoDS_Shape& f : edgeFaces(i)) {
            const int at = faces.FindIndex(f);
            if (at == 0)
                continue;
            if (first == 0)
                first = at;
            else
                root[static_cast<std::size_t>(find(at))] = find(first);
        }
    }
    std::vector<std::vector<int>> groups;
    std::vector<int> groupOf(root.size(), -1);
    for (int i = 1; i <= faces.Extent(); ++i) {
        int& g = groupOf[static_cast<std::size_t>(find(i))];
        if (g < 0) {
            g = static_cast<int>(groups.size());
            groups.emplace_back();
        }
        groups[static_cast<std::size_t>(g)].push_back(i);
    }
    return groups;
}

// A closed sewn shell becomes a solid facing outwards; an open one stays a sheet.
TopoDS_Shape closedAsSolid(const TopoDS_Shell& shell)
{
    if (!BRep_Tool::IsClosed(shell))
        return shell;
    BRepBuilderAPI_MakeSolid make(shell);
    if (!make.IsDone())
        return shell;
    TopoDS_Solid solid = make.Solid();
    if (!BRepLib::OrientClosedSolid(solid))
        return shell;
    return solid;
}

// A face that closes on itself (a whole sphere or torus: its seam met both
// ways, its poles collapsed) is a closed shell alone, and becomes a solid as
// a closed sewn shell does; any other face stays as it came.
TopoDS_Shape closedFaceAsSolid(const TopoDS_Shape& face)
{
    BRep_Builder builder;
    TopoDS_Shell shell;
    builder.MakeShell(shell);
    builder.Add(shell, face);
    if (!BRep_Tool::IsClosed(shell))
        return face;
    shell.Closed(Standard_True);
    const TopoDS_Shape solid = closedAsSolid(shell);
    return solid.ShapeType() == TopAbs_SOLID ? solid : face;
}

// A shell of the file outside every solid that holds one face closing on
// itself: what a file of loose faces makes of a whole sphere or torus.
bool loneClosedShell(const TopoDS_Shape& shell)
{
    int faces = 0;
    for (TopExp_Explorer f(shell, TopAbs_FACE); f.More() && faces < 2; f.Next())
        ++faces;
    return faces == 1 && BRep_Tool::IsClosed(shell);
}

} // namespace

namespace {

// Faces sewn together (no sewing for a face alone, or faces no sewing of
// which is valid) and the free edges left.
struct SewnPart {
    std::vector<TopoDS_Shape> faces;
    std::unique_ptr<BRepBuilderAPI_Sewing> sewing;
    int free = 0;
};

SewnPart sewnPart(std::vector<TopoDS_Shape> faces, double last)
{
    SewnPart part{std::move(faces), nullptr, 0};
    if (part.faces.size() > 1)
        part.sewing = sewnAtBest(part.faces, last);
    if (part.sewing) {
        part.free = freeEdgesOf(*part.sewing);
    } else {
        TopTools_IndexedMapOfShape edges;
        for (const TopoDS_Shape& f : part.faces)
            TopExp::MapShapes(f, TopAbs_EDGE, edges);
        part.free = edges.Extent();
    }
    return part;
}

} // namespace

// The sewing of a group of faces, kept where it pinches nowhere; where it
// pinches, the group is sewn again in the parts that hold together apart
// from the pinches (each sewn the same way, a few times over at most), and
// a face that holds to nothing stays as it came.
void LooseFacesSewn::sewApart(std::unique_ptr<BRepBuilderAPI_Sewing> sewing, const std::vector<TopoDS_Shape>& faces,
                              double last, int rounds)
{
    const TopoDS_Shape sewn = sewing->SewedShape();
    const TopTools_IndexedMapOfShape pinched = pinchedEdges(sewn, sewing->Tolerance());
    TopTools_IndexedMapOfShape sewnFaces;
    TopExp::MapShapes(sewn, TopAbs_FACE, sewnFaces);
    const std::vector<std::vector<int>> groups =
        pinched.IsEmpty() || rounds == 0 ? std::vector<std::vector<int>>{} : groupsApartAt(sewnFaces, sewn, pinched);
    if (groups.size() < 2) {
        m_sewings.push_back(std::move(sewing));
        return;
    }
    std::vector<int> groupOf(static_cast<std::size_t>(sewnFaces.Extent()) + 1, -1);
    for (std::size_t g = 0; g < groups.size(); ++g)
        for (const int i : groups[g])
            groupOf[static_cast<std::size_t>(i)] = static_cast<int>(g);
    std::vector<std::vector<TopoDS_Shape>> parts(groups.size());
    for (const TopoDS_Shape& face : faces) {
        const TopoDS_Shape now = sewnFace(*sewing, face);
        const int at = sewnFaces.FindIndex(now.IsNull() ? face : now);
        if (at == 0)
            m_alone.push_back(face);
        else
            parts[static_cast<std::size_t>(groupOf[static_cast<std::size_t>(at)])].push_back(face);
    }
    // Cut apart at every pinch, a solid whose faces hold together only
    // across a line another solid touches falls in parts that stay open:
    // two open parts that close more together, pinching nowhere, are one.
    std::vector<SewnPart> sewnParts;
    for (std::vector<TopoDS_Shape>& part : parts)
        sewnParts.push_back(sewnPart(std::move(part), last));
    for (bool joined = true; joined;) {
        joined = false;
        for (std::size_t i = 0; i < sewnParts.size() && !joined; ++i)
            for (std::size_t j = i + 1; j < sewnParts.size() && !joined && sewnParts[i].free > 0; ++j) {
                if (sewnParts[j].free == 0)
                    continue;
                std::vector<TopoDS_Shape> both = sewnParts[i].faces;
                both.insert(both.end(), sewnParts[j].faces.begin(), sewnParts[j].faces.end());
                SewnPart together = sewnPart(std::move(both), last);
                if (!together.sewing || together.free >= sewnParts[i].free + sewnParts[j].free ||
                    !pinchedEdges(together.sewing->SewedShape(), together.sewing->Tolerance()).IsEmpty())
                    continue;
                sewnParts[i] = std::move(together);
                sewnParts.erase(sewnParts.begin() + static_cast<std::ptrdiff_t>(j));
                joined = true;
            }
    }
    for (SewnPart& part : sewnParts) {
        if (part.sewing)
            sewApart(std::move(part.sewing), part.faces, last, rounds - 1);
        else
            m_alone.insert(m_alone.end(), part.faces.begin(), part.faces.end());
    }
}

LooseFacesSewn::LooseFacesSewn(const TopoDS_Shape& shape) : m_shape(shape)
{
    std::vector<TopoDS_Shape> loose;
    int faces = 0;
    bool closedAlone = false;
    for (TopExp_Explorer sh(shape, TopAbs_SHELL, TopAbs_SOLID); sh.More(); sh.Next())
        if (!BRep_Tool::IsClosed(sh.Current())) {
            loose.push_back(sh.Current());
            for (TopExp_Explorer f(sh.Current(), TopAbs_FACE); f.More(); f.Next())
                ++faces;
        } else {
            closedAlone = closedAlone || loneClosedShell(sh.Current());
        }
    for (TopExp_Explorer f(shape, TopAbs_FACE, TopAbs_SHELL); f.More(); f.Next(), ++faces)
        loose.push_back(f.Current());
    const bool closingFace = faces == 1 && loose.back().ShapeType() == TopAbs_FACE &&
                             !closedFaceAsSolid(loose.back()).IsSame(loose.back());
    if (faces < 2 && !closedAlone && !closingFace)
        return;
    try {
        const double last = std::min(kLastSewTolerance, kSewShareOfExtent * extentOf(loose));
        std::unique_ptr<BRepBuilderAPI_Sewing> best = faces < 2 ? nullptr : sewnAtBest(loose, last);
        if (best) {
            std::vector<TopoDS_Shape> looseFaces;
            for (const TopoDS_Shape& s : loose)
                for (TopExp_Explorer f(s, TopAbs_FACE); f.More(); f.Next())
                    looseFaces.push_back(f.Current());
            constexpr int kApartRounds = 3;
            sewApart(std::move(best), looseFaces, last, kApartRounds);
        } else if (faces >= 2 && !closedAlone) {
            return;
        }
        // The shape read: what was not loose as it was, the sewn faces as
        // solids, sheets or (where nothing met them) faces alone; a face
        // alone that closes on itself, in a shell of its own or not, as a
        // solid.
        BRep_Builder builder;
        TopoDS_Compound whole;
        builder.MakeCompound(whole);
        for (TopExp_Explorer s(shape, TopAbs_SOLID); s.More(); s.Next())
            builder.Add(whole, s.Current());
        for (TopExp_Explorer sh(shape, TopAbs_SHELL, TopAbs_SOLID); sh.More(); sh.Next())
            if (BRep_Tool::IsClosed(sh.Current())) {
                const bool alone = loneClosedShell(sh.Current());
                builder.Add(whole, alone ? closedAsSolid(TopoDS::Shell(sh.Current())) : sh.Current());
                if (alone)
                    m_closedAlone.push_back(sh.Current());
            }
        for (const auto& sewing : m_sewings) {
            const TopoDS_Shape sewn = sewing->SewedShape();
            for (TopExp_Explorer sh(sewn, TopAbs_SHELL); sh.More(); sh.Next())
                builder.Add(whole, closedAsSolid(TopoDS::Shell(sh.Current())));
            for (TopExp_Explorer f(sewn, TopAbs_FACE, TopAbs_SHELL); f.More(); f.Next())
                builder.Add(whole, closedFaceAsSolid(f.Current()));
        }
        if (m_sewings.empty())
            for (const TopoDS_Shape& s : loose) {
                // Nothing sewn: the loose shells and faces as they came (a
                // lone face that closes on itself a solid).
                builder.Add(whole, s.ShapeType() == TopAbs_FACE ? closedFaceAsSolid(s) : s);
            }
        for (const TopoDS_Shape& face : m_alone)
            builder.Add(whole, closedFaceAsSolid(face));
        for (TopExp_Explorer e(shape, TopAbs_EDGE, TopAbs_FACE); e.More(); e.Next())
            builder.Add(whole, e.Current());
        for (TopExp_Explorer v(shape, TopAbs_VERTEX, TopAbs_EDGE); v.More(); v.Next())
            builder.Add(whole, v.Current());
        m_shape = whole;
        m_loose = std::move(loose);
    } catch (const Standard_Failure&) {
        m_shape = shape;
        m_sewings.clear();
        m_alone.clear();
        m_closedAlone.clear();
    }
}

LooseFacesSewn::~LooseFacesSewn() = default;

TopoDS_Shape looseFacesSewn(const TopoDS_Shape& shape) { return LooseFacesSewn(shape).shape(); }

TopoDS_Shape LooseFacesSewn::sewnFaceOf(const TopoDS_Shape& face) const
{
    for (const auto& sewing : m_sewings)
        if (const TopoDS_Shape now = sewnFace(*sewing, face); !now.IsNull())
            return now;
    return face;
}

void LooseFacesSewn::bindOriginals(ReadShapes& shapes) const
{
    if (m_sewings.empty() && m_closedAlone.empty())
        return;
    // A face the file names keeps its name; a sheet its body (a shell that
    // became a solid, the solid's).
    for (const TopoDS_Shape& original : m_loose)
        for (TopExp_Explorer f(original, TopAbs_FACE); f.More(); f.Next()) {
            const TopoDS_Shape face = f.Current();
            const TopoDS_Shape now = sewnFaceOf(face);
            if (const int* index = shapes.faces.Seek(now))
                if (!shapes.faces.IsBound(face))
                    shapes.faces.Bind(face, *index);
        }
    std::vector<std::pair<TopoDS_Shape, int>> sheets;
    std::vector<TopoDS_Shape> shells = m_loose;
    shells.insert(shells.end(), m_closedAlone.begin(), m_closedAlone.end());
    for (const TopoDS_Shape& original : shells) {
        if (original.ShapeType() != TopAbs_SHELL || shapes.bodies.IsBound(original))
            continue;
        TopExp_Explorer f(original, TopAbs_FACE);
        if (!f.More())
            continue;
        const TopoDS_Shape now = sewnFaceOf(f.Current());
        for (TopTools_DataMapOfShapeInteger::Iterator b(shapes.bodies); b.More(); b.Next()) {
            bool holds = false;
            for (TopExp_Explorer g(b.Key(), TopAbs_FACE); g.More() && !holds; g.Next())
                holds = g.Current().IsSame(now);
            if (holds) {
                sheets.emplace_back(original, b.Value());
                break;
            }
        }
    }
    for (const auto& [original, body] : sheets)
        shapes.bodies.Bind(original, body);
}

} // namespace qelx_formats
