// Only docoutline-batch's reader adapter may use the readers.
#include "readers/fault.h"
