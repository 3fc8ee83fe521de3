#include "common/OpenConnections.hpp"

#include <gtest/gtest.h>

namespace lumora {
namespace {

// A connection that counts how often it is asked to close.
class CountedConnection final : public OpenConnections::Connection {
public:
    int closed = 0;

protected:
    void close() override { ++closed; }
};

// At the cap the connection that has waited longest for its request makes way, never one that
// has its request in, and it counts until it is gone; when none makes way there is no room,
// until one ends.
TEST(OpenConnections, AtTheCapTheConnectionWaitingLongestMakesWay)
{
    OpenConnections open(3, 3);
    std::vector<std::shared_ptr<CountedConnection>> connections;
    for (int i = 0; i < 4; ++i)
        connections.push_back(std::make_shared<CountedConnection>());
    const auto& [served, slow, later, newest]
        = std::tie(connections[0], connections[1], connections[2], connections[3]);
    EXPECT_TRUE(open.add(served, "a"));
    EXPECT_TRUE(open.add(slow, "a"));
    EXPECT_TRUE(open.add(later, "a"));
    served->hold();
    EXPECT_EQ(open.makeRoom(), OpenConnections::Room::coming);
    EXPECT_EQ(slow->closed, 1);
    EXPECT_EQ(open.makeRoom(), OpenConnections::Room::coming) << "it counts until it is gone";
    EXPECT_EQ(slow->closed + served->closed + later->closed, 1);
    open.remove(*slow);
    EXPECT_EQ(open.makeRoom(), OpenConnections::Room::free);
    EXPECT_TRUE(open.add(newest, "b"));

    later->hold();
    newest->hold();
    EXPECT_EQ(open.makeRoom(), OpenConnections::Room::none);
    EXPECT_FALSE(open.closeSlowest()) << "none waits";
    open.remove(*served);
    EXPECT_EQ(open.makeRoom(), OpenConnections::Room::free);

    // A connection waits again from its next request's first byte on, after the others.
    later->startWaiting();
    newest->startWaiting();
    EXPECT_TRUE(open.closeSlowest());
    EXPECT_EQ(later->closed, 1);
    EXPECT_EQ(newest->closed, 0);

    // One whose client takes its answer never makes way, however long it has been at it; one
    // whose client has taken none of it for its patience does.
    open.remove(*later);
    const auto answered = std::make_shared<CountedConnection>();
    EXPECT_TRUE(open.add(answered, "b"));
    answered->hold();
    answered->startMoving(std::chrono::hours(1));
    EXPECT_TRUE(open.closeSlowest());
    EXPECT_EQ(answered->closed, 0);
    EXPECT_EQ(newest->closed, 1);
    answered->startMoving(std::chrono::milliseconds(0));
    EXPECT_TRUE(open.closeSlowest());
    EXPECT_EQ(answered->closed, 1);
}

// A stop closes every connection still waiting for its request, and only those.
TEST(OpenConnections, AStopClosesTheConnectionsThatWait)
{
    OpenConnections open(10, 10);
    const auto waiting = std::make_shared<CountedConnection>();
    const auto answering = std::make_shared<CountedConnection>();
    open.add(waiting, "a");
    open.add(answering, "a");
    answering->hold();
    open.closeWaiting();
    EXPECT_EQ(waiting->closed, 1);
    EXPECT_EQ(answering->closed, 0);
}

} // namespace
} // namespace lumora
