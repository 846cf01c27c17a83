#include "qelx/qelx_attribute_exporter.hxx"
#include "qelx/qelx_brep_exporter.hxx"
#include "qelx/qelx_geometry_exporter.hxx"

#include <cstdint>

int QELXBRepExporterUtils::GetNumberOfFacesIn2DShellsFromBody(QELXBRepExporter* exporter, const QELXIdentifier& body)
{
    if (!exporter)
        return 0;
    int shells = 0;
    if (exporter->GetNumberOf2DShellsFromBody(body, shells) != QELI_OK)
        return 0;
    int total = 0;
    for (int i = 0; i < shells; ++i) {
        QELXIdentifier shell;
        int faces = 0;
        if (exporter->Get2DShellFromBody(body, i, shell) == QELI_OK &&
            exporter->GetNumberOfFacesFromShell(shell, faces) == QELI_OK && faces > 0)
            total += faces;
    }
    return total;
}

QELIResult QELXBRepExporterUtils::ReleaseGeometryOf2DShells(QELXBRepExporter* exporter, const QELXIdentifier& body)
{
    if (!exporter)
        return QELI_OK;
    int shells = 0;
    if (exporter->GetNumberOf2DShellsFromBody(body, shells) != QELI_OK)
        return QELI_OK;
    for (int s = 0; s < shells; ++s) {
        QELXIdentifier shell;
        int faces = 0;
        if (exporter->Get2DShellFromBody(body, s, shell) != QELI_OK ||
            exporter->GetNumberOfFacesFromShell(shell, faces) != QELI_OK)
            continue;
        for (int f = 0; f < faces; ++f) {
            QELXIdentifier face;
            if (exporter->GetFaceFromShell(shell, f, face) != QELI_OK)
                continue;
            exporter->ReleaseGeometry(face, QELXReleaseSurface);
            int loops = 0;
            if (exporter->GetNumberOfLoopsFromFace(face, loops) != QELI_OK)
                continue;
            for (int l = 0; l < loops; ++l) {
                QELXIdentifier loop;
                int index = l, coedges = 0;
                if (exporter->GetLoopFromFace(face, index, loop) != QELI_OK ||
                    exporter->GetNumberOfCoedgesFromLoop(loop, coedges) != QELI_OK)
                    continue;
                for (int c = 0; c < coedges; ++c) {
                    QELXIdentifier coedge, edge, start, end;
                    int at = c;
                    if (exporter->GetCoedgeFromLoop(loop, at, coedge) != QELI_OK)
                        continue;
                    exporter->ReleaseGeometry(coedge, QELXReleasePCurve);
                    if (exporter->GetEdgeFromCoedge(coedge, edge) != QELI_OK)
                        continue;
                    exporter->ReleaseGeometry(edge, QELXReleaseCurve);
                    if (exporter->GetStartVertexFromEdge(edge, start) == QELI_OK)
                        exporter->ReleaseGeometry(start, QELXReleasePoint);
                    if (exporter->GetEndVertexFromEdge(edge, end) == QELI_OK)
                        exporter->ReleaseGeometry(end, QELXReleasePoint);
                }
            }
        }
    }
    return QELI_OK;
}

QELIResult QELXAttributeExporter::ReleaseAlias(int& count, QELXString*& texts)
{
    delete[] texts;
    texts = nullptr;
    count = 0;
    return QELI_OK;
}

QELIResult QELXODRAttributeExporter::GetNativePointer(const QELXIdentifier& id, void*& pointer)
{
    pointer = id.GetEntityPointer();
    return pointer ? QELI_OK : QELI_FAIL;
}

namespace {

template <class T>
void freeArray(T*& array)
{
    delete[] array;
    array = nullptr;
}

} // namespace

QELIResult QELXGeometryExporter::DeleteNurbsSurfaceData(double*& ctrlPts, double*& weights, double*& uKnots,
                                                        int*& uMults, double*& vKnots, int*& vMults)
{
    freeArray(ctrlPts);
    freeArray(weights);
    freeArray(uKnots);
    freeArray(uMults);
    freeArray(vKnots);
    freeArray(vMults);
    return QELI_OK;
}

QELIResult QELXGeometryExporter::DeleteNurbsCurveData(double*& ctrlPts, double*& knots, int*& mults,
                                                      double*& weights)
{
    freeArray(ctrlPts);
    freeArray(knots);
    freeArray(mults);
    freeArray(weights);
    return QELI_OK;
}

QELIResult QELXGeometryExporter::DeleteNurbsPCurveData(double*& ctrlPts, double*& knots, int*& mults,
                                                       double*& weights)
{
    return DeleteNurbsCurveData(ctrlPts, knots, mults, weights);
}
