#pragma once
// What every loop and segment of one face being trimmed needs: the kernel
// surface, the map from the source's surface parameters to the kernel's, the
// surface approximation record, the import context with its unit morph, and
// whether the pcurves win when pcurve and 3-D curve disagree.
#include "qelx/gk_import.hxx"
#include "qelx/gk_maps.hxx"
#include "qelx/gk_surface.hxx"
#include "qelx/qelx_math.hxx"
#include "xvelm2k/export.hxx"

class Ve_SurfaceTag;

class XVELM2KA_API Ve_TrimImportContext {
public:
    Ve_TrimImportContext(Ve_SurfaceTag* surface, const Gk_BiLinMap& map, Gk_SurfApproxInfoHandle approx,
                         Gk_ImportContext* context, bool prefPCurve);
    Ve_TrimImportContext(const Ve_TrimImportContext&) = default;
    Ve_TrimImportContext& operator=(const Ve_TrimImportContext&) = default;
    ~Ve_TrimImportContext() = default;

    const Gk_BiLinMap& getMap() const { return m_map; }
    Ve_SurfaceTag* getSurface() const { return m_surface; }
    Gk_SurfApproxInfoHandle getApproxInfo() const { return m_approx; }
    bool prefPCurve() const { return m_prefPCurve; }
    // The import context's unit morph; the identity without a context.
    const QELXMorph3D& getDesMorph() const;
    Gk_ImportContext* getImportContext() const { return m_context; }

private:
    bool m_prefPCurve;
    Gk_BiLinMap m_map;
    Gk_SurfApproxInfoHandle m_approx;
    Ve_SurfaceTag* m_surface;
    Gk_ImportContext* m_context;
};
