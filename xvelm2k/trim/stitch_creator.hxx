#pragma once
// The face factory of the trim import road: one kernel face per source face,
// each with edges and vertices of its own, and the faces turned into sheet
// bodies in a body set at the end. Bounded faces for free surfaces and for
// source faces without loops.
#include "model/body_set.hxx"
#include "model/containers.hxx"
#include "model/entity_views.hxx"
#include "qelx/qelx_identifier.hxx"
#include "xvelm2k/export.hxx"

class FACE;
class SURFACE;
class surface;
class Gk_ImportContext;
class QELXBRepExporter;
class QELXGeometryExporter;
class QELXVelmBRepImporter;

class XVELM2KA_API Ve_BaseStitchCreator {
public:
    // The cocoon is shared with the caller; the context and importer are not owned (either may be null).
    Ve_BaseStitchCreator(Ve_CocoonTagHandle cocoon, Gk_ImportContext* context, QELXVelmBRepImporter* importer);
    Ve_BaseStitchCreator(const Ve_BaseStitchCreator&) = default;
    Ve_BaseStitchCreator& operator=(const Ve_BaseStitchCreator&) = default;
    ~Ve_BaseStitchCreator() = default;

    Ve_CocoonTagHandle getCocoon() const { return m_cocoon; }

    // The face with its loops; null on failure.
    Ve_FaceTag* CreateFace(const QELXIdentifier& face, QELXBRepExporter* exporter);
    // A face for a source face without loops: its whole surface where that
    // closes on itself (sphere, torus, a spline closed both ways), a bounded
    // square on a plane; null on any other surface.
    Ve_FaceTag* CreateFaceFromFreeFaceSurface(const QELXIdentifier& face, QELXBRepExporter* exporter);
    // A bounded face for a free surface, for the caller only (not listed).
    FACE* CreateFaceFromFreeSurface(QELXGeometryExporter* exporter, const QELXIdentifier& surface);
    // The faces the trimmed face controller makes of one source face.
    QELXDynamicArray<Ve_FaceTag*> CreateSheets(const QELXIdentifier& face, QELXBRepExporter* exporter);
    // The faces made so far as sheet bodies in the cocoon (one body each, or
    // one body with a lump per face when AllSheetsInSingleBody is on). A face
    // that is in a body already keeps it.
    void MakeSheets();

protected:
    Ve_FaceTag* CreateFaceFromPlane(SURFACE* plane, double size);
    FACE* CreateFaceFromSurface(const surface* s, double size);

private:
    Ve_CocoonTagHandle m_cocoon;
    Gk_ImportContext* m_context;
    QELXDynamicArray<Ve_FaceTag*> m_faces;
    QELXVelmBRepImporter* m_importer;
};
