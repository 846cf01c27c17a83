#pragma once
// Export-time preprocessing of a document and of its bodies, chosen by the
// preprocessing switches of the target format.
#include "xvelm2k/export.hxx"

class Ve_DocumentTag;
class Ve_BodyTag;

class XVELM2KA_API QELXPreprocessVelmUtils {
public:
    // The document-level preprocessing of the first preprocessing switch that
    // is on, which then marks the document preprocessed; with none on the
    // document is left as it is, unmarked.
    static void preProcessBodies(Ve_DocumentTag* document);
    // One body before it is walked; changes it in place, if at all.
    static void PreProcessBody(Ve_BodyTag* body);
    // The first preprocessing switch that is on, in the order V4, V5, Step,
    // Vda, Iges, Generic, Ideas; -1 when none is.
    static int activeRecipe();
};
