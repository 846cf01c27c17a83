#pragma once
// Shared by the trim tests (which name these helpers in full: the stitch
// tests of the same program bring their own into scope): a source model read through the test exporters,
// a trimmed-face controller over it in a chosen frame, and the kernel's
// judgement of the faces it builds.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "import/import_test_support.hxx"
#include "stitch_test_support.hxx"
#include "model/kernel_call_bracket.hxx"
#include "trim/trim_face_cntl.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/query.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace trimtest {

// A source model and its exporters, and a context importing into a frame.
class TrimSource {
public:
    explicit TrimSource(qelx_test::TestModel model, const QELXMorph3D& morph = QELXMorph3D())
        : m_document(std::move(model)), m_source(&m_document), m_context(&m_target, &m_document)
    {
        m_context.SetMorph(morph);
    }
    TrimSource(const TrimSource&) = delete;
    TrimSource& operator=(const TrimSource&) = delete;
    ~TrimSource()
    {
        for (BODY* b : m_bodies)
            api_del_entity(b);
        for (FACE* f : m_faces)
            api_del_entity(f);
    }

    qelx_test::TestBRepExporter& source() { return m_source; }
    qelx_test::TestModel& model() { return m_document.model(); }
    Gk_ImportContext& context() { return m_context; }
    QELXIdentifier id(qelx_test::EntityKind kind, int index) { return m_source.id(kind, index); }

    // The face built by a fresh controller, or null when it was dropped; a
    // kernel error on the way counts as dropped. The face is deleted with
    // this source unless sheeted.
    FACE* build(int face)
    {
        Ve_TrimFaceCntl controller(&m_context);
        bool made = false;
        const int kept = velmGuard([&] { made = controller.seed(id(qelx_test::KindFace, face), &m_source); });
        EXPECT_EQ(kept, 0) << "kernel error building face " << face;
        const QELXDynamicArray<Ve_FaceTag*> faces = controller.getSheets();
        EXPECT_EQ(made, faces.Count() == 1);
        if (faces.Count() == 0)
            return nullptr;
        FACE* f = reinterpret_cast<FACE*>(faces[0]);
        m_faces.push_back(f);
        return f;
    }

    // The face as a sheet body of its own, which this source then deletes.
    BODY* sheet(FACE* face)
    {
        BODY* body = nullptr;
        FACE* faces[1] = {face};
        EXPECT_TRUE(api_mk_by_faces(nullptr, 1, faces, body).ok());
        std::erase(m_faces, face);
        if (body)
            m_bodies.push_back(body);
        return body;
    }

private:
    qelx_test::TestDocument m_document;
    qelx_test::TestBRepExporter m_source;
    QELXVelmDocument m_target;
    Gk_ImportContext m_context;
    std::vector<FACE*> m_faces;
    std::vector<BODY*> m_bodies;
};

// Loops of a face, and coedges of each loop in ring order.
inline std::vector<std::vector<COEDGE*>> loopsOf(const FACE* face)
{
    std::vector<std::vector<COEDGE*>> out;
    for (LOOP* loop = face->loop(); loop; loop = loop->next()) {
        out.emplace_back();
        COEDGE* c = loop->start();
        do {
            out.back().push_back(c);
            c = c->next();
        } while (c && c != loop->start());
    }
    return out;
}

// The sheet's area; not a number when the kernel cannot measure it.
inline double areaOf(const BODY* sheet)
{
    double area = 0.0, accuracy = 0.0;
    return sheet && api_ent_area(sheet, 1e-8, area, accuracy).ok() ? area : std::nan("");
}

using TrimTest = importtest::ImportTest;

} // namespace trimtest
