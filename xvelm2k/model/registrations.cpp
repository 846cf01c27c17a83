// The connector's start-up registrations, all in this one translation unit so
// that they are built in the order they are defined here and destroyed in the
// reverse order at exit, whatever the link order of the other objects. The
// order is fixed: the part-document cache, the curve to source-edge map, the
// two document caches, the restore definitions of the persistent classes, the
// surface-intersection worker map, the part restore definition, the four
// loop-repair agents, and last the message module. Registrations still to
// come take their place in that order, above the message module.
#include "model/document.hxx"
#include "model/memory_init.hxx"
#include "model/message_module.hxx"
#include "persist/persistent_class.hxx"
#include "trim/trim_face_cntl.hxx"

QELXHashMap<CURVE*, QELXIdentifier> Ve_TrimFaceCntl::_velmCurveSourceEdgeMap;
QELXVECacheMap Ve_DocumentTag::bodyCacheMap;
QELXVEShellCacheMap Ve_DocumentTag::shellCacheMap;

namespace {
const PersistentClassesAtLoad persistentClasses;
const PartClassAtLoad partClass;
} // namespace

XVELM2KA_API message_module xvelm2k_errorcode_errmod("xvelm2k/src", xvelm2kMessageList);
