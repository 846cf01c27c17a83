// The set's standard repair over the small sample models, as the import
// leaves them before healing: every body ends no worse than it came. No kind
// of checker finding grows, a closed body stays closed, and the area of its
// faces and the volume of a sound solid stay as they were, or a warning names
// the body whose repair was taken back (which is then exactly as it came).
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../../tools/xvelm/convert_verb.hxx"
#include "../../tools/xvelm/save_file.hxx"
#include "heal/repair_utils.hxx"
#include "heal/step_watch.hxx"
#include "model/body_set.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_formats/cad_samples.hxx"
#include "support/repair_sweep.hxx"
#include "velm/query.hxx"
#include "velm/topology_api.hxx"

namespace fs = std::filesystem;

namespace {

// Small enough to stay cheap under the sanitizers and unoptimised.
constexpr std::uintmax_t kSmallSample = 60000;

// A body's area and, through its faces' fluxes, volume, with what the
// integration may be off by.
struct Measures {
    double area = 0.0, volume = 0.0, error = 0.0;
    bool measured = true;
};

Measures measuresOf(BODY* body, double reach)
{
    Measures out;
    ENTITY_LIST faces;
    api_get_faces(body, faces);
    for (int i = 0; i < faces.count(); ++i) {
        face_measures m;
        if (!api_face_measures(static_cast<FACE*>(faces[i]), QELposition(), 1e-7, reach, m).ok()) {
            out.measured = false;
            continue;
        }
        out.area += std::fabs(m.area);
        out.volume += m.flux;
        out.error += m.area_error + m.flux_error;
    }
    return out;
}

struct Before {
    ve_heal::BodyState state;
    Measures measures;
    std::string text;
};

TEST(StandardRepairOverSamples, EveryBodyEndsNoWorse)
{
    const fs::path dir = fs::temp_directory_path() / ("standard_repair_watch_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    int models = 0, bodies = 0, undone = 0;
    for (const std::string& path : cad_samples::sampleFilesWithinCap()) {
        if (fs::file_size(path) > kSmallSample)
            continue;
        SCOPED_TRACE(path);
        const fs::path saved = dir / "unhealed.vlt";
        std::unique_ptr<FILE, int (*)(FILE*)> o(std::tmpfile(), &std::fclose), e(std::tmpfile(), &std::fclose);
        if (xvelm::convert(path.c_str(), saved.c_str(), "off", o.get(), e.get()) != 0)
            continue; // refused on reading: nothing for the repair
        ENTITY_LIST restored;
        xvelm::packed_entities every;
        ASSERT_TRUE(xvelm::restore_file(saved.c_str(), restored, every, stderr));
        Ve_CocoonTagHandle set(new Ve_CocoonTag);
        std::vector<BODY*> kept;
        std::vector<Before> before;
        for (int i = 0; i < restored.count(); ++i)
            if (restored[i] && is_BODY(restored[i])) {
                BODY* b = static_cast<BODY*>(restored[i]);
                set->appendBody(reinterpret_cast<Ve_BodyTag*>(b));
                kept.push_back(b);
                const ve_heal::BodyState state = ve_heal::measureBody(b);
                before.push_back({state, measuresOf(b, std::max(state.size, 1e-6)), testkit::body_text(b)});
            }
        ++models;
        qelx_test::EventRecorder events;
        QELXVeRepairUtils::postProcessHeal(static_cast<Ve_CocoonTag*>(set));
        const std::vector<std::string> warnings = events.names("Warning");
        for (std::size_t i = 0; i < kept.size(); ++i) {
            SCOPED_TRACE("body " + std::to_string(i + 1));
            ++bodies;
            BODY* b = kept[i];
            ASSERT_TRUE(velm_is_live_entity(b));
            const std::string named = "made body " + std::to_string(i + 1) + " worse";
            bool warned = false;
            for (const std::string& w : warnings)
                warned = warned || w.find(named) != std::string::npos;
            if (warned) {
                ++undone;
                EXPECT_TRUE(testkit::body_text(b) == before[i].text) << "a repair taken back left the body changed";
                continue;
            }
            const ve_heal::BodyState now = ve_heal::measureBody(b);
            EXPECT_EQ(ve_heal::worseThan(before[i].state, now), "");
            const Measures was = before[i].measures, is = measuresOf(b, std::max(now.size, 1e-6));
            if (!was.measured || !is.measured)
                continue;
            const double slack = 1e-4 * std::max(was.area, is.area) + was.error + is.error;
            EXPECT_NEAR(is.area, was.area, slack + 1e-6 * now.size);
            const bool sound = before[i].state.closed && before[i].state.checked && before[i].state.findings.empty();
            if (sound && now.closed) {
                EXPECT_NEAR(is.volume, was.volume, 1e-4 * now.size * is.area + was.error + is.error);
            }
        }
        set->setBodies(QELXDynamicArray<Ve_BodyTag*>());
        for (BODY* b : kept)
            if (velm_is_live_entity(b))
                api_del_entity(b);
        xvelm::delete_restored(restored, every);
    }
    fs::remove_all(dir);
    if (models == 0)
        GTEST_SKIP() << "no sample model installed";
    std::printf("standard repair: %d sample models, %d bodies, %d repairs taken back\n", models, bodies, undone);
}

} // namespace
