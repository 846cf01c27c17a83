// The watch over the recipes' repair steps: see step_watch.hxx.
#include "heal/step_watch.hxx"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <sstream>
#include <unordered_set>
#include <vector>

#include "qelx/qelx_events.hxx"
#include "velm/bb.hxx"
#include "velm/errors.hxx"
#include "velm/insanity.hxx"
#include "velm/query.hxx"
#include "velm/topology.hxx"

namespace ve_heal {

namespace {

// Volumes are integrated to this relative accuracy, and a change beyond ten
// times it is a change of the model: what replacing geometry by an
// approximation of it may cost at most. Face areas are not integrated step
// by step (that cost several times the healing itself): a face lost from a
// closed body, a face turned or a surface replaced shows in the volume, and
// a face moved off its edges in the checker's findings.
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

FaceState measureFace(FACE* face)
{
    FaceState state;
    insanity_list* found = nullptr;
    if (api_check_entity(face, found).ok() && found)
        for (int i = 0; i < found->count(); ++i)
            ++state.findings[found->data(i)->get_insane_id()];
    delete found;
    state.reversed = face->sense() == REVERSED;
    state.surface = face->geometry();
    return state;
}

BodyState measureBody(BODY* body, std::map<FACE*, FaceState>& faces, const std::function<bool(FACE*)>& touched,
                      const BodyState* before)
{
    BodyState state;
    if (!body)
        return state;
    bool freeEdge = false;
    bool turned = false;
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
    std::map<FACE*, FaceState> now;
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
        const auto known = faces.find(face);
        FaceState f = known == faces.end() || touched(face) ? measureFace(face) : known->second;
        if (known == faces.end() || known->second.reversed != f.reversed || known->second.surface != f.surface)
            turned = true;
        for (const auto& [id, n] : f.findings)
            state.findings[id] += n;
        now.emplace(face, std::move(f));
    });
    turned = turned || now.size() != faces.size();
    faces = std::move(now);
    state.closed = state.faces && !freeEdge;
    if (low.x() <= high.x())
        state.size = (high - low).len();
    if (state.closed && state.findings.empty()) {
        if (before && !turned && before->volumeMeasured) {
            // No face turned, came or went: the volume stands.
            state.volumeMeasured = true;
            state.volume = before->volume;
        } else {
            double volume = 0.0, achieved = 0.0;
            state.volumeMeasured = api_body_volume(body, kMeasureAccuracy, volume, achieved).ok();
            state.volume = volume;
        }
    }
    return state;
}

BodyState measureBody(BODY* body)
{
    std::map<FACE*, FaceState> faces;
    return measureBody(body, faces, [](FACE*) { return true; }, nullptr);
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
        m_state = measureBody(m_body, m_faces, [](FACE*) { return true; }, nullptr);
}

void StepWatch::judge(std::string& what)
{
    // Nothing recorded: the body is as it was.
    if (!bb_frame_changed())
        return;
    // A face is touched when it, its loops, coedges, edges, vertices or the
    // geometry of any of them changed, came or went in the step.
    std::vector<ENTITY*> recorded;
    bb_frame_entities(recorded);
    const std::unordered_set<const void*> changed(recorded.begin(), recorded.end());
    auto in = [&](const void* e) { return e && changed.count(e) > 0; };
    auto touched = [&](FACE* face) {
        if (in(face) || in(face->geometry()))
            return true;
        for (LOOP* loop = face->loop(); loop; loop = loop->next()) {
            if (in(loop))
                return true;
            COEDGE* first = loop->start();
            for (COEDGE* c = first; c;) {
                const EDGE* e = c->edge();
                if (in(c) || in(c->geometry()) || in(e))
                    return true;
                if (e && (in(e->geometry()) || in(e->start()) || in(e->end())))
                    return true;
                for (const VERTEX* v : {e ? e->start() : nullptr, e ? e->end() : nullptr})
                    if (v && in(v->geometry()))
                        return true;
                c = c->next();
                if (c == first)
                    break;
            }
        }
        return false;
    };
    std::map<FACE*, FaceState> faces = m_faces;
    BodyState now = measureBody(m_body, faces, touched, &*m_state);
    what = worseThan(*m_state, now);
    if (what.empty()) {
        m_state = std::move(now);
        m_faces = std::move(faces);
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
