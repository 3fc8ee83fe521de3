#pragma once

#include <gmock/gmock.h>

// Matches a std::expected that failed with the given error. Unlike comparing `.error()`
// directly, a result that wrongly succeeded fails the test instead of reading an error
// that is not there.
MATCHER_P(FailsWith, expected, "fails with the expected error")
{
    if (arg.has_value()) {
        *result_listener << "which succeeded";
        return false;
    }
    return arg.error() == expected;
}
