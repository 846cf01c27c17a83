// neutral_peer: neutral documents written by Open CASCADE alone, and what
// one of ours holds as Open CASCADE rebuilds it.
//
//   neutral_peer write MODEL FRAME OUT.json [DROP]
//                                            reads MODEL (STEP, IGES or BREP), places it in
//                                            FRAME (identity, rotated, mirrored) and writes it
//                                            as a neutral document with nothing of ours;
//                                            prints the model's measures (JSON, with the
//                                            faces the analyser finds invalid on their own
//                                            where the model is not valid); with DROP,
//                                            the model's face of that index (from 0, in
//                                            Open CASCADE's order) left out of it
//   neutral_peer shape NAME FRAME OUT        one of the shapes below, written as OUT by its
//                                            extension (.json by Open CASCADE alone, .step,
//                                            .igs, .brep by Open CASCADE's writers)
//   neutral_peer measure FILE                Open CASCADE's measures of a STEP, IGES or BREP file
//   neutral_peer judge DOC.json              reads DOC, measures the largest gap between each
//                                            coedge's pcurve on its surface and its edge's
//                                            curve, rebuilds it as Open CASCADE shapes and
//                                            prints their measures (JSON)
//
// Shapes: "cylinder" (three faces, one seam), "bspline-prism" (a B-spline
// circle swept along a line), "extruded" (a solid whose side is a circle
// extruded as such, its ends planes), "<kind>-prism" and "<kind>-wire" of a
// closed curve's kind (occ_shapes::closedCurve).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "qelx_formats/cad_samples.hxx"
#include "qelx_formats/exchange_leak_suppressions.hxx"
#include "qelx_formats/neutral_document.hxx"
#include "tools/neutral_checks.hxx"
#include "tools/occ_neutral_writer.hxx"
#include "tools/occ_shapes.hxx"

#include <BRepCheck_Analyzer.hxx>
#include <BRepTools_ReShape.hxx>
#include <TopExp_Explorer.hxx>
#include <TopExp.hxx>
#include <TopTools_IndexedMapOfShape.hxx>

namespace {

void printMeasures(const cad_samples::Measures& m, const char* extra = "")
{
    std::printf("{\"valid\": %s, \"solids\": %d, \"faces\": %d, \"volume\": %.17g, \"area\": %.17g%s}\n",
                m.valid ? "true" : "false", m.solids, m.faces, m.volume, m.area, extra);
}

bool writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

int writeDocument(const TopoDS_Shape& shape, const std::string& out)
{
    try {
        if (!writeText(out, occ_neutral::neutralText(shape))) {
            std::fprintf(stderr, "neutral_peer: %s could not be written\n", out.c_str());
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "neutral_peer: %s\n", e.what());
        return 1;
    } catch (const Standard_Failure& e) {
        std::fprintf(stderr, "neutral_peer: %s\n", e.GetMessageString());
        return 1;
    }
    // An invalid model says which of its faces Open CASCADE's analyser finds
    // invalid on their own (numbered from 1 as its explorer meets them; the
    // writers name a body's faces in that order from 0): a road may give such
    // a face back as it took it.
    const cad_samples::Measures m = cad_samples::measure(shape);
    std::string invalid;
    if (!m.valid) {
        int number = 0;
        for (TopExp_Explorer f(shape, TopAbs_FACE); f.More(); f.Next())
            if (++number; !BRepCheck_Analyzer(f.Current()).IsValid())
                invalid += (invalid.empty() ? "" : ", ") + std::to_string(number);
    }
    printMeasures(m, (", \"invalid_faces\": [" + invalid + "]").c_str());
    return 0;
}

// The coedge whose pcurve lies farthest from its edge's curve (its surface
// through the pcurve at five points of its domain), and how far.
std::pair<int, double> worstCoedge(const qelx_test::TestModel& m)
{
    std::pair<int, double> worst{-1, 0.0};
    for (std::size_t i = 0; i < m.coedges.size(); ++i) {
        const qelx_test::TestCoedge& c = m.coedges[i];
        if (c.pcurve < 0 || c.edge < 0 || m.edges[c.edge].curve < 0 || c.loop < 0 || m.loops[c.loop].face < 0)
            continue;
        const int surface = m.faces[m.loops[c.loop].face].surface;
        if (surface < 0)
            continue;
        for (int k = 0; k <= 4; ++k) {
            const double t = c.domain[0] + (c.domain[1] - c.domain[0]) * k / 4.0;
            const QELXPoint2D uv = m.pcurvePoint(c.pcurve, c.pcurveSense ? t : -t);
            const double gap = m.surfacePoint(surface, uv.u(), uv.v()).Distance(m.edgePoint(c.edge, c.sense ? t : -t));
            if (gap > worst.second)
                worst = {static_cast<int>(i) + 1, gap};
        }
    }
    return worst;
}

// The shape with its face `drop` (from 0) left out; a null shape where it
// has no such face.
TopoDS_Shape withoutFace(const TopoDS_Shape& shape, int drop)
{
    TopTools_IndexedMapOfShape faces;
    TopExp::MapShapes(shape, TopAbs_FACE, faces);
    if (drop < 0 || drop >= faces.Extent())
        return TopoDS_Shape();
    const Handle(BRepTools_ReShape) reshape = new BRepTools_ReShape;
    reshape->Remove(faces(drop + 1));
    return reshape->Apply(shape);
}

} // namespace

int main(int argc, char** argv)
{
    const std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "write" && (argc == 5 || argc == 6)) {
        TopoDS_Shape shape = occ_shapes::placed(cad_samples::peerRead(argv[2]), argv[3]);
        if (argc == 6 && !shape.IsNull()) {
            shape = withoutFace(shape, std::atoi(argv[5]));
            if (shape.IsNull()) {
                std::fprintf(stderr, "neutral_peer: %s has no face %s, or nothing else\n", argv[2], argv[5]);
                return 1;
            }
        }
        if (shape.IsNull()) {
            std::fprintf(stderr, "neutral_peer: %s could not be read\n", argv[2]);
            return 1;
        }
        return writeDocument(shape, argv[4]);
    }
    if (verb == "shape" && argc == 5) {
        const TopoDS_Shape shape = occ_shapes::placed(occ_shapes::named(argv[2]), argv[3]);
        const std::string out = argv[4];
        if (shape.IsNull()) {
            std::fprintf(stderr, "neutral_peer: no shape %s\n", argv[2]);
            return 1;
        }
        if (std::filesystem::path(out).extension() == ".json")
            return writeDocument(shape, out);
        if (!occ_shapes::writeFile(shape, out)) {
            std::fprintf(stderr, "neutral_peer: %s could not be written\n", out.c_str());
            return 1;
        }
        printMeasures(cad_samples::measure(shape));
        return 0;
    }
    if (verb == "judge" && argc == 3) {
        qelx_test::TestModel model;
        std::string error;
        if (qelx_formats::readNeutralDocument(argv[2], model, error) != QELI_OK) {
            std::fprintf(stderr, "neutral_peer: %s\n", error.c_str());
            return 1;
        }
        const double gap = model.maxGap();
        const std::pair<int, double> worst = worstCoedge(model);
        const std::string brep = std::string(argv[2]) + ".rebuilt.brep";
        if (qelx_formats::writeCadFile(model, brep, error) != QELI_OK) {
            std::fprintf(stderr, "neutral_peer: %s\n", error.c_str());
            return 1;
        }
        const std::string open = neutral_checks::firstOpenLoop(model, 1e-6 * neutral_checks::pointsSize(model));
        char extra[512];
        std::snprintf(extra, sizeof extra, ", \"gap\": %.6g, \"worstCoedge\": %d, \"coedgeGap\": %.6g, \"openLoop\": \"%s\"",
                      gap, worst.first, worst.second, open.c_str());
        printMeasures(cad_samples::measure(cad_samples::peerRead(brep)), extra);
        std::filesystem::remove(brep);
        return 0;
    }
    if (verb == "measure" && argc == 3) {
        printMeasures(cad_samples::measure(cad_samples::peerRead(argv[2])));
        return 0;
    }
    std::fprintf(stderr, "usage: neutral_peer write MODEL FRAME OUT.json [DROP] | shape NAME FRAME OUT | judge DOC.json | "
                         "measure FILE\n");
    return 2;
}
