// Bodies of one face that closes on itself: a whole sphere, a whole torus
// and a B-spline closed both ways, each one face without loops, at seeded
// sizes and places, in every frame. Joined as a loose sheet it becomes a
// solid facing outwards; healed by any recipe, solid or sheet, it keeps its
// face, its area and (a solid) its volume.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "heal/repair_utils.hxx"
#include "model/body_set.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/in_turn.hxx"
#include "support/model_builders.hxx"
#include "support/repair_builders.hxx"
#include "velm/bspline.hxx"
#include "velm/build.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

class ClosedOneFace : public testkit::ConnectorTest {};

const char* const kKinds[] = {"sphere", "torus", "spline torus"};

// A torus-like B-spline periodic both ways: cubic over a hexagon of control
// points round the tube and round the axis (wrapped knots, u and v in [3, 9]),
// its normal pointing out of the tube.
SURFACE* periodicSplineTorus(const QELposition& centre, double major, double minor)
{
    std::vector<QELposition> points;
    for (int i = 0; i < 9; ++i)
        for (int j = 0; j < 9; ++j) {
            const double a = i * M_PI / 3.0, b = j * M_PI / 3.0, out = major + minor * std::cos(a);
            points.emplace_back(centre.x() + out * std::cos(b), centre.y() + out * std::sin(b),
                                centre.z() - minor * std::sin(a));
        }
    std::vector<double> knots;
    for (int k = 0; k < 13; ++k)
        knots.push_back(k);
    bs3_surface bs = bs3_surface_from_ctrlpts(3, 0, 2, 0, 9, 3, 0, 2, 0, 9, points.data(), nullptr, QELresabs, 13,
                                              knots.data(), 13, knots.data(), QELresnor);
    SURFACE* s = new SPLINE(spline(bs));
    bs3_surface_delete(bs);
    return s;
}

// One face without loops on the kind's surface, at a seeded centre and size
// (a torus about a seeded axis), then placed in the frame; single-sided (a
// solid) or double-sided (a sheet), facing out or in.
BODY* wholeSurfaceBody(const std::string& kind, unsigned seed, const QELtransf& frame, bool sheet, bool inward)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> coordinate(-20.0, 20.0), size(0.5, 6.0);
    const QELposition centre(coordinate(random), coordinate(random), coordinate(random));
    const double minor = size(random), major = minor + size(random);
    SURFACE* surface = nullptr;
    if (kind == "sphere")
        surface = new SPHERE(sphere(centre, major));
    else if (kind == "torus")
        surface = new TORUS(
            torus(centre, normalise(QELvector(coordinate(random), coordinate(random), 1.0)), major, minor));
    else
        surface = periodicSplineTorus(centre, major, minor);
    FACE* face = new FACE(nullptr, nullptr, surface, inward ? REVERSED : FORWARD);
    BODY* body = new BODY(new LUMP(new SHELL(face, nullptr), nullptr));
    if (!frame.identity()) {
        EXPECT_TRUE(api_apply_transf(body, frame).ok());
        EXPECT_TRUE(api_change_body_trans(body, nullptr).ok());
    }
    if (sheet)
        QELXVeRepairUtils::makeDoubleSided(body);
    return body;
}

struct Measures {
    double area = 0.0, volume = 0.0;
    int faces = 0;
    bool solid = false;
};

Measures measure(const std::vector<BODY*>& bodies)
{
    Measures m;
    for (BODY* b : bodies) {
        m.faces += testkit::count_faces(b);
        m.area += testkit::body_area(b);
        const bool solid = is_closed_solid_body(b);
        m.solid = m.solid || solid;
        double volume = 0.0, achieved = 0.0;
        if (solid) {
            EXPECT_TRUE(api_body_volume(b, 1e-7, volume, achieved).ok());
        }
        m.volume += volume;
    }
    return m;
}

// What the body encloses, facing outwards: measured on a single-sided copy.
double enclosedVolume(BODY* body)
{
    BODY* copy = nullptr;
    EXPECT_TRUE(api_copy_body(body, copy).ok());
    for (LUMP* l = copy->lump(); l; l = l->next())
        for (SHELL* s = l->shell(); s; s = s->next())
            for (FACE* f = s->face(); f; f = f->next())
                f->set_sides(0);
    double volume = 0.0, achieved = 0.0;
    EXPECT_TRUE(api_body_volume(copy, 1e-7, volume, achieved).ok());
    api_del_entity(copy);
    return std::abs(volume);
}

double bound(const std::string& kind) { return kind == "spline torus" ? 1e-4 : 1e-6; }

double gap(double a, double b) { return std::abs(a - b) / std::max(std::abs(b), 1e-12); }

std::vector<BODY*> bodiesOf(const Ve_CocoonTag& set)
{
    std::vector<BODY*> out;
    for (Ve_BodyTag* b : set.getBodies())
        out.push_back(reinterpret_cast<BODY*>(b));
    return out;
}

Ve_CocoonTag* setOf(const std::vector<BODY*>& bodies)
{
    auto* set = new Ve_CocoonTag();
    for (BODY* b : bodies)
        set->appendBody(reinterpret_cast<Ve_BodyTag*>(b));
    return set;
}

std::string caseName(const std::string& kind, unsigned seed, int frame, bool inward)
{
    return kind + " seeded " + std::to_string(seed) + " in frame " + std::to_string(frame) +
           (inward ? ", facing in" : ", facing out");
}

} // namespace

// A lone sheet whose one face closes on itself is joined into a solid facing
// outwards, whichever way the face faced; an open one-face sheet beside it
// stays a sheet, and so does a whole plane (no loops, nothing enclosed),
// without a word.
TEST_F(ClosedOneFace, ALoneClosedSheetBecomesAnOutwardSolidInEveryFrame)
{
    const std::vector<QELtransf> frames = testkit::heal_frames();
    // Each kind at a seed is a group; its members are the frames, facing
    // either way.
    const std::size_t members = frames.size() * 2;
    std::size_t group = 0;
    for (const char* kind : kKinds)
        for (const unsigned seed : {3u, 41u}) {
            for (std::size_t m = 0; m < members; ++m) {
                if (!in_turn::taken(group, m, members))
                    continue;
                const std::size_t f = m / 2;
                const bool inward = m % 2 == 1;
                SCOPED_TRACE(caseName(kind, seed, static_cast<int>(f), inward));
                BODY* sheet = wholeSurfaceBody(kind, seed, frames[f], true, inward);
                ASSERT_FALSE(is_closed_solid_body(sheet));
                const double area = testkit::body_area(sheet), volume = enclosedVolume(sheet);
                BODY* open = testkit::make_hemisphere();
                SURFACE* whole = new PLANE(::plane(QELposition(), QELunit_vector(0, 0, 1)));
                BODY* plane =
                    new BODY(new LUMP(new SHELL(new FACE(nullptr, nullptr, whole, FORWARD), nullptr), nullptr));
                QELXVeRepairUtils::makeDoubleSided(plane);
                Ve_CocoonTagHandle set(setOf({sheet, open, plane}));
                qelx_test::EventRecorder events;
                QELXVeRepairUtils::stitchSheetBodies(static_cast<Ve_CocoonTag*>(set));
                EXPECT_TRUE(events.names("Warning").empty());
                const std::vector<BODY*> bodies = bodiesOf(*set);
                ASSERT_EQ(bodies.size(), 3u);
                EXPECT_EQ(bodies[0], sheet);
                EXPECT_TRUE(is_closed_solid_body(sheet));
                const Measures made = measure({sheet});
                EXPECT_EQ(made.faces, 1);
                EXPECT_LE(gap(made.area, area), bound(kind)) << made.area << " where " << area;
                EXPECT_LE(gap(made.volume, volume), bound(kind)) << made.volume << " where " << volume;
                EXPECT_EQ(testkit::check_findings(sheet), "");
                EXPECT_EQ(bodies[1], open);
                EXPECT_FALSE(is_closed_solid_body(open));
                EXPECT_EQ(bodies[2], plane);
                EXPECT_FALSE(is_closed_solid_body(plane));
                for (BODY* b : bodies)
                    api_del_entity(b);
            }
            ++group;
        }
}

// Every recipe (the standard repair when none is chosen) keeps the one face
// of a whole sphere, torus or closed spline, its area and, where the body
// came a solid, its volume; a face lost is never a body healed.
TEST_F(ClosedOneFace, EveryRecipeKeepsTheWholeFaceItsAreaAndItsVolume)
{
    const char* const recipes[] = {"HealBodyPostProcessStep", "HealBodyPostProcessIges", "HealBodyPostProcessProE",
                                   "HealBodyPostProcessV4",   "HealBodyPostProcessV5",   "HealBodyPostProcessUg",
                                   "HealBodyPostProcessVda",  "HealBodyPostProcessPs",   "HealBodyPostProcessIdeas",
                                   "HealBodyPostProcessInventor", ""};
    const std::vector<QELtransf> frames = testkit::heal_frames();
    const std::size_t members = std::size(recipes);
    std::size_t group = 0;
    for (const char* kind : kKinds)
        for (std::size_t f = 0; f < frames.size(); ++f)
            for (const bool sheet : {false, true}) {
                for (std::size_t r = 0; r < members; ++r) {
                    if (!in_turn::taken(group, r, members))
                        continue;
                    const char* recipe = recipes[r];
                    const unsigned seed = static_cast<unsigned>(7 + group);
                    SCOPED_TRACE(caseName(kind, seed, static_cast<int>(f), false) +
                                 (sheet ? ", a sheet" : ", a solid") + " under " +
                                 (*recipe ? recipe : "the standard repair"));
                    qelx_test::OptionScope scope;
                    if (*recipe)
                        scope.on(Ve_OptionDoc::keyOf(recipe));
                    scope.on(Ve_OptionDoc::keyOf("HealBody"));
                    BODY* body = wholeSurfaceBody(kind, seed, frames[f], sheet, false);
                    const Measures given = measure({body});
                    ASSERT_EQ(given.solid, !sheet);
                    Ve_CocoonTagHandle set(setOf({body}));
                    QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
                    const std::vector<BODY*> bodies = bodiesOf(*set);
                    const Measures healed = measure(bodies);
                    EXPECT_EQ(healed.faces, 1);
                    EXPECT_EQ(healed.solid, given.solid);
                    EXPECT_LE(gap(healed.area, given.area), bound(kind)) << healed.area << " where " << given.area;
                    // A mirroring frame may leave the solid facing in; the
                    // recipe may turn it out.
                    if (given.solid) {
                        EXPECT_LE(gap(healed.volume, std::abs(given.volume)), bound(kind))
                            << healed.volume << " where " << given.volume;
                    }
                    for (BODY* b : bodies)
                        EXPECT_EQ(testkit::check_findings(b), "");
                    for (BODY* b : bodies)
                        api_del_entity(b);
                }
                ++group;
            }
}
