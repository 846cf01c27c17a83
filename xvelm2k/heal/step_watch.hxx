#pragma once
// The one watch over the repair steps of the healing recipes: a step is kept
// only when it leaves its body no worse than it found it. No checker finding
// that was not there before (on the faces the step touched), no closed body
// opened, no tolerance raised to a sizeable part of the body unless it left
// the checker nothing to find on a body it found fault with, none raised past
// twice the widest gap the body had (what closing its gaps needed), and the area of
// every face and the volume of a sound solid kept within the accuracy of the
// geometry the step replaced. A step that makes the body worse is taken back
// whole and a warning names the body and the step.
//
//   StepWatch watch(body, "body 3");   // "": named by its faces
//   watch.step("fixCurveForms", [&] { util.fixCurveForms(); });
//
// Nothing is integrated ahead: after a step that changed the shape of some
// faces, those faces alone are measured as the step left them and, unless a
// measure of them is kept from before, as it found them (the step's frame
// shows the body as it was without undoing the step). A face's volume share
// is its flux, so the volume is compared without measuring the whole body.
// A step that finds nothing to do costs nothing. A kernel error inside a
// step passes on to the caller as before.
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "model/kernel_call_bracket.hxx"
#include "velm/insanity.hxx"
#include "velm/query.hxx"
#include "xvelm2k/export.hxx"

class BODY;
class FACE;
class Ve_BodyTag;

namespace ve_heal {

// What a face's area and flux follow (see shapeOf).
struct FaceShape {
    const void* surface = nullptr;
    bool reversed = false;
    std::vector<double> surfacePoints;
    int loops = 0;
    double loopSums[7] = {}; // vector area, length and first moment of the loops
};
FaceShape shapeOf(const FACE* face);
// The same shape, on a body `size` across.
bool sameShape(const FaceShape& a, const FaceShape& b, double size);

// What the watch keeps of one face, so that a step is measured on the faces
// it touched alone.
struct FaceState {
    std::map<int, int> findings; // the checker's findings on the face and below
    bool checked = true;         // false: the check failed, the findings are unknown
    bool reversed = false;
    const void* surface = nullptr;
    FaceShape shape;
    std::optional<face_measures> measured; // kept once the face was measured
    bool unmeasurable = false;             // the kernel refused to measure it
};

// What the watch compares of a body as a whole.
struct BodyState {
    std::map<int, int> findings; // checker findings by message, counted
    bool checked = true;         // every face's check ran
    bool faces = false;          // the body has a face
    bool closed = false;         // it has faces and no free edge
    double tolerance = 0.0;      // the largest edge or vertex tolerance
    double size = 0.0;           // the diagonal of the vertices' box
};

// The measures of the faces a step changed the shape of: `before` as the
// step found them (faces it changed or lost), `after` as it left them (faces
// it changed or made). Each face's measure is there or the comparison is off.
// A face the checker found fault with before the step is being mended: its
// area may change as its loops are put right, so it is compared by neither.
// A loop repair chooses which side of each loop its face lies on: when it
// left the faces it reshaped bounded by the same curves (`regrouped`, loops
// turned or moved onto faces of their own), a change of area is what it is
// for, and only the volume of a sound solid is held to it.
struct ShapeChange {
    std::map<const FACE*, face_measures> before, after;
    std::set<const FACE*> faulty; // faces of `before` with checker findings
    bool measured = true;  // every face was measured
    bool sameFaces = true; // no face came or went
    bool regrouped = false;
};

XVELM2KA_API BodyState measureBody(BODY* body);
// What got worse from `before` to `after`, in a few words; "" when nothing did.
XVELM2KA_API std::string worseThan(const BodyState& before, const BodyState& after);
// A tolerance raised from `held` to `raised` on a body whose widest gap (an
// edge's curve off its pcurves, surfaces or vertices) was `gap`: "" when it stays within a small factor of what closing the gap
// needed; else what it covers past that.
XVELM2KA_API std::string tooTolerant(double held, double gap, double raised);
// The same for the faces a step reshaped, on a body `size` across; a volume
// change counts only between two sound closed bodies (`solid`).
XVELM2KA_API std::string worseShape(const ShapeChange& change, double size, bool solid);
// The widest edge or vertex tolerance of a body, and where it is: an edge's
// the widest of what it claims, how far its curve strays from its faces
// and vertices (the kernel's deviation) and how far a vertex lies from its
// spline's end where a writer holds the edge's range in to it, as the
// writers measure and widen it.
struct WidestTolerance {
    double tolerance = 0.0;
    double extent = 0.0;   // the diagonal of the box of the body's vertices and its edges' middles
    bool atVertex = false; // the widest is a vertex's (else an edge's)
    int index = 0;         // from 1, among the body's edges or vertices in kernel order; 0: none tolerant
};
XVELM2KA_API WidestTolerance widestTolerance(BODY* body);
// What a file writer would refuse in the body as it is (the writers' own
// rules, qelx/qelx_write_bounds.hxx): known more loosely than a file
// carries, naming its widest edge or vertex and that tolerance; else an
// edge ranged past the end of its spline, naming the edge. "" when neither.
XVELM2KA_API std::string writersRefusal(BODY* body);
// Healing's verdict on the bodies a healing left: each that the kernel's
// checks or a file writer's rules (writersRefusal) refuse is warned of, by
// its place among `bodies` and its name where it has one. Dead or null
// entries are passed over.
XVELM2KA_API void warnUnsoundHealedBodies(const std::vector<BODY*>& bodies);
// The warning a step that was taken back gives.
XVELM2KA_API std::string undoneStepText(const std::string& body, const char* step, const std::string& what);
// The warning of a step a kernel failure (`why`) stopped and that was taken
// back while the body's healing went on.
XVELM2KA_API std::string skippedStepText(const std::string& body, const char* step, const std::string& why);

class XVELM2KA_API StepWatch {
public:
    StepWatch(Ve_BodyTag* body, std::string label);
    StepWatch(BODY* body, std::string label);
    StepWatch(const StepWatch&) = delete;
    StepWatch& operator=(const StepWatch&) = delete;

    // Runs the step; false when it made the body worse, or went on past a
    // kernel failure it caught (a call refused, an error a guard kept), and
    // was taken back.
    template <class F>
    bool step(const char* name, F&& work)
    {
        if (!m_body)
            return (work(), true);
        baseline();
        std::string what;
        const Running running(this);
        long met = 0;
        bool passedOver = false;
        const outcome r = velmInnerCall([&] {
            met = failuresMet();
            work();
            if (failuresMet() != met) {
                passedOver = true;
                sys_error(qelvelm_api_errmod.message_code(VELM_API_FAILED));
            }
            if (stepDouble())
                stepDouble()(m_body, name);
            judge(what, name);
        });
        // What the step met is said here, or by the caller when it passes on.
        failuresTold(met);
        if (passedOver) {
            skipped(name);
            return false;
        }
        if (!what.empty()) {
            undone(name, what);
            return false;
        }
        if (!r.ok()) {
            failed(name);
            sys_error(r.error_number(), r.get_error_info());
        }
        return true;
    }

    // The step and body a kernel error last stopped ("step S on BODY"), taken
    // (then ""): the innermost watched step the error left, so that a healing
    // it ends can say where.
    static std::string takeFailedStep();

    // How warnings name the body the innermost running step is on ("body 3"),
    // for work deep inside a step that has something to say of its body;
    // `fallback` outside any watched step.
    static std::string runningBody(const std::string& fallback);

    // Tests: work done inside every watched step after the step's own, on its
    // body (harm to see taken back, or a harmless change to see kept); an
    // empty function ends it.
    static void setStepDouble(std::function<void(BODY*, const char* step)> work) { stepDouble() = std::move(work); }

private:
    // Kernel failures caught or refused so far and not yet said by a step.
    static long failuresMet();
    // Those met since `met` are said.
    static void failuresTold(long met);
    void skipped(const char* step);
    // The watch of a running step, innermost last.
    static std::vector<const StepWatch*>& running();
    struct Running {
        explicit Running(const StepWatch* watch) { running().push_back(watch); }
        ~Running() { running().pop_back(); }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
    };
    static std::function<void(BODY*, const char*)>& stepDouble();
    void baseline();
    // Inside the step's frame: `what` stays empty when the step is kept;
    // else it says what got worse and a kernel error fails the frame, which
    // takes the step back.
    void judge(std::string& what, const char* step);
    void undone(const char* step, const std::string& what);
    std::string label() const;
    void failed(const char* step);
    std::optional<face_measures> measure(FACE* face) const;
    // The body's volume before the step was negative (`faces` as it left it).
    bool insideOut(std::map<FACE*, FaceState>& faces, const ShapeChange& change) const;

    // Faces are checked again after every step that touched them; their
    // B-splines mostly stand unchanged and are tested once.
    check_geometry_memo m_memo;
    BODY* m_body;
    std::string m_label;
    std::optional<BodyState> m_state;
    std::map<FACE*, FaceState> m_faces;
    QELposition m_origin;  // about which face fluxes are taken, fixed for the watch
    double m_reach = 1.0;  // the body's size when first measured
};

} // namespace ve_heal
