// The methods over the bridge (see bridge_methods.h): all of it is in the header; this file
// gives the library its object.
#include "service/bridge_methods.h"
