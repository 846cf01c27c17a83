#pragma once
// Post-import healing: the recipes and the body operations they share.
// Static members only; the class holds no data.
#include <string>

#include "model/containers.hxx"
#include "model/kernel_functions.hxx"
#include "xvelm2k/export.hxx"

class BODY;
class FACE;
class ENTITY_LIST;
class Ve_BodyTag;
class Ve_CocoonTag;
class QELXVelmDocument;
class surface;

class XVELM2KA_API QELXVeRepairUtils {
public:
    // ---- Components and body utilities (heal/components.cpp) ----

    // Whether a vertex of one component (level 0 shells, 1 lumps) coincides
    // with a different vertex of another: closer than QELresabs, or closer
    // than the larger tolerance when one of them is tolerant.
    static bool HasOTVAcrossComponents(BODY* body, int level);
    // For each body of `in` whose shells touch, the second and later shells
    // of its first lump move into new bodies appended to `out`.
    static void ve_separate_shells(ENTITY_LIST& in, ENTITY_LIST& out);
    // Bodies of the list whose lumps touch are separated into their connected
    // pieces; the pieces are appended to the list, and each such body and
    // its pieces share a new group marked "ATTRIB_XVELM_SEPARATED_BODIES".
    static void SeparateLumpsIfOTV(ENTITY_LIST& bodies);
    static void makeDoubleSided(FACE* face);
    static void makeDoubleSided(BODY* body);
    static bool isOpenBody(BODY* body);
    static bool isEmpty(BODY* body);
    static bool needsTrimming(FACE* face);
    // Edges and vertices with gaps beyond QELresabs made tolerant.
    static void makeTolerant(BODY* body);
    // makeTolerant, then the body's boxes reset.
    static void cleanup(BODY* body);
    // Edges merged across C1 vertices in every body of the set, with the
    // kernel option "merge_spline_vertex" on for the duration.
    static void mergeC1Edges(Ve_CocoonTag* set);

    // ---- STEP recipe (heal/step_recipe.cpp) ----

    // Each body of the set healed by QELXStepVelmHealer; the bodies the
    // healer hands back take its place, in order. Repair events numbered
    // from 0.
    static void PostProcessRepairStep(Ve_CocoonTag* set);

    // ---- Point sets and product data (heal/point_sets.cpp) ----

    // Point bodies named by a "PSET" (else "MDI") attribute become free
    // vertices, one group per name, appended to the list after its other
    // entities; a point body leaves the list only once its vertex is grouped.
    static void groupPSET(ENTITY_LIST& entities);
    // Calls the registered product-data callback once with the document's
    // entity list, its product name and its source file name.
    static void MakeQELXVelmProductDataCallback(QELXVelmDocument* document, bool flag);

    // ---- Post-import healing (heal/repair_utils_*.cpp) ----

    // Every body of the set healed by the recipe of the first source switch
    // that is on (ProE, V4, V5, Ug, Vda, Ps, Step, Iges, Ideas, Inventor),
    // else by the standard repair of each body. A kernel error stops the body
    // it arose in only; the set then holds every body healed, added or left,
    // and none that the recipe removed.
    static void postProcessHeal(Ve_CocoonTag* set);
    // No recipe calls it (the file reader sews a file's loose faces); offered
    // to callers that hold loose sheets of their own.
    // Under "StitchSheetBodies" (on unless set off): the open sheet bodies of
    // the set, faces standing alone among them, stitched along their free
    // edges; sheets that meet become one body, and a body whose faces close
    // becomes a solid facing outwards. Bodies it changed take the places of
    // the sheets. Where the joined faces of a group would not pass the
    // kernel's checker or close without agreeing on their outside, that
    // group's sheets stay as they were and the rest are joined. A kernel
    // failure part way takes the whole joining back and is warned of, the
    // warning starting with SheetJoiningFailed and naming what failed: the
    // sheets are then healed as they came, and a caller that must not pass
    // loose sheets for the model listens for it.
    static void stitchSheetBodies(Ve_CocoonTag* set);
    static constexpr const char* SheetJoiningFailed = "Loose faces could not be joined";
    // The standard repair of one body.
    static void postProcessHeal(Ve_BodyTag* body);

    // The surface shows neither an irregularity nor a self-intersection.
    static bool isSurfValid(const surface& equation);

private:
    static void postProcessRepairPs(Ve_CocoonTag* set);
    static void postProcessRepairPs(Ve_BodyTag* body, const std::string& label);
    static void postProcessRepairInventor(Ve_CocoonTag* set);
    static void postProcessRepairProe(Ve_CocoonTag* set);
    static void postProcessRepairV4(Ve_CocoonTag* set);
    // `label` names the body in the warnings of steps taken back.
    static void postProcessRepairV4(Ve_BodyTag* body, QELXDynamicArray<Ve_BodyTag*>& newBodies,
                                    const std::string& label);
    static void postProcessRepairV5(Ve_CocoonTag* set);
    static void postProcessRepairV5(Ve_BodyTag* body, const std::string& label);
    static void postProcessRepairIdeas(Ve_CocoonTag* set);
    static void postProcessRepairUg(Ve_CocoonTag* set);
    static void postProcessRepairVda(Ve_CocoonTag* set);
    static void postProcessRepairIges(Ve_CocoonTag* set);

    // The wire edges split at their tangent breaks; with the flag, coincident
    // vertices merged afterwards.
    static void splitWireBody(Ve_BodyTag* body, bool mergeVertices);
    // A wire body of one edge no longer than the framework's position tolerance.
    static bool isWireSmall(Ve_BodyTag* body);
    // Spline surfaces with a singularity cut down to their faces' parameter boxes.
    static void subsetSurfacesIfSingular(Ve_BodyTag* body);
    // The separation walk of the ProE and V4 recipes over the set.
    static void separationWalk(Ve_CocoonTag* set, bool v4);
};

// The second and later shells of the body's first lump move into new bodies
// (with the body's attributes and groups) appended to `out`; a body with
// fewer than two shells is left alone.
XVELM2KA_API void splitShellsIntoBodies(BODY*& body, ENTITY_LIST& out);
