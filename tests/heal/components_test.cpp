// Component separation, manifold pieces, clean-up members and point sets.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "heal/repair_utils.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_test.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/attrib.hxx"
#include "velm/body_heal.hxx"
#include "velm/errors.hxx"
#include "velm/groups.hxx"
#include "velm/testkit.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

namespace {

class Components : public testkit::ConnectorTest {};

int failCode() { return qelvelm_api_errmod.message_code(VELM_API_FAILED); }

BODY* bodyAt(const QELXDynamicArray<Ve_EntityTag*>& a, int i) { return reinterpret_cast<BODY*>(a[i]); }

void deleteAll(const ENTITY_LIST& list)
{
    for (int i = 0; i < list.count(); ++i)
        if (list[i])
            api_del_entity(list[i]);
}

// The corner vertex of the second lump nearest the first lump.
VERTEX* touchingVertex(BODY* b)
{
    ENTITY_LIST vertices;
    api_get_vertices(b->lump()->next(), vertices);
    VERTEX* best = nullptr;
    for (int i = 0; i < vertices.count(); ++i) {
        auto* v = static_cast<VERTEX*>(vertices[i]);
        if (!best || distance(v->geometry()->coords(), QELposition(1, 1, 1)) <
                         distance(best->geometry()->coords(), QELposition(1, 1, 1)))
            best = v;
    }
    return best;
}

} // namespace

TEST_F(Components, LumpsTouchAtCoincidentVerticesOrWithinATolerantVertex)
{
    struct Case {
        double gap;
        bool tolerant;
        bool touches;
    };
    for (const Case c : {Case{0.0, false, true}, Case{0.5 * QELresabs, false, true}, Case{2.0 * QELresabs, false, false},
                         Case{2.0 * QELresabs, true, true},
                         Case{0.5, true, false}}) {
        BODY* b = testkit::make_corner_touching_lumps(c.gap);
        if (c.tolerant) {
            TVERTEX* tv = nullptr;
            ASSERT_TRUE(api_replace_vertex_with_tvertex(touchingVertex(b), tv).ok());
            tv->set_tolerance(4.0 * QELresabs);
        }
        EXPECT_EQ(QELXVeRepairUtils::HasOTVAcrossComponents(b, 1), c.touches) << c.gap << " " << c.tolerant;
        EXPECT_EQ(QELXVeRepairUtils::HasOTVAcrossComponents(b, 0), c.touches) << "the body's shells, whatever their lumps";
        EXPECT_FALSE(QELXVeRepairUtils::HasOTVAcrossComponents(b, 2));
        api_del_entity(b);
    }
    BODY* one = testkit::make_plane_box();
    EXPECT_FALSE(QELXVeRepairUtils::HasOTVAcrossComponents(one, 0));
    EXPECT_FALSE(QELXVeRepairUtils::HasOTVAcrossComponents(one, 1));
    api_del_entity(one);
}

TEST_F(Components, TouchingLumpsAreSeparatedGroupedAndAppended)
{
    BODY* first = testkit::make_plane_box();
    BODY* touching = testkit::make_corner_touching_lumps(0.0);
    BODY* last = testkit::make_plane_box(2.0, 2.0, 2.0);
    ENTITY_LIST list;
    list.add(first);
    list.add(touching);
    list.add(last);
    QELXVeRepairUtils::SeparateLumpsIfOTV(list);
    ASSERT_EQ(list.count(), 4);
    EXPECT_EQ(list[0], first);
    EXPECT_EQ(list[1], touching);
    EXPECT_EQ(list[2], last);
    BODY* piece = static_cast<BODY*>(list[3]);
    EXPECT_EQ(testkit::count_faces(touching) + testkit::count_faces(piece), 12);
    EXPECT_EQ(testkit::count_lumps(touching), 1);
    for (BODY* b : {touching, piece})
        EXPECT_EQ(testkit::check_findings(b), "");
    ENTITY_LIST groups;
    ASSERT_TRUE(api_ct_return_groups(piece, groups).ok());
    ASSERT_EQ(groups.count(), 1);
    ENTITY_LIST members;
    api_ct_return_ents(static_cast<QELGROUP*>(groups[0]), members);
    EXPECT_EQ(members.count(), 2);
    ATTRIB_GEN_NAME* mark = nullptr;
    api_find_named_attribute(groups[0], "ATTRIB_XVELM_SEPARATED_BODIES", mark);
    ASSERT_NE(mark, nullptr);
    EXPECT_EQ(static_cast<ATTRIB_GEN_INTEGER*>(mark)->value(), 1);
    api_ct_lose_group(static_cast<QELGROUP*>(groups[0]));
    deleteAll(list);
}

TEST_F(Components, AFailedSeparationLeavesTheBodyWholeAndUngrouped)
{
    BODY* touching = testkit::make_corner_touching_lumps(0.0);
    const std::string before = testkit::body_text(touching);
    ENTITY_LIST list;
    list.add(touching);
    velm_test_fail_call("api_separate_body", 1, failCode());
    QELXVeRepairUtils::SeparateLumpsIfOTV(list);
    EXPECT_EQ(list.count(), 1);
    EXPECT_EQ(testkit::body_text(touching), before);
    ENTITY_LIST groups;
    api_ct_return_groups(touching, groups);
    EXPECT_EQ(groups.count(), 0);
    deleteAll(list);
}

TEST_F(Components, ShellsSplitIntoBodiesWithTheBodysAttributes)
{
    // One lump holding both boxes' shells.
    BODY* b = testkit::make_corner_touching_lumps(0.0);
    LUMP* second = b->lump()->next();
    SHELL* moved = second->shell();
    second->set_shell(nullptr);
    b->lump()->set_next(nullptr);
    b->lump()->shell()->set_next(moved);
    moved->set_lump(b->lump());
    second->lose();
    ASSERT_EQ(testkit::count_shells(b), 2);
    ASSERT_EQ(testkit::model_problems(b), "");
    api_add_generic_named_attribute(b, "NAME", "kept");
    ENTITY_LIST out;
    splitShellsIntoBodies(b, out);
    ASSERT_EQ(out.count(), 1);
    EXPECT_EQ(testkit::count_shells(b), 1);
    EXPECT_EQ(testkit::count_faces(out[0]), 6);
    ATTRIB_GEN_NAME* name = nullptr;
    api_find_named_attribute(out[0], "NAME", name);
    EXPECT_NE(name, nullptr);
    EXPECT_EQ(testkit::check_findings(b), "");
    EXPECT_EQ(testkit::check_findings(out[0]), "");
    BODY* one = testkit::make_plane_box();
    ENTITY_LIST none;
    splitShellsIntoBodies(one, none);
    EXPECT_EQ(none.count(), 0);
    api_del_entity(one);
    api_del_entity(b);
    deleteAll(out);
}

TEST_F(Components, CubesSharingAnEdgeBecomeTwoSoundSolids)
{
    BODY* b = testkit::make_cubes_sharing_edge();
    EXPECT_NE(reinterpret_cast<Ve_BodyTag*>(b)->isNonManifold(), Ve_BodyTag::Manifold);
    const QELXDynamicArray<Ve_EntityTag*> pieces = reinterpret_cast<Ve_BodyTag*>(b)->unstitchNonManifold();
    ASSERT_EQ(pieces.Count(), 2);
    for (int i = 0; i < pieces.Count(); ++i) {
        EXPECT_EQ(testkit::count_faces(bodyAt(pieces, i)), 6);
        EXPECT_EQ(reinterpret_cast<Ve_BodyTag*>(pieces[i])->isNonManifold(), Ve_BodyTag::Manifold);
        EXPECT_EQ(testkit::check_findings(bodyAt(pieces, i)), "");
        api_del_entity(bodyAt(pieces, i));
    }
}

TEST_F(Components, NoPieceIsLostWhenAKernelCallFails)
{
    // A failed unstitch gives back the body itself; a failed separation of an
    // unstitched body keeps that body whole.
    for (const char* failing : {"api_unstitch_nonmani", "api_flatten_body", "api_separate_body"}) {
        BODY* b = testkit::make_cubes_sharing_edge();
        velm_test_fail_call(failing, 1, failCode());
        const QELXDynamicArray<Ve_EntityTag*> pieces = reinterpret_cast<Ve_BodyTag*>(b)->unstitchNonManifold();
        velm_test_reset();
        int faces = 0;
        for (int i = 0; i < pieces.Count(); ++i) {
            faces += testkit::count_faces(bodyAt(pieces, i));
            EXPECT_EQ(testkit::model_problems(bodyAt(pieces, i)), "") << failing;
        }
        EXPECT_EQ(faces, 12) << failing;
        if (std::string(failing) != "api_separate_body") {
            ASSERT_EQ(pieces.Count(), 1) << failing;
            EXPECT_EQ(bodyAt(pieces, 0), b);
        }
        for (int i = 0; i < pieces.Count(); ++i)
            api_del_entity(bodyAt(pieces, i));
    }
}

TEST_F(Components, PointBodiesBecomeOneGroupOfFreeVerticesPerName)
{
    struct Point {
        const char* pset;
        const char* mdi;
    };
    const std::vector<Point> points = {{"A", nullptr}, {"B", nullptr}, {"A", "M"}, {nullptr, "M"},
                                       {"B", nullptr}, {nullptr, nullptr}, {"A", nullptr}};
    ENTITY_LIST list;
    BODY* box = testkit::make_plane_box();
    list.add(box);
    for (std::size_t k = 0; k < points.size(); ++k) {
        BODY* p = testkit::make_vertex_body(QELposition(double(k), 1.0, 2.0));
        if (points[k].pset)
            api_add_generic_named_attribute(p, "PSET", points[k].pset);
        if (points[k].mdi)
            api_add_generic_named_attribute(p, "MDI", points[k].mdi);
        // Every other point carries its direction on its vertex, numbered by the point.
        if (k % 2 == 0)
            new ATTRIB_GEN_VECTOR(p->wire()->coedge()->start(), "MDI_VECTOR", QELvector(double(k), 0.0, 1.0),
                                  split_keep, merge_keep_survivor, trans_apply, copy_copy);
        list.add(p);
    }
    BODY* unnamed = static_cast<BODY*>(list[6]);
    QELXVeRepairUtils::groupPSET(list);
    std::vector<ENTITY*> live;
    list.init();
    for (ENTITY* e = list.next(); e; e = list.next())
        live.push_back(e);
    ASSERT_EQ(live.size(), 5u);
    EXPECT_EQ(live[0], box);
    EXPECT_EQ(live[1], unnamed);
    std::vector<int> sizes;
    for (std::size_t k = 2; k < live.size(); ++k) {
        ASSERT_TRUE(is_QELGROUP(live[k]));
        ENTITY_LIST members;
        api_ct_return_ents(static_cast<QELGROUP*>(live[k]), members);
        sizes.push_back(members.count());
        for (int i = 0; i < members.count(); ++i) {
            ASSERT_TRUE(is_VERTEX(members[i]));
            const auto* v = static_cast<const VERTEX*>(members[i]);
            const int k = static_cast<int>(std::lround(v->geometry()->coords().x()));
            const ATTRIB_GEN_VECTOR* carried = nullptr;
            for (ATTRIB* a = v->attrib(); a; a = a->next())
                if (const auto* vec = dynamic_cast<const ATTRIB_GEN_VECTOR*>(a))
                    carried = vec;
            if (k % 2 == 0) {
                ASSERT_NE(carried, nullptr) << "point " << k << " lost its direction";
                EXPECT_EQ(std::string(carried->name()), "MDI_VECTOR");
                EXPECT_EQ(carried->value().x(), double(k)) << "point " << k << " given another's direction";
            } else {
                EXPECT_EQ(carried, nullptr) << "point " << k << " given a direction";
            }
        }
    }
    std::sort(sizes.begin(), sizes.end());
    EXPECT_EQ(sizes, (std::vector<int>{1, 2, 3}));
    for (std::size_t k = 2; k < live.size(); ++k) {
        ENTITY_LIST members;
        api_ct_return_ents(static_cast<QELGROUP*>(live[k]), members);
        api_ct_lose_group(static_cast<QELGROUP*>(live[k]));
        deleteAll(members);
    }
    api_del_entity(box);
    api_del_entity(unnamed);
}

TEST_F(Components, APointThatCannotBeGroupedKeepsItsBody)
{
    ENTITY_LIST list;
    for (int k = 0; k < 3; ++k) {
        BODY* p = testkit::make_vertex_body(QELposition(double(k), 0.0, 0.0));
        api_add_generic_named_attribute(p, "PSET", "A");
        list.add(p);
    }
    BODY* second = static_cast<BODY*>(list[1]);
    velm_test_fail_call("api_ct_add_to_group", 2, failCode());
    QELXVeRepairUtils::groupPSET(list);
    velm_test_reset();
    std::vector<ENTITY*> live;
    list.init();
    for (ENTITY* e = list.next(); e; e = list.next())
        live.push_back(e);
    ASSERT_EQ(live.size(), 2u);
    EXPECT_EQ(live[0], second);
    ENTITY_LIST members;
    api_ct_return_ents(static_cast<QELGROUP*>(live[1]), members);
    EXPECT_EQ(members.count(), 2);
    api_ct_lose_group(static_cast<QELGROUP*>(live[1]));
    deleteAll(members);
    api_del_entity(second);
}

// A named wire body whose first edge runs between two vertices is no point,
// though another of its wires is a lone point edge: it keeps its body and no
// group is made of it.
TEST_F(Components, ANamedWireWhoseFirstEdgeIsOpenIsNoPoint)
{
    BODY* wire = testkit::make_wire_body(1, false);
    BODY* point = testkit::make_vertex_body(QELposition(5.0, 1.0, 2.0));
    WIRE* lone = point->wire();
    point->set_wire(nullptr);
    lone->set_body(wire);
    wire->wire()->set_next(lone);
    api_del_entity(point);
    ASSERT_TRUE(reinterpret_cast<Ve_BodyTag*>(wire)->isVertexBody());
    api_add_generic_named_attribute(wire, "PSET", "A");
    ENTITY_LIST list;
    list.add(wire);
    QELXVeRepairUtils::groupPSET(list);
    ASSERT_EQ(list.count(), 1);
    EXPECT_EQ(list[0], wire);
    EXPECT_EQ(testkit::model_problems(wire), "");
    api_del_entity(wire);
}
