// NROM (mapper 0): program and character ROM wired straight to the buses, no registers. The power-on
// arrangement is the whole map.
#include "cart/board.h"

extern const Board nrom_board = {.name = "NROM"};
