// Geometry exporter over the source model: answers the exporter-importer
// contract from the model's records, hands arrays out with new[] and counts
// what comes back through the Delete calls.
#include "qelx/test_exporters.hxx"
#include "test_answer.hxx"

#include <algorithm>
#include <cstdio>

namespace qelx_test {

int TestCallLog::count(const std::string& operation) const
{
    return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.compare(0, operation.size() + 1, operation + "(") == 0;
    }));
}

void logCall(TestCallLog& log, const char* operation, std::uint64_t word, QELIResult result)
{
    if (!log.recording)
        return;
    char line[160];
    std::snprintf(line, sizeof line, "%s(%llx) = %x", operation, static_cast<unsigned long long>(word),
                  static_cast<unsigned>(result));
    log.lines.emplace_back(line);
}

TestGeometryExporter::TestGeometryExporter(QELXDocument* document, const TestModel& model, TestCallLog& log,
                                           QELXAttributeExporter* attributes)
    : QELXGeometryExporter(document), m_model(model), m_log(log), m_attributes(attributes)
{
}

QELXIdentifier TestGeometryExporter::surfaceId(int index)
{
    return index < 0 ? QELXIdentifier()
                     : QELXIdentifier(wordOf(KindSurface, index), QELXGeometryExporter::QELXGeometryTypeSurface, this,
                                      "TestSurface");
}
QELXIdentifier TestGeometryExporter::curveId(int index)
{
    return index < 0 ? QELXIdentifier()
                     : QELXIdentifier(wordOf(KindCurve, index), QELXGeometryExporter::QELXGeometryTypeCurve, this,
                                      "TestCurve");
}
QELXIdentifier TestGeometryExporter::pcurveId(int index)
{
    return index < 0 ? QELXIdentifier()
                     : QELXIdentifier(wordOf(KindPCurve, index), QELXGeometryExporter::QELXGeometryTypePCurve, this,
                                      "TestPCurve");
}
QELXIdentifier TestGeometryExporter::pointId(int index)
{
    return index < 0 ? QELXIdentifier()
                     : QELXIdentifier(wordOf(KindPoint, index), QELXGeometryExporter::QELXGeometryTypePoint, this,
                                      "TestPoint");
}

template <class Write>
QELIResult TestGeometryExporter::answer(const char* operation, const QELXIdentifier& id, Write&& write)
{
    return answerCall(m_model, m_log, operation, id.GetValue(), std::forward<Write>(write));
}

const TestSurface* TestGeometryExporter::surface(const QELXIdentifier& id) const
{
    const int i = indexOfWord(id.GetValue());
    if (kindOfWord(id.GetValue()) != KindSurface || i < 0 || i >= static_cast<int>(m_model.surfaces.size()))
        return nullptr;
    return &m_model.surfaces[i];
}
const TestCurve* TestGeometryExporter::curve(const QELXIdentifier& id) const
{
    const int i = indexOfWord(id.GetValue());
    if (kindOfWord(id.GetValue()) != KindCurve || i < 0 || i >= static_cast<int>(m_model.curves.size()))
        return nullptr;
    return &m_model.curves[i];
}
const TestPCurve* TestGeometryExporter::pcurve(const QELXIdentifier& id) const
{
    const int i = indexOfWord(id.GetValue());
    if (kindOfWord(id.GetValue()) != KindPCurve || i < 0 || i >= static_cast<int>(m_model.pcurves.size()))
        return nullptr;
    return &m_model.pcurves[i];
}

QELIResult TestGeometryExporter::GetAttributeExporter(QELXAttributeExporter*& out)
{
    out = m_attributes;
    return out ? QELI_OK : QELI_FAIL;
}

namespace {
void copy3(double out[3], const Vec3& v) { std::copy(v.begin(), v.end(), out); }

template <class T>
T* array(const std::vector<T>& values)
{
    if (values.empty())
        return nullptr;
    T* out = new T[values.size()];
    std::copy(values.begin(), values.end(), out);
    return out;
}
} // namespace

// ------------------------------------------------------------------ surfaces

QELIResult TestGeometryExporter::GetSurfaceType(const QELXIdentifier& id, int& type)
{
    return answer("GetSurfaceType", id, [&]() -> QELIResult {
        const TestSurface* s = surface(id);
        if (!s)
            return QELI_INVALID_ARG;
        type = s->type;
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetSurfaceParameterization(const QELXIdentifier& id, double& uA, double& uB,
                                                            double& uC, double& vA, double& vB, double& vC,
                                                            bool& flag)
{
    return answer("GetSurfaceParameterization", id, [&]() -> QELIResult {
        const TestSurface* s = surface(id);
        if (!s)
            return QELI_INVALID_ARG;
        uA = s->uA, uB = s->uB, uC = s->uC, vA = s->vA, vB = s->vB, vC = s->vC, flag = s->flag;
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetPlanarSurfaceData(const QELXIdentifier& id, double origin[3], double uVector[3],
                                                      double normal[3])
{
    return answer("GetPlanarSurfaceData", id, [&]() -> QELIResult {
        const TestSurface* s = surface(id);
        if (!s || s->type != SurfPlane)
            return QELI_INVALID_ARG;
        copy3(origin, s->p);
        copy3(uVector, s->d1);
        copy3(normal, s->d2);
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetConicalSurfaceData(const QELXIdentifier& id, double& a, double& b, double& c,
                                                       double origin[3], double refDir[3], double axis[3])
{
    return answer("GetConicalSurfaceData", id, [&]() -> QELIResult {
        const TestSurface* s = surface(id);
        if (!s || (s->type != SurfCone && s->type != SurfCylinder))
            return QELI_INVALID_ARG;
        a = s->a, b = s->b, c = s->c;
        copy3(origin, s->p);
        copy3(refDir, s->d1);
        copy3(axis, s->d2);
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetSphericalSurfaceData(const QELXIdentifier& id, double& radius, double centre[3],
                                                         double dir1[3], double dir2[3])
{
    return answer("GetSphericalSurfaceData", id, [&]() -> QELIResult {
        const TestSurface* s = surface(id);
        if (!s || s->type != SurfSphere)
            return QELI_INVALID_ARG;
        radius = s->a;
        copy3(centre, s->p);
        copy3(dir1, s->d1);
        copy3(dir2, s->d2);
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetToroidalSurfaceData(const QELXIdentifier& id, double& major, double& minor,
                                                        int& toroidalType, double centre[3], double refDir[3],
                                                        double axis[3])
{
    return answer("GetToroidalSurfaceData", id, [&]() -> QELIResult {
        const TestSurface* s = surface(id);
        if (!s || s->type != SurfTorus)
            return QELI_INVALID_ARG;
        major = s->a, minor = s->b, toroidalType = s->toroidalType;
        copy3(centre, s->p);
        copy3(refDir, s->d1);
        copy3(axis, s->d2);
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetNurbsSurfaceData(const QELXIdentifier& id, int& uDegree, int& vDegree,
                                                     int& uCount, int& vCount, double*& ctrlPts, double*& weights,
                                                     int& uKnotCount, double*& uKnots, int*& uMults,
                                                     int& vKnotCount, double*& vKnots, int*& vMults, int& uClosure,
                                                     int& vClosure)
{
    return answer("GetNurbsSurfaceData", id, [&]() -> QELIResult {
        const TestSurface* s = surface(id);
        if (!s || (s->type != SurfNurbs && s->type != SurfUnknown) || s->uCount <= 0)
            return QELI_INVALID_ARG;
        uDegree = s->uDegree, vDegree = s->vDegree, uCount = s->uCount, vCount = s->vCount;
        ctrlPts = array(s->ctrl);
        weights = array(s->weights);
        uKnotCount = static_cast<int>(s->uKnots.size());
        uKnots = array(s->uKnots);
        uMults = array(s->uMults);
        vKnotCount = static_cast<int>(s->vKnots.size());
        vKnots = array(s->vKnots);
        vMults = array(s->vMults);
        uClosure = s->uClosure, vClosure = s->vClosure;
        ++m_outstanding;
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::freeArrays(std::initializer_list<double**> reals, std::initializer_list<int**> ints)
{
    ++m_deletes;
    bool any = false;
    for (double** p : reals) {
        any = any || *p;
        delete[] *p;
        *p = nullptr;
    }
    for (int** p : ints) {
        any = any || *p;
        delete[] *p;
        *p = nullptr;
    }
    if (any)
        --m_outstanding;
    return QELI_OK;
}

QELIResult TestGeometryExporter::DeleteNurbsSurfaceData(double*& ctrlPts, double*& weights, double*& uKnots,
                                                        int*& uMults, double*& vKnots, int*& vMults)
{
    logCall(m_log, "DeleteNurbsSurfaceData", 0, QELI_OK);
    return freeArrays({&ctrlPts, &weights, &uKnots, &vKnots}, {&uMults, &vMults});
}

QELIResult TestGeometryExporter::GetOffsetSurfaceData(const QELXIdentifier& id, double& distance,
                                                      QELXIdentifier& base)
{
    return answer("GetOffsetSurfaceData", id, [&]() -> QELIResult {
        const TestSurface* s = surface(id);
        if (!s || s->type != SurfOffset)
            return QELI_INVALID_ARG;
        distance = s->a;
        base = surfaceId(s->ref);
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetExtrudedSurfaceData(const QELXIdentifier& id, double direction[3],
                                                        QELXIdentifier& profile)
{
    return answer("GetExtrudedSurfaceData", id, [&]() -> QELIResult {
        const TestSurface* s = surface(id);
        if (!s || s->type != SurfExtruded)
            return QELI_INVALID_ARG;
        copy3(direction, s->d1);
        profile = curveId(s->ref);
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetRevolvedSurfaceData(const QELXIdentifier& id, double axisPoint[3],
                                                        double axisDir[3], QELXIdentifier& profile)
{
    return answer("GetRevolvedSurfaceData", id, [&]() -> QELIResult {
        const TestSurface* s = surface(id);
        if (!s || s->type != SurfRevolved)
            return QELI_INVALID_ARG;
        copy3(axisPoint, s->p);
        copy3(axisDir, s->d1);
        profile = curveId(s->ref);
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetSurfaceSpan(const QELXIdentifier& id, double uSpan[2], double vSpan[2])
{
    return answer("GetSurfaceSpan", id, [&]() -> QELIResult {
        const TestSurface* s = surface(id);
        if (!s)
            return QELI_INVALID_ARG;
        // An unbounded surface has no box to give.
        if (!s->bounded)
            return QELI_FAIL;
        uSpan[0] = s->uSpan[0], uSpan[1] = s->uSpan[1], vSpan[0] = s->vSpan[0], vSpan[1] = s->vSpan[1];
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetSurfaceDeviation(const QELXIdentifier& id, double& deviation)
{
    return answer("GetSurfaceDeviation", id, [&]() -> QELIResult {
        const TestSurface* s = surface(id);
        if (!s)
            return QELI_INVALID_ARG;
        deviation = s->deviation;
        return QELI_OK;
    });
}

// ------------------------------------------------------------------ curves

QELIResult TestGeometryExporter::GetCurveType(const QELXIdentifier& id, int& type)
{
    return answer("GetCurveType", id, [&]() -> QELIResult {
        const TestCurve* c = curve(id);
        if (!c)
            return QELI_INVALID_ARG;
        type = c->type;
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetCurveParameterization(const QELXIdentifier& id, double& scale, double& offset,
                                                          bool& flag)
{
    return answer("GetCurveParameterization", id, [&]() -> QELIResult {
        const TestCurve* c = curve(id);
        if (!c)
            return QELI_INVALID_ARG;
        scale = c->scale, offset = c->offset, flag = c->flag;
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetCurveDomain(const QELXIdentifier& id, double range[2])
{
    return answer("GetCurveDomain", id, [&]() -> QELIResult {
        const TestCurve* c = curve(id);
        if (!c)
            return QELI_INVALID_ARG;
        range[0] = c->domain[0], range[1] = c->domain[1];
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetLinearCurveData(const QELXIdentifier& id, double point[3], double direction[3])
{
    return answer("GetLinearCurveData", id, [&]() -> QELIResult {
        const TestCurve* c = curve(id);
        if (!c || c->type != CurvLine)
            return QELI_INVALID_ARG;
        copy3(point, c->p);
        copy3(direction, c->d1);
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetEllipticalCurveData(const QELXIdentifier& id, double& majorRadius,
                                                        double& minorRadius, double centre[3], double majorDir[3],
                                                        double normal[3])
{
    return answer("GetEllipticalCurveData", id, [&]() -> QELIResult {
        const TestCurve* c = curve(id);
        if (!c || c->type != CurvEllipse)
            return QELI_INVALID_ARG;
        majorRadius = c->major, minorRadius = c->minor;
        copy3(centre, c->p);
        copy3(majorDir, c->d1);
        copy3(normal, c->d2);
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::nurbsData(const TestNurbs& n, int, int& degree, int& ctrlCount, double*& ctrlPts,
                                           int& knotCount, double*& knots, int*& mults, double*& weights, int& form)
{
    degree = n.degree, ctrlCount = n.count, form = n.form;
    ctrlPts = array(n.ctrl);
    knotCount = static_cast<int>(n.knots.size());
    knots = array(n.knots);
    mults = array(n.mults);
    weights = array(n.weights);
    ++m_outstanding;
    return QELI_OK;
}

QELIResult TestGeometryExporter::GetNurbsCurveData(const QELXIdentifier& id, int& degree, int& ctrlCount,
                                                   double*& ctrlPts, int& knotCount, double*& knots, int*& mults,
                                                   double*& weights, int& form)
{
    return answer("GetNurbsCurveData", id, [&]() -> QELIResult {
        const TestCurve* c = curve(id);
        if (!c || c->nurbs.count <= 0 || c->type == CurvLine || c->type == CurvEllipse)
            return QELI_INVALID_ARG;
        return nurbsData(c->nurbs, 3, degree, ctrlCount, ctrlPts, knotCount, knots, mults, weights, form);
    });
}

QELIResult TestGeometryExporter::DeleteNurbsCurveData(double*& ctrlPts, double*& knots, int*& mults,
                                                      double*& weights)
{
    logCall(m_log, "DeleteNurbsCurveData", 0, QELI_OK);
    return freeArrays({&ctrlPts, &knots, &weights}, {&mults});
}

// ------------------------------------------------------------------ pcurves and points

QELIResult TestGeometryExporter::GetPCurveType(const QELXIdentifier& id, int& type)
{
    return answer("GetPCurveType", id, [&]() -> QELIResult {
        if (!pcurve(id))
            return QELI_INVALID_ARG;
        type = PCurvNurbs;
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetPCurveParameterization(const QELXIdentifier& id, double& scale, double& offset,
                                                           bool& flag)
{
    return answer("GetPCurveParameterization", id, [&]() -> QELIResult {
        const TestPCurve* p = pcurve(id);
        if (!p)
            return QELI_INVALID_ARG;
        scale = p->scale, offset = p->offset, flag = p->flag;
        return QELI_OK;
    });
}

QELIResult TestGeometryExporter::GetNurbsPCurveData(const QELXIdentifier& id, int& degree, int& ctrlCount,
                                                    double*& ctrlPts, int& knotCount, double*& knots, int*& mults,
                                                    double*& weights, int& form)
{
    return answer("GetNurbsPCurveData", id, [&]() -> QELIResult {
        const TestPCurve* p = pcurve(id);
        if (!p)
            return QELI_INVALID_ARG;
        return nurbsData(p->nurbs, 2, degree, ctrlCount, ctrlPts, knotCount, knots, mults, weights, form);
    });
}

QELIResult TestGeometryExporter::DeleteNurbsPCurveData(double*& ctrlPts, double*& knots, int*& mults,
                                                       double*& weights)
{
    logCall(m_log, "DeleteNurbsPCurveData", 0, QELI_OK);
    return freeArrays({&ctrlPts, &knots, &weights}, {&mults});
}

QELIResult TestGeometryExporter::GetCartesianPointData(const QELXIdentifier& id, double xyz[3])
{
    return answer("GetCartesianPointData", id, [&]() -> QELIResult {
        const int i = indexOfWord(id.GetValue());
        if (kindOfWord(id.GetValue()) != KindPoint || i < 0 || i >= static_cast<int>(m_model.points.size()))
            return QELI_INVALID_ARG;
        copy3(xyz, m_model.points[i]);
        return QELI_OK;
    });
}

} // namespace qelx_test
