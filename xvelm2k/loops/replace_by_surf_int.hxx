#pragma once
// Edge curves swapped, for the length of a containment pass, for
// surface-intersection curves on the face's surface (a 3-D B-spline with a
// fitted parameter curve), so that the iso-line crossings are found on curves
// that lie on the surface. Each worker puts its edge's own curve back when it
// dies; the map holds one worker per edge until it is emptied.
#include "model/containers.hxx"
#include "qelx/qelx_refcount.hxx"
#include "velm/math.hxx"
#include "xvelm2k/export.hxx"

class EDGE;
class CURVE;
class surface;

class XVELM2KA_API Ve_ReplaceBySurfInt {
public:
    Ve_ReplaceBySurfInt() = delete;

    class XVELM2KA_API Ve_ReplaceBySurfIntWorker : public QELXReferenceCount {
    public:
        // Replaces the edge's curve when it can; otherwise records nothing.
        Ve_ReplaceBySurfIntWorker(EDGE* edge, const surface* surf);
        Ve_ReplaceBySurfIntWorker(const Ve_ReplaceBySurfIntWorker&) = delete;
        Ve_ReplaceBySurfIntWorker& operator=(const Ve_ReplaceBySurfIntWorker&) = delete;
        // Restores the edge's curve and range.
        ~Ve_ReplaceBySurfIntWorker() override;
        const char* GetName() const override { return "Ve_ReplaceBySurfIntWorker"; }

        EDGE* edge() const { return m_edge; }
        bool replaced() const { return m_savedCurve != nullptr; }

    private:
        EDGE* m_edge = nullptr;
        CURVE* m_savedCurve = nullptr;
        QELinterval m_savedRange;
    };

    class XVELM2KA_API Ve_ReplaceBySurfIntWorkerHandle : public QELXTypedHandle<Ve_ReplaceBySurfIntWorker> {
    public:
        Ve_ReplaceBySurfIntWorkerHandle() = default;
        Ve_ReplaceBySurfIntWorkerHandle(Ve_ReplaceBySurfIntWorker* worker)
            : QELXTypedHandle<Ve_ReplaceBySurfIntWorker>(worker)
        {
        }
        Ve_ReplaceBySurfIntWorkerHandle(const Ve_ReplaceBySurfIntWorkerHandle&) = default;
        Ve_ReplaceBySurfIntWorkerHandle& operator=(const Ve_ReplaceBySurfIntWorkerHandle&) = default;
        ~Ve_ReplaceBySurfIntWorkerHandle() override = default;
    };

    using WorkerMap = QELXHashMap<EDGE*, Ve_ReplaceBySurfIntWorkerHandle>;

    static WorkerMap& getWorkerMap();
    // One worker per edge: an edge already in the map is left alone.
    static void replaceEdgeCurve(EDGE* edge, const surface* surf);
    // The intcurve on the surface that stands for the edge's curve, as a new
    // kernel CURVE; null when the approximation or the pcurve fit fails.
    static CURVE* makeSurfaceIntersectionCurve(EDGE* edge, const surface* surf);

    static WorkerMap workerMap;
};
