// How far round the neutral reader lets an edge's ellipse or a coedge's
// pcurve go: a range a little more than one turn of an ellipse, or more than
// one turn under a parameterization that runs backwards, is refused naming
// the edge; exactly one turn is read. A pcurve taken backwards round its
// surface as many times as forwards is refused alike.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "qelx/test_model.hxx"
#include "qelx_formats/neutral_document.hxx"

namespace {

using qelx_test::TestModel;

// The refusal of reading the model's text ("" when it is read).
std::string turnsRefusal(const TestModel& m)
{
    try {
        qelx_formats::readNeutralText(qelx_formats::writeNeutralText(m), "turns.json");
        return std::string();
    } catch (const qelx_formats::NeutralDocumentError& e) {
        return e.what();
    }
}

// The first edge of the model on an ellipse; -1 when none.
int firstEllipseEdge(const TestModel& m)
{
    for (std::size_t i = 0; i < m.edges.size(); ++i)
        if (const int c = m.edges[i].curve; c >= 0 && m.curves[static_cast<std::size_t>(c)].type == qelx_test::CurvEllipse)
            return static_cast<int>(i);
    return -1;
}

} // namespace

TEST(NeutralTurns, AnEllipseRangeIsReadUpToOneTurnWhicheverWayItsParameterRuns)
{
    const TestModel sound = TestModel::cylinder(2, 5);
    ASSERT_EQ(turnsRefusal(sound), "");
    const int edge = firstEllipseEdge(sound);
    ASSERT_GE(edge, 0);
    const double turn = 2.0 * M_PI;
    struct Case {
        const char* what;
        double scale;
        double range; // of the edge, from 0
        bool read;
    };
    const Case cases[] = {
        {"one turn", 1.0, turn, true},
        {"a ten-thousandth past one turn", 1.0, turn * (1.0 + 1e-4), false},
        {"one turn backwards", -2.0, turn / 2.0, true},
        {"more than one turn backwards", -2.0, 3.5, false},
        {"a ten-thousandth past one turn backwards", -0.5, 2.0 * turn * (1.0 + 1e-4), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestModel m = sound;
        qelx_test::TestCurve& curve = m.curves[static_cast<std::size_t>(m.edges[static_cast<std::size_t>(edge)].curve)];
        curve.scale = c.scale;
        curve.domain[0] = 0.0;
        curve.domain[1] = std::min(c.range, turn / std::fabs(c.scale));
        m.edges[static_cast<std::size_t>(edge)].domain[0] = 0.0;
        m.edges[static_cast<std::size_t>(edge)].domain[1] = c.range;
        const std::string refusal = turnsRefusal(m);
        if (c.read) {
            EXPECT_EQ(refusal, "");
            continue;
        }
        EXPECT_EQ(refusal, "turns.json: /edges/" + std::to_string(edge) +
                               "/domain: a range that its parameterization takes more than once round its ellipse");
    }
}

TEST(NeutralTurns, APcurveRunningBackwardsRoundItsSurfaceIsRefusedAsForwards)
{
    // The circle's coedge on the side of a cylinder, its pcurve's last
    // control point moved on or back round the axis by a seeded number of
    // turns; the side parameterized forwards or mirrored in its round
    // direction.
    const TestModel sound = TestModel::cylinder(2, 5);
    int coedge = -1;
    for (std::size_t i = 0; i < sound.coedges.size() && coedge < 0; ++i) {
        const qelx_test::TestCoedge& c = sound.coedges[i];
        if (c.pcurve >= 0 && c.edge >= 0 && sound.edges[static_cast<std::size_t>(c.edge)].curve >= 0 &&
            sound.curves[static_cast<std::size_t>(sound.edges[static_cast<std::size_t>(c.edge)].curve)].type ==
                qelx_test::CurvEllipse &&
            sound.surfaces[static_cast<std::size_t>(
                               sound.faces[static_cast<std::size_t>(sound.loops[static_cast<std::size_t>(c.loop)].face)]
                                   .surface)]
                    .type == qelx_test::SurfCylinder)
            coedge = static_cast<int>(i);
    }
    ASSERT_GE(coedge, 0);
    std::mt19937 random(38);
    std::uniform_real_distribution<double> turnsOf(1.01, 50.0);
    for (const double mirror : {1.0, -1.0})
        for (const double way : {1.0, -1.0}) {
            TestModel m = sound;
            qelx_test::TestSurface& s = m.surfaces[static_cast<std::size_t>(
                m.faces[static_cast<std::size_t>(m.loops[static_cast<std::size_t>(m.coedges[coedge].loop)].face)].surface)];
            s.vA *= mirror;
            const double period = 2.0 * M_PI / std::fabs(s.vA * s.vB);
            const double turns = turnsOf(random);
            SCOPED_TRACE(std::string(mirror < 0 ? "mirrored, " : "") + (way < 0 ? "backwards " : "forwards ") +
                         std::to_string(turns) + " turns");
            qelx_test::TestNurbs& n = m.pcurves[static_cast<std::size_t>(m.coedges[coedge].pcurve)].nurbs;
            n.ctrl[static_cast<std::size_t>(2 * (n.count - 1) + 1)] += way * turns * period;
            const std::string refusal = turnsRefusal(m);
            const std::string head = "turns.json: /coedges/" + std::to_string(coedge) + "/domain: a range whose pcurve runs ";
            EXPECT_EQ(refusal.substr(0, head.size()), head) << refusal;
            EXPECT_NE(refusal.find("round its surface in v"), std::string::npos) << refusal;
        }
}
