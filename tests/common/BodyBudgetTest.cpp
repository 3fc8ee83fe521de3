#include "common/BodyBudget.hpp"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumora {
namespace {

using namespace std::chrono_literals;
using Place = BodyBudget::Place;
using Whose = BodyBudget::Place::Whose;

const BodyBudget::Clock::time_point start {};

// 100 bytes of strangers' bodies, 60 from one address; 200 of vouched ones, 120 of one owner;
// 10 bytes a second.
BodyBudgetLimits limits()
{
    return { .total = 300, .strangers = 100, .perAddress = 60, .perOwner = 120, .floorRate = 10 };
}

// Each body takes from its key's share and its part, never from the other part; its bytes are
// counted as they arrive and given back when it goes.
TEST(BodyBudget, BodiesHoldNoMoreThanTheirKeysCapAndTheirPart)
{
    BodyBudget budget(limits());
    std::optional<Place> first(std::in_place, budget, Whose::stranger, "10.0.0.1", start);
    EXPECT_TRUE(first->cover(40, start));
    EXPECT_TRUE(first->cover(20, start)) << "shorter than counted already";
    Place second(budget, Whose::stranger, "10.0.0.1", start);
    EXPECT_FALSE(second.cover(21, start)) << "past the address's cap";
    EXPECT_TRUE(second.cover(20, start));

    // The owners' part is there all the same, each owner to its cap.
    Place owned(budget, Whose::owner, "ada", start);
    EXPECT_FALSE(owned.cover(121, start));
    EXPECT_TRUE(owned.cover(120, start));
    Place other(budget, Whose::owner, "bob", start);
    EXPECT_TRUE(other.cover(80, start));
    EXPECT_FALSE(other.cover(81, start)) << "past the owners' part";

    first.reset();
    EXPECT_TRUE(second.cover(60, start)) << "what a body held is free once it goes";
}

// When more keys ask for a part than it holds caps for, each key's share is the level at which
// what the others ask for, each up to that level, leaves the part whole: a key asks for what it
// holds, one refused in the last ten seconds for as much as it may have. Those holding more get
// no more bytes until the others have theirs. A crowd holding little shrinks nobody's share, and
// owners from one network hold at most that network's share once another network asks.
TEST(BodyBudget, SharesShrinkWhenManyAskForAPart)
{
    BodyBudget budget(limits());
    std::optional<Place> first(std::in_place, budget, Whose::stranger, "10.0.0.1", start);
    EXPECT_TRUE(first->cover(60, start));
    Place second(budget, Whose::stranger, "10.0.0.2", start);
    EXPECT_FALSE(second.cover(41, start)) << "past the part";
    EXPECT_TRUE(second.cover(40, start));
    Place third(budget, Whose::stranger, "10.0.0.3", start);
    EXPECT_FALSE(third.cover(1, start)) << "the part is full";

    // Three ask now: a third each. The two that hold more are refused at their next bytes,
    // and once the first is gone the third has its share.
    EXPECT_FALSE(first->cover(61, start + 1s));
    EXPECT_FALSE(second.cover(41, start + 1s));
    first.reset();
    EXPECT_FALSE(third.cover(34, start + 2s));
    EXPECT_TRUE(third.cover(33, start + 2s));

    // A refusal counts ten seconds: then only the two holding bodies ask, a half each.
    EXPECT_FALSE(second.cover(50, start + 5s)) << "refused lately, the first still counts";
    EXPECT_TRUE(second.cover(50, start + 16s));

    const auto owner = [&](const std::string& name, const std::string& network) {
        return std::make_unique<Place>(budget, Whose::owner, name, start + 20s, network);
    };
    std::vector<std::unique_ptr<Place>> crowd;
    for (int i = 0; i < 50; ++i) {
        crowd.push_back(owner("crowd" + std::to_string(i), "10.1." + std::to_string(i) + ".0/24"));
        ASSERT_TRUE(crowd.back()->cover(1, start + 20s));
    }
    EXPECT_TRUE(owner("ada", "10.2.0.0/24")->cover(120, start + 20s)) << "a byte each takes a byte each";

    // Twenty owners of one network hold the owners' part: once Ada's network has asked, theirs
    // holds half of it, and she has the other half.
    crowd.clear();
    for (int i = 0; i < 20; ++i) {
        crowd.push_back(owner("crowd" + std::to_string(i), "10.1.0.0/24"));
        ASSERT_TRUE(crowd.back()->cover(10, start + 20s));
    }
    auto ada = owner("ada", "10.2.0.0/24");
    EXPECT_FALSE(ada->cover(100, start + 20s)) << "the part is full";
    for (const auto& body : crowd)
        EXPECT_FALSE(body->cover(11, start + 21s)) << "past their network's share";
    crowd.clear();
    int taken = 0;
    for (int i = 0; i < 20; ++i) {
        crowd.push_back(owner("crowd" + std::to_string(i), "10.1.0.0/24"));
        taken += crowd.back()->cover(10, start + 21s);
    }
    EXPECT_EQ(taken, 10);
    EXPECT_TRUE(ada->cover(100, start + 21s));
}

// A body that names an owner counts against its client's network until it is vouched for,
// never against the owner it names; then against the owner. One the owner's share cannot take
// stays where it was. Such bodies hold at most half of the owners' part, however many networks
// send them, and the owners' shares are whole beside them.
TEST(BodyBudget, ANamedBodyCountsAgainstItsNetworkUntilVouchedFor)
{
    BodyBudget budget(limits());
    Place named(budget, Whose::named, "10.0.0.0/24", start);
    EXPECT_FALSE(named.cover(101, start)) << "past the named bodies' half";
    EXPECT_TRUE(named.cover(100, start));
    for (int network = 1; network <= 10; ++network)
        EXPECT_FALSE(
            Place(budget, Whose::named, "10.0." + std::to_string(network) + ".0/24", start).cover(1, start));
    std::optional<Place> owned(std::in_place, budget, Whose::owner, "ada", start);
    EXPECT_TRUE(owned->cover(100, start)) << "the owner it names holds nothing yet, and its share is whole";
    EXPECT_FALSE(named.vouch("ada", start)) << "past the owner's cap";
    Place stranger(budget, Whose::stranger, "10.0.0.1", start);
    EXPECT_TRUE(stranger.cover(60, start)) << "named bodies take nothing from the strangers' part";

    owned.reset();
    EXPECT_TRUE(named.vouch("ada", start));
    Place more(budget, Whose::named, "10.0.0.0/24", start + 11s);
    EXPECT_TRUE(more.cover(80, start + 11s)) << "the network holds nothing any more";
    Place again(budget, Whose::owner, "ada", start + 11s);
    EXPECT_TRUE(again.cover(20, start + 11s));
    EXPECT_FALSE(again.cover(21, start + 11s)) << "the owner holds its share";
}

// A body keeps its place two seconds whatever it brings; from then on it must have brought
// the floor's bytes within the last second or so.
TEST(BodyBudget, ABodyThatStopsComingLosesItsPlace)
{
    BodyBudget budget(limits());
    Place body(budget, Whose::owner, "ada", start);
    EXPECT_EQ(body.lapsesAt(), start + 2s);
    EXPECT_TRUE(body.cover(15, start + 500ms));
    EXPECT_EQ(body.lapsesAt(), start + 2s);
    EXPECT_TRUE(body.cover(26, start + 1800ms));
    EXPECT_EQ(body.lapsesAt(), start + 2800ms);
    EXPECT_TRUE(body.cover(30, start + 2500ms));
    EXPECT_EQ(body.lapsesAt(), start + 2800ms) << "fewer than the floor's bytes keep no place";

    BodyBudgetLimits unhurried = limits();
    unhurried.floorRate = 0;
    BodyBudget patient(unhurried);
    EXPECT_EQ(Place(patient, Whose::owner, "ada", start).lapsesAt(), BodyBudget::Clock::time_point::max());
}

} // namespace
} // namespace lumora
