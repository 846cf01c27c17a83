#include "loops/loop_repair.hxx"

#include "loops/loop_topology.hxx"
#include "loops/repair_loops.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "velm/build.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/lists.hxx"
#include "velm/query.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"
#include "velm/topology_edit.hxx"

#include <unordered_map>
#include <vector>

using namespace ve_loops;

namespace {

void minimizeVertexReferences(BODY* body)
{
    for (Ve_VertexTag* v : ve_view<Ve_BodyTag>(body)->getVertices())
        v->minimizeReferals();
}

// The loop goes back to the end of the face's chain.
void giveLoopBack(FACE* face, LOOP* loop)
{
    LOOP* last = face->loop();
    while (last && last->next())
        last = last->next();
    loop->set_next(nullptr);
    loop->set_face(face);
    if (last)
        last->set_next(loop);
    else
        face->set_loop(loop);
}

// One outer loop with every other loop directly inside it, by the loops'
// places on the surface (their orientation aside): all the periphery-and-holes
// rule can mend. Loops side by side or islands inside holes need faces of
// their own, which one face per loop would overlap.
bool nestsAsOnePeriphery(FACE* face)
{
    const Ve_FaceRegionHandle region = Ve_RepairLoops(faceView(face)).createRegion(face);
    if (!region.IsValid() || !region->classifyLoops())
        return true;
    const Ve_ContainmentSetElement* top = region->topNode();
    if (!top || top->next())
        return !top;
    for (const Ve_ContainmentSetElement* hole = top->child(); hole; hole = hole->next())
        if (hole->child())
            return false;
    return true;
}

// Every vertex of the faces refers to each group of edges that meets at it
// (loops touching only at a corner leave a group its references miss), so
// that taking a face into a body of its own sees every vertex it shares.
void referEveryEdgeGroup(const QELXDynamicArray<FACE*>& faces)
{
    std::unordered_map<VERTEX*, std::vector<EDGE*>> at;
    std::vector<VERTEX*> order;
    for (FACE* face : faces)
        for (LOOP* loop : faceLoops(face))
            forEachLoopCoedge(loop, [&](COEDGE* c) {
                for (VERTEX* v : {c->edge()->start(), c->edge()->end()}) {
                    if (!v)
                        continue;
                    std::vector<EDGE*>& edges = at[v];
                    if (edges.empty())
                        order.push_back(v);
                    edges.push_back(c->edge());
                }
                return true;
            });
    velmInnerCall([&] {
        for (VERTEX* v : order) {
            for (EDGE* e : at[v])
                v->add_edge(e);
            minimize_vertex_edges(v);
        }
    });
}

// The face leaves its shell's face list (a body of its own is made of it).
void detachFromShell(FACE* face)
{
    SHELL* shell = face->shell();
    if (!shell)
        return;
    if (shell->face() == face) {
        shell->set_face(face->next());
    } else {
        FACE* before = shell->face();
        while (before && before->next() != face)
            before = before->next();
        if (before)
            before->set_next(face->next());
    }
    face->set_next(nullptr);
    face->set_shell(nullptr);
}

// The face joins the end of the shell's face list.
void appendToShell(FACE* face, SHELL* shell)
{
    face->set_shell(shell);
    FACE* last = shell->face();
    while (last && last->next())
        last = last->next();
    if (last)
        last->set_next(face);
    else
        shell->set_face(face);
}

} // namespace

QELXVelmFaceLoops::QELXVelmFaceLoops(FACE* face, bool multiFace) : m_face(face), m_multiFace(multiFace)
{
    const long limit = ve_loops::ringWalkLimit();
    for (LOOP* l = face ? face->loop() : nullptr; l && m_entries.Count() < limit; l = l->next()) {
        const int type = get_loop_type(l);
        m_entries.Add(QELXVelmLoopEntry(l, type));
        if (type == 1)
            ++m_peripheries;
        else if (type == 2)
            ++m_holes;
        else if (isSeparationType(type))
            ++m_separations;
        else if (type == 0)
            ++m_unclassified;
        if (isSeparationType(type) && !m_separation.loop())
            m_separation = m_entries[m_entries.Count() - 1];
    }
    m_loops = m_entries.Count();
}

void QELXVelmFaceLoops::reverse(const QELXVelmLoopEntry& entry)
{
    velmInnerCall([&] { reverse_loop(entry.loop()); });
}

bool QELXVelmFaceLoops::repair()
{
    if (m_separation.loop()) {
        for (const QELXVelmLoopEntry& e : m_entries)
            if (e.type() == 1) {
                reverse(e);
                --m_peripheries;
                ++m_holes;
            }
        return true;
    }
    if (m_entries.Count() > 1 && !nestsAsOnePeriphery(m_face) && repairByContainment())
        return true;
    int periphery = -1;
    velmCall([&] {
        // A loop's start point inside the other loop by that loop's own
        // orientation, or outside it for a hole, makes the other the periphery.
        auto encloses = [&](int outer, int inner) {
            const QELposition at = coedge_start_pos(m_entries[inner].loop()->start());
            point_face_containment c = pfc_unknown;
            const int kept = velmGuard([&] { c = point_in_loop(at, m_entries[outer].loop()); });
            if (kept != 0)
                sys_error(kept);
            const int type = m_entries[outer].type();
            return (c == pfc_inside && type == 1) || (c == pfc_outside && type == 2);
        };
        for (int i = 0; i + 1 < m_entries.Count() && periphery < 0; ++i)
            for (int j = i + 1; j < m_entries.Count() && periphery < 0; ++j) {
                if (encloses(j, i))
                    periphery = j;
                else if (encloses(i, j))
                    periphery = i;
            }
    });
    if (m_entries.Count() == 1) {
        periphery = 0;
        if (is_planar_face(m_face)) {
            double area = 0.0, achieved = 0.0;
            if (api_ent_area(m_face, 0.001, area, achieved).ok())
                m_entries[0].setType(area > 0.0 ? 1 : 2);
        }
    }
    if (periphery >= 0) {
        m_periphery = m_entries[periphery];
        if (m_periphery.type() == 2) {
            reverse(m_periphery);
            ++m_peripheries;
            --m_holes;
        }
        for (int i = 0; i < m_entries.Count(); ++i)
            if (i != periphery && m_entries[i].type() == 1) {
                reverse(m_entries[i]);
                ++m_holes;
                --m_peripheries;
            }
        if (m_face->loop() != m_periphery.loop())
            velmInnerCall([&] { set_periphery_first_loop(m_face, m_periphery.loop()); });
        if (m_holes == m_loops - 1 || m_multiFace)
            return true;
    }
    return splitLoopsIntoFaces();
}

bool QELXVelmFaceLoops::repairByContainment()
{
    Ve_RepairLoops loops(faceView(m_face));
    if (!loops.canBeRepaired())
        return false;
    Ve_FaceRepairInput input;
    loops.classify(input);
    loops.repair(input);
    for (Ve_FaceTag* view : input.getFaces()) {
        FACE* made = kernelFace(view);
        if (made == m_face)
            continue;
        if (!m_multiFace)
            detachFromShell(made);
        m_newFaces.Add(made);
    }
    m_loops = faceLoopCount(m_face);
    m_peripheries = 1;
    m_holes = m_loops - 1;
    return true;
}

bool QELXVelmFaceLoops::splitLoopsIntoFaces()
{
    for (int pass = 0; pass + 1 < m_loops; ++pass) {
        LOOP* first = m_face->loop();
        LOOP* second = first ? first->next() : nullptr;
        if (!second)
            break;
        velmInnerCall([&] {
            auto* made = velm_require(VELM_NEW FACE(nullptr, nullptr, m_face->geometry(), m_face->sense()));
            made->set_sides(m_face->sides());
            if (second->get_classification() == 2)
                reverse_loop(second);
            // The loop handed over bounds a face on its own: never a hole alone.
            if (first->get_classification() == 2)
                reverse_loop(first);
            m_face->set_loop(second);
            first->set_next(nullptr);
            first->set_face(made);
            made->set_loop(first);
            if (m_multiFace && m_face->shell())
                appendToShell(made, m_face->shell());
            m_newFaces.Add(made);
        });
    }
    return true;
}

bool QELXVelmLoopRepair::Repair()
{
    ENTITY_LIST faces;
    api_get_faces(m_body, faces);
    m_multiFace = faces.count() > 1;
    QELXDynamicArray<FACE*> newFaces;
    QELXDynamicArray<FACE*> origins;
    for (int i = 0; i < faces.count(); ++i) {
        FACE* face = static_cast<FACE*>(faces[i]);
        QELXVelmFaceLoops record(face, m_multiFace);
        record.repair();
        for (FACE* made : record.getNewFaces()) {
            newFaces.Add(made);
            origins.Add(face);
        }
    }
    if (!m_multiFace && newFaces.Count() > 0) {
        QELXDynamicArray<FACE*> split = newFaces;
        for (FACE* origin : origins)
            if (split.Find(origin) < 0)
                split.Add(origin);
        referEveryEdgeGroup(split);
        for (int i = 0; i < newFaces.Count(); ++i) {
            FACE* made = newFaces[i];
            BODY* body = nullptr;
            // A body of its own gets a surface of its own: moving one body must not move another.
            velmInnerCall([&] {
                made->set_geometry(make_surface(made->geometry()->equation()));
                // Unhooked from the shell of the face it came from, the face's body
                // is placed as that face's is (the kernel copies the body's transform).
                if (!made->shell() && origins[i]->shell())
                    appendToShell(made, origins[i]->shell());
            });
            // The body owns what it is made of: edges and vertices the face
            // shares with the face it came from, or with faces split off beside
            // it, are copied for it, so deleting one body frees nothing another uses.
            if (api_unhook_face(made, body).ok() && body) {
                minimizeVertexReferences(body);
                m_bodies.Add(ve_view<Ve_BodyTag>(body));
                continue;
            }
            // No body for it: the loop goes back to its face rather than being orphaned.
            velmInnerCall([&] {
                detachFromShell(made);
                LOOP* loop = made->loop();
                made->set_loop(nullptr);
                if (loop)
                    giveLoopBack(origins[i], loop);
                made->lose();
            });
        }
    } else if (newFaces.Count() > 0) {
        minimizeVertexReferences(m_body);
    }
    return true;
}
