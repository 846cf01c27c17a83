// A kernel failure at any call of an export, and an allocation failing at
// any point of its preprocessing: the export runs to its end, leaks nothing,
// and loses only the body whose reading the failure hit.
#include "export_test_support.hxx"

#include <algorithm>
#include <map>
#include <string>

#include "qelx/framework_walk.hxx"
#include "support/geometry_builders.hxx"
#include "velm/errors.hxx"
#include "velm/surface_build.hxx"
#include "velm/testkit.hxx"

namespace {

struct Outcome {
    QELIResult walked = 0;
    qelx_test::WalkSummary read;
};

class ExportFailures : public ExportTest {
protected:
    // One export of a fresh box and cylinder; `inject` runs once the model
    // stands, with the kernel's counters and log cleared.
    // With preprocessOnly, the injected failure is withdrawn before the walk.
    template <class Inject>
    Outcome exportOnce(Inject inject, std::vector<std::string>* calls = nullptr, bool preprocessOnly = false)
    {
        BODY* box = testkit::make_plane_box(4, 5, 6);
        BODY* cylinder = testkit::make_cylinder(2, 3);
        FACE* loose = nullptr;
        api_face_plane(QELposition(0, 0, 9), 2.0, 3.0, nullptr, loose);
        QELXBRepExporter& x = exporterOf({box, cylinder, loose});
        velm_test_reset();
        velm_test_record_calls(calls != nullptr);
        inject();
        Outcome out;
        qelx_test::TestModel told;
        try {
            x.PreProcess();
            if (preprocessOnly) {
                velm_test_reset();
                velm_test_record_calls(calls != nullptr);
            }
            out.walked = qelx_test::walkExporter(&x, told, &out.read);
        } catch (const velm_exception& e) {
            ADD_FAILURE() << "kernel error " << e.error_number() << " escaped the export";
            out.walked = QELI_FAIL;
        }
        if (calls) {
            for (const std::string& entry : velm_test_call_log())
                if (entry.rfind("api_bb", 0) != 0)
                    calls->push_back(entry.substr(0, entry.find('(')));
        }
        velm_test_reset();
        m_exporter = QELXBRepExporterHandle();
        m_document = QELXDocumentHandle();
        // A face left loose (its conversion failed) is no top-level entity
        // the document deletes.
        if (velm_is_live_entity(loose) && !loose->shell())
            api_del_entity(loose);
        Ve_DocumentTag::ClearCaches();
        EXPECT_EQ(velm_live_object_count(), m_objects) << "kernel objects leaked";
        return out;
    }

    // Whatever was read is part of the clean reading, and no more than one
    // body's share of it is missing.
    static void expectOnlyOneBodyLost(const Outcome& failed, const Outcome& clean, int largestBody)
    {
        EXPECT_EQ(failed.walked, 0u);
        EXPECT_LE(failed.read.faces, clean.read.faces);
        EXPECT_LE(failed.read.edges, clean.read.edges);
        EXPECT_GE(failed.read.faces, clean.read.faces - largestBody);
    }
};

} // namespace

TEST_F(ExportFailures, EveryKernelCallAndEveryAllocationMayFail)
{
    std::vector<std::string> log;
    const Outcome clean = exportOnce([] {}, &log);
    ASSERT_EQ(clean.read.bodies, 3) << "the loose face made a sheet";
    ASSERT_EQ(clean.read.faces, 10);
    const int largestBody = 6;
    ASSERT_FALSE(log.empty());
    std::map<std::string, int> seen;
    const int failure = qelvelm_api_errmod.message_code(VELM_API_FAILED);
    // Bounded: every call while the export makes few, a spread of them beyond.
    const std::size_t step = std::max<std::size_t>(1, log.size() / 400);
    for (std::size_t n = 0; n < log.size(); ++n) {
        const int occurrence = ++seen[log[n]];
        if (n % step != 0)
            continue;
        SCOPED_TRACE(log[n] + " #" + std::to_string(occurrence));
        expectOnlyOneBodyLost(exportOnce([&] { velm_test_fail_call(log[n].c_str(), occurrence, failure); }), clean,
                              largestBody);
    }
    // Allocations while the document is gathered and made into bodies.
    for (long n = 1; n <= 200; n += 2) {
        SCOPED_TRACE("allocation " + std::to_string(n));
        expectOnlyOneBodyLost(exportOnce([&] { velm_test_fail_alloc(nullptr, n); }, nullptr, true), clean,
                              largestBody);
    }
}
