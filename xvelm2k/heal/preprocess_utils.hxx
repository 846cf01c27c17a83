#pragma once
// Export-time preprocessing of a document and of its bodies, chosen by the
// preprocessing switches of the target format. Static members only.
#include "xvelm2k/export.hxx"

class ENTITY;
class bs3_surf_def;
class Ve_DocumentTag;
class Ve_BodyTag;

class XVELM2KA_API QELXPreprocessVelmUtils {
public:
    // The document-level preprocessing of the first preprocessing switch that
    // is on, which then marks the document preprocessed; with none on the
    // document is left as it is, unmarked.
    static void preProcessBodies(Ve_DocumentTag* document);
    // One body just before it is walked: the body recipe of the target, then
    // surfaces the framework has no type for replaced by B-splines.
    static void PreProcessBody(Ve_BodyTag* body);
    // Scar edges of every solid offered to the kernel's clean-up; true when
    // some solid had any.
    static bool removeScarEdges(Ve_DocumentTag* document);
    // The first preprocessing switch that is on, in the order V4, V5, Step,
    // Vda, Iges, Generic, Ideas; -1 when none is.
    static int activeRecipe();
    // The end of an export: the process-wide switches a document recipe
    // wrote for the bodies of that export get their earlier values back.
    static void exportEnded();

    // Document recipes.
    static void preProcessBodiesV4(Ve_DocumentTag* document);
    static void preProcessBodiesV5(Ve_DocumentTag* document);
    static void PreProcessBodiesStep(Ve_DocumentTag* document);
    static void preProcessBodiesVda(Ve_DocumentTag* document);
    static void preProcessBodiesIges(Ve_DocumentTag* document);
    static void preProcessBodiesGeneric(Ve_DocumentTag* document);
    static void preProcessBodiesIdeas(Ve_DocumentTag* document);
    static bool xvda_supported_entity(ENTITY* entity);
    static Ve_BodyTag* xvda_splconvert_entity(ENTITY* entity);
    static Ve_BodyTag* xvda_splconvert_body(Ve_BodyTag* body);

    // Body recipes.
    static void PreProcessBodyV4(Ve_BodyTag* body);
    static void PreProcessBodyV5(Ve_BodyTag* body);
    static void PreProcessBodyStep(Ve_BodyTag* body);
    static void PreProcessBodyVda(Ve_BodyTag* body);
    static void PreProcessBodyIges(Ve_BodyTag* body);
    static void PreProcessBodyGeneric(Ve_BodyTag* body);
    static void PreProcessBodyIdeas(Ve_BodyTag* body);
    static void PreProcessBodyDefault(Ve_BodyTag* body);
    // Edges whose two coedges lie in one loop, offered to the kernel's
    // clean-up between the "RemoveScarEdges" task events; true when any.
    static bool removeScarEdges(Ve_BodyTag* body);
    // Spline faces with a parameter range under 0.001 over more than 25
    // knot spans reparametrised to one unit per span.
    static void ReparametrizeBadFaces(Ve_BodyTag* body);
    static void SplineConvertOndrelUnsupportedSurfaces(Ve_BodyTag* body);
    // Distinct knots of the B-spline surface in u, in v.
    static int GetUniqueKnotsU(bs3_surf_def* const& surface);
    static int GetUniqueKnotsV(bs3_surf_def* const& surface);
};
