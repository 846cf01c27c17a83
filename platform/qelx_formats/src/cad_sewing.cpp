// Loose faces sewn on reading. Many files (IGES trimmed surfaces above all,
// STEP surface models) hand every face over alone, with edges of its own; the
// reader sews them along their free edges, as a framework's reader does, so
// that the model reaches the kernel as the sheets and solids it stands for.
#include "cad_shapes.hxx"

#include <BRepBndLib.hxx>
#include <BRepBuilderAPI_MakeSolid.hxx>
#include <BRepBuilderAPI_Sewing.hxx>
#include <BRepCheck_Analyzer.hxx>
#include <BRepLib.hxx>
#include <BRep_Builder.hxx>
#include <BRep_Tool.hxx>
#include <Standard_Failure.hxx>
#include <TopExp_Explorer.hxx>
#include <TopoDS.hxx>
#include <TopoDS_Compound.hxx>
#include <TopoDS_Shell.hxx>
#include <TopoDS_Solid.hxx>
#include <Bnd_Box.hxx>

#include <algorithm>
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

} // namespace

LooseFacesSewn::LooseFacesSewn(const TopoDS_Shape& shape) : m_shape(shape)
{
    std::vector<TopoDS_Shape> loose;
    int faces = 0;
    for (TopExp_Explorer sh(shape, TopAbs_SHELL, TopAbs_SOLID); sh.More(); sh.Next())
        if (!BRep_Tool::IsClosed(sh.Current())) {
            loose.push_back(sh.Current());
            for (TopExp_Explorer f(sh.Current(), TopAbs_FACE); f.More(); f.Next())
                ++faces;
        }
    for (TopExp_Explorer f(shape, TopAbs_FACE, TopAbs_SHELL); f.More(); f.Next(), ++faces)
        loose.push_back(f.Current());
    if (faces < 2)
        return;
    try {
        std::unique_ptr<BRepBuilderAPI_Sewing> best;
        const double last = std::min(kLastSewTolerance, kSewShareOfExtent * extentOf(loose));
        for (double t = std::min(kFirstSewTolerance, last); t > 0.0 && t <= last * 1.0001; t *= kSewToleranceStep) {
            auto sewing = std::make_unique<BRepBuilderAPI_Sewing>(t);
            for (const TopoDS_Shape& s : loose)
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
        if (!best)
            return;
        // The shape read: what was not loose as it was, the sewn faces as
        // solids, sheets or (where nothing met them) faces alone.
        BRep_Builder builder;
        TopoDS_Compound whole;
        builder.MakeCompound(whole);
        for (TopExp_Explorer s(shape, TopAbs_SOLID); s.More(); s.Next())
            builder.Add(whole, s.Current());
        for (TopExp_Explorer sh(shape, TopAbs_SHELL, TopAbs_SOLID); sh.More(); sh.Next())
            if (BRep_Tool::IsClosed(sh.Current()))
                builder.Add(whole, sh.Current());
        const TopoDS_Shape sewn = best->SewedShape();
        for (TopExp_Explorer sh(sewn, TopAbs_SHELL); sh.More(); sh.Next())
            builder.Add(whole, closedAsSolid(TopoDS::Shell(sh.Current())));
        for (TopExp_Explorer f(sewn, TopAbs_FACE, TopAbs_SHELL); f.More(); f.Next())
            builder.Add(whole, f.Current());
        for (TopExp_Explorer e(shape, TopAbs_EDGE, TopAbs_FACE); e.More(); e.Next())
            builder.Add(whole, e.Current());
        for (TopExp_Explorer v(shape, TopAbs_VERTEX, TopAbs_EDGE); v.More(); v.Next())
            builder.Add(whole, v.Current());
        m_shape = whole;
        m_sewing = std::move(best);
        m_loose = std::move(loose);
    } catch (const Standard_Failure&) {
        m_shape = shape;
        m_sewing.reset();
    }
}

LooseFacesSewn::~LooseFacesSewn() = default;

TopoDS_Shape looseFacesSewn(const TopoDS_Shape& shape) { return LooseFacesSewn(shape).shape(); }

void LooseFacesSewn::bindOriginals(ReadShapes& shapes) const
{
    if (!m_sewing)
        return;
    // A face the file names keeps its name; a sheet its body.
    for (const TopoDS_Shape& original : m_loose)
        for (TopExp_Explorer f(original, TopAbs_FACE); f.More(); f.Next()) {
            const TopoDS_Shape face = f.Current();
            const TopoDS_Shape now = m_sewing->IsModified(face) ? m_sewing->Modified(face) : face;
            if (const int* index = shapes.faces.Seek(now))
                if (!shapes.faces.IsBound(face))
                    shapes.faces.Bind(face, *index);
        }
    std::vector<std::pair<TopoDS_Shape, int>> sheets;
    for (const TopoDS_Shape& original : m_loose) {
        if (original.ShapeType() != TopAbs_SHELL || shapes.bodies.IsBound(original))
            continue;
        TopExp_Explorer f(original, TopAbs_FACE);
        if (!f.More())
            continue;
        const TopoDS_Shape now = m_sewing->IsModified(f.Current()) ? m_sewing->Modified(f.Current()) : f.Current();
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
