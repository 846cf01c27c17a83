// The watch over the recipes' repair steps: see step_watch.hxx.
#include "heal/step_watch.hxx"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <sstream>

#include "qelx/qelx_events.hxx"
#include "velm/bb.hxx"
#include "velm/errors.hxx"
#include "velm/insanity.hxx"
#include "velm/query.hxx"
#include "velm/topology.hxx"

namespace ve_heal {

namespace {

// Areas and volumes are integrated to this relative accuracy, and a change
// beyond ten times it is a change of the model: what replacing geometry by
// an approximation of it may cost at most.
constexpr double kMeasureAccuracy = 1e-5;
constexpr double kKeptWithin = 1e-4;
// A tolerance over this part of the body's size hides damage instead of
// mending it.
constexpr double kToleranceShare = 0.01;

template <class F>
void forEachFace(BODY* body, F&& visit)
{
    for (LUMP* l = body->lump(); l; l = l->next())
        for (SHELL* s = l->shell(); s; s = s->next())
            for (FACE* f = s->face(); f; f = f->next())
                visit(f);
}

} // namespace

BodyState measureBody(BODY* body)
{
    BodyState state;
    if (!body)
        return state;
    insanity_list* found = nullptr;
    if (api_check_entity(body, found).ok() && found)
        for (int i = 0; i < found->count(); ++i)
            ++state.findings[found->data(i)->get_insane_id()];
    delete found;

    bool freeEdge = false;
    bool areaKnown = true;
    QELposition low(std::numeric_limits<double>::max(), std::numeric_limits<double>::max(),
                    std::numeric_limits<double>::max());
    QELposition high(-low.x(), -low.y(), -low.z());
    auto seeVertex = [&](const VERTEX* v) {
        if (!v)
            return;
        state.tolerance = std::max(state.tolerance, v->get_tolerance());
        if (!v->geometry())
            return;
        const QELposition p = v->geometry()->coords();
        low = QELposition(std::min(low.x(), p.x()), std::min(low.y(), p.y()), std::min(low.z(), p.z()));
        high = QELposition(std::max(high.x(), p.x()), std::max(high.y(), p.y()), std::max(high.z(), p.z()));
    };
    forEachFace(body, [&](FACE* face) {
        state.faces = true;
        for (LOOP* loop = face->loop(); loop; loop = loop->next()) {
            COEDGE* first = loop->start();
            for (COEDGE* c = first; c;) {
                if (!c->partner())
                    freeEdge = true;
                if (const EDGE* e = c->edge()) {
                    state.tolerance = std::max(state.tolerance, e->get_tolerance());
                    seeVertex(e->start());
                    seeVertex(e->end());
                }
                c = c->next();
                if (c == first)
                    break;
            }
        }
        double area = 0.0, achieved = 0.0;
        if (areaKnown && api_ent_area(face, kMeasureAccuracy, area, achieved).ok())
            state.area += std::fabs(area);
        else
            areaKnown = false;
    });
    if (!areaKnown)
        state.area = std::numeric_limits<double>::quiet_NaN();
    state.closed = state.faces && !freeEdge;
    if (low.x() <= high.x())
        state.size = (high - low).len();
    if (state.closed && state.findings.empty()) {
        double volume = 0.0, achieved = 0.0;
        state.volumeMeasured = api_body_volume(body, kMeasureAccuracy, volume, achieved).ok();
        state.volume = volume;
    }
    return state;
}

std::string worseThan(const BodyState& before, const BodyState& after)
{
    std::ostringstream what;
    for (const auto& [id, n] : after.findings) {
        const auto was = before.findings.find(id);
        if (n > (was == before.findings.end() ? 0 : was->second)) {
            what << "new checker finding " << id;
            return what.str();
        }
    }
    if (before.closed && !after.closed)
        return "a closed body lost a face or came open";
    auto apart = [](double a, double b) {
        return std::fabs(a - b) > kKeptWithin * std::max(std::fabs(a), std::fabs(b)) + 1e-12;
    };
    if (std::isfinite(before.area) && std::isfinite(after.area) && apart(before.area, after.area)) {
        what << "area " << before.area << " became " << after.area;
        return what.str();
    }
    // An inside-out solid (negative volume) turned right is a mend.
    if (before.volumeMeasured && after.volumeMeasured && before.volume > 0.0 && apart(before.volume, after.volume)) {
        what << "volume " << before.volume << " became " << after.volume;
        return what.str();
    }
    const double size = std::max(before.size, after.size);
    if (after.tolerance > before.tolerance && after.tolerance > kToleranceShare * size && size > 0.0) {
        what << "tolerance raised to " << after.tolerance << " on a body " << size << " across";
        return what.str();
    }
    return "";
}

std::string undoneStepText(const std::string& body, const char* step, const std::string& what)
{
    return "Healing step " + std::string(step) + " made " + body + " worse (" + what + "): the step was undone";
}

StepWatch::StepWatch(Ve_BodyTag* body, std::string label)
    : StepWatch(reinterpret_cast<BODY*>(body), std::move(label))
{
}

StepWatch::StepWatch(BODY* body, std::string label) : m_body(body), m_label(std::move(label)) {}

void StepWatch::baseline()
{
    if (!m_state)
        m_state = measureBody(m_body);
}

void StepWatch::judge(std::string& what)
{
    // Nothing recorded: the body is as it was.
    if (!bb_frame_changed())
        return;
    BodyState now = measureBody(m_body);
    what = worseThan(*m_state, now);
    if (what.empty()) {
        m_state = std::move(now);
        return;
    }
    sys_error(qelvelm_api_errmod.message_code(VELM_API_FAILED));
}

void StepWatch::undone(const char* step, const std::string& what)
{
    std::string label = m_label;
    if (label.empty()) {
        int faces = 0;
        forEachFace(m_body, [&](FACE*) { ++faces; });
        label = "a body of " + std::to_string(faces) + (faces == 1 ? " face" : " faces");
    }
    QELXWarningEvent::Fire(undoneStepText(label, step, what).c_str());
}

} // namespace ve_heal
