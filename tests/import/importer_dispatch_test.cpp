// Per-body dispatch and the item guard: which road a body takes, and that a
// body that fails fails alone.
#include "importer_support.hxx"

#include "import/item_guard.hxx"
#include "qelx_velm/ve_option_doc.hxx"

#include <functional>
#include <limits>
#include <stdexcept>

using namespace importtest;
using qelx_test::TestModel;

namespace {

// The sheet's faces as loose faces of its body.
TestModel looseFaces(TestModel m)
{
    qelx_test::TestBody& b = m.bodies[0];
    for (int shell : b.shells2D)
        b.faces.insert(b.faces.end(), m.shells[shell].faces.begin(), m.shells[shell].faces.end());
    b.shells2D.clear();
    return m;
}

std::string warningsOf(const qelx_test::EventRecorder& events)
{
    return ::testing::PrintToString(events.names("Warning"));
}

} // namespace

class ImporterDispatch : public ImportTest {};

TEST_F(ImporterDispatch, EachBodyTakesTheRoadItsContentOptionsAndDocumentTypesChoose)
{
    struct Case {
        const char* what;
        TestModel model;
        const char* sourceType;
        std::vector<const char*> switches; // Ve_OptionDoc members switched on
        std::function<void()> rules;
        const char* road; // "topology", a trim road ("sheet", "solid"), or "none"
        QELIResult result;
    };
    const auto noTopology = [] {
        Gk_ImportMachine::setRule("XVelm", "XTest", Gk_ImportMachine::Tplgy, false);
        Gk_ImportMachine::setRule("XVelm", "XTest", Gk_ImportMachine::TplgyToTrim, false);
    };
    const std::vector<Case> cases = {
        {"solid", TestModel::block(1, 2, 3), "XTest", {}, {}, "topology", QELI_OK},
        {"solid from a source without topology", TestModel::block(1, 2, 3), "XVda", {}, {}, "solid", QELI_OK},
        {"solid with neither road allowed", TestModel::block(1, 2, 3), "XTest", {}, noTopology, "none", QELI_NOTHING},
        {"one sheet of one face", TestModel::planeFace(), "XTest", {}, {}, "sheet", QELI_OK},
        {"one sheet of one face, single faces by topology", TestModel::planeFace(), "XTest",
         {"ImportSingleFace2DShellAsTopology"}, {}, "topology", QELI_OK},
        {"one sheet of two faces", TestModel::twoFacesSharingEdge(), "XTest", {}, {}, "topology", QELI_OK},
        {"one sheet of two faces, several faces by trim", TestModel::twoFacesSharingEdge(), "XTest",
         {"ImportMultipleFaces2DShellAsTrim"}, {}, "sheet", QELI_OK},
        {"sheets refused by the filters", TestModel::twoFacesSharingEdge(), "XTest", {},
         [] { Gk_ImportMachine::setRule("XVelm", "XTest", Gk_ImportMachine::Trim, false); }, "none", QELI_NOTHING},
        {"loose faces", looseFaces(TestModel::twoFacesSharingEdge()), "XTest", {}, {}, "topology", QELI_OK},
        {"nothing at all", [] { TestModel m; m.addBody(); return m; }(), "XTest", {}, {}, "none", QELI_NOTHING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        qelx_test::resetFramework();
        qelx_test::OptionScope options;
        for (const char* s : c.switches)
            options.on(Ve_OptionDoc::keyOf(s));
        if (c.rules)
            c.rules();
        TestModel model = c.model;
        model.xType = c.sourceType;
        ImporterRun run(model);
        Gk_ImportContext context(&run.target(), &run.sourceDocument());
        qelx_test::EventRecorder events;
        EXPECT_EQ(run.importer().ImportBody(&run.source(), run.id(qelx_test::KindBody, 0), &context), c.result)
            << warningsOf(events);
        const std::string road = c.road;
        // The trim roads make a sheet body of every face.
        const bool trim = road == "sheet" || road == "solid";
        EXPECT_EQ(run.result().size(), road == "topology" ? 1u : trim ? c.model.faces.size() : 0u) << warningsOf(events);
        EXPECT_EQ(run.importer().GetTopologyCreator() != nullptr, road == "topology");
        EXPECT_EQ(events.count("Stage"), trim ? 2 : road == "topology" ? 4 : 0) << ::testing::PrintToString(events.names("Stage"));
        if (trim) {
            EXPECT_EQ(events.names("Stage")[0], "TrimFace");
        }
        EXPECT_TRUE(events.names("Warning").empty()) << warningsOf(events);
        EXPECT_EQ(run.source().openBodies(), 0) << "every prepared body is released";
    }
}

TEST_F(ImporterDispatch, ABodyThatFailsFailsAloneAndTheImportGoesOn)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Spoil {
        const char* what;
        std::function<void(TestModel&, int firstEdge, int firstCoedge, int firstVertex)> apply;
    };
    const std::vector<Spoil> spoils = {
        {"dangling edge reference", [](TestModel& m, int, int c, int) { m.coedges[c].edge = 9999; }},
        {"dangling vertex reference", [](TestModel& m, int e, int, int) { m.edges[e + 3].start = 9999; }},
        {"vertex at NaN", [nan](TestModel& m, int, int, int v) { m.points[m.vertices[v + 5].point] = {nan, 0, 1}; }},
        {"loop that does not close", [](TestModel& m, int, int c, int) { m.loops[m.coedges[c].loop].coedges.pop_back(); }},
        {"edge with three coedges", [](TestModel& m, int e, int, int) { m.addThirdCoedge(e); }},
        {"edge without curve", [](TestModel& m, int e, int, int) { m.dropCurve(e + 2); }},
    };
    for (const Spoil& s : spoils) {
        SCOPED_TRACE(s.what);
        // Three bodies; the middle one is spoiled.
        TestModel model = TestModel::block(1, 2, 3);
        TestModel middle = TestModel::block(2, 2, 3);
        const int e0 = static_cast<int>(model.edges.size()), c0 = static_cast<int>(model.coedges.size()),
                  v0 = static_cast<int>(model.vertices.size());
        model.append(middle);
        model.append(TestModel::block(3, 2, 3));
        s.apply(model, e0, c0, v0);
        ImporterRun run(model);
        qelx_test::EventRecorder events;
        EXPECT_EQ(run.import(), QELI_OK) << "the others were made";
        EXPECT_EQ(countsText(run.result()), (std::vector<std::string>{"6f 12e 8v", "6f 12e 8v"}));
        for (BODY* b : run.result())
            EXPECT_EQ(findingsOf(b), std::vector<std::string>());
        const std::vector<std::string> warnings = events.names("Warning");
        // A point that is no number is named first, then its body.
        ASSERT_EQ(warnings.size(), std::string(s.what) == "vertex at NaN" ? 2u : 1u) << warningsOf(events);
        EXPECT_NE(warnings.back().find("BRep body 1000000000002: not imported"), std::string::npos) << warnings.back();
        int translated = 0;
        for (const qelx_test::EventRecord& r : events.records())
            translated += r.kind == "StartTranslate" && r.name == "Body";
        EXPECT_EQ(translated, 3) << "every body is reported";
        EXPECT_EQ(run.postImport(), QELI_OK);
        EXPECT_EQ(run.handedOver().size(), 2u);
    }
}

// A body nothing could be taken from is the bodies' result, wherever it
// stands among them: the bodies around it are made all the same.
TEST_F(ImporterDispatch, ABodyNothingWasTakenFromIsTheResultOfTheBodies)
{
    for (bool emptyFirst : {false, true}) {
        SCOPED_TRACE(emptyFirst ? "the empty body first" : "the empty body last");
        TestModel model;
        if (emptyFirst)
            model.addBody();
        model.append(TestModel::block(1, 2, 3));
        if (!emptyFirst)
            model.addBody();
        ImporterRun run(model);
        Gk_ImportContext context(&run.target(), &run.sourceDocument());
        EXPECT_EQ(run.importer().ImportBodies(&run.source(), &context), QELI_NOTHING);
        EXPECT_EQ(countsText(run.result()), (std::vector<std::string>{"6f 12e 8v"}));
    }
}

TEST_F(ImporterDispatch, TheItemGuardKeepsKernelErrorsInTheItemAndLetsAbortAndMemoryThrough)
{
    const int kernelError = qelvelm_api_errmod.message_code(0);
    const int outOfMemory = qelbase_mmgr_errmod.message_code(8);
    EXPECT_EQ(importItemGuard([] { return QELIResult(2); }), QELIResult(2));
    EXPECT_EQ(importItemGuard([&]() -> QELIResult { sys_error(kernelError); }), QELI_FAIL);
    EXPECT_EQ(importItemGuard([]() -> QELIResult { throw std::runtime_error("anything else"); }), QELI_OK);
    EXPECT_THROW(importItemGuard([&]() -> QELIResult { sys_error(outOfMemory); }), QELXAllocException);
    EXPECT_THROW(importItemGuard([]() -> QELIResult { throw std::bad_alloc(); }), QELXAllocException);
    EXPECT_THROW(importItemGuard([]() -> QELIResult { throw QELXAbortException(); }), QELXAbortException);
    // An interrupt that arrives during an item ends that item only.
    EXPECT_EQ(importItemGuard([] {
                  velm_test_request_interrupt();
                  return QELIResult(QELI_OK);
              }),
              QELI_OK);
    EXPECT_FALSE(velm_interrupted());

    // The framework's abort ends the import wherever it comes, and leaves nothing behind.
    for (int checks : {0, 1, 2}) {
        SCOPED_TRACE("abort after " + std::to_string(checks) + " checks");
        ImporterRun run(blocks(3));
        qelx_test::AbortPlan abort;
        abort.after(checks);
        EXPECT_THROW(run.import(), QELXAbortException);
    }
}

TEST_F(ImporterDispatch, IgesSourcesReportProgressPerBodyAndOnlyTheLatestCreatorIsKept)
{
    for (const char* type : {"XIges", "XTest"}) {
        SCOPED_TRACE(type);
        TestModel model = blocks(2);
        model.xType = type;
        ImporterRun run(model);
        qelx_test::EventRecorder events;
        EXPECT_EQ(run.import(), QELI_OK);
        EXPECT_EQ(events.count("ProgressStatus"), std::string(type) == "XIges" ? 2 : 0);
        for (const qelx_test::EventRecord& r : events.records())
            if (r.kind == "ProgressStatus") {
                EXPECT_EQ(r.count, 2);
                EXPECT_EQ(r.number, 1);
            }
        // The creator of the second body answers for the second body's faces.
        QELXIdentifiers created;
        ASSERT_EQ(run.importer().GetCreatedEntities(run.id(qelx_test::KindFace, 6), created), QELI_OK);
        ASSERT_EQ(created.Count(), 1);
        auto* face = reinterpret_cast<FACE*>(created.Get(0).GetValue());
        ENTITY_LIST faces;
        api_get_faces(run.result()[1], faces);
        EXPECT_TRUE(faces.contains(face));
    }
}

TEST_F(ImporterDispatch, CreatedEntitiesAreAnsweredForEveryFaceAndNothingIsLeftOver)
{
    ImporterRun run(blocks(2));
    QELXIdentifiers created;
    EXPECT_EQ(run.importer().GetCreatedEntities(run.id(qelx_test::KindFace, 0), created), QELI_FAIL)
        << "no topology import yet";
    ASSERT_EQ(run.import(), QELI_OK);
    // A face of the first body: the latest creator never met it and makes it
    // on the spot, outside every body; asked again it gives the same face.
    ASSERT_EQ(run.importer().GetCreatedEntities(run.id(qelx_test::KindFace, 0), created), QELI_OK);
    ASSERT_EQ(run.importer().GetCreatedEntities(run.id(qelx_test::KindFace, 0), created), QELI_OK);
    ASSERT_EQ(created.Count(), 2);
    auto* made = reinterpret_cast<FACE*>(created.Get(0).GetValue());
    EXPECT_EQ(created.Get(1).GetValue(), created.Get(0).GetValue());
    ASSERT_TRUE(velm_is_live_entity(made));
    EXPECT_EQ(made->shell(), nullptr);
    for (BODY* b : run.result()) {
        ENTITY_LIST faces;
        api_get_faces(b, faces);
        EXPECT_FALSE(faces.contains(made));
    }
    // A face the kernel cannot allocate is no answer; whatever part of an
    // answer fails, the caller gets a result, never the kernel's error, and
    // nothing of it stays.
    int face = 1;
    for (const char* part : {"QELXVelmFacePair", "QELXVelmLoopPair", "QELXVelmCoedgePair"}) {
        SCOPED_TRACE(part);
        QELXIdentifiers answer;
        velm_test_fail_alloc(part, 1);
        QELIResult result = QELI_OK;
        EXPECT_NO_THROW(result = run.importer().GetCreatedEntities(run.id(qelx_test::KindFace, face++), answer));
        velm_test_reset();
        if (std::string(part) == "QELXVelmFacePair") {
            EXPECT_EQ(result, QELI_FAIL);
            EXPECT_EQ(answer.Count(), 0);
        }
    }
    // The fixture's teardown finds nothing left once the importer is gone.
}

TEST_F(ImporterDispatch, ReleasedLookupsAnswerNothingAndLeaveTheBodiesToTheCommit)
{
    ImporterRun run(blocks(2));
    ASSERT_EQ(run.import(), QELI_OK);
    QELXIdentifiers created;
    ASSERT_EQ(run.importer().GetCreatedEntities(run.id(qelx_test::KindFace, 6), created), QELI_OK);
    run.importer().ReleaseSourceLookups();
    EXPECT_EQ(run.importer().GetTopologyCreator(), nullptr);
    // No answer now, and none made on the spot: a face of either body.
    for (int face : {0, 6})
        EXPECT_EQ(run.importer().GetCreatedEntities(run.id(qelx_test::KindFace, face), created), QELI_FAIL);
    EXPECT_EQ(created.Count(), 1);
    // The bodies the lookups pointed into are the commit's as before.
    ASSERT_EQ(run.postImport(), QELI_OK);
    const std::vector<ENTITY*> handed = run.handedOver();
    ASSERT_EQ(handed.size(), 2u);
    for (ENTITY* body : handed) {
        ENTITY_LIST faces;
        api_get_faces(body, faces);
        EXPECT_EQ(faces.iteration_count(), 6);
        EXPECT_TRUE(faces.contains(reinterpret_cast<FACE*>(created.Get(0).GetValue())) == (body == handed[1]));
    }
}

TEST_F(ImporterDispatch, WiresAndPointsTakeTheWireRoadBesideTheSolidAndNameTheirSource)
{
    // One body holding a block, a wire and a point wire.
    TestModel model = TestModel::block(1, 2, 3);
    TestModel wire = TestModel::polylineWire({{0, 0, 5}, {1, 0, 5}, {1, 1, 5}});
    TestModel points = TestModel::pointWire({{3, 0, 0}, {4, 0, 0}});
    const int w = model.append(wire), p = model.append(points);
    for (int k : model.bodies[static_cast<std::size_t>(w)].wires)
        model.bodies[0].wires.push_back(k);
    for (int k : model.bodies[static_cast<std::size_t>(p)].pointWires)
        model.bodies[0].pointWires.push_back(k);
    model.bodies.resize(1);
    for (bool corvane : {true, false}) {
        SCOPED_TRACE(corvane ? "source pointers known" : "no source pointers");
        ImporterRun run(model);
        run.source().attributes().corvane = corvane;
        qelx_test::EventRecorder events;
        EXPECT_EQ(run.import(), QELI_OK) << warningsOf(events);
        // The solid, then the wire body, then one acorn body per point.
        ASSERT_EQ(run.result().size(), 4u) << warningsOf(events);
        EXPECT_EQ(countsText(run.result())[0], "6f 12e 8v");
        for (std::size_t k = 1; k < 4; ++k) {
            ATTRIB_GEN_NAME* source = nullptr;
            ASSERT_TRUE(api_find_named_attribute(run.result()[k], "entity source", source).ok());
            EXPECT_EQ(source != nullptr, corvane) << "body " << k;
            EXPECT_EQ(findingsOf(run.result()[k]), std::vector<std::string>());
        }
        EXPECT_EQ(run.postImport(), QELI_OK);
        EXPECT_EQ(run.summary(), (std::vector<int>{0, 1, 0, 3, 0, 0, 0, 0}));
    }
}

TEST_F(ImporterDispatch, AnEntityTheKernelCannotMakeFailsItsBodyAloud)
{
    // One entity of each kind in the first body cannot be allocated: the
    // body fails, rather than coming out whole but open round the gap.
    for (const char* kind :
         {"QELXVelmFacePair", "QELXVelmLoopPair", "QELXVelmCoedgePair", "QELXVelmEdgePair", "QELXVelmVertexPair"}) {
        SCOPED_TRACE(kind);
        ImporterRun run(blocks(2));
        qelx_test::EventRecorder events;
        velm_test_fail_alloc(kind, 3);
        EXPECT_EQ(run.import(), QELI_OK);
        EXPECT_FALSE(velm_test_injection_pending());
        velm_test_reset();
        EXPECT_EQ(countsText(run.result()), (std::vector<std::string>{"6f 12e 8v"}));
        const std::vector<std::string> warnings = events.names("Warning");
        ASSERT_EQ(warnings.size(), 1u) << warningsOf(events);
        EXPECT_NE(warnings[0].find("BRep body 1000000000001: not imported, the kernel failed"), std::string::npos)
            << warnings[0];
    }
}

// A body whose link to its source the kernel has no memory for ends the
// conversion, as running out of kernel memory anywhere does, whichever body
// it is: never a body written without its link as though nothing happened.
TEST_F(ImporterDispatch, ABodyTheKernelHasNoMemoryToLinkToItsSourceEndsTheConversion)
{
    TestModel model = TestModel::polylineWire({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}});
    for (int k = 1; k < 3; ++k)
        model.append(TestModel::polylineWire({{0, 0, 2.0 * k}, {1, 0, 2.0 * k}, {1, 1, 2.0 * k}}));
    for (int nth = 1; nth <= 3; ++nth) {
        SCOPED_TRACE("link " + std::to_string(nth));
        ImporterRun run(model);
        velm_test_fail_alloc("QELXVelmBRepImporter", nth);
        EXPECT_THROW(run.import(), QELXAllocException);
        EXPECT_FALSE(velm_test_injection_pending());
        velm_test_reset();
    }
    // Each link made: every body imported with its own.
    ImporterRun run(model);
    ASSERT_EQ(run.import(), QELI_OK);
    ASSERT_EQ(run.result().size(), 3u);
    for (BODY* body : run.result()) {
        ATTRIB_GEN_NAME* source = nullptr;
        ASSERT_TRUE(api_find_named_attribute(body, "entity source", source).ok());
        EXPECT_NE(source, nullptr);
    }
}

TEST_F(ImporterDispatch, LooseFacesApartBecomeBodiesApartAndEachReachesTheResult)
{
    // One body of loose faces in two groups that share nothing.
    TestModel model = TestModel::twoFacesSharingEdge();
    TestModel far = TestModel::twoFacesSharingEdge();
    for (qelx_test::Vec3& p : far.points)
        p[2] += 10.0;
    const int b = model.append(far);
    for (int shell : model.bodies[static_cast<std::size_t>(b)].shells2D)
        model.bodies[0].shells2D.push_back(shell);
    model.bodies.resize(1);
    model = looseFaces(model);
    ImporterRun run(model);
    qelx_test::EventRecorder events;
    EXPECT_EQ(run.import(), QELI_OK);
    EXPECT_EQ(countsText(run.result()), (std::vector<std::string>{"2f 7e 6v", "2f 7e 6v"})) << warningsOf(events);
    EXPECT_EQ(run.postImport(), QELI_OK);
    EXPECT_EQ(run.handedOver().size(), 2u);
}
