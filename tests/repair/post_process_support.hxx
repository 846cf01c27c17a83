#pragma once
// Shared by the toolbox's tests: the kernel checker's findings, areas, lists
// and the fixture that deletes what a test kept and counts kernel objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/entity_views.hxx"
#include "qelx/qelx_test.hxx"
#include "velm/errors.hxx"
#include "velm/insanity.hxx"
#include "velm/law.hxx"
#include "velm/memory.hxx"
#include "velm/query.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"

namespace post_process_test {

constexpr double kPi = 3.14159265358979323846;

inline Ve_BodyTag* view(BODY* b)
{
    return ve_view<Ve_BodyTag>(b);
}

// The kernel checker's findings, one "entity: message" line each.
inline std::string findings(BODY* body)
{
    insanity_list* found = nullptr;
    EXPECT_TRUE(api_check_entity(body, found).ok());
    std::string text;
    for (int i = 0; found && i < found->count(); ++i)
        text += std::string(found->data(i)->get_ent()->type_name()) + ": " + found->data(i)->get_message() + "\n";
    delete found;
    return text;
}

inline double area(ENTITY* body)
{
    double a = 0.0, acc = 0.0;
    EXPECT_TRUE(api_ent_area(body, 0.001, a, acc).ok());
    return a;
}

inline std::vector<FACE*> faces(BODY* body)
{
    ENTITY_LIST list;
    api_get_faces(body, list);
    std::vector<FACE*> out;
    for (int i = 0; i < list.count(); ++i)
        out.push_back(static_cast<FACE*>(list[i]));
    return out;
}

inline std::vector<EDGE*> edges(ENTITY* e)
{
    ENTITY_LIST list;
    api_get_edges(e, list);
    std::vector<EDGE*> out;
    for (int i = 0; i < list.count(); ++i)
        out.push_back(static_cast<EDGE*>(list[i]));
    return out;
}

inline std::vector<COEDGE*> coedges(const ENTITY* e)
{
    ENTITY_LIST list;
    api_get_coedges(e, list);
    std::vector<COEDGE*> out;
    for (int i = 0; i < list.count(); ++i)
        out.push_back(static_cast<COEDGE*>(list[i]));
    return out;
}

// Null when the kernel's list could not be had (a failure injected there).
inline FACE* nthFace(BODY* body, std::size_t i)
{
    const std::vector<FACE*> all = faces(body);
    return i < all.size() ? all[i] : nullptr;
}

inline void flipSense(FACE* f)
{
    f->set_sense(f->sense() == FORWARD ? REVERSED : FORWARD);
}

// Fault editor: the edge gets the curve (parametrised over the edge's
// range in curve terms, edge_curve_range) and its coedges fresh pcurves.
inline void replaceEdgeCurve(EDGE* e, const curve& c)
{
    e->set_geometry(make_curve(c));
    for (COEDGE* co : edge_coedges(e))
        if (co->loop()) {
            co->set_geometry(nullptr);
            sg_add_pcurve_to_coedge(co);
        }
}

// A cubic B-spline through the control points, clamped, knots 0, 1, 2, ...
inline bs3_curve cubicThrough(const std::vector<QELposition>& pts)
{
    std::vector<double> knots{0, 0, 0, 0};
    for (std::size_t i = 1; i + 3 < pts.size(); ++i)
        knots.push_back(double(i));
    const double last = double(pts.size() - 3);
    knots.insert(knots.end(), {last, last, last, last});
    return bs3_curve_from_ctrlpts(3, 0, 0, 0, int(pts.size()), pts.data(), nullptr, QELresabs, int(knots.size()),
                                  knots.data(), bs3_curve_knottol());
}

// A wire of one edge on a B-spline.
inline BODY* wireOn(bs3_curve c, const QELinterval* range = nullptr)
{
    const intcurve ic(c);
    EDGE* e = nullptr;
    EXPECT_TRUE(api_make_edge_from_curve(&ic, e).ok());
    if (range) {
        e->set_param_range(range);
        e->end()->geometry()->set_coords(ic.eval_position(range->end_pt()));
    }
    BODY* b = nullptr;
    EXPECT_TRUE(api_make_ewire(1, &e, b).ok());
    return b;
}

class PostProcess : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        m_live = velm_live_object_count();
    }
    void TearDown() override
    {
        for (BODY* b : m_bodies)
            api_del_entity(b);
        // The record of the kernel's last failed call and the laws a repair
        // registered are the kernel's state, not a leak.
        set_global_error_info(nullptr);
        law_clear_table();
        EXPECT_EQ(velm_live_object_count(), m_live);
        qelx_test::resetFramework();
    }
    BODY* keep(BODY* b)
    {
        m_bodies.push_back(b);
        return b;
    }

    std::vector<BODY*> m_bodies;
    long m_live = 0;
};

} // namespace post_process_test
