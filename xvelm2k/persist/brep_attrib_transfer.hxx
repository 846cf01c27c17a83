#pragma once
// Husk-to-generic attribute transfer and the small marks that the importer,
// exporter and healing steps put on kernel entities.
#include "model/containers.hxx"
#include "qelx/qelx_string.hxx"
#include "xvelm2k/export.hxx"

class ATTRIB;
class BODY;
class ENTITY;
class QELXAttributeExporter;
class QELXIdentifier;

class XVELM2KA_API QELXVelmBRepAttribTransfer {
public:
    // Converts the six husk kinds of the body, its faces, edges and vertices
    // into generic attributes (colour: the framework colour) and loses them.
    static bool transferOldIgesHuskAttributesRecursively(BODY* body);
    // The six converters on one entity; the husks stay, collected in the list.
    static bool transferOldIgesHuskAttributes(ENTITY* entity, QELXHashList<ATTRIB*>& lose_list);
    static bool transferOldIgesHuskID(ENTITY* entity, QELXHashList<ATTRIB*>& lose_list);
    static bool transferOldIgesHuskLayers(ENTITY* entity, QELXHashList<ATTRIB*>& lose_list);
    static bool transferOldIgesHuskLabels(ENTITY* entity, QELXHashList<ATTRIB*>& lose_list);
    static bool transferOldIgesHuskColors(ENTITY* entity, QELXHashList<ATTRIB*>& lose_list);
    static bool transferOldIgesHuskLineFonts(ENTITY* entity, QELXHashList<ATTRIB*>& lose_list);
    static bool transferOldIgesHuskLineWeights(ENTITY* entity, QELXHashList<ATTRIB*>& lose_list);

    // Marks of bodies made from free points, curves and surfaces.
    static bool IsFreePoint(BODY* body);
    static bool IsFreeCurve(BODY* body);
    static bool IsFreeSurface(BODY* body);
    static void SetFreePoint(BODY* body);
    static void SetFreeCurve(BODY* body);
    static void SetFreeSurface(BODY* body);

    // Identifiers of VDA points; an empty text or a null entity adds nothing.
    // True whatever the kernel says.
    static bool SetMDIIndentifier(ENTITY* entity, QELXString& text);
    static bool SetPSETIndentifier(ENTITY* entity, QELXString& text);

    // A face, or a body of exactly one face, that is an unbounded plane.
    static bool SetPlaneUnboundedness(ENTITY* entity);
    static bool GetPlaneUnboundedness(ENTITY* entity);
    // The mark, when the source says the entity is an unbounded plane; false
    // for a null entity or exporter or an invalid identifier.
    static bool transferPlaneUnboundedness(ENTITY* entity, const QELXIdentifier& source,
                                           QELXAttributeExporter* exporter);

    // The analytic surface tied to a face.
    static bool setAnalyticSurface(ENTITY* owner, ENTITY* surface);
    static bool getAnalyticSurface(ENTITY* entity, ENTITY*& surface);
};
