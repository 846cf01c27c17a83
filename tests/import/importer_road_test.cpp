// The importer as the framework drives it: Import, then PostImport, over a
// source document of another format or a kernel document of its own kind.
#include "importer_support.hxx"

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "qelx_velm/ve_option_doc.hxx"

#include "qelx_velm/velm_entity_utils.hxx"
#include "support/arc_models.hxx"
#include "support/geometry_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/query.hxx"
#include "velm/save.hxx"
#include "export/brep_exporter.hxx"
#include "model/kernel_call_bracket.hxx"

using namespace importtest;
using qelx_test::TestModel;

class ImporterRoad : public ImportTest {};

TEST_F(ImporterRoad, TopologyBodiesComeWholeAndCleanInEveryFrame)
{
    for (const Frame& frame : frames()) {
        SCOPED_TRACE(frame.name);
        TestModel model = TestModel::block(1, 2, 3);
        model.append(TestModel::cylinder(1.0, 2.0));
        ImporterRun run(model, frame.morph);
        qelx_test::EventRecorder events;
        EXPECT_EQ(run.import(), QELI_OK) << ::testing::PrintToString(events.names("Warning"));
        ASSERT_EQ(run.result().size(), 2u);
        EXPECT_EQ(countsText(run.result()), (std::vector<std::string>{"6f 12e 8v", "3f 3e 2v"}));
        for (BODY* b : run.result())
            EXPECT_EQ(findingsOf(b), std::vector<std::string>());
        // A coedge on a plane needs no pcurve and gets none; one on the
        // cylinder's wall (its seam a ruling, its rims circles of constant
        // height) gets the exact two-point line lying on its edge, not a fit.
        int onPlanes = 0, onWall = 0;
        for (BODY* b : run.result()) {
            ENTITY_LIST coedges;
            api_get_coedges(b, coedges);
            for (int i = 0; i < coedges.count(); ++i) {
                const auto* c = static_cast<const COEDGE*>(coedges[i]);
                if (c->loop()->face()->geometry()->equation().type() == 1) {
                    ++onPlanes;
                    EXPECT_EQ(c->geometry(), nullptr);
                } else {
                    ++onWall;
                    ASSERT_NE(c->geometry(), nullptr);
                    EXPECT_LT(testkit::worst_pcurve_gap(c), QELresfit);
                    EXPECT_EQ(bs2_curve_degree(c->geometry()->def().cur()), 1);
                }
            }
        }
        EXPECT_EQ(onPlanes, 24 + 2);
        EXPECT_GT(onWall, 0);
        // Faces point out: the block's centre, carried into the frame, is inside.
        QELXPoint3D centre(0.5, 1.0, 1.5);
        centre.Transform(frame.morph, false);
        point_containment where = pc_unknown;
        ASSERT_TRUE(api_point_in_body(QELposition(centre[0], centre[1], centre[2]), run.result()[0], where).ok());
        EXPECT_EQ(where, pc_inside);
        EXPECT_EQ(run.postImport(), QELI_OK);
        EXPECT_EQ(run.handedOver().size(), 2u);
        EXPECT_EQ(run.summary(), (std::vector<int>{0, 2, 0, 0, 0, 0, 0, 0}));
    }
}

namespace {

// A kernel document holding the model's bodies, made through the importer
// itself, in the given unit.
QELXDocumentHandle kernelDocumentOf(const TestModel& model, QELXUnit unit)
{
    auto* document = new QELXVelmDocument;
    QELXDocumentHandle held(document);
    qelx_test::TestDocument sourceDocument(model);
    qelx_test::TestBRepExporter source(&sourceDocument);
    QELXVelmBRepImporter importer(document);
    EXPECT_EQ(importer.Import(&source), QELI_OK);
    EXPECT_EQ(importer.PostImport(), QELI_OK);
    document->SetUnit(unit);
    return held;
}

std::vector<QELXPoint3D> vertexPoints(const ENTITY* body)
{
    std::vector<QELXPoint3D> out;
    ENTITY_LIST vertices;
    api_get_vertices(body, vertices);
    for (int i = 0; i < vertices.count(); ++i)
        out.push_back(ve_view<Ve_VertexTag>(static_cast<VERTEX*>(vertices[i]))->getPoint());
    return out;
}

} // namespace

TEST_F(ImporterRoad, AKernelDocumentIsCopiedBodyByBodyScaledAndHealed)
{
    for (const char* xType : {"XVelm", "XInventor"})
        for (bool failFirstCopy : {false, true}) {
            SCOPED_TRACE(std::string(xType) + (failFirstCopy ? ", first copy failing" : ""));
            QELXDocumentHandle sourceDocument = kernelDocumentOf(blocks(2), QELX_UNIT_INCH);
            sourceDocument->SetXType(xType);
            QELXBRepExporter* made = nullptr;
            ASSERT_EQ(QELXCreateVelmBRepExporter(sourceDocument.get(), &made), QELI_OK);
            const QELXBRepExporterHandle exporter(made);
            ASSERT_EQ(exporter->PreProcess(), QELI_OK);
            std::vector<ENTITY*> originals;
            for (int i = 0; i < 2; ++i) {
                QELXIdentifier id;
                exporter->GetBody(i, id);
                originals.push_back(QELXVelmEntityUtils::GetEntity(id));
            }

            QELXVelmDocument target; // millimetres
            target.SetUnit(QELX_UNIT_MILLIMETER);
            QELXVelmBRepImporter importer(&target);
            qelx_test::EventRecorder events;
            qelx_test::AssertRecorder asserts;
            Gk_ObsWraper::log().clear();
            if (failFirstCopy)
                velm_test_fail_call("api_copy_body", 1, qelvelm_api_errmod.message_code(0));
            EXPECT_EQ(importer.Import(exporter.get()), QELI_OK);
            const std::vector<qelx_test::StageRecord> stages = events.stages();
            ASSERT_EQ(stages.size(), 2u);
            EXPECT_EQ(stages[0].name, "Body");
            EXPECT_EQ(stages[0].count, 2);
            EXPECT_DOUBLE_EQ(stages[0].weight, 0.6);
            EXPECT_FALSE(stages[0].lastStage);
            EXPECT_EQ(stages[1].name, "ToVelmRepair");
            EXPECT_DOUBLE_EQ(stages[1].weight, 0.4);
            EXPECT_TRUE(stages[1].lastStage);
            EXPECT_TRUE(stages[1].finished);
            // Every body is reported, copied or not.
            int translated = 0;
            for (const qelx_test::EventRecord& r : events.records()) {
                if (r.kind == "StartTranslate" && r.name == "Body") {
                    EXPECT_EQ(r.number, ++translated);
                }
            }
            EXPECT_EQ(translated, 2);
            std::vector<std::string> phase;
            for (const Gk_ObsCall& c : Gk_ObsWraper::log())
                if (c.observer == "CoreTplgyBodyTransPhase")
                    phase.push_back(c.call + " " + std::to_string(c.value));
            EXPECT_EQ(phase, (std::vector<std::string>{"setMax 2", "setDone 1", "setDone 2", "setOver 0"}));
            EXPECT_EQ(asserts.has("ve_bodytag", 258), failFirstCopy);

            const std::size_t copies = failFirstCopy ? 1 : 2;
            ASSERT_EQ(importer.GetNumberOfImportedBodies(), static_cast<int>(copies));
            EXPECT_EQ(importer.GetImportedBodyAt(static_cast<int>(copies)), nullptr);
            for (std::size_t k = 0; k < copies; ++k) {
                auto* copy = reinterpret_cast<BODY*>(importer.GetImportedBodyAt(static_cast<int>(k)));
                const ENTITY* original = originals[k + (failFirstCopy ? 1 : 0)];
                EXPECT_NE(copy, original);
                EXPECT_EQ(copy->transform(), nullptr);
                EXPECT_EQ(findingsOf(copy), std::vector<std::string>());
                const std::vector<QELXPoint3D> from = vertexPoints(original), to = vertexPoints(copy);
                ASSERT_EQ(from.size(), to.size());
                for (std::size_t v = 0; v < from.size(); ++v)
                    EXPECT_LT(to[v].Distance(from[v] * 25.4), 1e-9);
            }
            EXPECT_EQ(importer.PostImport(), QELI_OK);
            EXPECT_EQ(target.GetNativeEntityList()->iteration_count(), static_cast<int>(copies));
        }
}

TEST_F(ImporterRoad, StagesRunInOrderWeightedByTheirShareOfTheSource)
{
    TestModel model = blocks(3);
    model.freeSurface(model.addPlane({0, 0, 0}, {1, 0, 0}, {0, 0, 1}));
    model.freePoint({1, 2, 3});
    model.freePoint({4, 5, 6});
    ImporterRun run(model);
    qelx_test::EventRecorder events;
    EXPECT_EQ(run.import(), QELI_OK) << "the bodies were made";
    const std::vector<qelx_test::StageRecord> stages = events.stages();
    std::vector<std::string> top;
    for (const qelx_test::StageRecord& s : stages)
        if (s.name != "Face" && s.name != "Edge") {
            top.push_back(s.name + " " + std::to_string(s.count));
            EXPECT_FALSE(s.lastStage);
            EXPECT_TRUE(s.finished);
            EXPECT_NEAR(s.weight, s.count * 0.6 / 6.0, 1e-15) << s.name;
        }
    EXPECT_EQ(top, (std::vector<std::string>{"Body 3", "FreeSurface 1", "FreePoint 2"}));
    // A body's own stages come inside "Body", before its translate event:
    // faces, then edges, the body reported last.
    std::vector<std::string> first;
    for (const qelx_test::EventRecord& r : events.records()) {
        if (r.kind == "Stage")
            first.push_back(r.name + (r.finished ? " end" : " start"));
        else if (r.kind == "EndTranslate" && r.targets.size() == 1 && r.targets[0].type == "QELXBRepTypeBody")
            first.push_back("body made");
        else if (r.kind == "StartTranslate" && r.name == "Body")
            first.push_back("Body " + std::to_string(r.number));
        if (first.size() == 8)
            break;
    }
    EXPECT_EQ(first, (std::vector<std::string>{"Body start", "Face start", "Face end", "Edge start", "Edge end",
                                               "body made", "Body 1", "Face start"}));
    // Each body's translate event comes after its own stages, inside "Body".
    std::vector<std::string> order;
    for (const qelx_test::EventRecord& r : events.records())
        if ((r.kind == "Stage" && r.name != "Face" && r.name != "Edge") ||
            (r.kind == "StartTranslate" && r.name == "Body"))
            order.push_back(r.name + (r.kind == "Stage" ? (r.finished ? " end" : " start") : " " + std::to_string(r.number)));
    EXPECT_EQ(order, (std::vector<std::string>{"Body start", "Body 1", "Body 2", "Body 3", "Body end",
                                               "FreeSurface start", "FreeSurface end", "FreePoint start",
                                               "FreePoint end"}));
    // The blocks, the free surface and the free points.
    EXPECT_EQ(run.result().size(), 6u);
}

TEST_F(ImporterRoad, NothingToImportGivesNothingConvertedUnlessTheDocumentHasALayerFilter)
{
    for (bool filter : {false, true}) {
        SCOPED_TRACE(filter ? "with a layer filter" : "empty");
        ImporterRun run{TestModel()};
        QELGROUP* group = nullptr;
        if (filter) {
            ASSERT_TRUE(velmCall([&] { group = velm_require(VELM_NEW QELGROUP()); }).ok());
            run.importer().GetDocumentTag()->AddLayerFilter(group);
        }
        qelx_test::EventRecorder events;
        EXPECT_EQ(run.import(), filter ? QELI_OK : QELI_NOTHING);
        EXPECT_EQ(events.count("Stage"), 0);
        if (group)
            api_del_entity(group);
    }
}

TEST_F(ImporterRoad, RefusedSourcesChangeNothingAndAnImportSetsTheFileUnits)
{
    FileInfo info;
    info.set_units(1.0);
    ASSERT_TRUE(api_set_file_info(FileInfo_units, info).ok());
    ImporterRun run(blocks(1));
    run.target().SetUnit(QELX_UNIT_INCH);
    EXPECT_EQ(run.importer().Import(nullptr), QELI_NO_SOURCE);
    ASSERT_NE(save_info, nullptr);
    EXPECT_EQ(save_info->units(), 1.0) << "the file units are untouched";
    // A representation that is not a B-rep.
    qelx_test::TestHeader header(&run.sourceDocument(), run.sourceDocument().model());
    EXPECT_EQ(run.importer().Import(&header), QELI_FAIL);
    EXPECT_TRUE(run.result().empty());
    // The target document's unit becomes the kernel's file unit.
    EXPECT_EQ(run.import(), QELI_OK);
    EXPECT_DOUBLE_EQ(save_info->units(), 25.4);
    info.set_units(1.0);
    api_set_file_info(FileInfo_units, info);
}

TEST_F(ImporterRoad, ACopyIntoAMirroredFrameStaysCleanAndPointsOut)
{
    QELXDocumentHandle sourceDocument = kernelDocumentOf(blocks(1), QELX_UNIT_MILLIMETER);
    QELXBRepExporter* made = nullptr;
    ASSERT_EQ(QELXCreateVelmBRepExporter(sourceDocument.get(), &made), QELI_OK);
    const QELXBRepExporterHandle exporter(made);
    ASSERT_EQ(exporter->PreProcess(), QELI_OK);
    for (const Frame& frame : frames()) {
        SCOPED_TRACE(frame.name);
        QELXVelmDocument target;
        QELXVelmBRepImporter importer(&target);
        importer.SetImportFrame(frame.morph);
        ASSERT_EQ(importer.Import(exporter.get()), QELI_OK);
        ASSERT_EQ(importer.GetNumberOfImportedBodies(), 1);
        auto* copy = reinterpret_cast<BODY*>(importer.GetImportedBodyAt(0));
        EXPECT_EQ(findingsOf(copy), std::vector<std::string>());
        QELXPoint3D centre(0.5, 1.0, 1.5);
        centre.Transform(frame.morph, false);
        point_containment where = pc_unknown;
        ASSERT_TRUE(api_point_in_body(QELposition(centre[0], centre[1], centre[2]), copy, where).ok());
        EXPECT_EQ(where, pc_inside);
        EXPECT_EQ(importer.PostImport(), QELI_OK);
    }
}

TEST_F(ImporterRoad, TheDocumentReceivesWhatHealingMadeOfTheCopies)
{
    // One body of two lumps; the recipe separates it into two bodies.
    TestModel model = TestModel::block(1, 1, 1);
    TestModel second = TestModel::block(1, 1, 1);
    for (qelx_test::Vec3& p : second.points)
        p[0] += 5.0;
    const int b = model.append(second);
    for (int lump : model.bodies[static_cast<std::size_t>(b)].lumps)
        model.bodies[0].lumps.push_back(lump);
    model.bodies.resize(1);
    QELXDocumentHandle sourceDocument = kernelDocumentOf(model, QELX_UNIT_MILLIMETER);
    QELXBRepExporter* made = nullptr;
    ASSERT_EQ(QELXCreateVelmBRepExporter(sourceDocument.get(), &made), QELI_OK);
    const QELXBRepExporterHandle exporter(made);
    ASSERT_EQ(exporter->PreProcess(), QELI_OK);

    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("HealBodyPostProcessProE"));
    QELXVelmDocument target;
    QELXVelmBRepImporter importer(&target);
    EXPECT_EQ(importer.Import(exporter.get()), QELI_OK);
    EXPECT_EQ(importer.GetNumberOfImportedBodies(), 2);
    EXPECT_EQ(importer.GetDocumentTag()->GetNumberOfSolids(), 2);
    EXPECT_EQ(importer.PostImport(), QELI_OK);
    EXPECT_EQ(target.GetNativeEntityList()->iteration_count(), 2);
}

// A copy the recipe deletes (a VDA wire of one edge under the resolution)
// leaves the document's solids with the block alone: nothing later reads
// the deleted copy.
TEST_F(ImporterRoad, ACopyHealingDeletesLeavesTheDocument)
{
    TestModel model = TestModel::block(1, 2, 3);
    model.append(TestModel::polylineWire({{5, 0, 0}, {5 + 5e-7, 0, 0}}));
    QELXDocumentHandle sourceDocument = kernelDocumentOf(model, QELX_UNIT_MILLIMETER);
    QELXBRepExporter* made = nullptr;
    ASSERT_EQ(QELXCreateVelmBRepExporter(sourceDocument.get(), &made), QELI_OK);
    const QELXBRepExporterHandle exporter(made);
    ASSERT_EQ(exporter->PreProcess(), QELI_OK);
    int sources = 0;
    exporter->GetNumberOfBodies(sources);
    ASSERT_EQ(sources, 2) << "the short wire is a body of the kernel document";

    qelx_test::OptionScope options;
    options.on(Ve_OptionDoc::keyOf("HealBodyPostProcessVda"));
    QELXVelmDocument target;
    QELXVelmBRepImporter importer(&target);
    EXPECT_EQ(importer.Import(exporter.get()), QELI_OK);
    ASSERT_EQ(importer.GetNumberOfImportedBodies(), 1);
    ASSERT_EQ(importer.GetDocumentTag()->GetNumberOfSolids(), 1);
    EXPECT_EQ(countsOf(reinterpret_cast<ENTITY*>(importer.GetImportedBodyAt(0))).faces, 6);
    EXPECT_EQ(importer.PostImport(), QELI_OK);
    EXPECT_EQ(target.GetNativeEntityList()->iteration_count(), 1);
}

TEST_F(ImporterRoad, ADocumentThatOnlyRecordsAKernelTypeTakesTheFullRoads)
{
    // A neutral document written from a kernel document records "XVelm", but
    // holds no kernel bodies to copy.
    for (const char* recorded : {"XVelm", "XInventor"}) {
        SCOPED_TRACE(recorded);
        TestModel model = blocks(2);
        model.xType = recorded;
        ImporterRun run(model);
        qelx_test::EventRecorder events;
        EXPECT_EQ(run.import(), QELI_OK);
        EXPECT_EQ(countsText(run.result()), (std::vector<std::string>{"6f 12e 8v", "6f 12e 8v"}));
        for (const qelx_test::StageRecord& s : events.stages())
            EXPECT_NE(s.name, "ToVelmRepair") << "no copy road";
    }
}

// An ellipse whose source parameter is scaled (or reversed) against its
// angle: the edge runs over the image of its domain on the kernel ellipse,
// between its own vertices, whichever way the edge (against its curve or
// with it) and its coedge run, on the topological road and on the trim road
// a one-face sheet takes (its face cut by trim repair or not); the check
// finds nothing it does not find of the same sheet unscaled (whose
// quarter-arc pcurves run only near the angle between their knots).
TEST_F(ImporterRoad, AScaledEllipsesEdgeRunsOverItsOwnArcOnEveryRoadInEveryFrame)
{
    const std::pair<double, double> maps[] = {{1.0, 0.0}, {2.0, 0.5}, {-2.0, 0.3}, {-1.0, 0.5}, {0.5, -1.0}};
    const std::pair<bool, bool> ways[] = {{false, false}, {true, false}, {false, true}, {true, true}};
    for (const char* road : {"trim", "trim cut", "topological"}) {
        const bool topological = road == std::string("topological");
        qelx_test::OptionScope options;
        if (topological)
            options.on(Ve_OptionDoc::keyOf("ImportSingleFace2DShellAsTopology"));
        if (road == std::string("trim cut"))
            options.on(Ve_OptionDoc::keyOf("RepairTrim"));
        for (const auto& [arcReversed, edgeTurned] : ways)
            for (const Frame& frame : frames()) {
                std::vector<std::string> unscaled;
                for (const auto& [scale, offset] : maps) {
                    SCOPED_TRACE(testing::Message() << road << ", map " << scale
                                                    << ", " << offset << (arcReversed ? ", arc reversed, " : ", arc forward, ")
                                                    << (edgeTurned ? "edge turned, " : "") << frame.name);
                    arcmodels::HalfEllipse half = arcmodels::halfEllipsePastAPeriod(2.0, 1.0, arcReversed);
                    if (edgeTurned)
                        arcmodels::turnEdgeAgainstItsCurve(half.model, half.arcEdge);
                    half.model.reparametriseCurve(half.arc, scale, offset);
                    ImporterRun run(half.model, frame.morph);
                    EXPECT_EQ(run.import(), QELI_OK);
                    ASSERT_EQ(run.result().size(), 1u);
                    if (scale == 1.0 && offset == 0.0)
                        unscaled = findingsOf(run.result()[0]);
                    else
                        EXPECT_EQ(findingsOf(run.result()[0]), unscaled);
                    const QELXPoint3D apex = frame.morph.Apply(QELXPoint3D(2.0, 0.0, 0.0));
                    ENTITY_LIST edges;
                    api_get_edges(run.result()[0], edges);
                    int arcs = 0;
                    for (int i = 0; i < edges.count(); ++i) {
                        const EDGE* e = static_cast<EDGE*>(edges[i]);
                        if (!e->geometry() || is_STRAIGHT(&e->geometry()->equation()))
                            continue;
                        ++arcs;
                        EXPECT_LT(arcmodels::edgeArcGap(e, QELposition(apex[0], apex[1], apex[2])), 1e-9);
                    }
                    EXPECT_EQ(arcs, 1);
                }
            }
    }
}

// A source that frees its geometry as the roads release it: the bodies come
// as they come from a source that keeps it, and a table goes only once every
// face (surfaces) or edge (curves) released it and nothing else may ask for
// it: free geometry, or a surface made from a curve, keeps its table.
TEST_F(ImporterRoad, GeometryFreedAsReleasedLeavesTheBodiesAsTheyCome)
{
    struct Case {
        const char* name;
        std::function<TestModel()> model;
        bool surfacesGo, curvesGo;
    };
    const std::vector<Case> cases = {
        {"block and cylinder",
         [] {
             TestModel m = TestModel::block(1, 2, 3);
             m.append(TestModel::cylinder(1.0, 2.0));
             return m;
         },
         true, true},
        {"with a free surface and curve",
         [] {
             TestModel m = TestModel::block(1, 2, 3);
             m.freeSurface(m.addPlane({0, 0, 5}, {1, 0, 0}, {0, 0, 1}));
             m.freeCurve(m.addLine({0, 0, 5}, {1, 0, 5}));
             return m;
         },
         false, false},
        {"with a surface made from a curve", [] {
             TestModel m = TestModel::block(1, 2, 3);
             const int profile = m.addLine({5, 0, 0}, {5, 0, 1});
             m.addRevolved(profile, {0, 0, 0}, {0, 0, 1}, 0.0, 1.0);
             return m;
         },
         false, false},
    };
    for (const Frame& frame : frames())
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(frame.name) + ", " + c.name);
            ImporterRun kept(c.model(), frame.morph);
            std::vector<std::string> keptWarnings;
            {
                qelx_test::EventRecorder events;
                ASSERT_EQ(kept.import(), QELI_OK);
                keptWarnings = events.names("Warning");
            }
            ImporterRun freed(c.model(), frame.morph);
            freed.source().freeReleasedGeometry(true);
            qelx_test::EventRecorder events;
            ASSERT_EQ(freed.import(), QELI_OK);
            EXPECT_EQ(events.names("Warning"), keptWarnings);
            EXPECT_EQ(countsText(freed.result()), countsText(kept.result()));
            for (BODY* b : freed.result())
                EXPECT_EQ(findingsOf(b), std::vector<std::string>());
            const TestModel& left = freed.sourceDocument().model();
            EXPECT_EQ(left.surfaces.empty(), c.surfacesGo);
            EXPECT_EQ(left.curves.empty(), c.curvesGo);
            EXPECT_EQ(freed.postImport(), QELI_OK);
        }
}

namespace {

// The model's faces dealt out, in a seeded order, to `bodies` bodies that
// list them loose: an edge between faces of two bodies is named by both.
// `bodies` equal to the face count gives each face a body of its own.
TestModel facesDealtToBodies(TestModel m, int bodies, std::mt19937& rng)
{
    std::vector<int> faces;
    for (const qelx_test::TestShell& shell : m.shells)
        faces.insert(faces.end(), shell.faces.begin(), shell.faces.end());
    std::shuffle(faces.begin(), faces.end(), rng);
    m.bodies.assign(static_cast<std::size_t>(bodies), qelx_test::TestBody());
    m.lumps.clear();
    m.volumes.clear();
    m.shells.clear();
    for (std::size_t i = 0; i < faces.size(); ++i) {
        // Every body gets one face first, the rest go anywhere.
        const std::size_t b = i < m.bodies.size()
                                  ? i
                                  : std::uniform_int_distribution<std::size_t>(0, m.bodies.size() - 1)(rng);
        m.bodies[b].faces.push_back(faces[i]);
    }
    return m;
}

std::vector<std::string> curvelessEdges(const std::vector<BODY*>& bodies)
{
    std::vector<std::string> out;
    for (std::size_t b = 0; b < bodies.size(); ++b) {
        ENTITY_LIST edges;
        api_get_edges(bodies[b], edges);
        for (int i = 0; i < edges.count(); ++i)
            if (!static_cast<const EDGE*>(edges[i])->geometry())
                out.push_back("body " + std::to_string(b) + " edge " + std::to_string(i));
    }
    return out;
}

} // namespace

// Faces sharing edges across the bodies that list them: each body's copy of
// a shared edge comes with its curve and domain when the source frees its
// geometry as the roads release it (the curves went once every edge had been
// released by its first body, and the later bodies' copies had none).
TEST_F(ImporterRoad, EdgesSharedBetweenBodiesComeWholeToEachWhenGeometryIsFreedAsReleased)
{
    const int seeds = static_cast<int>(testkit::sweep_runs(6));
    for (const Frame& frame : frames())
        for (int seed = 0; seed < seeds; ++seed) {
            std::mt19937 rng(static_cast<unsigned>(seed) * 7919u + 17u);
            TestModel whole = TestModel::block(1, 2, 3);
            whole.append(TestModel::cylinder(1.0, 2.0));
            whole.append(TestModel::sheetWithHole());
            const int faceCount = static_cast<int>(whole.faces.size());
            // The first seed gives every face a body of its own.
            const int bodies =
                seed == 0 ? faceCount : std::uniform_int_distribution<int>(2, faceCount - 1)(rng);
            const TestModel model = facesDealtToBodies(whole, bodies, rng);
            SCOPED_TRACE(std::string(frame.name) + ", seed " + std::to_string(seed) + ", " +
                         std::to_string(bodies) + " bodies");
            ImporterRun kept(model, frame.morph);
            ASSERT_EQ(kept.import(), QELI_OK);
            ImporterRun freed(model, frame.morph);
            freed.source().freeReleasedGeometry(true);
            qelx_test::EventRecorder events;
            ASSERT_EQ(freed.import(), QELI_OK);
            EXPECT_EQ(events.names("Warning"), std::vector<std::string>());
            ASSERT_EQ(countsText(freed.result()), countsText(kept.result()));
            EXPECT_EQ(curvelessEdges(freed.result()), std::vector<std::string>());
            for (BODY* b : freed.result())
                EXPECT_EQ(findingsOf(b), std::vector<std::string>());
            // Every table went, once its last user had it.
            EXPECT_TRUE(freed.sourceDocument().model().curves.empty());
            EXPECT_TRUE(freed.sourceDocument().model().surfaces.empty());
        }
}
