// docoutline-batch sees the outline library's public headers only, never the readers' internals.
#include "cfb/file_state.h"
