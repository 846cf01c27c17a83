#pragma once
// The connector's kernel message module "xvelm2k/src": its error numbers are
// message_code(index) for the indices below.
#include "velm/errors.hxx"
#include "xvelm2k/export.hxx"

enum QELXVelmMessage {
    QELX_VELM_S_OK = 0,
    QELX_VELM_S_PARTIAL = 1,
    QELX_VELM_E_FAIL = 2,
    QELX_VELM_E_ERROR = 3,
    QELX_VELM_E_ABORT = 4,
    QELX_VELM_E_UNEXPECTED = 5,
    QELX_VELM_E_INVALID_COMPONENT = 6,
    QELX_VELM_E_INVALID_OBJECT = 7,
    QELX_VELM_E_INVALID_ARGUMENT = 8,
    QELX_VELM_E_FILE_NOT_FOUND = 9,
    QELX_VELM_E_NO_FILE_OPENED = 10,
    QELX_VELM_E_NO_FILE_SAVED = 11,
    QELX_VELM_S_NO_ENTITIES = 12,
    QELX_VELM_E_BOX_TOO_BIG = 13,
    QELX_VELM_E_BOX_TOO_SMALL = 14,
    QELX_VELM_E_INVALID_WRITE_LENGTH_UNIT = 15,
    QELX_VELM_E_FILE_ENCRYPTED = 16,
    QELX_VELM_E_BREP_JOIN_FAILED = 17,
    QELX_VELM_E_SOLID_OUTPUT_AS_SHEETS = 18,
    QELX_VELM_E_FILE_UNSUPPORTED_VERSION = 19,
    QELX_VELM_E_NOT_IMPLEMENTED = 20,
    QELX_VELM_S_NO_TRANSLATABLE_GEOMETRY = 21,
};

// Built by the connector's last start-up registration, removed at exit.
extern XVELM2KA_API message_module xvelm2k_errorcode_errmod;

// The module's (name, text) pairs, ended by a pair of nulls.
extern const message_list xvelm2kMessageList[];
