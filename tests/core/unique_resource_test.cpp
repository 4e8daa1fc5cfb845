// The owner template releases each resource exactly once, whatever path
// it leaves by: reset, move, release, put, addressof and scope end.
#include "core/unique_resource.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

std::vector<int> closed;
void closeOne(int v) noexcept { closed.push_back(v); }
int noDescriptor() noexcept { return -1; }
using Owned = UniqueResource<int, closeOne, -1>;
using OwnedByFunction = UniqueResource<int, closeOne, noDescriptor>;

TEST(UniqueResource, ReleasesEachResourceOnceWhateverPathItLeavesBy) {
  closed.clear();
  {
    Owned a(3);
    Owned b(std::move(a));  // a is left invalid: nothing to close twice
    EXPECT_FALSE(a);
    EXPECT_EQ(b.get(), 3);
    Owned c(4);
    c = std::move(b);  // 4 closed, 3 handed over
    EXPECT_EQ(closed, std::vector<int>{4});
    c.reset(5);  // 3 closed
    EXPECT_EQ(c.release(), 5);  // given up unreleased
    *c.put() = 6;               // nothing held: nothing closed
    int* slot = c.addressof();  // in/out: the callee closes 6 itself and leaves 7
    *slot = 7;
    OwnedByFunction d(8);
    OwnedByFunction none;
    EXPECT_FALSE(none);
    EXPECT_EQ(none.get(), -1);
  }
  EXPECT_EQ(closed, (std::vector<int>{4, 3, 8, 7}));
}

}  // namespace
}  // namespace velmora
