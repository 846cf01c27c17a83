#pragma once
// A kernel law over a framework surface: (u, v) -> the surface point or one
// of its partial derivatives. A law and the laws derived from it share one
// cache of the last evaluation, so that the kernel's habit of evaluating a
// law and its derivatives at the same point costs one framework evaluation.
#include "qelx/gk_derivatives.hxx"
#include "qelx/gk_surface.hxx"
#include "velm/law.hxx"
#include "xvelm2k/export.hxx"

class XVELM2KA_API Ve_GkSurfaceLaw : public unary_data_law {
public:
    class XVELM2KA_API CacheData : public QELXReferenceCount {
    public:
        CacheData();
        CacheData(const CacheData& other);
        ~CacheData() override;

        QELXPoint2D point;
        Gk_Flat3 flat;
        // Whether point and flat hold an evaluation yet: a derived law of a law
        // never evaluated must not trust the default point.
        bool filled = false;
    };

    class XVELM2KA_API CacheDataHandle : public QELXTypedHandle<CacheData> {
    public:
        CacheDataHandle(CacheData* data = nullptr) : QELXTypedHandle<CacheData>(data) {}
        CacheDataHandle(const CacheDataHandle&) = default;
        CacheDataHandle& operator=(const CacheDataHandle&) = default;
        ~CacheDataHandle() override = default;
    };

    explicit Ve_GkSurfaceLaw(Gk_Surface3Handle surface);
    Ve_GkSurfaceLaw(const Ve_GkSurfaceLaw& other);
    Ve_GkSurfaceLaw& operator=(const Ve_GkSurfaceLaw& other);
    ~Ve_GkSurfaceLaw() override;

    law* deriv(int which) const override;
    void evaluate(const double* x, double* answer) const override;
    bool isa(int type) const override;
    int type() const override { return id(); }
    const char* class_name() const override { return "velm_gk_surface_law"; }
    int return_dim() const override { return 3; }
    int take_dim() const override { return 2; }
    int take_size() const override { return 2; }
    int return_size() const override { return 3; }
    int date() const override { return 501; }
    law* make_one(law_data**, int) const override { return nullptr; }

    static int id();

protected:
    Ve_GkSurfaceLaw(Gk_Surface3Handle surface, CacheDataHandle cache, const int& uOrder, const int& vOrder);
    bool validateCache(const QELXPoint2D& p) const;

private:
    CacheDataHandle m_cache;
    Gk_Surface3Handle m_surface;
    int m_uOrder = 0;
    int m_vOrder = 0;
    mutable bool m_cacheValid = false;
};
