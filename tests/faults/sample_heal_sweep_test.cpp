// Failure injection over each healing recipe run on real sample models (a
// nut, a closed solid of a cylinder and planes; a wing, a sheet of spline
// faces): one kernel call of the recipe fails in turn. No error leaves the
// recipe, every body of the set is live and sound, the set holds no checker
// finding that neither the model as it came nor the undisturbed recipe's
// result holds, and deleting the set leaves nothing alive. A failure in one
// step abandons that step alone and the recipe goes on, so a body may end
// between the two: such runs are counted and reported. A sample in an ordinary run (every call name's first
// use among them); every call when XVELM_SWEEP_RUNS asks for a whole sweep.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../../tools/xvelm/convert_verb.hxx"
#include "../../tools/xvelm/save_file.hxx"
#include "heal/repair_utils.hxx"
#include "model/body_set.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "support/connector_test.hxx"
#include "support/model_builders.hxx"
#include "support/repair_sweep.hxx"
#include "velm/errors.hxx"
#include "velm/insanity.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace fs = std::filesystem;

namespace {

const char* const kSampleFolder = "/usr/share/opencascade/data/occ/";

// A sample model as the import leaves it before healing, as a kernel save
// file made once per model (empty when the sample is not installed).
std::string unhealedSaveFile(const char* model)
{
    static std::map<std::string, std::string> made;
    auto found = made.find(model);
    if (found != made.end())
        return found->second;
    const fs::path source = fs::path(kSampleFolder) / model;
    std::string saved;
    if (fs::exists(source)) {
        const fs::path dir = fs::temp_directory_path() / ("sample_heal_sweep_" + std::to_string(::getpid()));
        fs::create_directories(dir);
        const fs::path out = dir / (fs::path(model).stem().string() + ".vlt");
        std::unique_ptr<FILE, int (*)(FILE*)> o(std::tmpfile(), &std::fclose), e(std::tmpfile(), &std::fclose);
        if (xvelm::convert(source.c_str(), out.c_str(), "off", o.get(), e.get()) == 0)
            saved = out.string();
    }
    made[model] = saved;
    return saved;
}

// The bodies of a restored save file, in a set; what else it held stays in
// `restored` for the deletion.
struct RestoredSet {
    ENTITY_LIST restored;
    xvelm::packed_entities every;
    Ve_CocoonTag set;

    explicit RestoredSet(const std::string& path)
    {
        if (!xvelm::restore_file(path.c_str(), restored, every, stderr))
            return;
        for (int i = 0; i < restored.count(); ++i)
            if (restored[i] && restored[i]->identity(1) == BODY_TYPE)
                set.appendBody(reinterpret_cast<Ve_BodyTag*>(restored[i]));
    }

    // Everything still alive of the set and of the file, deleted.
    void deleteAll()
    {
        for (Ve_BodyTag* b : set.getBodies())
            if (b && velm_is_live_entity(reinterpret_cast<ENTITY*>(b)))
                api_del_entity(reinterpret_cast<ENTITY*>(b));
        set.setBodies(QELXDynamicArray<Ve_BodyTag*>());
        for (int i = 0; i < restored.count(); ++i)
            if (restored[i] && velm_is_live_entity(restored[i]))
                api_del_entity(restored[i]);
    }
};

// The checker's findings over the set's bodies, counted by kind.
std::map<int, int> setFindings(const Ve_CocoonTag& set)
{
    std::map<int, int> found;
    for (Ve_BodyTag* b : set.getBodies()) {
        ENTITY* body = reinterpret_cast<ENTITY*>(b);
        if (!body || !velm_is_live_entity(body))
            continue;
        insanity_list* list = nullptr;
        if (api_check_entity(body, list).ok() && list)
            for (int i = 0; i < list->count(); ++i)
                ++found[list->data(i)->get_insane_id()];
        delete list;
    }
    return found;
}

// What `found` holds beyond the larger count of either reference, "" when nothing.
std::string findingsBeyond(const std::map<int, int>& found, const std::map<int, int>& a, const std::map<int, int>& b)
{
    std::string beyond;
    for (const auto& [id, n] : found) {
        const auto inA = a.find(id), inB = b.find(id);
        const int allowed = std::max(inA == a.end() ? 0 : inA->second, inB == b.end() ? 0 : inB->second);
        if (n > allowed)
            beyond += std::to_string(id) + " x" + std::to_string(n - allowed) + " ";
    }
    return beyond;
}

std::vector<std::string> bodyTexts(const Ve_CocoonTag& set, const std::string& where)
{
    std::vector<std::string> texts;
    for (Ve_BodyTag* b : set.getBodies()) {
        ENTITY* body = reinterpret_cast<ENTITY*>(b);
        EXPECT_NE(body, nullptr) << where;
        if (!body)
            continue;
        EXPECT_TRUE(velm_is_live_entity(body)) << where;
        if (!velm_is_live_entity(body))
            continue;
        EXPECT_EQ(testkit::model_problems(body), "") << where;
        texts.push_back(testkit::body_text(body));
    }
    return texts;
}

struct SampleSweepCase {
    const char* name;
    const char* model;
    const char* recipe; // the recipe's switch; empty for the standard repair
};

std::vector<SampleSweepCase> sampleSweepCases()
{
    const std::pair<const char*, const char*> recipes[] = {
        {"Standard", ""},
        {"Step", "HealBodyPostProcessStep"},
        {"Iges", "HealBodyPostProcessIges"},
        {"ProE", "HealBodyPostProcessProE"},
        {"V4", "HealBodyPostProcessV4"},
        {"V5", "HealBodyPostProcessV5"},
        {"Ug", "HealBodyPostProcessUg"},
        {"Vda", "HealBodyPostProcessVda"},
        {"Ps", "HealBodyPostProcessPs"},
        {"Ideas", "HealBodyPostProcessIdeas"},
        {"Inventor", "HealBodyPostProcessInventor"},
    };
    static std::vector<std::string> names;
    std::vector<SampleSweepCase> cases;
    names.reserve(2 * std::size(recipes));
    for (const char* model : {"mal_ecrou.brep", "wing.brep"})
        for (const auto& [recipe, member] : recipes) {
            names.push_back(std::string(recipe) + "_" + fs::path(model).stem().string());
            cases.push_back({names.back().c_str(), model, member});
        }
    return cases;
}

// Runs of an ordinary test run per recipe and model.
constexpr long kCiRuns = 16;

class SampleHealSweep : public testkit::ConnectorTest, public ::testing::WithParamInterface<SampleSweepCase> {
protected:
    void SetUp() override
    {
        ConnectorTest::SetUp();
        m_file = unhealedSaveFile(GetParam().model);
        if (m_file.empty())
            GTEST_SKIP() << "no sample model " << GetParam().model;
        on("HealBody");
        if (*GetParam().recipe)
            on(GetParam().recipe);
    }

    std::string m_file;
};

} // namespace

TEST_P(SampleHealSweep, EachKernelCallFailingInTurn)
{
    // Undisturbed: the bodies as they came and as the recipe leaves them,
    // and the calls it makes.
    std::vector<std::string> asBuilt, healed, names;
    std::map<int, int> asBuiltFindings, healedFindings;
    {
        RestoredSet whole(m_file);
        ASSERT_GT(whole.set.getBodies().Count(), 0);
        asBuilt = bodyTexts(whole.set, "as built");
        asBuiltFindings = setFindings(whole.set);
        velm_test_reset();
        velm_test_record_calls(true);
        QELXVeRepairUtils::postProcessHeal(&whole.set);
        names = velm_test_failable_calls();
        velm_test_reset();
        healed = bodyTexts(whole.set, "undisturbed");
        healedFindings = setFindings(whole.set);
        whole.deleteAll();
    }
    std::sort(asBuilt.begin(), asBuilt.end());
    std::sort(healed.begin(), healed.end());
    const long count = static_cast<long>(names.size());
    long failed = 0, between = 0, position = -1;
    for (long n : testkit::sampled_failures(count, testkit::sweep_runs(kCiRuns), names)) {
        if (!testkit::in_sweep_shard(++position))
            continue;
        const std::string what = "call " + std::to_string(n) + " (" + names[static_cast<std::size_t>(n - 1)] + ")";
        SCOPED_TRACE(what);
        const long objects = velm_live_object_count();
        {
            RestoredSet run(m_file);
            velm_test_reset();
            velm_test_record_object_sites(true);
            velm_test_fail_call("*", n, qelvelm_api_errmod.message_code(VELM_API_FAILED));
            bool escaped = false;
            try {
                QELXVeRepairUtils::postProcessHeal(&run.set);
            } catch (...) {
                escaped = true;
            }
            const bool fired = !velm_test_injection_pending();
            velm_test_reset();
            EXPECT_FALSE(escaped) << "an error left the recipe";
            EXPECT_TRUE(fired) << "the recipe made fewer calls than undisturbed";
            bool partly = false;
            for (const std::string& text : bodyTexts(run.set, what))
                partly = partly || !(std::binary_search(healed.begin(), healed.end(), text) ||
                                     std::binary_search(asBuilt.begin(), asBuilt.end(), text));
            between += partly ? 1 : 0;
            EXPECT_EQ(findingsBeyond(setFindings(run.set), asBuiltFindings, healedFindings), "")
                << "checker findings the failure left";
            run.deleteAll();
        }
        set_global_error_info(nullptr);
        EXPECT_EQ(velm_live_object_count(), objects) << "left alive " << testkit::live_object_sites();
        ++failed;
        if (HasFailure() && !testkit::whole_sweep_asked())
            break;
    }
    testkit::report_sweep("kernel calls", failed, count);
    std::printf("[ covered  ] %ld of them left a body between as it came and healed\n", between);
    EXPECT_GT(failed, 0);
}

INSTANTIATE_TEST_SUITE_P(Samples, SampleHealSweep, ::testing::ValuesIn(sampleSweepCases()),
                         [](const ::testing::TestParamInfo<SampleSweepCase>& info) { return info.param.name; });
