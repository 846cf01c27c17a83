#pragma once
// Shared by the assembly tests: a source assembly of the in-memory model run
// through the flat assembly importer the way the framework runs it (options,
// import, commit), the part conversions going through the B-rep importer
// registered with the framework; and what the tests read of the result.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "assembly/flat_assembly_importer.hxx"
#include "support/connector_test.hxx"
#include "support/assembly_parts.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/qeli_conversion.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx/test_assembly.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "qelx_velm/velm_document.hxx"
#include "velm/attrib.hxx"
#include "velm/groups.hxx"
#include "velm/query.hxx"
#include "velm/testkit.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace asmtest {

using qelx_test::TestAssembly;
using qelx_test::TestModel;

// One run of the assembly importer over a source assembly into a new kernel document.
class AssemblyRun {
public:
    // `prepare` fills the target before the importer first reads it.
    explicit AssemblyRun(TestAssembly assembly, const std::function<void(QELXVelmDocument&)>& prepare = {})
        : m_source(std::move(assembly)), m_exporter(&m_source), m_target(new QELXVelmDocument())
    {
        m_target->SetUnit(QELX_UNIT_MILLIMETER);
        m_target->SetTranslationContext(&m_context);
        if (prepare)
            prepare(*m_target);
        m_importer = new QELXFlatVelmAssemblyImporter(m_target.get());
    }
    AssemblyRun(const AssemblyRun&) = delete;
    AssemblyRun& operator=(const AssemblyRun&) = delete;
    ~AssemblyRun()
    {
        // The importer first (it lets go of the cached documents), then the result.
        m_importer = static_cast<QELXFlatVelmAssemblyImporter*>(nullptr);
        m_target = static_cast<QELXVelmDocument*>(nullptr);
    }

    // Lets go of the importer (and so of the part documents it cached) while
    // the result stays: what the result holds must outlive them.
    void releaseImporter() { m_importer = static_cast<QELXFlatVelmAssemblyImporter*>(nullptr); }

    qelx_test::TestAssemblyExporter& source() { return m_exporter; }
    QELXFlatVelmAssemblyImporter& importer() { return *m_importer; }
    QELXVelmDocument& target() { return *m_target; }
    QELXConverter& context() { return m_context; }

    // Options, import and commit as the framework calls them; the import's result.
    QELIResult run(bool commit = true)
    {
        QELXOptions user;
        m_importer->ProcessUserOptions(user);
        m_importer->SetRequiredOptions(*m_context.GetOptions());
        m_importer->ProcessExporterOptions(&m_exporter);
        const QELIResult result = m_importer->Import(&m_exporter);
        if (commit)
            m_importer->PostImport();
        return result;
    }

    // Entities of the result document, in order.
    std::vector<ENTITY*> entities()
    {
        std::vector<ENTITY*> out;
        ENTITY_LIST* list = m_target->GetNativeEntityList();
        for (int i = 0; i < list->count(); ++i)
            if (ENTITY* e = (*list)[i])
                out.push_back(e);
        return out;
    }
    std::vector<BODY*> bodies()
    {
        std::vector<BODY*> out;
        for (ENTITY* e : entities())
            if (is_BODY(e))
                out.push_back(static_cast<BODY*>(e));
        return out;
    }

private:
    qelx_test::TestAssemblyDocument m_source;
    qelx_test::TestAssemblyExporter m_exporter;
    QELXConverter m_context;
    QELXTypedHandle<QELXVelmDocument> m_target;
    QELXTypedHandle<QELXFlatVelmAssemblyImporter> m_importer;
};

struct Box {
    std::array<double, 3> low{}, high{};
};

inline Box boxOf(ENTITY* e)
{
    ENTITY_LIST list;
    list.add(e);
    QELposition low, high;
    EXPECT_TRUE(api_get_entity_box(list, nullptr, low, high).ok());
    return {{low.x(), low.y(), low.z()}, {high.x(), high.y(), high.z()}};
}

inline bool sameBox(const Box& a, const Box& b, double tol = 1e-6)
{
    for (int i = 0; i < 3; ++i)
        if (std::fabs(a.low[i] - b.low[i]) > tol || std::fabs(a.high[i] - b.high[i]) > tol)
            return false;
    return true;
}

inline std::string nameOf(ENTITY* e)
{
    QELXString name;
    return Ve_AttribTransfer::getLabel(e, name) ? std::string(name.c_str()) : std::string();
}

// The kernel's containment of a point: 1 inside, 0 boundary, -1 outside.
inline int containment(BODY* body, double x, double y, double z)
{
    point_containment where = pc_unknown;
    EXPECT_TRUE(api_point_in_body(QELposition(x, y, z), body, where).ok());
    return where == pc_inside ? 1 : where == pc_boundary ? 0 : -1;
}

// The part road registered for the nested conversions of every test.
class AssemblyTest : public testkit::SiteCheckedTest {
protected:
    void prepare() override { registerPartImporter(); }
};

} // namespace asmtest
