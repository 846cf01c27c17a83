// Export preprocessing per target: what the document's solids and each body
// become, the bodies kept through kernel failures, and the process-wide
// switches of the V5 recipe put back at the end of the export.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

#include "heal/preprocess_utils.hxx"
#include "model/document.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/geometry_builders.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "support/repair_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/build.hxx"
#include "velm/errors.hxx"
#include "velm/geometry.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

class ExportPreprocess : public testkit::ConnectorTest {};

Ve_BodyTag* preTag(BODY* b) { return reinterpret_cast<Ve_BodyTag*>(b); }
BODY* preBody(Ve_BodyTag* b) { return reinterpret_cast<BODY*>(b); }

// The kinds of surface the body's faces lie on (kernel type codes).
std::vector<int> surfaceKinds(BODY* body)
{
    ENTITY_LIST faces;
    api_get_faces(body, faces);
    std::vector<int> kinds;
    for (int i = 0; i < faces.count(); ++i) {
        const FACE* f = static_cast<const FACE*>(faces[i]);
        kinds.push_back(f->geometry() && f->geometry()->has_equation() ? f->geometry()->equation().type() : -1);
    }
    return kinds;
}

// Whether some face of the body wraps round its surface: a loop holding an
// edge twice (a seam), or a face of a closed surface with two loops.
bool hasWrappingFace(BODY* body)
{
    ENTITY_LIST faces;
    api_get_faces(body, faces);
    for (int i = 0; i < faces.count(); ++i)
        for (LOOP* l = static_cast<FACE*>(faces[i])->loop(); l; l = l->next()) {
            COEDGE* c = l->start();
            do {
                if (c->partner() && c->partner()->loop() == l)
                    return true;
                c = c->next();
            } while (c && c != l->start());
        }
    return false;
}

void deleteSolids(Ve_DocumentTag& doc)
{
    const QELXDynamicArray<Ve_BodyTag*> solids = doc.GetSolids();
    for (int i = 0; i < solids.Count(); ++i)
        if (solids[i])
            api_del_entity(preBody(solids[i]));
}

struct TargetCase {
    const char* name;
    std::vector<const char*> switches;
    std::function<BODY*()> build;
    // What the target must find in every exported body.
    std::function<void(BODY*)> expect;
    int bodies;
    bool everyFrame;
};

} // namespace

TEST_F(ExportPreprocess, EachTargetGetsGeometryItCanTakeFromAModelThatNeedsIt)
{
    auto onlySplines = [](BODY* b) {
        for (const int kind : surfaceKinds(b))
            EXPECT_EQ(kind, 10);
    };
    auto noWrapping = [](BODY* b) { EXPECT_FALSE(hasWrappingFace(b)); };
    const TargetCase cases[] = {
        {"Step splits periodic faces", {"PreprocessBodyPreProcessStep", "SplitPeriodicPreProcess"},
         [] { return testkit::make_cylinder(1.0, 1.6); }, noWrapping, 1, true},
        {"Iges splits periodic faces", {"PreprocessBodyPreProcessIges", "SplitPeriodicPreProcess"},
         [] { return testkit::make_cylinder(1.0, 1.6); }, noWrapping, 1, true},
        {"Vda takes splines only", {"PreprocessBodyPreProcessVda", "SplitPeriodicPreProcess"}, [] { return testkit::make_cylinder(1.0, 1.6); },
         onlySplines, 1, false},
        {"V4 takes splines only", {"PreprocessBodyPreProcessV4", "SplitPeriodicPreProcess"}, [] { return testkit::make_cylinder(1.0, 1.6); },
         onlySplines, 1, false},
        {"Ideas takes splines only", {"PreprocessBodyPreProcessIdeas", "SplitPeriodicPreProcess"}, [] { return testkit::make_cylinder(1.0, 1.6); },
         onlySplines, 1, false},
        {"Generic takes manifold bodies", {"PreprocessBodyPreProcessGeneric"},
         [] { return testkit::make_cubes_sharing_edge(); },
         [](BODY* b) { EXPECT_EQ(preTag(b)->isNonManifold(), Ve_BodyTag::Manifold); }, 2, true},
    };
    const std::vector<QELtransf> frames = testkit::heal_frames();
    for (const TargetCase& c : cases) {
        // The B-spline conversions are the slow part: the identity and the
        // mirrored frame.
        for (const QELtransf& frame : frames) {
            if (!c.everyFrame && &frame == &frames[1])
                continue;
            SCOPED_TRACE(std::string(c.name) + (frame.identity() ? "" : " (framed)"));
            qelx_test::OptionScope options;
            for (const char* s : c.switches)
                options.on(Ve_OptionDoc::keyOf(s));
            BODY* body = c.build();
            // Framed, the body carries the frame as its transform: the
            // recipe puts it into the geometry.
            if (!frame.identity())
                api_apply_transf(body, frame);
            const int faces = testkit::count_faces(body);
            Ve_DocumentTag doc;
            doc.appendSolid(preTag(body), false);
            QELXPreprocessVelmUtils::preProcessBodies(&doc);
            EXPECT_TRUE(doc.IsPreprocessDone());
            const QELXDynamicArray<Ve_BodyTag*> solids = doc.GetSolids();
            ASSERT_EQ(solids.Count(), c.bodies);
            int after = 0;
            for (int i = 0; i < solids.Count(); ++i) {
                QELXPreprocessVelmUtils::PreProcessBody(solids[i]);
                EXPECT_EQ(preBody(solids[i])->transform(), nullptr) << "body " << i;
                EXPECT_EQ(testkit::check_findings(preBody(solids[i])), "") << "body " << i;
                c.expect(preBody(solids[i]));
                after += testkit::count_faces(preBody(solids[i]));
            }
            EXPECT_GE(after, faces) << "no face is lost on the way";
            deleteSolids(doc);
            QELXPreprocessVelmUtils::exportEnded();
        }
    }
}

TEST_F(ExportPreprocess, WithoutATargetTheModelGoesOutAsItWas)
{
    BODY* body = testkit::make_cylinder();
    const std::string before = testkit::body_text(body);
    Ve_DocumentTag doc;
    doc.appendSolid(preTag(body), false);
    QELXPreprocessVelmUtils::preProcessBodies(&doc);
    QELXPreprocessVelmUtils::PreProcessBody(preTag(body));
    QELXPreprocessVelmUtils::exportEnded();
    EXPECT_FALSE(doc.IsPreprocessDone());
    EXPECT_EQ(testkit::body_text(body), before);
    api_del_entity(body);
}

TEST_F(ExportPreprocess, AStepBodyWhosePreprocessingFailsIsExportedAsItWas)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("PreprocessBodyPreProcessStep"));
    options.on(Ve_OptionDoc::keyOf("SplitPeriodicPreProcess"));
    long n = 1;
    for (;; ++n) {
        BODY* body = testkit::make_cylinder();
        Ve_DocumentTag doc;
        doc.appendSolid(preTag(body), false);
        velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
        QELXPreprocessVelmUtils::preProcessBodies(&doc);
        const bool injected = !velm_test_injection_pending();
        velm_test_reset();
        ASSERT_EQ(doc.GetNumberOfSolids(), 1) << "failure at call " << n;
        EXPECT_EQ(doc.GetSolids()[0], preTag(body));
        EXPECT_EQ(testkit::model_problems(body), "") << "failure at call " << n;
        api_del_entity(body);
        if (!injected)
            break;
    }
    EXPECT_GT(n, 3);
}

TEST_F(ExportPreprocess, TheSmallModelSwitchesOfV5AreBackWhenTheExportEnds)
{
    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("PreprocessBodyPreProcessV5"));
    options.set(Ve_OptionDoc::keyOf("SmallEdgeTol"), QELXValue(1e-5));
    options.set(Ve_OptionDoc::keyOf("SmallBody"), QELXValue(true));
    for (const double size : {10.0, 0.1}) {
        SCOPED_TRACE(size);
        BODY* body = testkit::make_plane_box(size, size, size);
        Ve_DocumentTag doc;
        doc.appendSolid(preTag(body), false);
        QELXPreprocessVelmUtils::preProcessBodies(&doc);
        const bool small = size < 1.0;
        EXPECT_EQ(Ve_OptionDoc::SmallBody->on(), small);
        EXPECT_DOUBLE_EQ(Ve_OptionDoc::SmallEdgeTol->value(), small ? 1e-5 : 0.002);
        QELXPreprocessVelmUtils::PreProcessBody(doc.GetSolids()[0]);
        EXPECT_EQ(testkit::count_faces(preBody(doc.GetSolids()[0])), 6);
        QELXPreprocessVelmUtils::exportEnded();
        EXPECT_TRUE(Ve_OptionDoc::SmallBody->on());
        EXPECT_DOUBLE_EQ(Ve_OptionDoc::SmallEdgeTol->value(), 1e-5);
        deleteSolids(doc);
    }
}

TEST_F(ExportPreprocess, AFaceWithoutSurfaceIsPassedOverByTheSurfaceReplacement)
{
    BODY* body = testkit::make_plane_box();
    FACE* face = body->lump()->shell()->face();
    face->set_geometry(nullptr);
    QELXPreprocessVelmUtils::PreProcessBody(preTag(body));
    EXPECT_EQ(face->geometry(), nullptr);
    EXPECT_EQ(testkit::count_faces(body), 6);
    api_del_entity(body);
}

TEST_F(ExportPreprocess, TheCheckSwitchCountsTheGoodSolidsBeforeTheRecipeRuns)
{
    for (const bool check : {false, true}) {
        SCOPED_TRACE(check);
        qelx_test::OptionScope options;
        options.on(Ve_OptionDoc::keyOf("PreprocessBodyPreProcessIges"));
        if (check)
            options.on(Ve_OptionDoc::keyOf("CheckBody"));
        Ve_DocumentTag doc;
        doc.appendSolid(preTag(testkit::make_plane_box()), false);
        doc.appendSolid(preTag(testkit::make_box_with_moved_vertex(1e-3)), false);
        qelx_test::EventRecorder events;
        QELXPreprocessVelmUtils::preProcessBodies(&doc);
        std::vector<std::pair<int, int>> summaries;
        for (const qelx_test::EventRecord& r : events.records())
            if (r.kind == "Summary") {
                summaries.emplace_back(r.total, r.good);
                EXPECT_EQ(r.text, "XVelm");
            }
        using Counts = std::vector<std::pair<int, int>>;
        EXPECT_EQ(summaries, (check ? Counts{{2, 1}} : Counts{}));
        EXPECT_TRUE(doc.IsPreprocessDone());
        deleteSolids(doc);
    }
}

namespace {

// Plane discs in z = 0, side by side, each bounded by one circle of one
// coedge, all in one shell.
BODY* discsInOneShell(const std::vector<double>& radii)
{
    std::vector<FACE*> faces;
    double x = 0.0;
    for (const double r : radii) {
        const QELposition centre(x + r, 0.0, 0.0);
        x += 2.0 * r + 1.0;
        auto* v = new VERTEX(new APOINT(centre - QELvector(r, 0.0, 0.0)));
        const QELinterval turn(-std::numbers::pi, std::numbers::pi);
        auto* e = new EDGE(v, v, new ELLIPSE(ellipse(centre, QELunit_vector(0, 0, 1), QELvector(-r, 0, 0), 1.0)),
                           FORWARD, EDGE_cvty_unknown, &turn);
        v->add_edge(e);
        auto* c = new COEDGE(e, FORWARD, nullptr, nullptr);
        c->set_next(c);
        c->set_previous(c);
        faces.push_back(new FACE(new LOOP(c, nullptr), nullptr, new PLANE(plane(centre, QELunit_vector(0, 0, 1))), FORWARD));
    }
    BODY* body = nullptr;
    EXPECT_TRUE(api_mk_by_faces(nullptr, static_cast<int>(faces.size()), faces.data(), body).ok());
    return body;
}

} // namespace

// The generic recipe drops one-coedge faces of no area (below the normal
// resolution), each of them however they follow one another, and keeps a
// small one whose area lies between that and the positional resolution.
TEST_F(ExportPreprocess, GenericDropsEveryOneCoedgeFaceOfNoAreaAndKeepsSmallOnes)
{
    BODY* body = discsInOneShell({1.0, 1e-6, 1e-6, 1e-4, 1e-6});
    ASSERT_EQ(testkit::count_faces(body), 5);
    QELXPreprocessVelmUtils::PreProcessBodyGeneric(preTag(body));
    ENTITY_LIST faces;
    api_get_faces(body, faces);
    std::vector<double> areas;
    for (int i = 0; i < faces.count(); ++i)
        areas.push_back(ent_area_prop(faces[i], 0.001).area());
    ASSERT_EQ(areas.size(), 2u);
    EXPECT_NEAR(areas[0], std::numbers::pi, 1e-3);
    EXPECT_NEAR(areas[1], std::numbers::pi * 1e-8, 1e-11);
    api_del_entity(body);
}
