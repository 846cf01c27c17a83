// Healing of one body handed over alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "heal/repair_utils.hxx"
#include "qelx/qelx_test.hxx"
#include "support/connector_test.hxx"
#include "support/heal_builders.hxx"
#include "support/model_builders.hxx"
#include "velm/errors.hxx"
#include "velm/testkit.hxx"
#include "velm/topology_api.hxx"

namespace {

class SingleBodyHeal : public testkit::ConnectorTest {};

long sortsOfOneBodyHeal(const QELtransf& frame)
{
    BODY* body = testkit::make_framed_box(frame, 1.0, 2.0, 3.0);
    velm_test_reset();
    velm_test_record_calls(true);
    QELXVeRepairUtils::postProcessHeal(reinterpret_cast<Ve_BodyTag*>(body));
    long sorts = 0;
    for (const std::string& name : velm_test_failable_calls())
        sorts += name == "sort_coedges";
    velm_test_reset();
    api_del_entity(body);
    return sorts;
}

} // namespace

// A body healed alone is the first and only body of its healing: the
// tolerising the kernel refuses for one of its edges is said naming it
// "body 1", as the healing of a set names each of its bodies, in every frame
// and whichever tolerising call is refused.
TEST_F(SingleBodyHeal, TheTolerizingWarningNamesTheBody)
{
    on("HealBody");
    for (const QELtransf& frame : testkit::heal_frames()) {
        const long sorts = sortsOfOneBodyHeal(frame);
        ASSERT_GT(sorts, 0) << "the standard repair tolerises the edges of a box";
        for (long failing = 1; failing <= sorts; ++failing) {
            SCOPED_TRACE("sort " + std::to_string(failing) + " of " + std::to_string(sorts));
            BODY* body = testkit::make_framed_box(frame, 1.0, 2.0, 3.0);
            velm_test_reset();
            velm_test_fail_call("sort_coedges", failing, qelvelm_api_errmod.message_code(VELM_API_FAILED));
            qelx_test::EventRecorder events;
            QELXVeRepairUtils::postProcessHeal(reinterpret_cast<Ve_BodyTag*>(body));
            EXPECT_FALSE(velm_test_injection_pending());
            velm_test_reset();
            const std::vector<std::string> said = events.names("Warning");
            const bool named = std::any_of(said.begin(), said.end(), [](const std::string& w) {
                return w.rfind("Tolerizing the edges of body 1 could not be done for 1 of its ", 0) == 0;
            });
            EXPECT_TRUE(named) << "warnings:" << ::testing::PrintToString(said);
            EXPECT_EQ(testkit::model_problems(body), "");
            api_del_entity(body);
            set_global_error_info(nullptr);
        }
    }
}
