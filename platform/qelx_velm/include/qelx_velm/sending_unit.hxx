#pragma once
// The length unit of the system a running conversion reads from.
#include "qelx/qelx_result.hxx"
#include "qelx/qelx_units.hxx"

// The unit of the running conversion's input document; 0x1000001 (unit
// untouched) without a conversion, an input document or its unit.
QELIResult get_sending_system_unit(QELXUnit& unit);
// Millimetres per unit; 0x1000001 (factor untouched) for a unit without a
// length (none, unspecified).
QELIResult GetUnitScaleFactor(QELXUnit unit, double& factor);
