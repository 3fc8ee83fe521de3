#include "ProcessCalls.hpp"

#include <gtest/gtest.h>

namespace lumora {
namespace {

using QuietStart = testing::ProcessOnEveryBackend;

// A start says what it serves and nothing of the schema it found in place: each thread's
// connection asked to make the table of applied steps, and PostgreSQL noticed on every start,
// even on an empty database, that it existed already.
TEST_P(QuietStart, SaysNothingOfTheSchemaOnAnEmptyDatabaseNorAgain)
{
    for (int start = 0; start < 2; ++start) {
        ASSERT_EQ(server->stop(), 0);
        const QString log = server->log();
        EXPECT_FALSE(log.contains("NOTICE")) << "start " << start << ": " << log.toStdString();
        startServer();
    }
}

LUMORA_ON_EVERY_BACKEND(QuietStart);

} // namespace
} // namespace lumora
