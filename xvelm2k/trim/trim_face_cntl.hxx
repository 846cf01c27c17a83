#pragma once
// Builds one kernel FACE, with its loops, from one face of a source B-rep
// exporter on the trim road: the surface converted, each source loop made a
// kernel loop by a contour controller, the loops linked in the source's order.
// A face without any loop on a surface that needs one is dropped.
#include "model/containers.hxx"
#include "qelx/gk_import.hxx"
#include "qelx/qelx_identifier.hxx"
#include "trim/trim_import_context.hxx"
#include "xvelm2k/export.hxx"

class CURVE;
class FACE;
class QELXBRepExporter;
class Ve_FaceTag;

class XVELM2KA_API Ve_TrimFaceCntl {
public:
    explicit Ve_TrimFaceCntl(Gk_ImportContext* context);
    Ve_TrimFaceCntl(const Ve_TrimFaceCntl&) = default;
    Ve_TrimFaceCntl& operator=(const Ve_TrimFaceCntl&) = default;
    // Clears the curve-to-source-edge map; the faces are the caller's.
    ~Ve_TrimFaceCntl();

    // True when a face was built and kept.
    bool seed(const QELXIdentifier& face, QELXBRepExporter* exporter);
    QELXDynamicArray<Ve_FaceTag*> getSheets() const { return m_faces; }

    // The source edge each kernel curve made for the face being built came
    // from, so the edge built on it later receives the source edge's
    // attributes. Process-wide: one trim import at a time.
    static QELXHashMap<CURVE*, QELXIdentifier> _velmCurveSourceEdgeMap;

private:
    Ve_TrimImportContext addSurface(FACE* face, const QELXIdentifier& faceId, QELXBRepExporter* exporter);

    QELXDynamicArray<Ve_FaceTag*> m_faces;
    Gk_ImportContext* m_context;
};
