// The toolbox's small-edge and sliver-face members.
#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"
#include "qelx/qelx_events.hxx"
#include "qelx/qelx_math.hxx"
#include "repair/body_cleaner.hxx"
#include "repair/edge_processor.hxx"
#include "repair/post_process_internal.hxx"
#include "repair/post_process_util.hxx"
#include "repair/small_edges_internal.hxx"
#include "velm/heal.hxx"
#include "velm/topology_api.hxx"

namespace {

constexpr int kTaskLevel = 50;

// The vertices of the short edges joined by them: one node per vertex, its
// edge count in the body and the short edges at it.
class ShortEdgeGraph {
public:
    explicit ShortEdgeGraph(const ENTITY_LIST& shortEdges)
    {
        std::unordered_set<const ENTITY*> isShort;
        for (int i = 0; i < shortEdges.count(); ++i)
            isShort.insert(shortEdges[i]);
        for (int i = 0; i < shortEdges.count(); ++i) {
            auto* e = static_cast<EDGE*>(shortEdges[i]);
            for (VERTEX* v : {e->start(), e->end()})
                if (v && m_index.emplace(v, int(m_nodes.size())).second)
                    m_nodes.push_back(Node{v, 0, {}, {}});
        }
        for (Node& node : m_nodes) {
            ENTITY_LIST around;
            api_get_edges(node.vertex, around);
            node.edgeCount = around.count();
            for (int k = 0; k < around.count(); ++k) {
                auto* e = static_cast<EDGE*>(around[k]);
                if (!isShort.count(e))
                    continue;
                VERTEX* w = e->start() == node.vertex ? e->end() : e->end() == node.vertex ? e->start() : nullptr;
                if (!w)
                    continue;
                node.neighbours.insert(node.neighbours.begin(), m_index.at(w));
                if (std::find(node.edges.begin(), node.edges.end(), e) == node.edges.end())
                    node.edges.push_back(e);
            }
        }
    }

    // Pairs of short edges meeting at a vertex of three edges, alone in their
    // group of short edges, go on the removal list.
    std::vector<EDGE*> removablePairs() const
    {
        std::vector<EDGE*> removal;
        std::vector<char> visited(m_nodes.size(), 0);
        for (std::size_t i = 0; i < m_nodes.size(); ++i) {
            if (visited[i])
                continue;
            const std::vector<EDGE*> group = component(int(i), visited);
            if (group.size() == 2 && m_nodes[i].edgeCount == 3)
                removal.insert(removal.end(), group.begin(), group.end());
        }
        return removal;
    }

private:
    struct Node {
        VERTEX* vertex;
        int edgeCount;
        std::vector<int> neighbours;
        std::vector<EDGE*> edges;
    };

    // The distinct short edges of every node reached from `start`, depth first.
    std::vector<EDGE*> component(int start, std::vector<char>& visited) const
    {
        std::vector<EDGE*> out;
        std::unordered_set<EDGE*> seen;
        std::vector<int> stack{start};
        while (!stack.empty()) {
            const int n = stack.back();
            stack.pop_back();
            if (visited[n])
                continue;
            visited[n] = 1;
            for (EDGE* e : m_nodes[n].edges)
                if (seen.insert(e).second)
                    out.push_back(e);
            // Reversed onto the stack, so the first neighbour is walked first.
            for (auto it = m_nodes[n].neighbours.rbegin(); it != m_nodes[n].neighbours.rend(); ++it)
                stack.push_back(*it);
        }
        return out;
    }

    std::vector<Node> m_nodes;
    std::unordered_map<const VERTEX*, int> m_index;
};

// Both distances through the middle point vanish: the edge is shorter than the tolerance.
bool collapsesThroughMiddle(const EDGE* edge, double tolerance)
{
    if (!edge->start() || !edge->end() || edge->start() == edge->end())
        return false;
    const QELXPoint3D s = ve_view<Ve_VertexTag>(edge->start())->getPoint();
    const QELXPoint3D e = ve_view<Ve_VertexTag>(edge->end())->getPoint();
    double sum = 0.0;
    if (velmGuard([&] {
            const QELposition m = edge->mid_pos(true);
            const QELXPoint3D mid(m.x(), m.y(), m.z());
            sum = mid.Distance(e) + s.Distance(mid);
        }) != 0)
        return false;
    return Gk_Func::equal(sum, 0.0, tolerance);
}

} // namespace

void Ve_PostProcessUtil::removeSmallEdges(double tolerance, bool byGeometry)
{
    QELXStartTaskEvent::Fire("RemoveSmallEdgesStart", "RemoveSmallEdges", kTaskLevel);
    if (BODY* b = kernelBody()) {
        double working = tolerance;
        velmInnerCall([&] { working = std::min(determine_sliver_tolerance(b), tolerance); });
        if (byGeometry) {
            for (EDGE* edge : ve_repair::bodyEdges(b)) {
                if (!ve_repair::alive(edge) || !edge->geometry())
                    continue;
                if (Ve_EdgeProcessor::isEdgeCurveDegenerate(ve_view<Ve_EdgeTag>(edge), working) ||
                    collapsesThroughMiddle(edge, working))
                    ve_repair::removeEdgeAlone(edge, false);
            }
        } else {
            ENTITY_LIST withClose, shortEdges;
            velmCall([&] {
                outcome r = api_detect_short_edges(b, withClose, working, 1);
                if (r.ok())
                    r = api_detect_short_edges(b, shortEdges, working, 0);
                return r;
            });
            std::vector<EDGE*> removal;
            velmGuard([&] { removal = ShortEdgeGraph(shortEdges).removablePairs(); });
            for (EDGE* edge : removal)
                ve_repair::removeEdgeAlone(edge, false);
        }
    }
    QELXEndTaskEvent::Fire(0, "RemoveSmallEdgesEnd", "RemoveSmallEdges", kTaskLevel, true);
}

void Ve_PostProcessUtil::removeSmallTolerantEdges(bool flag)
{
    Ve_BodyCleaner cleaner(body);
    cleaner.removeSmallTolerantEdges(flag);
}

void Ve_PostProcessUtil::removeSingleVertexSmallLinearEdge(double length)
{
    Ve_BodyCleaner cleaner(body);
    cleaner.removeSingleVertexSmallLinearEdges(length);
}

void Ve_PostProcessUtil::removeSliverFaces(double tolerance, bool sliverToleranceOnly)
{
    Ve_BodyCleaner cleaner(body);
    QELXStartTaskEvent::Fire("RemoveSliverFacesStart", "RemoveSliverFaces", kTaskLevel);
    cleaner.removeSliverFaces(tolerance, sliverToleranceOnly);
    // Fired, not only made: a task left open would never end for its listeners.
    QELXEndTaskEvent::Fire(0, "RemoveSliverFacesEnd", "RemoveSliverFaces", kTaskLevel, true);
}

void Ve_PostProcessUtil::removeBadUVFaces()
{
    Ve_BodyCleaner cleaner(body);
    cleaner.removeBadUVFaces();
}
