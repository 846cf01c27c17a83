#pragma once
// The framework's source-object attribute: a named attribute holding the
// native pointer of the source entity a kernel entity was made from. It is the
// kernel's generic pointer attribute, so a name lookup finds it.
#include "velm/attrib.hxx"

using QELX_SOURCE_OBJECT_ATTRIB = ATTRIB_GEN_POINTER;
