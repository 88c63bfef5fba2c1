// A signal header that reaches up into the interpreter: the layer check must
// refuse this tree.
#pragma once

#include "dsp/complex.h"
#include "vm/isa.h"
