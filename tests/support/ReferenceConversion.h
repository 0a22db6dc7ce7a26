// The plain versions the tests compare the fast routines with now live in the core, so the
// benchmarks can measure them too.
#pragma once

#include "TavrinReference.h"
