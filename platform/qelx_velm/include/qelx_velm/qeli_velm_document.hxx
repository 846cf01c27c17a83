#pragma once
// The kernel document of a nested conversion: a new kernel framework
// document, empty or starting with the entities of a list (groups the
// conversion is to meet), taken out into a handle when the run is over.
#include "qelx/qeli_conversion.hxx"

class ENTITY_LIST;

class QELIVelmDocument : public QELIDocument {
public:
    QELIVelmDocument();
    // The new document's native entity list starts with the list's entities.
    explicit QELIVelmDocument(ENTITY_LIST& entities);
};
