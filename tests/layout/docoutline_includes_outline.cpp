// docoutline lists compound files byte for byte: it never uses the outline record.
#include "outline/record.h"
