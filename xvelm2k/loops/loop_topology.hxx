#pragma once
// Small topology helpers shared by the loop classification sources.
#include "loops/ring_walk.hxx"
#include "model/containers.hxx"
#include "model/entity_views.hxx"
#include "velm/geometry_entity.hxx"
#include "velm/topology.hxx"

namespace ve_loops {

inline FACE* kernelFace(Ve_FaceTag* face) { return reinterpret_cast<FACE*>(face); }
inline Ve_FaceTag* faceView(FACE* face) { return ve_view<Ve_FaceTag>(face); }

// The equation of the face's surface; null when there is none.
inline const surface* faceSurface(const FACE* face)
{
    const SURFACE* s = face ? face->geometry() : nullptr;
    return s && s->has_equation() ? &s->equation() : nullptr;
}

// The face's loops in chain order, the walk bounded.
inline QELXDynamicArray<LOOP*> faceLoops(const FACE* face)
{
    QELXDynamicArray<LOOP*> loops;
    const long limit = ringWalkLimit();
    for (LOOP* l = face ? face->loop() : nullptr; l && loops.Count() < limit; l = l->next())
        loops.Add(l);
    return loops;
}

inline int faceLoopCount(const FACE* face) { return faceLoops(face).Count(); }

// Loop types 3 to 6 go round a closed direction.
inline bool isSeparationType(int type) { return type >= 3 && type <= 6; }

template <class T>
void removeFirst(QELXDynamicArray<T>& array, const T& value)
{
    const int at = array.Find(value);
    if (at >= 0)
        array.RemoveAt(at);
}

} // namespace ve_loops
