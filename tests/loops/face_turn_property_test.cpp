// The toolbox's face-loop fix over random layouts of 1 to 8 loops (a
// periphery and holes side by side in it) on a plane, a cylinder across its
// seam and a sphere, in the identity, a rotated and a mirrored frame (in
// turn): a face
// whose loops all run the wrong way is turned, whatever their count; a face
// whose loops are right is left exactly as it was. Seeded.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "model/entity_views.hxx"
#include "repair/post_process_util.hxx"
#include "support/connector_test.hxx"
#include "support/heal_builders.hxx"
#include "support/loop_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/build.hxx"
#include "velm/query.hxx"
#include "velm/topology_api.hxx"

using namespace testkit;

namespace {

struct TurnSurface {
    const char* name;
    std::function<surface*()> make;
    QELpar_box box; // where the layout's 12 x 12 cells lie in the surface's parameters
};

const std::vector<TurnSurface>& turnSurfaces()
{
    static const std::vector<TurnSurface> all = [] {
        const auto box = [](double u0, double u1, double v0, double v1) {
            return QELpar_box(QELinterval(u0, u1), QELinterval(v0, v1));
        };
        return std::vector<TurnSurface>{
            {"plane", [] { return test_plane().make_copy(); }, box(0, 10, 0, 10)},
            {"cylinder across its seam", [] { return test_cylinder().make_copy(); }, box(0, 6, kPi - 1.2, kPi + 1.0)},
            {"sphere", [] { return test_sphere().make_copy(); }, box(-1.1, 1.1, -2, 2)},
        };
    }();
    return all;
}

constexpr int kTurnCells = 12;

// A periphery round the whole grid and n - 1 holes in it, a cell or more
// apart and from the periphery, at random; `wrong` runs every loop the
// other way. A periphery runs counter-clockwise in the parameters when
// `ccw` (the surface's parameters are right-handed about its normal).
std::vector<iso_rect> turnLayout(const QELpar_box& box, int n, bool wrong, bool ccw, std::mt19937& rng)
{
    const auto at = [&box](int u, int v) {
        return QELpar_pos(box.u_range().interpolate(double(u) / kTurnCells),
                          box.v_range().interpolate(double(v) / kTurnCells));
    };
    const auto loop = [&](int u0, int u1, int v0, int v1, bool outer) {
        const QELpar_pos lo = at(u0, v0), hi = at(u1, v1);
        return rect(lo.u, hi.u, lo.v, hi.v, (outer == ccw) != wrong);
    };
    std::vector<iso_rect> loops{loop(0, kTurnCells, 0, kTurnCells, true)};
    // Holes on a 2 x 2-cell lattice inside the periphery, each one lattice
    // place (a 1 x 1 cell hole with a cell's margin): 25 places.
    std::vector<int> places(25);
    for (int i = 0; i < 25; ++i)
        places[static_cast<std::size_t>(i)] = i;
    std::shuffle(places.begin(), places.end(), rng);
    for (int h = 0; h + 1 < n; ++h) {
        const int u = 1 + 2 * (places[static_cast<std::size_t>(h)] % 5), v = 1 + 2 * (places[static_cast<std::size_t>(h)] / 5);
        loops.push_back(loop(u, u + 1, v, v + 1, false));
    }
    std::shuffle(loops.begin(), loops.end(), rng);
    return loops;
}

double faceArea(FACE* face)
{
    double area = 0.0, accuracy = 0.0;
    EXPECT_TRUE(api_ent_area(face, 1e-7, area, accuracy).ok());
    return area;
}

bool loopsSound(FACE* face)
{
    int counts[5] = {0, 0, 0, 0, 0};
    return api_check_face_loops(face, counts).ok();
}

// Whether a rectangle running counter-clockwise in the surface's parameters
// bounds a face of positive area (a periphery).
bool counterClockwisePeriphery(const surface& srf, const QELpar_box& box)
{
    BODY* body = make_iso_rect_sheet(srf, {rect(box.u_range().start_pt(), box.u_range().end_pt(),
                                                 box.v_range().start_pt(), box.v_range().end_pt(), true)});
    FACE* face = body->lump()->shell()->face();
    const bool periphery = loopsSound(face) && faceArea(face) > 0.0;
    api_del_entity(body);
    return periphery;
}

class FaceTurn : public ConnectorTest {};

} // namespace

TEST_F(FaceTurn, AFaceWhoseLoopsAllRunTheWrongWayIsTurnedWhateverTheirCount)
{
    std::mt19937 rng(36035);
    for (const TurnSurface& s : turnSurfaces())
        for (int n = 1; n <= 8; ++n) {
            // The frames in turn: identity, rotated, mirrored.
            const std::size_t f = static_cast<std::size_t>(n) % heal_frames().size();
            std::unique_ptr<surface> srf(s.make());
            const bool ccw = counterClockwisePeriphery(*srf, s.box);
            const std::vector<iso_rect> right = turnLayout(s.box, n, false, ccw, rng);
            std::vector<iso_rect> wrong = right;
            for (iso_rect& r : wrong)
                r.ccw = !r.ccw;
            std::ostringstream trace;
            trace << s.name << ", frame " << f << ", " << n << " loops";
            SCOPED_TRACE(trace.str());
            double rightArea = 0.0;
            for (const bool turned : {false, true}) {
                SCOPED_TRACE(turned ? "all running the wrong way" : "as they should");
                BODY* body = make_iso_rect_sheet(*srf, turned ? wrong : right);
                if (!heal_frames()[f].identity()) {
                    api_apply_transf(body, heal_frames()[f]);
                    api_change_body_trans(body, nullptr);
                }
                FACE* face = body->lump()->shell()->face();
                // One hole alone on a sphere is a sound face too (the
                // sphere less it): no fault, so no turn.
                const bool sound = loopsSound(face);
                EXPECT_TRUE(sound || turned);
                EXPECT_TRUE(!(sound && turned) || (s.name == std::string("sphere") && n == 1));
                const std::string before = body_text(body);
                const double areaBefore = faceArea(face);
                Ve_PostProcessUtil(ve_view<Ve_BodyTag>(body)).fixFaceLoops();
                EXPECT_TRUE(loopsSound(face));
                if (sound) {
                    EXPECT_EQ(body_text(body), before);
                    EXPECT_NEAR(faceArea(face), areaBefore, 1e-9 * std::abs(areaBefore));
                } else {
                    EXPECT_NEAR(faceArea(face), rightArea, 1e-6 * rightArea);
                }
                if (!turned)
                    rightArea = areaBefore;
                api_del_entity(body);
            }
            if (HasFailure())
                return;
        }
}
