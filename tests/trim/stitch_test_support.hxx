#pragma once
// Shared by the stitching tests: a source model read through the test
// exporters, a stitch creator over it in a chosen frame, and loose faces
// stitched into bodies whose volume is measured.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "import/brep_importer.hxx"
#include "import/import_test_support.hxx"
#include "model/body_set.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/test_exporters.hxx"
#include "qelx_velm/velm_document.hxx"
#include "trim/stitch_creator.hxx"
#include "trim/stitch_node.hxx"
#include "velm/query.hxx"
#include "velm/topology_api.hxx"

namespace stitchtest {

// Identity, turned and turned with a mirror.
inline std::vector<importtest::Frame> allFrames()
{
    return {{"identity", QELXMorph3D()},
            {"rotated", importtest::rotation(0.7, false)},
            {"mirrored", importtest::rotation(0.7, true)}};
}

class StitchSource {
public:
    explicit StitchSource(qelx_test::TestModel model, const QELXMorph3D& morph = QELXMorph3D(), bool withContext = true)
        : m_document(std::move(model)), m_source(&m_document), m_context(&m_target, &m_document)
    {
        m_context.SetMorph(morph);
        m_creator = std::make_unique<Ve_BaseStitchCreator>(Ve_CocoonTagHandle(new Ve_CocoonTag()),
                                                           withContext ? &m_context : nullptr, &m_importer);
    }
    StitchSource(const StitchSource&) = delete;
    StitchSource& operator=(const StitchSource&) = delete;

    Ve_BaseStitchCreator& creator() { return *m_creator; }
    qelx_test::TestBRepExporter& exporter() { return m_source; }
    qelx_test::TestModel& model() { return m_document.model(); }
    QELXIdentifier id(qelx_test::EntityKind kind, int index) { return m_source.id(kind, index); }
    QELXVelmBRepImporter& importer() { return m_importer; }
    Gk_ImportContext& context() { return m_context; }

    // CreateFace for every source face, in order; null entries kept.
    std::vector<FACE*> createFaces()
    {
        std::vector<FACE*> out;
        for (int i = 0; i < static_cast<int>(model().faces.size()); ++i)
            out.push_back(reinterpret_cast<FACE*>(m_creator->CreateFace(id(qelx_test::KindFace, i), &m_source)));
        return out;
    }

private:
    qelx_test::TestDocument m_document;
    qelx_test::TestBRepExporter m_source;
    QELXVelmDocument m_target;
    Gk_ImportContext m_context;
    QELXVelmBRepImporter m_importer;
    std::unique_ptr<Ve_BaseStitchCreator> m_creator;
};

// The faces stitched and gathered into bodies, one per connected set; the
// caller deletes the bodies.
inline std::vector<BODY*> stitchIntoBodies(const std::vector<FACE*>& faces)
{
    QELXDynamicArray<Ve_FaceTag*> tags;
    for (FACE* f : faces)
        if (f)
            tags.Add(ve_view<Ve_FaceTag>(f));
    Ve_StEnvelope(tags).doMerge();
    Ve_BodyCntl cntl;
    cntl.createFromFaceData(tags, true);
    std::vector<BODY*> out;
    for (Ve_BodyTag* b : cntl.getCocoon()->getBodies())
        out.push_back(reinterpret_cast<BODY*>(b));
    return out;
}

// The trim road's faces are double-sided sheets: a closed shell of them is
// a solid once its faces are single-sided.
inline bool closedOnceSingleSided(BODY* body)
{
    ENTITY_LIST faces;
    api_get_faces(body, faces);
    for (int i = 0; i < faces.count(); ++i)
        static_cast<FACE*>(faces[i])->set_sides(0);
    return is_closed_solid_body(body);
}

inline double volumeOf(const BODY* body)
{
    double volume = 0.0, achieved = 0.0;
    EXPECT_TRUE(api_body_volume(body, 1e-9, volume, achieved).ok());
    return volume;
}

} // namespace stitchtest
