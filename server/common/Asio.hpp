#pragma once

// Boost 1.74's Asio uses std::exchange and friends without including <utility>, so every
// file that uses Asio includes this header before any other Boost header.
// clang-format off
#include <utility>
#include <boost/asio.hpp>
// clang-format on
