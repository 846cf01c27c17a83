// The fixture of connector tests that build kernel models: a framework reset on both
// sides, switches set through one option scope that puts them back, and no
// kernel object left alive by the test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "qelx/qelx_test.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"

namespace testkit {

// Where the kernel objects still alive were made ("file:line " each), for a
// leak report; the test must have switched object sites on.
inline std::string live_object_sites()
{
    std::vector<std::pair<const char*, int>> where;
    velm_live_objects(where);
    std::string list;
    for (const auto& w : where)
        list += std::string(w.first ? w.first : "?") + ":" + std::to_string(w.second) + " ";
    return list;
}

class ConnectorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        m_live = velm_live_object_count();
    }
    void TearDown() override
    {
        velm_test_reset();
        EXPECT_EQ(velm_live_object_count(), m_live) << "kernel objects leaked";
        qelx_test::resetFramework();
    }
    // A connector switch on, or set to a value, until the test ends.
    void on(const char* member) { m_options.on(Ve_OptionDoc::keyOf(member)); }
    void set(const char* member, const QELXValue& value) { m_options.set(Ve_OptionDoc::keyOf(member), value); }
    qelx_test::OptionScope m_options;
    long m_live = 0;
};

// A fixture whose leak report says where each object left behind was made:
// the framework and the kernel's test state reset, object sites recorded.
class SiteCheckedTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        velm_test_reset();
        velm_test_record_object_sites(true);
        prepare();
        m_live = velm_live_object_count();
    }
    void TearDown() override
    {
        if (velm_live_object_count() != m_live)
            ADD_FAILURE() << "kernel objects left behind: " << live_object_sites();
        qelx_test::resetFramework();
    }
    // What a fixture sets up before the live objects are counted.
    virtual void prepare() {}

private:
    long m_live = 0;
};

}  // namespace testkit
