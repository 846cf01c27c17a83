#pragma once
// One loop of a source face as one kernel LOOP of the face being built: a
// trimming segment per source coedge (repaired and split), then the coedges,
// edges and vertices, with the curve and pcurve ranges of the finished loop
// brought into line.
#include "model/containers.hxx"
#include "qelx/qelx_identifier.hxx"
#include "trim/jordon_cntl.hxx"
#include "xvelm2k/export.hxx"

class FACE;
class LOOP;
class QELXBRepExporter;
class Ve_TrimImportContext;

class XVELM2KA_API Ve_ContourCntl {
public:
    Ve_ContourCntl();
    explicit Ve_ContourCntl(Ve_TrimImportContext* context);
    Ve_ContourCntl(const Ve_ContourCntl&) = default;
    Ve_ContourCntl& operator=(const Ve_ContourCntl&) = default;
    ~Ve_ContourCntl() = default;

    // True when at least one segment piece was collected.
    bool seed(const QELXIdentifier& loop, QELXBRepExporter* exporter);
    // The new loop on the face, or null; only after a successful seed.
    LOOP* makeLoop(FACE* face, QELXBRepExporter* exporter) const;
    bool isOuter() const { return m_outer; }
    // True, with the widest such gap, when two edges of the loop that follow
    // each other lie farther apart than half the shorter of them: no vertex
    // between them stands for both ends, the loop is open where the source's
    // is. Gaps below that are the source's tolerance, left to healing.
    bool isOpen(double& gap) const;
    const QELXDynamicArray<Ve_JordonCntlHandle>& getSegments() const { return m_segments; }

private:
    LOOP* postProcess(LOOP* loop) const;
    bool isVertexLoop() const;
    bool makeOriented() { return true; }

    Ve_TrimImportContext* m_context = nullptr;
    bool m_outer = true;
    QELXDynamicArray<Ve_JordonCntlHandle> m_segments;
};
