#include "model/message_module.hxx"

#include "model/memory_init.hxx"

// Constant data: ready before any start-up code runs, whatever the order.
constinit const message_list xvelm2kMessageList[] = {
    {"QELX_VELM_S_OK", "API successful"},
    {"QELX_VELM_S_PARTIAL", "API is partially successful,some entities not translated"},
    {"QELX_VELM_E_FAIL", "API unsuccessful"},
    {"QELX_VELM_E_ERROR", "A problem occurred in the API"},
    {"QELX_VELM_E_ABORT", "Exception, API aborted"},
    {"QELX_VELM_E_UNEXPECTED", "System exception"},
    {"QELX_VELM_E_INVALID_COMPONENT", "Invalid component"},
    {"QELX_VELM_E_INVALID_OBJECT", "Invalid object"},
    {"QELX_VELM_E_INVALID_ARGUMENT", "Invalid argument"},
    {"QELX_VELM_E_FILE_NOT_FOUND", "File not found, check the path or the name of the file"},
    {"QELX_VELM_E_NO_FILE_OPENED", "File could not be opened"},
    {"QELX_VELM_E_NO_FILE_SAVED", "Output file could not be saved"},
    {"QELX_VELM_S_NO_ENTITIES", "No entities to be converted"},
    {"QELX_VELM_E_BOX_TOO_BIG", "Entity size exceeds valid velm box"},
    {"QELX_VELM_E_BOX_TOO_SMALL", "Entity size is smaller than valid velm box"},
    {"QELX_VELM_E_INVALID_WRITE_LENGTH_UNIT", "File write unit is invalid"},
    {"QELX_VELM_E_FILE_ENCRYPTED", "Encrypted File"},
    {"QELX_VELM_E_BREP_JOIN_FAILED", "Stitch operation unsuccessful"},
    {"QELX_VELM_E_SOLID_OUTPUT_AS_SHEETS", "Unstitch on non-manifold velm body was unsuccessful. Exploded into sheets"},
    {"QELX_VELM_E_FILE_UNSUPPORTED_VERSION", "File version is not supported"},
    {"QELX_VELM_E_NOT_IMPLEMENTED", "Method is not implemented"},
    {"QELX_VELM_S_NO_TRANSLATABLE_GEOMETRY", "No translatable geometry"},
    {nullptr, nullptr},
};
