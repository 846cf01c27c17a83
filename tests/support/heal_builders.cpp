#include "support/heal_builders.hxx"

#include <cmath>
#include <numbers>

#include "support/geometry_builders.hxx"
#include "support/query_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology_api.hxx"

namespace testkit {

std::vector<QELtransf> heal_frames()
{
    const QELtransf rotated = rotate_transf(0.7, QELvector(1.0, 2.0, 3.0)) * translate_transf(QELvector(-40.0, 15.0, 7.0));
    const double mirror[9] = {-1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    const QELtransf mirrored = restore_transf(QELmatrix(mirror), QELvector(3.0, -8.0, 120.0), 1.0, 0, 1, 0);
    return {QELtransf(), rotated, mirrored};
}

BODY* make_framed_box(const QELtransf& frame, double dx, double dy, double dz)
{
    BODY* b = make_plane_box(dx, dy, dz);
    if (!frame.identity()) {
        api_apply_transf(b, frame);
        api_change_body_trans(b, nullptr);
    }
    return b;
}

std::vector<BODY*> make_loose_box_sheets(const QELtransf& frame, double dx, double dy, double dz)
{
    std::vector<QELposition> corners = {{0, 0, 0},   {dx, 0, 0},   {dx, dy, 0},  {0, dy, 0},
                                        {0, 0, dz},  {dx, 0, dz},  {dx, dy, dz}, {0, dy, dz}};
    for (QELposition& p : corners)
        p = p * frame;
    return make_loose_sheets(corners, {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}});
}

std::vector<BODY*> make_gapped_box_sheets(const QELtransf& frame, double gap, double dx, double dy, double dz)
{
    const double inward = gap / std::sqrt(2.0);
    std::vector<QELposition> corners = {{0, 0, 0},  {dx, 0, 0},  {dx, dy, 0},  {0, dy, 0}, {0, 0, dz},
                                        {dx, 0, dz}, {dx, dy, dz}, {0, dy, dz}, {dx, dy - inward, dz - inward}};
    for (QELposition& p : corners)
        p = p * frame;
    return make_loose_sheets(corners, {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 8, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}});
}

BODY* make_corner_touching_lumps(double gap)
{
    BODY* a = make_plane_box(1.0, 1.0, 1.0);
    BODY* b = make_plane_box(1.0, 1.0, 1.0);
    api_apply_transf(b, translate_transf(QELvector(1.0 + gap, 1.0, 1.0)));
    api_change_body_trans(b, nullptr);
    LUMP* moved = b->lump();
    b->set_lump(nullptr);
    a->lump()->set_next(moved);
    moved->set_body(a);
    api_del_entity(b);
    return a;
}

BODY* make_cubes_sharing_edge()
{
    // Cube A over [0,1]^3, cube B over [1,2] x [1,2] x [0,1]: they share the
    // edge x = y = 1 along z.
    const std::vector<QELposition> p = {
        {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}, {1, 1, 1}, {0, 1, 1},
        {2, 1, 0}, {2, 2, 0}, {1, 2, 0}, {2, 1, 1}, {2, 2, 1}, {1, 2, 1}};
    const std::vector<std::vector<int>> faces = {
        {0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7},
        {2, 10, 9, 8}, {6, 11, 12, 13}, {2, 8, 11, 6}, {8, 9, 12, 11}, {9, 10, 13, 12}, {10, 2, 6, 13}};
    return make_polyhedron(p, faces);
}

BODY* make_sheet_with_shell_wire(const std::vector<QELposition>& points)
{
    BODY* sheet = make_polygon_sheet({{0, 0}, {4, 0}, {4, 3}, {0, 3}});
    BODY* wireBody = make_polyline_wire(points);
    WIRE* wire = wireBody->wire();
    if (!wire)
        wire = wireBody->lump()->shell()->wire();
    if (wireBody->wire())
        wireBody->set_wire(nullptr);
    else
        wireBody->lump()->shell()->set_wire(nullptr);
    wire->set_body(nullptr);
    SHELL* shell = sheet->lump()->shell();
    shell->set_wire(wire);
    wire->set_shell(shell);
    api_del_entity(wireBody);
    return sheet;
}

LOOP* add_slit_loop(FACE* face, VERTEX* from, const QELposition& to)
{
    const QELposition a = from->geometry()->coords();
    VERTEX* vb = new VERTEX(new APOINT(to));
    EDGE* there = new EDGE(from, vb, make_curve(straight(a, normalise(to - a))), FORWARD);
    EDGE* back = new EDGE(vb, from, make_curve(straight(to, normalise(a - to))), FORWARD);
    COEDGE* c1 = new COEDGE(there, FORWARD);
    COEDGE* c2 = new COEDGE(back, FORWARD, c1, c1);
    c1->set_next(c2);
    c1->set_previous(c2);
    LOOP* slit = new LOOP(c1);
    LOOP* last = face->loop();
    while (last && last->next())
        last = last->next();
    if (last)
        last->set_next(slit);
    else
        face->set_loop(slit);
    slit->set_face(face);
    from->add_edge(there);
    return slit;
}

BODY* make_box_with_moved_vertex(double offset)
{
    BODY* b = make_plane_box(10.0, 20.0, 30.0);
    ENTITY_LIST vertices;
    api_get_vertices(b, vertices);
    for (int i = 0; i < vertices.count(); ++i) {
        auto* v = static_cast<VERTEX*>(vertices[i]);
        const QELposition at = v->geometry()->coords();
        if (at.x() > 9.0 && at.y() > 19.0 && at.z() > 29.0)
            v->geometry()->set_coords(QELposition(at.x() + offset, at.y() + offset, at.z()));
    }
    return b;
}

std::vector<std::string> task_trace(const std::vector<qelx_test::EventRecord>& records)
{
    std::vector<std::string> out;
    for (const qelx_test::EventRecord& r : records) {
        if (r.kind == "StartTask")
            out.push_back("+" + r.name);
        else if (r.kind == "EndTask")
            out.push_back("-" + r.name);
    }
    return out;
}

// A sheet folded along u = 0.5: two flat degree-1 halves meeting at a
// tangent break; of the skin kind or an exact B-spline.
BODY* make_folded_sheet(bool skin)
{
    const QELposition points[6] = {{0, 0, 0}, {0, 1, 0}, {0.5, 0, 0}, {0.5, 1, 0}, {1, 0, 0.5}, {1, 1, 0.5}};
    const double uknots[] = {0, 0, 0.5, 1, 1};
    const double vknots[] = {0, 0, 1, 1};
    bs3_surface folded =
        bs3_surface_from_ctrlpts(1, 0, 0, 0, 3, 1, 0, 0, 0, 2, points, nullptr, QELresabs, 5, uknots, 4, vknots, 1e-10);
    return make_spline_sheet(folded, skin);
}

// A wire body of one edge on a degree-1 intcurve through the points: a
// tangent break at every inner point.
BODY* make_kinked_wire(const std::vector<QELposition>& points, sense_type sense)
{
    std::vector<double> knots{0.0};
    for (size_t i = 0; i < points.size(); ++i)
        knots.push_back(static_cast<double>(i));
    knots.push_back(points.size() - 1.0);
    bs3_curve bs = bs3_curve_from_ctrlpts(1, 0, 0, 0, static_cast<int>(points.size()), points.data(), nullptr,
                                          QELresabs, static_cast<int>(knots.size()), knots.data(), 1e-10);
    const QELposition& a = sense == FORWARD ? points.front() : points.back();
    const QELposition& b = sense == FORWARD ? points.back() : points.front();
    EDGE* edge = new EDGE(new VERTEX(new APOINT(a)), new VERTEX(new APOINT(b)), new INTCURVE(intcurve(bs)), sense);
    BODY* wire = nullptr;
    api_make_ewire(1, &edge, wire);
    return wire;
}

TCOEDGE* make_coedge_tolerant(COEDGE* c)
{
    EDGE* edge = c->edge();
    LOOP* loop = c->loop();
    COEDGE* previous = c->previous();
    COEDGE* next = c->next();
    const bool alone = next == c;
    auto* t = new TCOEDGE(edge, c->sense());
    t->set_next(alone ? t : next);
    t->set_previous(alone ? t : previous);
    if (!alone) {
        previous->set_next(t);
        next->set_previous(t);
    }
    if (COEDGE* partner = c->partner(); partner && partner != c) {
        COEDGE* before = partner;
        while (before->partner() != c)
            before = before->partner();
        before->set_partner(t);
        t->set_partner(partner == c ? t : partner);
    }
    if (edge->coedge() == c)
        edge->set_coedge(t);
    t->set_loop(loop);
    if (loop && loop->start() == c)
        loop->set_start(t);
    t->set_geometry(c->geometry());
    c->set_geometry(nullptr);
    c->set_partner(nullptr);
    c->set_next(nullptr);
    c->set_previous(nullptr);
    c->set_edge(nullptr);
    c->set_loop(nullptr);
    c->lose();
    return t;
}

}  // namespace testkit
