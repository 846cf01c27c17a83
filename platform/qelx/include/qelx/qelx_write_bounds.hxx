#pragma once
// What a model may hold and still be written as it is: the file writers
// hold what they build to these rules, and healing warns of a body it
// leaves past them. One rule each, for both.

// How loosely a model may be known at a place. A STEP file carries one
// uncertainty for the whole model and an IGES file one resolution; their
// readers rebuild a place known only more loosely than a thousandth of the
// model's extent from its curves, and a vertex healing widened to reach a
// point far off comes back elsewhere (or its face unorientable): the
// writers read back what they write past it.

// The widest edge or vertex tolerance carried as it is by a model whose
// vertices' box has the diagonal `extent`.
inline double QELXCarriedTolerance(double extent)
{
    return 1e-3 * extent;
}

// Whether a model `extent` across whose widest edge or vertex tolerance is
// `widest` is known closely enough to be written as it is.
inline bool QELXToleranceCarried(double widest, double extent)
{
    return !(widest > QELXCarriedTolerance(extent));
}

// Whether an edge ranged [w0, w1] on a curve that is not periodic, whose
// parameters run [first, last], can be written: a file keeping the range as
// it is (BREP) reads back invalid past the curve's ends, or as another
// solid. A range past them by up to a thousandth of the curve's span is
// held in (the same at every scale); one further past cannot be.
inline bool QELXRangeHeldIn(double first, double last, double w0, double w1)
{
    const double slack = 1e-3 * (last > first ? last - first : first - last);
    return !(w0 < first - slack || w1 > last + slack);
}

// The range [w0, w1] as a writer holds it in to a spline's ends [first,
// last]: an end past them is moved onto them, and the vertex there must
// then reach the curve's point at the end it was moved to (its tolerance
// raised to that distance as the shapes are built).
inline void QELXRangeAsHeldIn(double first, double last, double& w0, double& w1)
{
    if (w0 < first)
        w0 = first;
    if (w1 > last)
        w1 = last;
}

// How wide a writer may make an edge or vertex of a body whose data allows
// `held` (its widest tolerance, the fits it was made by): far wider, the
// written faces meet where the body's do not.
inline double QELXWidestWritten(double held)
{
    return 10.0 * held;
}
