// An edge's curve imported in a parameter of the source's own (an ellipse
// whose parameter is not its angle), along or against the edge, in every
// frame: the edge's range is the image of its source range, so the edge runs
// between the source curve's points there and over the arc between them.
#include "import_test_support.hxx"

#include <algorithm>
#include <utility>

#include "geometry/curve_importer.hxx"
#include "support/geometry_builders.hxx"

using namespace importtest;
using qelx_test::TestModel;

class EdgeCurveRange : public ImportTest {};

TEST_F(EdgeCurveRange, AnEdgeRunsOverTheImageOfItsSourceRangeWhicheverWayItsCurveCame)
{
    // (scale, offset) of the source parameter: the angle itself, stretched,
    // and turned round.
    const std::pair<double, double> parameterisations[] = {{1.0, 0.0}, {2.5, 1.0}, {-0.5, 3.0}};
    for (const Frame& frame : frames())
        for (const bool forward : {true, false})
            for (const auto& [scale, offset] : parameterisations) {
                SCOPED_TRACE(testing::Message() << frame.name << (forward ? ", along" : ", against") << ", scale "
                                                << scale << ", offset " << offset);
                TestModel model;
                const int c = model.addEllipse({1.0, 2.0, 3.0}, {0.6, 0.8, 0.0}, {0.0, 0.0, 1.0}, 3.0, 2.0, 0.0,
                                               2.0 * M_PI);
                model.reparametriseCurve(c, scale, offset);
                const double* d = model.curves[static_cast<std::size_t>(c)].domain;
                // The arc [s0, s1] of the source curve; the edge's domain runs
                // along the edge, which meets the curve at t (along) or -t.
                const double s0 = d[0] + 0.2 * (d[1] - d[0]), s1 = d[0] + 0.55 * (d[1] - d[0]);
                const Gk_Domain domain = forward ? Gk_Domain(s0, s1) : Gk_Domain(-s1, -s0);
                qelx_test::TestCallLog log;
                qelx_test::TestGeometryExporter source(nullptr, model, log, nullptr);
                BODY* box = testkit::make_plane_box();
                ENTITY_LIST edges;
                api_get_edges(box, edges);
                EDGE* edge = static_cast<EDGE*>(edges[0]);
                QELXVelmCurveImporter::ImportOntoEdge(&source, source.curveId(c), edge, forward, domain,
                                                      frame.morph);
                ASSERT_TRUE(edge->geometry() && edge->geometry()->has_equation());
                const curve& cu = edge->geometry()->equation();
                QELinterval r = edge->param_range();
                if (edge->sense() == REVERSED)
                    r = -r;
                const auto at = [&](double t) {
                    const QELXPoint3D p = frame.morph.Apply(model.curvePoint(c, t));
                    return QELposition(p[0], p[1], p[2]);
                };
                const QELposition a = at(s0), b = at(s1);
                const QELposition s = cu.eval_position(r.start_pt()), e = cu.eval_position(r.end_pt());
                EXPECT_LT(std::min(distance(s, a) + distance(e, b), distance(s, b) + distance(e, a)), 1e-9);
                // The arc between them, not the rest of the ellipse.
                EXPECT_LT(distance(cu.eval_position(r.mid_pt()), at(0.5 * (s0 + s1))), 1e-9);
                api_del_entity(box);
            }
}
