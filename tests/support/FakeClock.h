#pragma once
#include "core/events/WatchEvent.h"

namespace corvane::test {

struct FakeClock : IClock {
    LocalTime now{2006, 5, 1, 9, 5, 7};
    LocalTime Now() override { return now; }
};

}  // namespace corvane::test
