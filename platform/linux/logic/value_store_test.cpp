#include "platform/linux/logic/value_store.h"

#include <gtest/gtest.h>

#include <string>

namespace platform::store {
namespace {

TEST(ValueStoreTest, ValuesAreAddedAndReplacedWhereTheyStand) {
  std::string text;
  ASSERT_TRUE(set_default_value("", "SOFTWARE\\Talvex\\Touchpad", "17", &text));
  EXPECT_EQ(text, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvex\\Touchpad\t17\n");
  ASSERT_TRUE(set_default_value(text, "SOFTWARE\\Other", "", &text));
  ASSERT_TRUE(set_default_value(text, "software\\talvex\\TOUCHPAD", "18", &text));
  EXPECT_EQ(text,
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Talvex\\Touchpad\t18\n"
            "HKEY_LOCAL_MACHINE\\SOFTWARE\\Other\t\n")
      << "the key is found whatever its letters' case, and keeps its place";
}

TEST(ValueStoreTest, WhatWouldBreakTheStoreIsRefusedAndNothingChanges) {
  const std::string good = "HKEY_LOCAL_MACHINE\\A\tx\n";
  std::string text = "unchanged";
  EXPECT_FALSE(set_default_value(good, "", "v", &text));
  EXPECT_FALSE(set_default_value(good, "A\tB", "v", &text));
  EXPECT_FALSE(set_default_value(good, "A", "two\nlines", &text));
  EXPECT_FALSE(set_default_value(good, "A", std::string("zero\0inside", 11), &text));
  EXPECT_FALSE(set_default_value("HKEY_LOCAL_MACHINE\\A\tx", "A", "v", &text)) << "no line end";
  EXPECT_FALSE(set_default_value("HKEY_CURRENT_USER\\A\tx\n", "A", "v", &text));
  EXPECT_FALSE(set_default_value("HKEY_LOCAL_MACHINE\\A x\n", "A", "v", &text)) << "no tab";
  EXPECT_EQ(text, "unchanged");
  EXPECT_TRUE(is_storable("SOFTWARE\\Talvex"));
  EXPECT_FALSE(is_storable("SOFTWARE\x7F"));
}

}  // namespace
}  // namespace platform::store
