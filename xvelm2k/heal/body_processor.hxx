#pragma once
// Loose kernel topology made into bodies, one body per convertible entity.
#include "model/containers.hxx"
#include "model/entity_views.hxx"
#include "xvelm2k/export.hxx"

class ENTITY_LIST;

class XVELM2KA_API Ve_BodyProcessor {
public:
    // In list order: a BODY as it is; a FACE as a sheet body holding it; a
    // WIRE in a new body; an EDGE as a wire body; a VERTEX (or an APOINT,
    // through a new vertex) as a wire body of one curve-less edge from the
    // vertex back to it. Other entities, and conversions the kernel refuses,
    // give nothing. Null slots are skipped.
    static QELXDynamicArray<Ve_BodyTag*>* getBodiesFromEntity(const ENTITY_LIST& entities);
    // A body, face, wire, edge, vertex or point; false for null.
    static bool IsEntityOfBodyType(const ENTITY* entity);
    // Each body as it is, its faces made single-sided, unless it is
    // non-manifold in a way the unstitching switches allow (both ways at
    // once: always): then the pieces of its unstitching, in their order.
    static QELXDynamicArray<Ve_BodyTag*> getManifoldBodies(QELXDynamicArray<Ve_BodyTag*> bodies);
    // The body one entity becomes, or null.
    static Ve_BodyTag* bodyFromEntity(ENTITY* entity);
};
