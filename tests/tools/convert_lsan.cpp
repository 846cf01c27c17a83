// The leak check of this program passes over Open CASCADE's static tables.
#include "qelx_formats/exchange_leak_suppressions.hxx"
