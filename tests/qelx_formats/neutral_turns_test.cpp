// How far round the neutral reader lets an edge's ellipse or a coedge's
// pcurve go: a range a little more than one turn of an ellipse, or more than
// one turn under a parameterization that runs backwards, is refused naming
// the edge; exactly one turn is read. A pcurve taken backwards round its
// surface as many times as forwards is refused alike. The writer refuses
// to write each model its reader refuses, naming the same place.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "qelx/test_model.hxx"
#include "qelx_formats/neutral_document.hxx"

#include <nlohmann/json.hpp>

namespace {

using qelx_test::TestModel;

// How the writer and the reader judge a damaged model: the writer's refusal
// of it, and the reader's of the sound model's text with the same damage
// done to it (`damage` edits the JSON as the model was edited); "" where
// one takes it. The two judge alike.
struct Refusals {
    std::string writer, reader;
};
Refusals turnsRefusals(const TestModel& damaged, const TestModel& sound,
                       const std::function<void(nlohmann::ordered_json&)>& damage)
{
    Refusals r;
    try {
        qelx_formats::writeNeutralText(damaged);
    } catch (const qelx_formats::NeutralDocumentError& e) {
        r.writer = e.what();
    }
    nlohmann::ordered_json d = nlohmann::ordered_json::parse(qelx_formats::writeNeutralText(sound));
    damage(d);
    try {
        qelx_formats::readNeutralText(d.dump(), "turns.json");
    } catch (const qelx_formats::NeutralDocumentError& e) {
        r.reader = e.what();
    }
    return r;
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
        const int curveIndex = m.edges[static_cast<std::size_t>(edge)].curve;
        qelx_test::TestCurve& curve = m.curves[static_cast<std::size_t>(curveIndex)];
        curve.scale = c.scale;
        curve.domain[0] = 0.0;
        curve.domain[1] = std::min(c.range, turn / std::fabs(c.scale));
        m.edges[static_cast<std::size_t>(edge)].domain[0] = 0.0;
        m.edges[static_cast<std::size_t>(edge)].domain[1] = c.range;
        const Refusals refusals = turnsRefusals(m, sound, [&](nlohmann::ordered_json& d) {
            nlohmann::ordered_json& k = d["curves"][static_cast<std::size_t>(curveIndex)];
            k["parameterization"]["scale"] = curve.scale;
            k["domain"] = {curve.domain[0], curve.domain[1]};
            d["edges"][static_cast<std::size_t>(edge)]["domain"] = {0.0, c.range};
        });
        if (c.read) {
            EXPECT_EQ(refusals.writer, "");
            EXPECT_EQ(refusals.reader, "");
            continue;
        }
        const std::string fault =
            "/edges/" + std::to_string(edge) + "/domain: a range that its parameterization takes more than once round its ellipse";
        const std::string edgeAt = "/edges/" + std::to_string(edge) + "/domain";
        EXPECT_EQ(refusals.writer, edgeAt + " (body 0, edge " + std::to_string(edge) + ")" +
                                       fault.substr(edgeAt.size()) + ", which a document cannot hold");
        EXPECT_EQ(refusals.reader, "turns.json: " + fault);
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
            const auto surface = static_cast<std::size_t>(
                m.faces[static_cast<std::size_t>(m.loops[static_cast<std::size_t>(m.coedges[coedge].loop)].face)].surface);
            qelx_test::TestSurface& s = m.surfaces[surface];
            s.vA *= mirror;
            const double period = 2.0 * M_PI / std::fabs(s.vA * s.vB);
            const double turns = turnsOf(random);
            SCOPED_TRACE(std::string(mirror < 0 ? "mirrored, " : "") + (way < 0 ? "backwards " : "forwards ") +
                         std::to_string(turns) + " turns");
            const auto pcurve = static_cast<std::size_t>(m.coedges[coedge].pcurve);
            qelx_test::TestNurbs& n = m.pcurves[pcurve].nurbs;
            const auto moved = static_cast<std::size_t>(2 * (n.count - 1) + 1);
            n.ctrl[moved] += way * turns * period;
            const Refusals refusals = turnsRefusals(m, sound, [&](nlohmann::ordered_json& d) {
                d["surfaces"][surface]["parameterization"]["v"][0] = s.vA;
                d["pcurves"][pcurve]["controlPoints"][moved] = n.ctrl[moved];
            });
            const std::string head = "/coedges/" + std::to_string(coedge) + "/domain: a range whose pcurve runs ";
            EXPECT_EQ(refusals.reader.substr(0, head.size() + 12), "turns.json: " + head) << refusals.reader;
            EXPECT_NE(refusals.reader.find("round its surface in v"), std::string::npos) << refusals.reader;
            // The writer refuses it alike, naming the coedge's face and body too.
            const std::string coedgeAt = "/coedges/" + std::to_string(coedge) + "/domain";
            const std::string face =
                std::to_string(m.loops[static_cast<std::size_t>(m.coedges[static_cast<std::size_t>(coedge)].loop)].face);
            EXPECT_EQ(refusals.writer, coedgeAt + " (body 0, face " + face + ")" +
                                           refusals.reader.substr(12 + coedgeAt.size()) + ", which a document cannot hold");
        }
}
