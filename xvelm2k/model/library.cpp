// The connector library's own translation unit: the model layer's sources join it here.
#include "xvelm2k/export.hxx"
