// Healing's verdict on the bodies a healing left: each the kernel's checks or
// a file writer's rules refuse is warned of, by its place among the bodies and
// its name where it has one, with what refuses it; null and dead entries are
// passed over, and a sound body is said of not at all. In every frame.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "heal/step_watch.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "velm/attrib.hxx"
#include "velm/build.hxx"
#include "velm/insanity.hxx"
#include "velm/errors.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

void placeVerdictBody(BODY* body, const QELtransf& frame)
{
    ASSERT_NE(body, nullptr);
    if (frame.identity())
        return;
    ASSERT_TRUE(api_apply_transf(body, frame).ok());
    ASSERT_TRUE(api_change_body_trans(body, nullptr).ok());
}

// A wire of one straight edge whose curve is gone: the kernel's checks find
// the edge without its geometry, and nothing else.
BODY* makeWireWithoutCurve()
{
    BODY* wire = testkit::make_kinked_wire({{0, 0, 0}, {4, 0, 0}, {8, 0, 0}}, FORWARD);
    ENTITY_LIST edges;
    api_get_edges(wire, edges);
    static_cast<EDGE*>(edges[0])->set_geometry(nullptr);
    return wire;
}

// A wire of one spline edge ranged past its curve's end, its vertex on the
// curve's extension: nothing strays, so the kernel passes it, but a file
// writer refuses it.
BODY* makeWireRangedPastItsEnd()
{
    BODY* wire = testkit::make_kinked_wire({{0, 0, 0}, {4, 0, 0}, {4, 3, 0}, {4, 3, 5}}, FORWARD);
    ENTITY_LIST edges;
    api_get_edges(wire, edges);
    auto* edge = static_cast<EDGE*>(edges[0]);
    const curve& along = edge->geometry()->equation();
    const QELinterval own = along.param_range();
    const QELinterval range(own.start_pt(), own.end_pt() + 0.2 * own.length());
    edge->set_param_range(&range);
    edge->end()->geometry()->set_coords(along.eval_position(range.end_pt()));
    return wire;
}

std::vector<std::string> unsoundSaid(const qelx_test::EventRecorder& events)
{
    std::vector<std::string> out;
    for (const std::string& text : events.names("Warning"))
        if (text.rfind("healed body ", 0) == 0)
            out.push_back(text);
    return out;
}

} // namespace

// The bodies: a sound box, a null entry, a body already lost, a wire whose
// one fault the kernel's checks find, a sound wire, a named wire a file
// cannot carry. Only the two unsound ones are said, each by its place (from
// 0) among all six, the named one by its name too, each with what refuses it
// and only that.
TEST(UnsoundHealedBodies, EachUnsoundBodyIsSaidByItsPlaceWithWhatRefusesItAndNoOtherIs)
{
    for (const QELtransf& frame : testkit::heal_frames()) {
        SCOPED_TRACE(frame.identity() ? "identity" : frame.reflect() ? "mirrored" : "rotated");
        BODY* box = testkit::make_framed_box(frame);
        BODY* lost = testkit::make_framed_box(frame);
        BODY* off = makeWireWithoutCurve();
        BODY* sound = testkit::make_kinked_wire({{0, 0, 0}, {4, 0, 0}, {8, 0, 0}}, FORWARD);
        BODY* past = makeWireRangedPastItsEnd();
        for (BODY* b : {off, sound, past})
            placeVerdictBody(b, frame);
        ASSERT_TRUE(api_add_generic_named_attribute(past, "ATTRIB_XVELM_NAME", "stretched").ok());
        {
            insanity_list* findings = nullptr;
            ASSERT_TRUE(api_check_entity(off, findings).ok());
            const std::unique_ptr<insanity_list> held(findings);
            ASSERT_NE(findings, nullptr);
            ASSERT_EQ(findings->count(), 1) << "the wire's fault is meant to be its only one: " << findings->data(0)->get_message();
        }
        ASSERT_TRUE(api_delent(lost).ok());
        qelx_test::EventRecorder events;
        ve_heal::warnUnsoundHealedBodies({box, nullptr, lost, off, sound, past});
        const std::vector<std::string> said = unsoundSaid(events);
        ASSERT_EQ(said.size(), 2u) << ::testing::PrintToString(events.names("Warning"));
        EXPECT_EQ(said[0].rfind("healed body 3 of 6 is not sound: the kernel's checks refuse it (", 0), 0u) << said[0];
        EXPECT_EQ(said[0].find("the check itself failed"), std::string::npos) << said[0];
        EXPECT_EQ(said[0].find("and 0 more"), std::string::npos) << said[0];
        EXPECT_EQ(said[1].rfind("healed body 5 of 6 (\"stretched\") is not sound: a file cannot carry it as it is (edge 1 "
                                "ranged past its curve's end by",
                                0),
                  0u)
            << said[1];
        for (BODY* b : {box, off, sound, past})
            api_delent(b);
    }
}

// A check that fails does not pass a body for sound: the body the failed
// check was asked of is said to be refused by it, and only that one.
TEST(UnsoundHealedBodies, ABodyWhoseCheckFailedIsSaidSo)
{
    for (int failing = 1; failing <= 2; ++failing) {
        SCOPED_TRACE("the check of body " + std::to_string(failing - 1) + " fails");
        BODY* first = testkit::make_plane_box();
        BODY* second = testkit::make_kinked_wire({{0, 0, 0}, {4, 0, 0}, {8, 0, 0}}, FORWARD);
        qelx_test::EventRecorder events;
        velm_test_fail_call("api_check_entity", failing, VELM_NOT_IMPLEMENTED);
        ve_heal::warnUnsoundHealedBodies({first, second});
        velm_test_reset();
        EXPECT_EQ(unsoundSaid(events),
                  std::vector<std::string>{"healed body " + std::to_string(failing - 1) +
                                           " of 2 is not sound: the kernel's checks refuse it (the check itself failed)"});
        api_delent(first);
        api_delent(second);
    }
}
