// The three-channel model: the cards of slots 1, 2 and 3 answer.
#include "MenusFixture.h"

std::vector<unsigned> menustest::answeringSlots() { return {1, 2, 3}; }
