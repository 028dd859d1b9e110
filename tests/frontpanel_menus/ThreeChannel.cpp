#include "MenusFixture.h"

std::vector<unsigned> menustest::answeringSlots() { return {1, 2, 3}; }
