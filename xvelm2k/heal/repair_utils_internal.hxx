#pragma once
// What the post-import recipes share: the repair event, the two wrapped
// steps, the working list and its write-back into the set, and the guard
// that keeps a kernel error inside the body it arose in.
#include <string>
#include <utility>

#include "heal/repair_utils.hxx"
#include "heal/step_watch.hxx"
#include "model/body_set.hxx"
#include "model/containers.hxx"
#include "model/entity_views.hxx"
#include "model/kernel_call_bracket.hxx"

class BODY;
class ENTITY_LIST;

namespace ve_recipes {

inline BODY* kernelOf(Ve_BodyTag* body) { return reinterpret_cast<BODY*>(body); }
inline Ve_BodyTag* viewOf(BODY* body) { return reinterpret_cast<Ve_BodyTag*>(body); }

// ("ToVelmRepair", "BRep", n) once a body has been handled.
void repairEvent(int n);
// How warnings name the nth body of a set (from 1).
std::string bodyLabel(int n);
// The body's own wire, or a wire of some shell of some lump.
bool hasWire(Ve_BodyTag* body);
// Sliver faces below the tolerance removed between their task events.
void removeSliverFaces(Ve_BodyTag* body, double tolerance);
// Coincident vertices merged by moving vertex geometry, shell by shell,
// between their task events; nothing when the shells cannot be listed.
void mergeDuplicateVertices(Ve_BodyTag* body);
// No shell of the body holds a face. Read from the topology itself, so that
// a failed kernel query never passes for an empty body that is then lost.
bool hasNoFace(Ve_BodyTag* body);
// The entity exists and is not lost.
bool isLive(Ve_BodyTag* body);
// The body goes from the kernel (and from the topology caches first).
void loseBody(Ve_BodyTag* body);
// The body at `at` leaves the list (`count`, a length the caller keeps of
// it, lowered with it; `dropped` set), then the kernel: in that order, since
// once lost its address may come back as a new entity's.
void dropAndLose(QELXDynamicArray<Ve_BodyTag*>& list, int at, int& count, bool& dropped);
// Faces without surface, and with the condition also faces of no area,
// unhooked into a body of their own that is then deleted.
XVELM2KA_API void removeFacesWithoutSurface(Ve_BodyTag* body, bool alsoWithoutArea);

// The warning of a body's healing that a kernel error ended: the watched
// step it stopped and the body, when a watch saw it.
void warnHealingStopped(const outcome& failure, const std::string& where);

// The warning of a watched step a kernel error stopped alone: the step was
// taken back and the body's healing went on.
void warnStepSkipped(const outcome& failure, const char* step, const std::string& body);

// A watched step whose kernel error ends that step only: caught inside the
// step, it is a failure the watch sees the step pass over, so the step is
// taken back and said in a warning naming the step and the body, and the
// recipe goes on.
template <class F>
void confinedStep(ve_heal::StepWatch& watch, const std::string&, const char* name, F&& work)
{
    watch.step(name, [&] { velmInnerCall(std::forward<F>(work)); });
}

// The body is healed as one unit: a kernel error raised by a step that does
// not catch it itself undoes the body's whole healing (the bodies made on the
// way go with it) and ends that body's work only, said in a warning naming
// the step and the body. A failed list query of a view is such an error
// here. True when it ran through.
// `where` ("step S on BODY") says where when no watched step saw the error.
template <class F>
bool healOneBody(F&& work, const std::string& where = std::string())
{
    ve_heal::StepWatch::takeFailedStep();
    FailedViewQueriesRaise strict;
    const outcome r = velmInnerCall(std::forward<F>(work));
    if (!r.ok()) {
        const std::string step = ve_heal::StepWatch::takeFailedStep();
        warnHealingStopped(r, step.empty() ? where : step);
    }
    return r.ok();
}

// The component pass: every body of `in` whose shells touch gives its second
// and later shells as new bodies appended to `out`.
void componentPass(const QELXDynamicArray<Ve_BodyTag*>& in, QELXDynamicArray<Ve_BodyTag*>& out);

// Keeps the set's array equal to a working list on every way out of a
// recipe, exceptions included. A recipe takes a body out of its lists before
// it loses it, so the list is what the set holds.
class SetWriteBack {
public:
    SetWriteBack(Ve_CocoonTag* set, const QELXDynamicArray<Ve_BodyTag*>& list) : m_set(set), m_list(&list) {}
    SetWriteBack(const SetWriteBack&) = delete;
    SetWriteBack& operator=(const SetWriteBack&) = delete;
    ~SetWriteBack();
    // A further list written after the first (bodies split off last).
    void alsoWrite(const QELXDynamicArray<Ve_BodyTag*>& tail) { m_tail = &tail; }

private:
    Ve_CocoonTag* m_set;
    const QELXDynamicArray<Ve_BodyTag*>* m_list;
    const QELXDynamicArray<Ve_BodyTag*>* m_tail = nullptr;
};

} // namespace ve_recipes
