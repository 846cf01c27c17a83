#pragma once
// A whole import as the framework runs it: a source document with its
// exporters, a kernel target document, and the connector's importer made by
// its factory. Whatever the run made is deleted at the end (by the target
// document once handed over, else here).
#include "import_test_support.hxx"

#include <algorithm>
#include <string>
#include <vector>

#include "model/document.hxx"
#include "qelx/qelx_representation.hxx"

namespace importtest {

class ImporterRun {
public:
    explicit ImporterRun(qelx_test::TestModel model, const QELXMorph3D& frame = QELXMorph3D())
        : m_document(std::move(model)), m_source(&m_document)
    {
        QELXBRepImporter* made = nullptr;
        EXPECT_EQ(QELXCreateVelmBRepImporter(&m_target, &made), QELI_OK);
        m_importer = made;
        importer().SetImportFrame(frame);
    }
    ImporterRun(const ImporterRun&) = delete;
    ImporterRun& operator=(const ImporterRun&) = delete;
    ~ImporterRun()
    {
        // What the run made and never handed to the document.
        const ENTITY_LIST* handed = m_target.GetNativeEntityList();
        std::vector<ENTITY*> strays;
        const auto consider = [&](ENTITY* e) {
            if (e && velm_is_live_entity(e) && !(handed && handed->lookup(e) >= 0) &&
                std::find(strays.begin(), strays.end(), e) == strays.end())
                strays.push_back(e);
        };
        if (importer().GetResult().get())
            for (Ve_BodyTag* b : importer().GetResult()->getBodies())
                consider(reinterpret_cast<ENTITY*>(b));
        for (Ve_BodyTag* b : importer().GetDocumentTag()->GetSolids())
            consider(reinterpret_cast<ENTITY*>(b));
        for (ENTITY* e : strays)
            if (velm_is_live_entity(e))
                api_del_entity(e);
        m_importer = nullptr;
    }

    QELXVelmBRepImporter& importer() { return *static_cast<QELXVelmBRepImporter*>(m_importer.get()); }
    qelx_test::TestBRepExporter& source() { return m_source; }
    qelx_test::TestDocument& sourceDocument() { return m_document; }
    QELXVelmDocument& target() { return m_target; }
    QELXIdentifier id(qelx_test::EntityKind kind, int index) { return m_source.id(kind, index); }

    QELIResult import() { return importer().Import(&m_source); }
    QELIResult postImport() { return importer().PostImport(); }

    std::vector<BODY*> result()
    {
        std::vector<BODY*> out;
        for (Ve_BodyTag* b : importer().GetResult()->getBodies())
            out.push_back(reinterpret_cast<BODY*>(b));
        return out;
    }
    // The bodies the target document was handed, in order.
    std::vector<ENTITY*> handedOver()
    {
        std::vector<ENTITY*> out;
        if (const ENTITY_LIST* list = m_target.GetNativeEntityList())
            for (int i = 0; i < list->count(); ++i)
                if ((*list)[i])
                    out.push_back((*list)[i]);
        return out;
    }
    std::vector<int> summary()
    {
        std::vector<int> out;
        QELXDefaultImporterSummary* s = nullptr;
        if (importer().GetSummary(s) == QELI_OK && s)
            for (int i = 0; i < s->Count(); ++i)
                out.push_back(s->Value(i));
        return out;
    }

private:
    qelx_test::TestDocument m_document;
    qelx_test::TestBRepExporter m_source;
    // Declared before the importer: it outlives it.
    QELXVelmDocument m_target;
    QELXBRepImporterHandle m_importer;
};

// Each body's topology counts, in order.
inline std::vector<std::string> countsText(const std::vector<BODY*>& bodies)
{
    std::vector<std::string> out;
    for (BODY* b : bodies) {
        const Counts c = countsOf(b);
        out.push_back(std::to_string(c.faces) + "f " + std::to_string(c.edges) + "e " + std::to_string(c.vertices) +
                      "v");
    }
    return out;
}

// A model of several bodies, each a block of its own.
inline qelx_test::TestModel blocks(int n)
{
    qelx_test::TestModel m = qelx_test::TestModel::block(1, 2, 3);
    for (int i = 1; i < n; ++i)
        m.append(qelx_test::TestModel::block(1 + i, 2, 3));
    return m;
}

} // namespace importtest
