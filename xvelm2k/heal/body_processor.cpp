// Loose topology into bodies.
#include "heal/body_processor.hxx"

#include "model/kernel_call_bracket.hxx"
#include "model/memory_init.hxx"
#include "qelx_velm/ve_option_doc.hxx"
#include "velm/lists.hxx"
#include "velm/topology.hxx"
#include "velm/topology_api.hxx"

namespace {

// A refused API call as the kernel error that ends the bracket.
void raiseFailed(const outcome& result)
{
    if (!result.ok())
        sys_error(result.error_number(), result.get_error_info());
}

// A wire body of one curve-less edge from the vertex back to it.
BODY* pointBody(VERTEX* vertex)
{
    EDGE* edge = velm_require(VELM_NEW EDGE(vertex, vertex, nullptr, FORWARD));
    BODY* body = nullptr;
    raiseFailed(api_make_ewire(1, &edge, body));
    return body;
}

} // namespace

Ve_BodyTag* Ve_BodyProcessor::bodyFromEntity(ENTITY* entity)
{
    if (!entity)
        return nullptr;
    if (is_BODY(entity))
        return ve_view<Ve_BodyTag>(entity);
    BODY* body = nullptr;
    const outcome result = velmCall([&] {
        if (is_FACE(entity)) {
            FACE* face = static_cast<FACE*>(entity);
            raiseFailed(api_mk_by_faces(nullptr, 1, &face, body));
        } else if (is_WIRE(entity)) {
            body = velm_require(VELM_NEW BODY(static_cast<WIRE*>(entity)));
        } else if (is_EDGE(entity)) {
            EDGE* edge = static_cast<EDGE*>(entity);
            raiseFailed(api_make_ewire(1, &edge, body));
        } else if (is_VERTEX(entity)) {
            body = pointBody(static_cast<VERTEX*>(entity));
        } else if (is_APOINT(entity)) {
            body = pointBody(velm_require(VELM_NEW VERTEX(static_cast<APOINT*>(entity))));
        }
    });
    return result.ok() ? ve_view<Ve_BodyTag>(body) : nullptr;
}

QELXDynamicArray<Ve_BodyTag*>* Ve_BodyProcessor::getBodiesFromEntity(const ENTITY_LIST& entities)
{
    auto* bodies = new QELXDynamicArray<Ve_BodyTag*>;
    for (int i = 0, n = entities.count(); i < n; ++i)
        if (Ve_BodyTag* body = bodyFromEntity(entities[i]))
            bodies->Add(body);
    return bodies;
}

bool Ve_BodyProcessor::IsEntityOfBodyType(const ENTITY* entity)
{
    return entity && (is_BODY(entity) || is_FACE(entity) || is_WIRE(entity) || is_EDGE(entity) ||
                      is_VERTEX(entity) || is_APOINT(entity));
}

QELXDynamicArray<Ve_BodyTag*> Ve_BodyProcessor::getManifoldBodies(QELXDynamicArray<Ve_BodyTag*> bodies)
{
    QELXDynamicArray<Ve_BodyTag*> result;
    for (int i = 0; i < bodies.Count(); ++i) {
        Ve_BodyTag* body = bodies[i];
        if (!body)
            continue;
        const Ve_BodyTag::NonManifoldType kind = body->isNonManifold();
        const bool unstitch = kind == Ve_BodyTag::NonManifoldBoth ||
                              (kind == Ve_BodyTag::NonManifoldEdges && Ve_OptionDoc::isOn(Ve_OptionDoc::UnstitchNMEdge)) ||
                              (kind == Ve_BodyTag::NonManifoldVertices && Ve_OptionDoc::isOn(Ve_OptionDoc::UnstitchNMVertex));
        if (unstitch) {
            const QELXDynamicArray<Ve_EntityTag*> pieces = body->unstitchNonManifold();
            for (int k = 0; k < pieces.Count(); ++k)
                if (pieces[k])
                    result.Add(reinterpret_cast<Ve_BodyTag*>(pieces[k]));
            continue;
        }
        const QELXDynamicArray<Ve_FaceTag*> faces = body->getFaces();
        for (int k = 0; k < faces.Count(); ++k)
            faces[k]->makeSingleSided();
        result.Add(body);
    }
    return result;
}
