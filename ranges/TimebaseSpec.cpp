#include "ranges/TimebaseSpec.h"

TimebaseSpec::TimebaseSpec(int decimation_, int points_, const char* label_)
    : decimation(decimation_), points(points_), label(label_ != nullptr ? label_ : "") {}

TimebaseSpec::~TimebaseSpec() = default;
