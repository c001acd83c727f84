// A front end sees the readers' public headers only, never their internals.
#include "cfb/file_state.h"
