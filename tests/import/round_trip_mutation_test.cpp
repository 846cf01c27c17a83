// Random mutations of neutral documents, taken through the document reader
// and the whole import: a mutated document never crashes the import or
// leaves kernel objects behind; one the reader refuses is refused with a
// message naming it, and a body the import cannot build is left out with a
// warning naming it. Seeded, so that a failure can be replayed.
#include "import_test_support.hxx"

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "../../tools/xvelm/roundtrip_verb.hxx"
#include "qelx_formats/neutral_document.hxx"

using namespace importtest;
using qelx_test::TestModel;

namespace {

class Mutator {
public:
    explicit Mutator(unsigned seed) : m_random(seed) {}

    // One random change to one field of one record; a description of it.
    std::string mutate(TestModel& m)
    {
        switch (pick(9)) {
        case 0:
            return index(m.edges, "edge", m, [](qelx_test::TestEdge& e) -> int& { return e.curve; });
        case 1:
            return index(m.edges, "edge start", m, [](qelx_test::TestEdge& e) -> int& { return e.start; });
        case 2:
            return index(m.coedges, "coedge edge", m, [](qelx_test::TestCoedge& c) -> int& { return c.edge; });
        case 3:
            return index(m.faces, "face surface", m, [](qelx_test::TestFace& f) -> int& { return f.surface; });
        case 4:
            return list(m.loops, "loop coedges", m, [](qelx_test::TestLoop& l) -> std::vector<int>& { return l.coedges; });
        case 5:
            return list(m.edges, "edge coedges", m, [](qelx_test::TestEdge& e) -> std::vector<int>& { return e.coedges; });
        case 6:
            return list(m.wires, "wire edges", m, [](qelx_test::TestWire& w) -> std::vector<int>& { return w.edges; });
        case 7: {
            if (m.points.empty())
                return "nothing";
            const int i = pick(static_cast<int>(m.points.size()));
            m.points[i][pick(3)] = oddNumber();
            return "point " + std::to_string(i) + " coordinate";
        }
        default: {
            if (m.edges.empty())
                return "nothing";
            const int i = pick(static_cast<int>(m.edges.size()));
            m.edges[i].domain[pick(2)] = oddNumber();
            return "edge " + std::to_string(i) + " domain";
        }
        }
    }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

    double oddNumber()
    {
        const double odd[] = {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                              -1e300, 0.0, 1e-300, 7.5};
        return odd[pick(6)];
    }

    // An index that dangles, points at another record or is -1.
    int anotherIndex(int size) { return pick(size + 4) - 2; }

    template <class T, class Field>
    std::string index(std::vector<T>& table, const char* what, TestModel&, Field field)
    {
        if (table.empty())
            return "nothing";
        const int i = pick(static_cast<int>(table.size()));
        field(table[i]) = anotherIndex(static_cast<int>(table.size()) + 8);
        return std::string(what) + " " + std::to_string(i);
    }

    // An entry dropped, repeated or replaced by another index.
    template <class T, class Field>
    std::string list(std::vector<T>& table, const char* what, TestModel&, Field field)
    {
        if (table.empty())
            return "nothing";
        const int i = pick(static_cast<int>(table.size()));
        std::vector<int>& items = field(table[i]);
        if (items.empty()) {
            items.push_back(anotherIndex(8));
            return std::string(what) + " " + std::to_string(i) + " gained one";
        }
        const int k = pick(static_cast<int>(items.size()));
        switch (pick(3)) {
        case 0:
            items.erase(items.begin() + k);
            break;
        case 1:
            items.push_back(items[k]);
            break;
        default:
            items[k] = anotherIndex(static_cast<int>(items.size()) + 8);
        }
        return std::string(what) + " " + std::to_string(i);
    }

    std::mt19937 m_random;
};

// Findings that say a body does not hold together (rings, owners, links,
// missing geometry), as opposed to geometry that is merely off.
std::string structuralFindings(BODY* body)
{
    std::string out;
    insanity_list* findings = nullptr;
    if (api_check_entity(body, findings).ok() && findings)
        for (int i = 0; i < findings->count(); ++i) {
            const int id = findings->data(i)->get_insane_id();
            for (insanity_entry e : {insanity_no_geometry, insanity_open_loop, insanity_bad_partner_ring,
                                     insanity_bad_next_ring, insanity_bad_owner, insanity_bad_vertex_edges,
                                     insanity_bad_face_loops})
                if (id == qelvelm_insanity_errmod.message_code(e))
                    out += findings->data(i)->get_message() + std::string("; ");
        }
    delete findings;
    return out;
}

TestModel sourceWithEveryRoad()
{
    TestModel m = TestModel::block(2, 3, 4);
    const TestModel wire = TestModel::polylineWire({{5, 0, 0}, {6, 0, 0}, {6, 1, 0}});
    // The wire model's records after the block's.
    const int points = static_cast<int>(m.points.size()), curves = static_cast<int>(m.curves.size()),
              vertices = static_cast<int>(m.vertices.size()), edges = static_cast<int>(m.edges.size()),
              wires = static_cast<int>(m.wires.size());
    for (qelx_test::Vec3 p : wire.points)
        m.points.push_back(p);
    for (qelx_test::TestCurve c : wire.curves)
        m.curves.push_back(c);
    for (qelx_test::TestVertex v : wire.vertices) {
        v.point += points;
        for (int& e : v.edges)
            e += edges;
        m.vertices.push_back(v);
    }
    for (qelx_test::TestEdge e : wire.edges) {
        e.curve += curves;
        e.start += vertices;
        e.end += vertices;
        m.edges.push_back(e);
    }
    for (qelx_test::TestWire w : wire.wires) {
        for (int& e : w.edges)
            e += edges;
        for (int& v : w.vertices)
            v += vertices;
        m.wires.push_back(w);
    }
    const int body = m.addBody();
    m.bodies[body].wires.push_back(wires);
    m.freePoint({9, 9, 9});
    return m;
}

} // namespace

class RoundTripMutation : public ImportTest {};

TEST_F(RoundTripMutation, MutatedDocumentsNeverCrashOrLeak)
{
    const TestModel original = sourceWithEveryRoad();
    int refused = 0, imported = 0;
    for (unsigned seed = 1; seed <= 40; ++seed) {
        Mutator mutator(seed);
        TestModel model = original;
        std::string changes;
        for (int k = 0; k < 1 + static_cast<int>(seed % 3); ++k)
            changes += mutator.mutate(model) + "; ";
        SCOPED_TRACE("seed " + std::to_string(seed) + ": " + changes);
        const std::string name = "mutant-" + std::to_string(seed) + ".json";
        TestModel back;
        std::string text;
        try {
            // A number made not finite, or geometry its reader would refuse, is
            // refused by the writer, naming where it stands.
            text = qelx_formats::writeNeutralText(model);
        } catch (const qelx_formats::NeutralDocumentError& e) {
            EXPECT_EQ(e.what()[0], '/') << e.what();
            EXPECT_NE(std::string(e.what()).find(", which a document cannot hold"), std::string::npos) << e.what();
            ++refused;
            continue;
        }
        try {
            back = qelx_formats::readNeutralText(text, name);
        } catch (const qelx_formats::NeutralDocumentError& e) {
            EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
            ++refused;
            continue;
        }
        back.xType = xvelm::foreign_xtype;
        qelx_test::EventRecorder events;
        {
            xvelm::RoundTrip trip;
            if (trip.import(back)) {
                ++imported;
                // Every body that came back holds together, whatever its geometry.
                for (BODY* b : trip.after())
                    EXPECT_EQ(structuralFindings(b), "");
            } else {
                EXPECT_FALSE(trip.failure().empty());
            }
        }
    }
    // The loop sees both kinds of document.
    EXPECT_GT(imported, 0);
    EXPECT_GT(refused, 0);
}
