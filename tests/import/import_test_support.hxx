#pragma once
// Shared by the import tests: a source model read through the test
// exporters, a creator over it in a chosen frame, and the counts and checks
// of what it built.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "import/brep_creator.hxx"
#include "../../tools/xvelm/body_counts.hxx"
#include "support/connector_test.hxx"
#include "import/brep_importer.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx_velm/default_geometry_importer.hxx"
#include "qelx_velm/ve_attrib_transfer.hxx"
#include "qelx_velm/velm_document.hxx"
#include "velm/groups.hxx"
#include "velm/insanity.hxx"
#include "velm/memory.hxx"
#include "velm/testkit.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace importtest {

// A frame to import into: a rotation (and mirror) applied by the context's morph.
struct Frame {
    const char* name;
    QELXMorph3D morph;
};

inline QELXMorph3D rotation(double angle, bool mirror, double scale = 1.0)
{
    QELXAffine a;
    const double c = std::cos(angle), s = std::sin(angle);
    // About the axis (1, 1, 1)/sqrt(3) (Rodrigues), rows as the framework reads them.
    const double k = 1.0 / std::sqrt(3.0), t = 1.0 - c;
    const double m[3][3] = {{c + k * k * t, k * k * t - k * s, k * k * t + k * s},
                            {k * k * t + k * s, c + k * k * t, k * k * t - k * s},
                            {k * k * t - k * s, k * k * t + k * s, c + k * k * t}};
    for (int r = 0; r < 3; ++r)
        a.SetRow(r, mirror && r == 0 ? -m[r][0] : m[r][0], mirror && r == 0 ? -m[r][1] : m[r][1],
                 mirror && r == 0 ? -m[r][2] : m[r][2]);
    return QELXMorph3D(a, QELXPoint3D(0.5, -1.0, 2.0), scale);
}

inline std::vector<Frame> frames()
{
    return {{"identity", QELXMorph3D()}, {"rotated", rotation(0.7, false)}, {"mirrored", rotation(0.7, true)}};
}

// The source (document and exporters), the target document, a context and a
// creator; the bodies built are deleted at the end.
class Import {
public:
    explicit Import(qelx_test::TestModel model, const QELXMorph3D& morph = QELXMorph3D())
        : m_document(std::move(model)), m_source(&m_document), m_context(&m_target, &m_document)
    {
        m_context.SetMorph(morph);
        m_creator = std::make_unique<QELXVelmBRepCreator>(&m_source, &m_context, &m_importer);
    }
    Import(const Import&) = delete;
    Import& operator=(const Import&) = delete;
    ~Import()
    {
        for (BODY* b : bodies())
            api_del_entity(b);
    }

    QELXVelmBRepCreator& creator() { return *m_creator; }
    qelx_test::TestBRepExporter& source() { return m_source; }
    qelx_test::TestModel& model() { return m_document.model(); }
    QELXVelmBRepImporter& importer() { return m_importer; }
    QELXIdentifier id(qelx_test::EntityKind kind, int index) { return m_source.id(kind, index); }
    // Geometry read by the framework's default importer, in the source's own frame.
    void useDefaultGeometryImporter()
    {
        m_importer.SetGeometryImporter(new QELXDefaultGeometryImporter(&m_source.geometry(), 1.0));
    }

    std::vector<BODY*> bodies()
    {
        std::vector<BODY*> out;
        Ve_CocoonTagHandle cocoon = m_creator->GetCocoon();
        if (cocoon.get())
            for (Ve_BodyTag* b : cocoon->getBodies())
                out.push_back(reinterpret_cast<BODY*>(b));
        return out;
    }

private:
    qelx_test::TestDocument m_document;
    qelx_test::TestBRepExporter m_source;
    QELXVelmDocument m_target;
    Gk_ImportContext m_context;
    QELXVelmBRepImporter m_importer;
    std::unique_ptr<QELXVelmBRepCreator> m_creator;
};

// What a body holds, counted as the round-trip report counts it.
using Counts = xvelm::roundtrip_detail::Counts;

inline Counts countsOf(const ENTITY* body)
{
    return xvelm::roundtrip_detail::counts_of(static_cast<const BODY*>(body));
}

// Every finding of the kernel's checker, as "<entity> <message>" lines.
inline std::vector<std::string> findingsOf(const ENTITY* e)
{
    std::vector<std::string> out;
    insanity_list* findings = nullptr;
    if (api_check_entity(e, findings).ok() && findings)
        for (int i = 0; i < findings->count(); ++i)
            out.push_back(std::string(findings->data(i)->get_ent()->type_name()) + " " +
                          findings->data(i)->get_message());
    delete findings;
    return out;
}

// The numbers of the layer groups of the layer importer that hold the entity.
inline std::vector<int> layersOf(QELXVelmLayerImporter* layers, ENTITY* entity)
{
    std::vector<int> out;
    if (layers)
        for (QELGROUP* g : layers->GetLayers()) {
            ENTITY_LIST members;
            api_ct_return_ents(g, members);
            int id = -1;
            if (members.lookup(entity) >= 0 && Ve_AttribTransfer::getID(g, id))
                out.push_back(id);
        }
    return out;
}

class ImportTest : public testkit::SiteCheckedTest {};

} // namespace importtest
