// docoutline-batch's code must not see docoutline's access layer.
#include "property_access.h"
