// The leak check of this program passes over Open CASCADE's static tables
// (the recipe sweep over sample models reads them through the driver).
#include "qelx_formats/exchange_leak_suppressions.hxx"
