// The compact list of the values a Migrate plans to write.
#include "store/planned_values.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kdr {
namespace {

struct Owned {
  std::string key, name;
  bool existed;
  uint32_t old_type;
  std::string old_data;
  uint32_t new_type;
  std::string new_data;
};

// Every value comes back in order and whole: empty fields, any bytes, types of all 32 bits, a
// key left and come back to, records that fill blocks and one larger than a block.
TEST(PlannedValues, GivesBackWhatWasAdded) {
  std::vector<Owned> added = {
      {"", "", false, 0, "", 0, ""},
      {"K\\\x83\x5c", std::string("n\0\t", 3), true, 0xffffffffu, std::string("\0\x80", 2), 7, "x"},
      {"Other", "big", true, 1, std::string(70000, 'o'), 1, std::string(200000, 'n')},
      {"K\\\x83\x5c", "back", false, 0, "", 4, "\x01\x02\x03\x04"},
  };
  for (int i = 0; i < 300; ++i) {
    added.push_back({"Many", "v" + std::to_string(i), i % 2 == 0, 1,
                     std::string(static_cast<size_t>(i) * 3, 'a'), 3, std::string(500, 'b')});
  }
  PlannedValues list;
  for (const Owned& v : added) {
    list.Add({v.key, v.name, v.existed, v.old_type, v.old_data, v.new_type, v.new_data});
  }
  ASSERT_EQ(added.size(), list.size());
  size_t i = 0;
  for (const PlannedValueRef& v : list) {
    ASSERT_LT(i, added.size());
    const Owned& want = added[i++];
    EXPECT_EQ(want.key, v.key) << i;
    EXPECT_EQ(want.name, v.name) << i;
    EXPECT_EQ(want.existed, v.existed) << i;
    EXPECT_EQ(want.old_type, v.old_type) << i;
    EXPECT_EQ(want.old_data, v.old_data) << i;
    EXPECT_EQ(want.new_type, v.new_type) << i;
    EXPECT_EQ(want.new_data, v.new_data) << i;
  }
  EXPECT_EQ(added.size(), i);
  PlannedValues none;
  EXPECT_TRUE(none.begin() == none.end());
}

}  // namespace
}  // namespace kdr
