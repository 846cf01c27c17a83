// Component separation and the small body utilities of the healing recipes.
#include <algorithm>
#include <map>
#include <vector>

#include "heal/heal_internal.hxx"
#include "heal/repair_utils.hxx"
#include "model/body_set.hxx"
#include "repair/post_process_internal.hxx"
#include "velm/attrib.hxx"
#include "velm/body_heal.hxx"
#include "velm/groups.hxx"
#include "velm/heal.hxx"
#include "velm/tolerant.hxx"
#include "velm/topology_api.hxx"

using namespace ve_heal;

namespace {

double touchTolerance(const VERTEX* v) { return std::max(QELresabs, v->get_tolerance()); }

bool touches(const VERTEX* a, const VERTEX* b)
{
    if (!a->geometry() || !b->geometry())
        return false;
    const double d = distance(a->geometry()->coords(), b->geometry()->coords());
    if (d < QELresabs)
        return true;
    return (is_TVERTEX(a) || is_TVERTEX(b)) && d < std::max(touchTolerance(a), touchTolerance(b));
}

// The groups the body belongs to through its collection links.
std::vector<QELGROUP*> groupsOf(BODY* body)
{
    ENTITY_LIST groups;
    velmCall([&] { return api_ct_return_groups(body, groups); });
    return ve_repair::listed<QELGROUP>(groups);
}

} // namespace

bool QELXVeRepairUtils::HasOTVAcrossComponents(BODY* body, int level)
{
    ENTITY_LIST components;
    if (level == 0)
        velmCall([&] { return api_get_shells(body, components); });
    else if (level == 1)
        velmCall([&] { return api_get_lumps(body, components); });
    if (components.count() < 2)
        return false;
    std::vector<std::vector<VERTEX*>> vertices;
    for (int i = 0; i < components.count(); ++i) {
        ENTITY_LIST listed;
        ENTITY* component = components[i];
        velmCall([&] { return api_get_vertices(component, listed); });
        vertices.push_back(ve_repair::listed<VERTEX>(listed));
    }
    for (std::size_t i = 0; i < vertices.size(); ++i)
        for (const VERTEX* a : vertices[i])
            for (std::size_t j = i + 1; j < vertices.size(); ++j)
                for (const VERTEX* b : vertices[j])
                    if (a != b && touches(a, b))
                        return true;
    return false;
}

namespace {

// The lump's shells in groups that share no vertex: shells meeting at a
// vertex entity stay together, for a body of their own must not reach into
// another's topology. Group 0 holds the first shell; groups in shell order.
// Empty when a shell's vertices cannot be had.
std::vector<std::vector<SHELL*>> shellsSharingNoVertex(LUMP* lump)
{
    std::vector<SHELL*> shells;
    for (SHELL* s = lump->shell(); s; s = s->next())
        shells.push_back(s);
    std::vector<std::size_t> groupOf(shells.size());
    for (std::size_t k = 0; k < shells.size(); ++k)
        groupOf[k] = k;
    const auto root = [&](std::size_t k) {
        while (groupOf[k] != k)
            k = groupOf[k] = groupOf[groupOf[k]];
        return k;
    };
    std::map<const VERTEX*, std::size_t> seen;
    for (std::size_t k = 0; k < shells.size(); ++k) {
        ENTITY_LIST listed;
        SHELL* shell = shells[k];
        if (!velmCall([&] { return api_get_vertices(shell, listed); }).ok())
            return {};
        for (const VERTEX* v : ve_repair::listed<VERTEX>(listed)) {
            const auto [at, fresh] = seen.emplace(v, k);
            if (!fresh) {
                const std::size_t a = root(k), b = root(at->second);
                groupOf[std::max(a, b)] = std::min(a, b);
            }
        }
    }
    std::vector<std::vector<SHELL*>> groups;
    std::map<std::size_t, std::size_t> index;
    for (std::size_t k = 0; k < shells.size(); ++k) {
        const auto [at, fresh] = index.emplace(root(k), groups.size());
        if (fresh)
            groups.emplace_back();
        groups[at->second].push_back(shells[k]);
    }
    return groups;
}

// Links the shells into one chain under the lump.
void chainShells(LUMP* lump, const std::vector<SHELL*>& shells)
{
    lump->set_shell(shells.front());
    for (std::size_t k = 0; k < shells.size(); ++k) {
        shells[k]->set_lump(lump);
        shells[k]->set_next(k + 1 < shells.size() ? shells[k + 1] : nullptr);
    }
}

} // namespace

void splitShellsIntoBodies(BODY*& body, ENTITY_LIST& out)
{
    LUMP* lump = body ? body->lump() : nullptr;
    if (!lump || !lump->shell() || !lump->shell()->next())
        return;
    const std::vector<std::vector<SHELL*>> pieces = shellsSharingNoVertex(lump);
    if (pieces.size() < 2)
        return;
    const std::vector<QELGROUP*> groups = groupsOf(body);
    // Each piece leaves in a call of its own: one that fails leaves the lump
    // holding every shell not yet moved, the piece's among them.
    std::vector<SHELL*> staying;
    for (const std::vector<SHELL*>& piece : pieces)
        staying.insert(staying.end(), piece.begin(), piece.end());
    for (std::size_t p = 1; p < pieces.size(); ++p) {
        const std::vector<SHELL*>& piece = pieces[p];
        std::vector<SHELL*> rest;
        for (SHELL* s : staying)
            if (std::find(piece.begin(), piece.end(), s) == piece.end())
                rest.push_back(s);
        BODY* made = nullptr;
        const bool ok = velmCall([&] {
                            chainShells(lump, rest);
                            LUMP* newLump = VELM_MAKE(LUMP, nullptr);
                            chainShells(newLump, piece);
                            made = VELM_MAKE(BODY, newLump);
                            copy_attrib(body, made);
                        }).ok();
        if (!ok || !made)
            continue;
        staying = rest;
        out.add(made);
        for (QELGROUP* g : groups)
            velmCall([&] { return api_ct_add_to_group(made, g); });
    }
}

void QELXVeRepairUtils::ve_separate_shells(ENTITY_LIST& in, ENTITY_LIST& out)
{
    for (int i = 0; i < in.count(); ++i) {
        ENTITY* e = in[i];
        if (!e || !is_BODY(e))
            continue;
        BODY* body = static_cast<BODY*>(e);
        if (HasOTVAcrossComponents(body, 0))
            splitShellsIntoBodies(body, out);
    }
}

void QELXVeRepairUtils::SeparateLumpsIfOTV(ENTITY_LIST& bodies)
{
    const int n = bodies.count();
    for (int i = 0; i < n; ++i) {
        ENTITY* e = bodies[i];
        if (!e || !is_BODY(e))
            continue;
        BODY* body = static_cast<BODY*>(e);
        if (!HasOTVAcrossComponents(body, 1))
            continue;
        int count = 0;
        BODY** pieces = nullptr;
        if (!velmCall([&] { return api_separate_body(body, count, pieces); }).ok() || !pieces) {
            delete[] pieces;
            continue;
        }
        QELGROUP* group = nullptr;
        velmCall([&] {
            group = VELM_MAKE(QELGROUP);
            VELM_MAKE(ATTRIB_GEN_INTEGER, group, "ATTRIB_XVELM_SEPARATED_BODIES", 1, split_copy, merge_keep_survivor,
                      trans_apply, copy_copy);
        });
        if (group)
            velmCall([&] { return api_ct_add_to_group(body, group); });
        // The pieces join the list whether or not the group could be made.
        for (int k = 1; k < count; ++k) {
            bodies.add(pieces[k]);
            if (group)
                velmCall([&] { return api_ct_add_to_group(pieces[k], group); });
        }
        delete[] pieces;
    }
}

void QELXVeRepairUtils::makeDoubleSided(FACE* face)
{
    if (!face)
        return;
    face->set_sides(1);
    face->set_cont(0);
}

void QELXVeRepairUtils::makeDoubleSided(BODY* body)
{
    velmCall([&] {
        ENTITY_LIST faces;
        const outcome r = api_get_faces(body, faces);
        if (!r.ok())
            return r;
        for (FACE* f : ve_repair::listed<FACE>(faces))
            makeDoubleSided(f);
        return r;
    });
}

bool QELXVeRepairUtils::isOpenBody(BODY* body)
{
    if (!body)
        return false;
    for (LUMP* l = body->lump(); l; l = l->next())
        for (SHELL* s = l->shell(); s; s = s->next())
            if (!s->is_closed())
                return true;
    return false;
}

bool QELXVeRepairUtils::isEmpty(BODY* body)
{
    if (!body || !body->lump() || !body->lump()->shell())
        return true;
    const SHELL* s = body->lump()->shell();
    return !s->face() && !s->wire();
}

bool QELXVeRepairUtils::needsTrimming(FACE* face)
{
    return face && ve_repair::splineOf(face) != nullptr;
}

void QELXVeRepairUtils::makeTolerant(BODY* body)
{
    velmCall([&] {
        ENTITY_LIST edges, bad, made;
        ENTITY* worst = nullptr;
        double worstError = -1.0;
        outcome r = api_get_edges(body, edges);
        if (!r.ok())
            return r;
        r = api_check_edge_errors(edges, bad, worst, worstError, QELresabs, false, &made);
        if (!r.ok())
            return r;
        bad.clear();
        made.clear();
        ENTITY_LIST vertices;
        r = api_get_vertices(body, vertices);
        if (!r.ok())
            return r;
        return api_check_vertex_errors(vertices, bad, worst, worstError, QELresabs, false, made);
    });
}

void QELXVeRepairUtils::cleanup(BODY* body)
{
    makeTolerant(body);
    velmCall([&] { return api_reset_boxes(body); });
}

void QELXVeRepairUtils::mergeC1Edges(Ve_CocoonTag* set)
{
    KernelOptionScope merge("merge_spline_vertex");
    if (!merge.found() || !set)
        return;
    if (merge.saved() == 0)
        merge.set(1);
    const QELXDynamicArray<Ve_BodyTag*> bodies = set->getBodies();
    for (int i = 0; i < bodies.Count(); ++i) {
        BODY* body = reinterpret_cast<BODY*>(bodies[i]);
        if (body)
            velmGuard([&] { api_clean_entity(body); });
    }
}
