#pragma once
// Translation between the framework's result codes and kernel outcomes, and
// small exported helpers that live beside it.
#include "qelx/qelx_result.hxx"
#include "qelx/qelx_string.hxx"
#include "velm/errors.hxx"
#include "xvelm2k/export.hxx"

class ENTITY;
class ENTITY_LIST;
template <class T>
class QELXDynamicArray;

// Kernel outcome -> framework result; an error number not in the table is a failure (0x1000001).
XVELM2KA_API void mapOutcomeToQELXResult(const outcome& result, QELIResult& code);
XVELM2KA_API void mapOutcomeToInt(const outcome& result, int& code);
// Framework result -> kernel outcome; a code not in the table leaves the outcome as it was.
XVELM2KA_API void mapQELXResultToOutcome(const QELIResult& code, outcome& result);

// Deletes every entity of the list but the groups, in one kernel call. Always 0.
XVELM2KA_API QELIResult DeleteEntityListProperly(ENTITY_LIST& list);

// Sets the framework's read unit from the kernel's current save-file units.
XVELM2KA_API void setVelmReadFileUnit();

XVELM2KA_API bool operator<(const QELXString& a, const QELXString& b);

// The first entity whose label is not empty and equals the text byte for byte.
XVELM2KA_API bool findEntityByLabel(const char* label, const QELXDynamicArray<ENTITY*>& entities, ENTITY*& found);
// The first entity whose identifier number is the given one.
XVELM2KA_API bool findEntityById(int id, const QELXDynamicArray<ENTITY*>& entities, ENTITY*& found);
// The first entity whose name (as the attribute exporter reads it) is the
// given one; found is null and the result 0x1000001 when none is.
XVELM2KA_API QELIResult findEntityByName(const QELXDynamicArray<ENTITY*>& entities, const QELXString& name,
                                         ENTITY*& found);
