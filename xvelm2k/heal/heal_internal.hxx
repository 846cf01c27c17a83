#pragma once
// What the healing files share: task events, switch reads and a kernel
// option held at a value for the length of a step.
#include "qelx/qelx_events.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/bspline.hxx"
#include "velm/options.hxx"
#include "xvelm2k/export.hxx"

#include <initializer_list>

class COEDGE;
class surface;

namespace ve_heal {

// The coedge's pcurve made afresh by the kernel and its face's loops placed
// again (an intcurve edge losing the pcurves it carried); the edge's
// tolerant vertices are flagged for a tolerance update. Nothing on a spline
// offset whose check reports a bad surface. The tolerant-edge fixes' rebuild.
XVELM2KA_API void rebuildCoedgePCurve(COEDGE* coedge);

constexpr int kTaskLevel = 50;

// Start and end events of one task; the end always reports success.
inline void taskStart(const char* start, const char* task) { QELXStartTaskEvent::Fire(start, task, kTaskLevel); }
inline void taskEnd(const char* end, const char* task) { QELXEndTaskEvent::Fire(0, end, task, kTaskLevel, true); }
// The work between its task's start and end events; the end is fired on
// every way out, so that a kernel error ending the work leaves no task open.
template <class F>
void inTask(const char* start, const char* end, const char* task, F&& work)
{
    taskStart(start, task);
    try {
        work();
    } catch (...) {
        taskEnd(end, task);
        throw;
    }
    taskEnd(end, task);
}

// A kernel option set for the scope and put back to what it read on every
// way out (an integer or logical value, else 0). Nothing when the kernel has
// no such option.
class KernelOptionScope {
public:
    explicit KernelOptionScope(const char* name) : m_option(find_option(name))
    {
        if (m_option)
            m_saved = m_option->type() == option_int || m_option->type() == option_logical ? m_option->count() : 0;
    }
    KernelOptionScope(const KernelOptionScope&) = delete;
    KernelOptionScope& operator=(const KernelOptionScope&) = delete;
    ~KernelOptionScope()
    {
        if (m_option && m_changed)
            m_option->set(m_saved);
    }
    bool found() const { return m_option != nullptr; }
    int saved() const { return m_saved; }
    void set(int value)
    {
        if (!m_option)
            return;
        m_option->set(value);
        m_changed = true;
    }

private:
    option_header* m_option;
    int m_saved = 0;
    bool m_changed = false;
};

// The first status a guarded check of the surface reports for the wanted
// statuses, between "SplineSurfaceCheck" task events: -1 when it finds none,
// -2 when the check itself failed.
int firstSurfaceStatus(const surface& equation, std::initializer_list<int> statuses);

// A B-spline curve's arrays as bs3_curve_to_array hands them out, freed with
// the holder.
struct Bs3CurveArrays {
    explicit Bs3CurveArrays(bs3_curve bs)
    {
        bs3_curve_to_array(bs, dim, degree, rational, count, points, weights, knotCount, knots);
    }
    Bs3CurveArrays(const Bs3CurveArrays&) = delete;
    Bs3CurveArrays& operator=(const Bs3CurveArrays&) = delete;
    ~Bs3CurveArrays()
    {
        delete[] points;
        delete[] weights;
        delete[] knots;
    }
    int dim = 0, degree = 0, rational = 0, count = 0, knotCount = 0;
    QELposition* points = nullptr;
    double* weights = nullptr; // null when not rational
    double* knots = nullptr;
};

inline int switchCount(const Gk_Option* option) { return option ? option->count() : 0; }

} // namespace ve_heal
