// docoutline's code must not see docoutline-batch's headers.
#include "json.h"
