// `xvelm convert` from a file with a kernel call failing, or a kernel
// allocation failing, at points over the whole run (read, import, healing,
// walk, write): the run fails with one line and no output file, or (where
// healing absorbs the failed step) writes a result the peer finds valid and
// whole (the clean run's solids, faces, volume and area); no crash and
// nothing left alive either way.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <filesystem>
#include <optional>
#include <set>

#include <BRepBuilderAPI_Transform.hxx>
#include <BRepTools.hxx>
#include <BRepPrimAPI_MakeCylinder.hxx>
#include <IGESControl_Controller.hxx>
#include <IGESControl_Writer.hxx>
#include <STEPControl_Writer.hxx>

#include "convert_run.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx/test_assembly.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "qelx_formats/step_assembly.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/holder_assembly.hxx"
#include "support/repair_sweep.hxx"
#include "velm/errors.hxx"
#include "velm/testkit.hxx"

namespace {

namespace fs = std::filesystem;
using convert_run::ConvertRun;

struct SweepScratch {
    SweepScratch() : path(fs::temp_directory_path() / ("convert_sweep_" + std::to_string(::getpid())))
    {
        fs::remove_all(path);
        fs::create_directories(path);
    }
    ~SweepScratch() { fs::remove_all(path); }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
    fs::path path;
};

// A cylinder on a tilted axis, mirrored: a seam, a periodic surface and
// circles in a frame that is not the identity.
TopoDS_Shape mirroredCylinder()
{
    const TopoDS_Shape cylinder = BRepPrimAPI_MakeCylinder(gp_Ax2(gp_Pnt(1, 2, 3), gp_Dir(1, 1, 2)), 2.0, 3.0).Shape();
    gp_Trsf mirror;
    mirror.SetMirror(gp_Ax2(gp_Pnt(0, 0, 1), gp_Dir(1, 0, 1)));
    return BRepBuilderAPI_Transform(cylinder, mirror, true).Shape();
}

// The cylinder written by the peer as IGES faces (trimmed surfaces), so that
// the file takes the trim and stitch roads, or as an IGES solid (a manifold
// solid of faces in shells), so that it takes the topological road.
std::string mirroredCylinderIges(const SweepScratch& dir, bool asSolid = false)
{
    IGESControl_Controller::Init();
    IGESControl_Writer writer("MM", asSolid ? 1 : 0);
    writer.AddShape(mirroredCylinder());
    writer.ComputeModel();
    const std::string path = dir / (asSolid ? "cylinder_solid.igs" : "cylinder.igs");
    EXPECT_TRUE(writer.Write(path.c_str()));
    return path;
}

// A small STEP assembly: a holder of a plate and a pin, placed twice (once
// turned), so that the file takes the assembly road.
std::string holderAssemblyStep(const SweepScratch& dir)
{
    qelx_test::TestAssembly a;
    const int holder = holdertest::addHolder(a, {qelx_test::placementTranslation(1.5, 1.5, 1)}).holder;
    a.place(-1, holder, "holder-1", qelx_test::placementTranslation(0, 0, 0));
    a.place(-1, holder, "holder-2", qelx_test::placementTurnZ(1.0, 20, 0, 0));
    const std::string path = dir / "holders.step";
    std::string error;
    EXPECT_EQ(qelx_formats::writeStepAssembly(a, path, error), QELI_OK) << error;
    return path;
}

// The holder assembly with names, colours and layers: the plate's body blue
// on layer "Plates", its top face red, named and on a layer of its own, the
// pin green on layer "Pins", one pin instance yellow of its own; so that the
// assembly road also carries attributes and layers onto the flattened bodies.
std::string attributedHolderAssemblyStep(const SweepScratch& dir)
{
    qelx_test::TestAssembly a;
    const int holder = holdertest::addHolder(a, {qelx_test::placementTranslation(1.5, 1.5, 1)}, true).holder;
    a.place(-1, holder, "holder-1", qelx_test::placementTranslation(0, 0, 0));
    a.place(-1, holder, "holder-2", qelx_test::placementTurnZ(1.0, 20, 0, 0));
    const std::string path = dir / "attributed_holders.step";
    std::string error;
    EXPECT_EQ(qelx_formats::writeStepAssembly(a, path, error), QELI_OK) << error;
    return path;
}

// The cylinder written by the peer as a BREP file, so that the file takes
// the BREP reader's road in.
std::string mirroredCylinderBrep(const SweepScratch& dir)
{
    const std::string path = dir / "cylinder.brep";
    EXPECT_TRUE(BRepTools::Write(mirroredCylinder(), path.c_str()));
    return path;
}

// The cylinder written by the peer as a STEP solid: a small sample for the
// sweeps that run once per road or recipe.
std::string mirroredCylinderStep(const SweepScratch& dir)
{
    STEPControl_Writer writer;
    EXPECT_EQ(writer.Transfer(mirroredCylinder(), STEPControl_AsIs), IFSelect_RetDone);
    const std::string path = dir / "cylinder.step";
    EXPECT_EQ(writer.Write(path.c_str()), IFSelect_RetDone);
    return path;
}

// What an undisturbed conversion of the file writes, as the peer measures it.
struct Undisturbed {
    cad_samples::Measures measures;
    long calls = 0, allocations = 0;
    std::vector<std::string> callNames;
};

class ConvertSweep : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        velm_test_reset();
    }
    // Each run starts from a framework reset: the road and recipe are set again.
    void startRun()
    {
        qelx_test::resetFramework();
        velm_test_reset();
        // Solids through the trim road: each face a sheet, stitched again by the healing.
        if (m_trimRoad)
            Gk_ImportMachine::setRule("XVelm", "XStep", Gk_ImportMachine::Tplgy, false);
        // Each face cut by the trimmed-face controller from its surface and loops.
        m_options.reset();
        if (m_trimRepair) {
            m_options.emplace();
            m_options->on(Ve_OptionDoc::keyOf("RepairTrim"));
        }
    }
    void TearDown() override
    {
        m_options.reset();
        velm_test_reset();
        qelx_test::resetFramework();
    }

    Undisturbed undisturbed(const std::string& in, const std::string& out)
    {
        startRun();
        velm_test_record_calls(true);
        const ConvertRun run = convert_run::runConvert(in, out, m_heal);
        Undisturbed u;
        u.callNames = velm_test_failable_calls();
        u.calls = static_cast<long>(u.callNames.size());
        u.allocations = velm_test_allocation_count();
        velm_test_reset();
        EXPECT_EQ(run.status, 0) << run.err;
        u.measures = cad_samples::measure(cad_samples::peerRead(out));
        EXPECT_TRUE(u.measures.valid);
        fs::remove(out);
        return u;
    }

    // One run with a failure armed by `arm`; false once the failure no
    // longer fires (the run ended before reaching it).
    bool failedRun(const std::string& in, const std::string& out, const Undisturbed& whole, const std::string& where,
                   const std::function<void()>& arm)
    {
        SCOPED_TRACE(where);
        startRun();
        const long objects = velm_live_object_count();
        velm_test_record_object_sites(true);
        arm();
        const ConvertRun run = convert_run::runConvert(in, out, m_heal);
        const bool fired = !velm_test_injection_pending();
        const std::string hit = velm_test_last_injected_call();
        velm_test_reset();
        set_global_error_info(nullptr);
        EXPECT_EQ(velm_live_object_count(), objects) << hit << ": left alive " << testkit::live_object_sites();
        EXPECT_TRUE(run.status == 0 || run.status == 1) << hit << ": " << run.err;
        if (run.status == 0) {
            ++m_absorbed;
            const cad_samples::Measures m = cad_samples::measure(cad_samples::peerRead(out));
            EXPECT_TRUE(m.valid) << hit << ": " << run.out;
            // Nothing short: a dropped face or body would have to fail the run.
            EXPECT_EQ(m.solids, whole.measures.solids) << hit << ": " << run.out;
            EXPECT_EQ(m.faces, whole.measures.faces) << hit << ": " << run.out;
            EXPECT_LE(cad_samples::relativeGap(m.volume, whole.measures.volume), 1e-4) << hit << ": " << run.out;
            EXPECT_LE(cad_samples::relativeGap(m.area, whole.measures.area), 1e-4) << hit << ": " << run.out;
        } else {
            ++m_refused;
            EXPECT_EQ(convert_run::driverMessages(run.err), 1) << hit << ": " << run.err;
            EXPECT_EQ(convert_run::lastLine(run.err).rfind("xvelm: ", 0), 0u) << hit << ": " << run.err;
            EXPECT_TRUE(run.out.empty()) << hit << ": " << run.out;
            EXPECT_FALSE(fs::exists(out)) << hit;
        }
        fs::remove(out);
        return fired;
    }

    // What a sweep covered, for a whole sweep run by hand.
    void reportCoverage(const char* heal, const char* what, long swept, long count) const
    {
        std::printf("[ covered  ] %s%ld of %ld %s failing in turn: %d refused, %d absorbed\n",
                    heal ? (std::string(heal) + " recipe: ").c_str() : "", swept, count, what, m_refused, m_absorbed);
    }

    int m_absorbed = 0, m_refused = 0;
    bool m_trimRoad = false;
    bool m_trimRepair = false;
    std::optional<qelx_test::OptionScope> m_options;
    const char* m_heal = nullptr; // the source's own recipe
};

} // namespace

// One sweep: the input, the road its solids take and the recipe that heals
// them. `ciRuns` runs are made unless XVELM_SWEEP_RUNS asks for more, and
// with `everyName` the first call of each name fails too. A whole sweep of
// the bracket's trim road is some 4,000 conversions of half a second each
// under the sanitizers: XVELM_SWEEP_SHARD splits it over processes.
struct SweepCase {
    std::string name;
    // "bracket": our STEP example; "cylinder-igs", "cylinder-igs-solid" and "cylinder-step": the
    // peer's; "holder-assembly": a STEP assembly; "shapes-vlt": our save file of every kind of body, "shapes-json": the same as a neutral document
    const char* input;
    bool trimRoad = false;
    // The recipes that heal it in turn (null: the recipe of the source's system).
    std::vector<const char*> heals = {nullptr};
    long ciRuns = 20;
    bool everyName = true;
    bool wholeOnly = false; // run only when a whole sweep is asked for
    const char* output = ".step"; // the kind of file written
    bool trimRepair = false;      // faces cut by the trimmed-face controller
};

std::ostream& operator<<(std::ostream& out, const SweepCase& c)
{
    return out << c.name;
}

// The cases: our STEP example (a named, coloured solid on a layer) and a
// mirrored cylinder the peer writes as IGES faces, each by its own road and
// recipe; the STEP example and the cylinder as a STEP solid through the trim
// road (every face a sheet, stitched again by the healing); the cylinder as
// an IGES solid (the topological road) and a small STEP assembly; the
// cylinder healed by each other recipe, a few runs each; our save file of
// every kind of body written as STEP, IGES and BREP, and read as a neutral
// document into STEP.
std::vector<SweepCase> sweepCases()
{
    std::vector<SweepCase> cases = {
        {"bracket", "bracket"},
        {"cylinder_iges", "cylinder-igs"},
        {"cylinder_trim_road", "cylinder-step", true, {nullptr}, 12, false},
        {"bracket_trim_road", "bracket", true, {nullptr}, 20, true, true},
        {"cylinder_iges_solid", "cylinder-igs-solid", false, {nullptr}, 10, false},
        {"holder_assembly", "holder-assembly", false, {nullptr}, 10, false},
        // A save file of every kind of body out to each format: restore, walk and writer.
        {"shapes_to_step", "shapes-vlt", false, {nullptr}, 6, false, false, ".step"},
        {"shapes_to_iges", "shapes-vlt", false, {nullptr}, 6, false, false, ".igs"},
        {"shapes_to_brep", "shapes-vlt", false, {nullptr}, 6, false, false, ".brep"},
        // The same as a neutral document, imported and healed on its way to STEP.
        {"shapes_from_neutral", "shapes-json", false, {nullptr}, 6, false, false, ".step"},
        // Loose faces through the trim road with the trimmed-face controller, stitched by the healing.
        {"cylinder_iges_trim_repair", "cylinder-igs", true, {nullptr}, 4, false, false, ".step", true},
        // A BREP file in, out as STEP.
        {"cylinder_brep", "cylinder-brep", false, {nullptr}, 8, false},
        // An assembly whose parts, faces and instances carry names, colours and layers.
        {"attributed_assembly", "holder-assembly-attributed", false, {nullptr}, 4, false},
        {"attributed_assembly_to_iges", "holder-assembly-attributed", false, {nullptr}, 2, false, false, ".igs"},
        {"cylinder_healed_by_other_recipes", "cylinder-step", false, {}, 3, false},
        // The IGES faces healed by every other recipe: each source system's steps over loose faces
        // (the VDA-FS recipe in an ordinary run).
        {"cylinder_iges_healed_by_vda", "cylinder-igs", false, {"vda"}, 2, false},
        {"cylinder_iges_healed_by_other_recipes", "cylinder-igs", false, {}, 2, false, true},
        // The BREP file healed by each recipe: a source with no system of its own.
        {"cylinder_brep_healed_by_each_recipe", "cylinder-brep", false, {}, 1, false, true},
    };
    const auto addRecipes = [&cases](const std::string& name, const char* own) {
        for (SweepCase& c : cases)
            if (c.name == name)
                for (const xvelm::heal_recipe& r : xvelm::heal_recipes)
                    if (!own || std::string(r.name) != own)
                        c.heals.push_back(r.name);
    };
    addRecipes("cylinder_healed_by_other_recipes", "step");
    addRecipes("cylinder_iges_healed_by_other_recipes", "iges");
    addRecipes("cylinder_brep_healed_by_each_recipe", nullptr);
    return cases;
}

std::string sweepInput(const std::string& which, const SweepScratch& dir)
{
    if (which == "bracket")
        return std::string(XVELM_EXAMPLES_DIR) + "/bracket.step";
    if (which == "cylinder-igs-solid")
        return mirroredCylinderIges(dir, true);
    if (which == "holder-assembly")
        return holderAssemblyStep(dir);
    if (which == "holder-assembly-attributed")
        return attributedHolderAssemblyStep(dir);
    if (which == "cylinder-brep")
        return mirroredCylinderBrep(dir);
    const std::string shapes = std::string(XVELM_EXAMPLES_DIR) + "/shapes.vlt";
    if (which == "shapes-vlt")
        return shapes;
    if (which == "shapes-json") {
        const std::string path = dir / "shapes.json";
        const ConvertRun run = convert_run::runConvert(shapes, path);
        EXPECT_EQ(run.status, 0) << run.err;
        return path;
    }
    return which == "cylinder-igs" ? mirroredCylinderIges(dir) : mirroredCylinderStep(dir);
}

class ConvertSweepOf : public ConvertSweep, public ::testing::WithParamInterface<SweepCase> {
protected:
    void SetUp() override
    {
        ConvertSweep::SetUp();
        if (GetParam().wholeOnly && !testkit::whole_sweep_asked())
            GTEST_SKIP() << "a whole sweep only (XVELM_SWEEP_RUNS)";
        m_trimRoad = GetParam().trimRoad;
        m_trimRepair = GetParam().trimRepair;
    }

    // The sweep over the case's calls (or allocations), once per recipe.
    void sweep(bool calls)
    {
        const SweepScratch dir;
        const std::string in = sweepInput(GetParam().input, dir), out = dir / ("out" + std::string(GetParam().output));
        const long runs = testkit::sweep_runs(GetParam().ciRuns);
        for (const char* heal : GetParam().heals) {
            SCOPED_TRACE(heal ? std::string("healed by the ") + heal + " recipe" : "healed by its own recipe");
            m_heal = heal;
            m_absorbed = m_refused = 0;
            const Undisturbed whole = undisturbed(in, out);
            const long count = calls ? whole.calls : whole.allocations;
            const std::vector<std::string> names = calls && GetParam().everyName ? whole.callNames
                                                                                 : std::vector<std::string>();
            long swept = 0, position = -1;
            for (long n : testkit::sampled_failures(count, runs, names)) {
                if (!testkit::in_sweep_shard(++position))
                    continue;
                const auto arm = [&] {
                    if (calls)
                        velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
                    else
                        velm_test_fail_alloc(nullptr, n);
                };
                if (!failedRun(in, out, whole, (calls ? "call " : "allocation ") + std::to_string(n), arm))
                    break;
                ++swept;
            }
            reportCoverage(heal, calls ? "kernel calls" : "allocations", swept, count);
            EXPECT_GT(m_refused, 0);
        }
    }
};

TEST_P(ConvertSweepOf, EachKernelCallFailingInTurn)
{
    sweep(true);
}

TEST_P(ConvertSweepOf, EachKernelAllocationFailingInTurn)
{
    sweep(false);
}

INSTANTIATE_TEST_SUITE_P(Files, ConvertSweepOf, ::testing::ValuesIn(sweepCases()),
                         [](const ::testing::TestParamInfo<SweepCase>& info) { return info.param.name; });

// Allocations failing where an owning construction once lost what it was
// handed (a B-spline taken by a pcurve, a curve or a surface definition): the
// sweeps' samples may pass these by, so each is failed here by name.
TEST_F(ConvertSweep, AllocationsFailingWhereOwnershipChangesHands)
{
    const SweepScratch dir;
    const std::string in = mirroredCylinderIges(dir), out = dir / "out.step";
    const Undisturbed whole = undisturbed(in, out);
    for (const char* site : {"pcurve_importer.cpp", "surface_importer_swept.cpp", "spline_curve_build.cpp",
                             "QELXVelmLoopPair", "QELXVelmCoedgePair", "geom_curves.cpp"})
        for (long nth = 1; nth <= 2; ++nth)
            failedRun(in, out, whole, std::string(site) + " allocation " + std::to_string(nth),
                      [&] { velm_test_fail_alloc(site, nth); });
    EXPECT_GT(m_refused, 0);
}

// Kernel calls failing while an imported line's pcurves are moved onto their
// coedges' ranges (the list of the edge's coedges refused): a pcurve left over
// its old range would lose its face on the way out, so the run must fail
// rather than write the cylinder short of a face.
TEST_F(ConvertSweep, APCurveLeftOffItsCoedgesRangeFailsTheRun)
{
    const SweepScratch dir;
    const std::string in = mirroredCylinderIges(dir), out = dir / "out.step";
    const Undisturbed whole = undisturbed(in, out);
    const int failed = qelvelm_api_errmod.message_code(VELM_API_FAILED);
    for (long nth = 1; nth <= 12; ++nth)
        failedRun(in, out, whole, "api_get_coedges " + std::to_string(nth),
                  [&] { velm_test_fail_call("api_get_coedges", nth, failed); });
    EXPECT_GT(m_refused, 0);
}

// The neutral document's spline sheet takes the trim road. An allocation of
// its face factory failing takes back what the road made of the body: the
// run must fail naming the body, not write the model a body short.
TEST_F(ConvertSweep, ABodyTheTrimRoadTookBackFailsTheRun)
{
    const SweepScratch dir;
    const std::string in = sweepInput("shapes-json", dir), out = dir / "out.step";
    const Undisturbed whole = undisturbed(in, out);
    for (long nth = 1; nth <= 3; ++nth)
        failedRun(in, out, whole, "face factory allocation " + std::to_string(nth),
                  [&] { velm_test_fail_alloc("ve_stitchcntl", nth); });
    EXPECT_EQ(m_refused, 3);
}

// The assembly road passes nothing over in silence: a part body the road
// cannot build (its first allocation failing), or an instance's copy the
// kernel will not make or move, fails the run as in a single part.
TEST_F(ConvertSweep, AnAssemblyMissingAPartOrAnInstanceFailsTheRun)
{
    const SweepScratch dir;
    const std::string in = holderAssemblyStep(dir), out = dir / "out.step";
    const Undisturbed whole = undisturbed(in, out);
    const int failed = qelvelm_api_errmod.message_code(VELM_API_FAILED);
    failedRun(in, out, whole, "first allocation", [] { velm_test_fail_alloc(nullptr, 1); });
    for (const char* call : {"api_copy_body", "api_apply_transf"})
        failedRun(in, out, whole, call, [&] { velm_test_fail_call(call, 1, failed); });
    EXPECT_EQ(m_refused, 3);
}

// The loose faces of an IGES cylinder are sewn by the file reader into the
// cylinder's solid before anything reaches the kernel; no healing recipe
// joins them.
TEST_F(ConvertSweep, LooseFacesOfAFileAreSewnOnReading)
{
    const SweepScratch dir;
    const std::string in = mirroredCylinderIges(dir), out = dir / "out.step";
    const Undisturbed whole = undisturbed(in, out);
    EXPECT_EQ(whole.measures.solids, 1);
}

// The tolerising step of the healing makes an edge tolerant where its curve
// leaves its faces. A kernel call of it failing (the coedges' sort thrown,
// the tolerant edge refused and passed over) leaves a plain edge where a
// clean run has a tolerant one: the run then says so, naming the body and
// the step, or fails; it never reports the plain edge as a clean result.
TEST_F(ConvertSweep, ATolerizingStepThatFailsIsToldNamingTheBody)
{
    const SweepScratch dir;
    const std::string in = mirroredCylinderIges(dir), out = dir / "out.step";
    const std::string told = "Tolerizing the edges of body 1 could not be done";
    startRun();
    const ConvertRun clean = convert_run::runConvert(in, out, nullptr);
    ASSERT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(clean.err.find(told), std::string::npos) << clean.err;
    fs::remove(out);
    const int failed = qelvelm_api_errmod.message_code(VELM_API_FAILED);
    int toldRuns = 0;
    for (const char* call : {"sort_coedges", "api_replace_edge_with_tedge"})
        for (long nth : {1L, 2L}) {
            SCOPED_TRACE(std::string(call) + " " + std::to_string(nth));
            startRun();
            velm_test_fail_call(call, nth, failed);
            const ConvertRun run = convert_run::runConvert(in, out, nullptr);
            const bool fired = !velm_test_injection_pending();
            velm_test_reset();
            set_global_error_info(nullptr);
            fs::remove(out);
            if (!fired)
                continue;
            ASSERT_TRUE(run.status == 0 || run.status == 1) << run.err;
            if (run.status == 0) {
                EXPECT_NE(run.err.find(told), std::string::npos) << run.err;
                EXPECT_NE(run.err.find("they are left as they came"), std::string::npos) << run.err;
                ++toldRuns;
            }
        }
    EXPECT_GT(toldRuns, 1);
}
