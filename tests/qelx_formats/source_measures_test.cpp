// The writers hold the shapes they build against the source's own measures
// of each body: a face's area, a solid's volume and the widest tolerance.
// A block measured as it is passes every writer; a measure just past what
// its band allows is refused, naming the body and (for an area) the face.
#include "qelx_formats/cad_file.hxx"
#include "qelx/test_model.hxx"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

namespace {

using qelx_formats::CadBodyMeasures;
using qelx_formats::CadFormat;
using qelx_test::TestModel;

// The area of a planar face whose one loop is a polygon of line edges.
double polygonArea(const TestModel& m, int face)
{
    const qelx_test::TestLoop& loop = m.loops.at(static_cast<std::size_t>(m.faces.at(static_cast<std::size_t>(face)).loops.at(0)));
    std::vector<qelx_test::Vec3> corners;
    for (int c : loop.coedges) {
        const qelx_test::TestCoedge& coedge = m.coedges.at(static_cast<std::size_t>(c));
        const qelx_test::TestEdge& edge = m.edges.at(static_cast<std::size_t>(coedge.edge));
        corners.push_back(m.points.at(static_cast<std::size_t>(
            m.vertices.at(static_cast<std::size_t>(coedge.sense ? edge.start : edge.end)).point)));
    }
    double n[3] = {0.0, 0.0, 0.0};
    for (std::size_t i = 0; i < corners.size(); ++i) {
        const qelx_test::Vec3& a = corners[i];
        const qelx_test::Vec3& b = corners[(i + 1) % corners.size()];
        n[0] += a[1] * b[2] - a[2] * b[1];
        n[1] += a[2] * b[0] - a[0] * b[2];
        n[2] += a[0] * b[1] - a[1] * b[0];
    }
    return 0.5 * std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
}

// The block's own measures: exact areas and volume, the given tolerance.
CadBodyMeasures exactMeasures(const TestModel& m, double volume, double tolerance)
{
    CadBodyMeasures out;
    for (std::size_t f = 0; f < m.faces.size(); ++f)
        out.faceAreas.push_back(polygonArea(m, static_cast<int>(f)));
    out.volume = volume;
    out.tolerance = tolerance;
    return out;
}

} // namespace

TEST(SourceMeasures, MeasuresJustPastTheirBandAreRefusedNamingTheBodyAndFace)
{
    const TestModel block = TestModel::block(2, 3, 4);
    struct Case {
        const char* name;
        std::function<void(CadBodyMeasures&)> spoil;
        const char* said; // null: the write passes
    };
    const Case cases[] = {
        {"as measured", [](CadBodyMeasures&) {}, nullptr},
        // A thousandth is ten times the band of a face's area (a ten-thousandth).
        {"a face's area a thousandth larger", [](CadBodyMeasures& m) { m.faceAreas[2] *= 1.001; },
         "body 0, face 2: written covering an area of"},
        {"the volume a hundredth larger", [](CadBodyMeasures& m) { *m.volume *= 1.01; },
         "body 0: written holding a volume of"},
        // The writer's edges are as tight as a ten-millionth; the body's
        // widest a twentieth of that allows at most half a ten-millionth.
        {"a body twenty times tighter than the written edges", [](CadBodyMeasures& m) { m.tolerance = 5e-9; },
         "written with an edge or vertex tolerance of"},
    };
    for (const CadFormat format : {CadFormat::Brep, CadFormat::Step})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (format == CadFormat::Brep ? ", BREP" : ", STEP"));
            CadBodyMeasures measured = exactMeasures(block, 24.0, 1e-6);
            c.spoil(measured);
            const qelx_formats::CadSourceMeasures source{measured};
            std::string error;
            const QELIResult r = qelx_formats::checkCadModel(block, format, error, &source);
            if (!c.said) {
                EXPECT_EQ(r, QELI_OK) << error;
                continue;
            }
            EXPECT_NE(r, QELI_OK);
            EXPECT_NE(error.find(c.said), std::string::npos) << error;
        }
}
