// Healing's verdict as the way out gives it: a healed body is sound only
// when the STEP writer, the strictest way out, would take it (its shapes
// built as that writer builds them and checked as it checks them, held
// against the kernel's own measures of the body, the text read back where
// its tolerances are wide). The kernel's checks alone pass bodies whose
// tolerant edges bridge gaps no file can carry. Header-only so that the
// driver and its tests share it.
#pragma once

#include <string>
#include <vector>

#include "body_measures.hxx"
#include "exchange_library.hxx"
#include "export_verb.hxx"

namespace xvelm {

// "" when every body of `top` passes the STEP writer's checks; else why
// not, naming the body and face.
namespace healed_verdict_detail {
inline std::string judged(ENTITY_LIST& top)
{
    std::string why;
    const qelx_formats::CadExchange* cad = cad_exchange(why);
    if (!cad)
        return "the healed bodies could not be judged (" + printable(why) + ")";
    qelx_test::TestModel walked;
    std::vector<const BODY*> bodies;
    ExportCounts counts;
    std::string failure;
    // The bodies the export makes of loose entities take their places in
    // `top` (a target document's, which deletes them with itself).
    if (!walk_document(top, walked, counts, failure, 0, &bodies, &top))
        return "the healed bodies could not be judged: " + failure;
    const qelx_formats::CadSourceMeasures measures = kernel_measures(bodies, walked);
    std::string error;
    if (cad->checkModel(walked, qelx_formats::CadFormat::Step, error, &measures) != QELI_OK)
        return "healing left a body unsound: " + printable(error);
    return "";
}
} // namespace healed_verdict_detail

// A kernel failure or an exhausted memory while judging fails the judgement,
// told as any verb tells it, never as a body passed.
inline std::string healed_bodies_unsound(ENTITY_LIST& top)
{
    try {
        return healed_verdict_detail::judged(top);
    } catch (...) {
        return "the healed bodies could not be judged: " + failure_in_flight();
    }
}

} // namespace xvelm
