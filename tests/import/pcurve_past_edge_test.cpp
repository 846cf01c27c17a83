// A file's pcurve may run on past its edge on the edge's own parameter (to
// the whole side of its surface while the edge stops short): each import
// road cuts it to the edge, so the face keeps its trim and its edges lie on
// it, in every frame.
#include "importer_support.hxx"

#include "qelx_velm/ve_option_doc.hxx"
#include "support/geometry_builders.hxx"
#include "velm/query.hxx"

#include <algorithm>
#include <string>
#include <vector>

using namespace importtest;
using qelx_test::TestModel;

namespace {

// The source's NURBS sheet with its side along u at v = 0 split at u = split
// into two edges, the first keeping a pcurve over the whole side; without a
// split, the plain sheet.
TestModel nurbsSheetSplit(double split)
{
    TestModel m = TestModel::nurbsSheet();
    if (split <= 0.0)
        return m;
    const int side = m.coedges[0].edge;
    const QELXPoint3D at = m.curvePoint(m.edges[side].curve, split);
    const int middle = m.addVertex({at[0], at[1], at[2]});
    const int far = m.edges[side].end;
    const int rest = m.addEdge(m.edges[side].curve, middle, far, split, 1.0);
    std::vector<int>& farEdges = m.vertices[far].edges;
    farEdges.erase(std::find(farEdges.begin(), farEdges.end(), side));
    m.vertices[middle].edges.push_back(side);
    m.edges[side].end = middle;
    m.edges[side].domain[1] = split;
    m.coedges[0].domain[1] = split;
    const int loop = m.coedges[0].loop;
    const int after = m.addCoedge(loop, rest, true, m.addLinePCurve({split, 0.0}, {1.0, 0.0}, split, 1.0));
    // The new coedge goes second round the loop.
    std::vector<int>& ring = m.loops[loop].coedges;
    ring.erase(std::find(ring.begin(), ring.end(), after));
    ring.insert(ring.begin() + 1, after);
    return m;
}

// The worst gap between a body's edges and its faces, and its area.
struct SheetFit {
    double gap = 0.0;
    double area = 0.0;
};

SheetFit fitOf(const std::vector<BODY*>& bodies)
{
    SheetFit out;
    for (BODY* b : bodies) {
        ENTITY_LIST coedges;
        EXPECT_TRUE(api_get_coedges(b, coedges).ok());
        for (int i = 0; i < coedges.count(); ++i)
            if (const auto* c = static_cast<const COEDGE*>(coedges[i]); c->geometry())
                out.gap = std::max(out.gap, testkit::worst_pcurve_gap(c));
        double area = 0.0, accuracy = 0.0;
        EXPECT_TRUE(api_ent_area(b, 1e-6, area, accuracy).ok());
        out.area += std::fabs(area);
    }
    return out;
}

// The trim road plain and repaired (through the trimmed-face controller), and
// the topology road.
enum class Road { Trim, RepairedTrim, Topology };

SheetFit importSheet(double split, Road road, const QELXMorph3D& morph)
{
    ImporterRun run(nurbsSheetSplit(split));
    Gk_ImportContext context(&run.target(), &run.sourceDocument());
    context.SetMorph(morph);
    const QELXIdentifier body = run.id(qelx_test::KindBody, 0);
    qelx_test::OptionScope options;
    if (road == Road::RepairedTrim)
        options.on(Ve_OptionDoc::keyOf("RepairTrim"));
    EXPECT_EQ(road != Road::Topology ? run.importer().ImportSheetAsTrim(&run.source(), body, &context)
                                 : run.importer().ImportSheetTopology(&run.source(), body, &context),
              QELI_OK);
    return fitOf(run.result());
}

} // namespace

class PCurvePastEdge : public ImportTest {};

TEST_F(PCurvePastEdge, EveryRoadCutsAPCurveRunningPastItsEdgeInEveryFrame)
{
    for (Road road : {Road::Trim, Road::RepairedTrim, Road::Topology}) {
        for (const Frame& frame : frames()) {
            SCOPED_TRACE(std::string(road == Road::Trim           ? "trim road, "
                                     : road == Road::RepairedTrim ? "repaired trim road, "
                                                                  : "topology road, ") +
                         frame.name);
            const SheetFit plain = importSheet(0.0, road, frame.morph);
            const SheetFit split = importSheet(0.6, road, frame.morph);
            ASSERT_GT(plain.area, 0.1);
            EXPECT_LT(split.gap, QELresfit);
            EXPECT_NEAR(split.area, plain.area, 1e-6 * plain.area);
        }
    }
}
