// The support library's own translation unit: it carries the generated code of the doubles' Qt objects, built
// once for every test.
#include "Doubles.h"
#include "PortalDouble.h"
