#pragma once
// The attribute exporter: colours, layers, names and the other facts a
// source keeps on its entities. Every getter answers 0x1000002 (nothing to
// answer) with its outputs untouched unless an exporter says otherwise.
// Colours are four doubles: red, green, blue and a fourth value.
#include "qelx/qelx_identifier.hxx"
#include "qelx/qelx_result.hxx"
#include "qelx/qelx_string.hxx"

enum QELX_Attribute_Line_Font {
    QELX_Attribute_Line_Font_Solid = 0,
    QELX_Attribute_Line_Font_Dashed = 1,
    QELX_Attribute_Line_Font_Phantom = 2,
    QELX_Attribute_Line_Font_CentreLine = 3,
    QELX_Attribute_Line_Font_Dotted = 4,
};
enum QELX_Attribute_Line_Cap {
    QELX_Attribute_Line_Cap_Butt = 0,
    QELX_Attribute_Line_Cap_Round = 1,
    QELX_Attribute_Line_Cap_Square = 2,
};
enum QELX_Attribute_Line_Join {
    QELX_Attribute_Line_Join_Mitre = 0,
    QELX_Attribute_Line_Join_Round = 1,
    QELX_Attribute_Line_Join_Bevel = 2,
};
enum QELX_Attribute_Fill_Pattern {
    QELX_Attribute_Fill_Pattern_None = 0,
    QELX_Attribute_Fill_Pattern_Solid = 1,
    QELX_Attribute_Fill_Pattern_Hatched = 2,
};
enum QELX_Attribute_Pen_Pattern {
    QELX_Attribute_Pen_Pattern_Solid = 0,
    QELX_Attribute_Pen_Pattern_Dashed = 1,
};
enum QELX_Attribute_Overlap_Control {
    QELX_Attribute_Overlap_Control_None = 0,
    QELX_Attribute_Overlap_Control_Top = 1,
    QELX_Attribute_Overlap_Control_Bottom = 2,
};

class QELXAttributeExporter {
public:
    virtual ~QELXAttributeExporter() = default;

    virtual bool IsCorvaneExporter() { return false; }
    virtual QELIResult GetColor(const QELXIdentifier&, double*) { return QELI_NO_SOURCE; }
    virtual QELIResult GetLayer(const QELXIdentifier&, int&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetName(const QELXIdentifier&, QELXString&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetAlias(const QELXIdentifier&, QELXIdentifier&, QELXIdentifier&, int&, QELXString*&)
    {
        return QELI_NO_SOURCE;
    }
    // Frees texts handed out by GetAlias: delete[], null, count 0; 0.
    virtual QELIResult ReleaseAlias(int& count, QELXString*& texts);
    virtual QELIResult GetThickness(const QELXIdentifier&, double&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetPick(const QELXIdentifier&, bool&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetShow(const QELXIdentifier&, bool&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetSuppressed(const QELXIdentifier&, bool&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetId(const QELXIdentifier&, int&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetId(const QELXIdentifier&, QELXString&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetLineStyle(const QELXIdentifier&, QELX_Attribute_Line_Font&, QELX_Attribute_Line_Cap&,
                                    QELX_Attribute_Line_Cap&, QELX_Attribute_Line_Join&, QELX_Attribute_Line_Cap&,
                                    QELX_Attribute_Line_Cap&)
    {
        return QELI_NO_SOURCE;
    }
    virtual QELIResult GetLineWeight(const QELXIdentifier&, int&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetFillPattern(const QELXIdentifier&, QELX_Attribute_Fill_Pattern&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetPenPattern(const QELXIdentifier&, QELX_Attribute_Pen_Pattern&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetOverlapControl(const QELXIdentifier&, QELX_Attribute_Overlap_Control&)
    {
        return QELI_NO_SOURCE;
    }
    virtual QELIResult GetPlaneUnboundedness(const QELXIdentifier&, bool&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetXGenericId(const QELXIdentifier&, QELXString&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetXGenericFaceId(const QELXIdentifier&, QELXString&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetStepProductId(const QELXIdentifier&, QELXString&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetQuarnV4MockupSolid(const QELXIdentifier&, bool&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetVdaPSETIdentifier(const QELXIdentifier&, QELXString&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetVdaMDIIdentifier(const QELXIdentifier&, QELXString&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetPID(const QELXIdentifier&, QELXString&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetPName(const QELXIdentifier&, QELXString&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetAlias2(const QELXIdentifier&, QELXString&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetNativePointer(const QELXIdentifier&, void*&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetSurfaceUnboundedness(const QELXIdentifier&, bool&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetLayerColor(int, double*) { return QELI_NO_SOURCE; }
    virtual QELIResult GetLayerColor(const QELXIdentifier&, double*) { return QELI_NO_SOURCE; }
    virtual QELIResult GetLayerName(int, QELXString&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetLayerName(const QELXIdentifier&, QELXString&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetLayerState(int, bool&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetLayerState(const QELXIdentifier&, bool&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetLineType(const QELXIdentifier&, int&) { return QELI_NO_SOURCE; }
    virtual QELIResult GetID(const QELXIdentifier&, int&) { return QELI_NO_SOURCE; }
};

// Base of the framework family's attribute exporters.
class QELXODRAttributeExporter : public QELXAttributeExporter {
public:
    bool IsCorvaneExporter() override { return true; }
    // The identifier's word as a pointer: 0 when non-null, else 0x1000001.
    QELIResult GetNativePointer(const QELXIdentifier& id, void*& pointer) override;
};
