// The five channel generators.
#include "apu/apu.h"
