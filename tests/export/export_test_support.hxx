#pragma once
// A kernel document with the connector's B-rep exporter over it, for the
// export tests; kernel and framework state reset around each test, and
// nothing of the kernel left alive afterwards.
#include <gtest/gtest.h>

#include <vector>

#include "export/brep_exporter.hxx"
#include "model/document.hxx"
#include "qelx/qelx_test.hxx"
#include "qelx_velm/velm_document.hxx"
#include "qelx_velm/velm_entity_utils.hxx"
#include "velm/lists.hxx"
#include "velm/memory.hxx"
#include "velm/topology_api.hxx"

class ExportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qelx_test::resetFramework();
        Ve_DocumentTag::ClearCaches();
        m_objects = velm_live_object_count();
    }
    void TearDown() override
    {
        m_exporter = QELXBRepExporterHandle();
        m_document = QELXDocumentHandle();
        Ve_DocumentTag::ClearCaches();
        EXPECT_EQ(velm_live_object_count(), m_objects) << "kernel objects leaked";
    }

    // A document holding the entities (deleted with it) and an exporter over it.
    QELXBRepExporter& exporterOf(const std::vector<ENTITY*>& entities, const char* xType = "XVelm")
    {
        auto* document = new QELXVelmDocument;
        m_document = QELXDocumentHandle(document);
        document->SetXType(QELXString(xType));
        ENTITY_LIST list;
        for (ENTITY* e : entities)
            list.add(e);
        document->AppendNativeEntityList(list);
        QELXBRepExporter* made = nullptr;
        EXPECT_EQ(QELXCreateVelmBRepExporter(document, &made), 0u);
        m_exporter = QELXBRepExporterHandle(made);
        return *made;
    }
    QELXVelmDocument& document() const { return static_cast<QELXVelmDocument&>(*m_document.get()); }

    static QELXIdentifier idOf(const ENTITY* e)
    {
        return QELXIdentifier(QELXVelmEntityUtils::GetIdentifier(e), "", nullptr, "");
    }
    static ENTITY* entityOf(const QELXIdentifier& id) { return QELXVelmEntityUtils::GetEntity(id); }

    long m_objects = 0;
    QELXDocumentHandle m_document;
    QELXBRepExporterHandle m_exporter;
};

// The kernel's faces in the order the walk meets them: bodies in document
// order, a closed solid by lumps and shells, a sheet by its shells.
inline std::vector<const FACE*> kernelFaces(QELXBRepExporter& x)
{
    std::vector<const FACE*> faces;
    for (int b = 0, n = x.GetNumberOfBodiesPtr(); b < n; ++b) {
        const auto* body = static_cast<const BODY*>(x.GetBodyPtr(b));
        ENTITY_LIST shells;
        api_get_shells(body, shells);
        for (int s = 0; s < shells.count(); ++s)
            for (const FACE* f = static_cast<SHELL*>(shells[s])->face(); f; f = f->next())
                faces.push_back(f);
    }
    return faces;
}
