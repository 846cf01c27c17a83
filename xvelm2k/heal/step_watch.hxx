#pragma once
// The one watch over the repair steps of the healing recipes: a step is kept
// only when it leaves its body no worse than it found it. No checker finding
// that was not there before (on the faces the step touched), no closed body
// opened, a sound solid's volume kept when a face turned, came or went, no
// tolerance raised to a sizeable part of the body. A step that makes the body worse is taken back whole and a warning
// names the body and the step.
//
//   StepWatch watch(body, "body 3");   // "": named by its faces
//   watch.step("fixCurveForms", [&] { util.fixCurveForms(); });
//
// The body is measured once before its first step and then only after a step
// that changed something, so a step that finds nothing to do costs nothing.
// A kernel error inside a step passes on to the caller as before.
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

#include "model/kernel_call_bracket.hxx"
#include "xvelm2k/export.hxx"

class BODY;
class FACE;
class Ve_BodyTag;

namespace ve_heal {

// What the watch keeps of one face, so that a step is measured on the faces
// it touched alone.
struct FaceState {
    std::map<int, int> findings; // the checker's findings on the face and below
    bool reversed = false;
    const void* surface = nullptr;
};

// What the watch compares of a body.
struct BodyState {
    std::map<int, int> findings; // checker findings by message, counted
    bool faces = false;          // the body has a face
    bool closed = false;         // it has faces and no free edge
    double volume = 0.0;         // signed; measured only for a sound closed body
    bool volumeMeasured = false;
    double tolerance = 0.0;      // the largest edge or vertex tolerance
    double size = 0.0;           // the diagonal of the vertices' box
};

XVELM2KA_API BodyState measureBody(BODY* body);
// The same, measuring afresh only the faces `touched` says were touched (and
// faces not in `faces`), the rest taken from `faces`, which is brought up to
// date; `before` gives the volume when no face turned, came or went.
BodyState measureBody(BODY* body, std::map<FACE*, FaceState>& faces, const std::function<bool(FACE*)>& touched,
                      const BodyState* before);
// What got worse from `before` to `after`, in a few words; "" when nothing did.
XVELM2KA_API std::string worseThan(const BodyState& before, const BodyState& after);
// The warning a step that was taken back gives.
XVELM2KA_API std::string undoneStepText(const std::string& body, const char* step, const std::string& what);

class XVELM2KA_API StepWatch {
public:
    StepWatch(Ve_BodyTag* body, std::string label);
    StepWatch(BODY* body, std::string label);
    StepWatch(const StepWatch&) = delete;
    StepWatch& operator=(const StepWatch&) = delete;

    // Runs the step; false when it made the body worse and was taken back.
    template <class F>
    bool step(const char* name, F&& work)
    {
        if (!m_body)
            return (work(), true);
        baseline();
        std::string what;
        const outcome r = velmInnerCall([&] {
            work();
            judge(what);
        });
        if (!what.empty()) {
            undone(name, what);
            return false;
        }
        if (!r.ok())
            sys_error(r.error_number(), r.get_error_info());
        return true;
    }

private:
    void baseline();
    // Inside the step's frame: `what` stays empty when the step is kept;
    // else it says what got worse and a kernel error fails the frame, which
    // takes the step back.
    void judge(std::string& what);
    void undone(const char* step, const std::string& what);

    BODY* m_body;
    std::string m_label;
    std::optional<BodyState> m_state;
    std::map<FACE*, FaceState> m_faces;
};

} // namespace ve_heal
