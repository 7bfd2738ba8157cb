// The reader-independent half of csi_f: names arguments, the orders of
// a directory listing, the volume output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "slices/stack_names.h"
#include "tests/support/fatal.h"
#include "tests/support/files.h"
#include "tests/support/name_order.h"

namespace {

using namespace pv::stack_names;
using pvtest::FatalLine;
using pvtest::Outcome;
using Names = std::vector<std::string>;

TEST(SliceNames, FormAndSortingOption) {
  struct Case {
    const char* names;
    Form form;
    std::optional<Order> order;  // for the listing form
  };
  const Case cases[] = {
      {"names.txt", Form::kNameFile, {}},
      {"-a.tif b.tif", Form::kInlineList, {}},
      {"- a.tif", Form::kInlineList, {}},
      {"-", Form::kListing, Order::kNormal},
      {"--r", Form::kListing, Order::kReverse},
      {"--n", Form::kListing, Order::kAscending},
      {"--nr", Form::kListing, Order::kDescending},
      {"--rn", Form::kListing, Order::kDescending},
      {"--nrx", Form::kListing, Order::kDescending},  // past the fourth character: ignored
      {"--", Form::kListing, std::nullopt},
      {"--x", Form::kListing, std::nullopt},
      {"--rr", Form::kListing, std::nullopt},
      {"--nn", Form::kListing, std::nullopt},
      {"--rx", Form::kListing, std::nullopt},
      {"--n ", Form::kListing, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FormOf(c.names), c.form) << c.names;
    if (c.form == Form::kListing) {
      EXPECT_EQ(SortingOption(c.names), c.order) << c.names;
    }
  }
}

TEST(SliceNames, NameFileLines) {
  const std::string longest(2046, 'x');
  struct Case {
    std::string text;
    Names names;
    std::string error;
  };
  const Case cases[] = {
      {"b.tif\n\na.tif\n", {"b.tif", "a.tif"}, ""},
      {"a.tif 12 more words\n", {"a.tif"}, ""},  // the first word only
      {" \t x.tif\r\n\f\n", {"x.tif"}, ""},
      {"", {}, ""},
      {"\n  \n\t\n", {}, ""},
      {"a.tif", {}, "names.txt : too long line.\n"},  // last line without newline
      {"a.tif\nb.tif", {}, "names.txt : too long line.\n"},
      {longest + "\n", {longest}, ""},
      {longest + "x\n", {}, "names.txt : too long line.\n"},
      {std::string("\0skipped\nb.tif\n", 15), {"b.tif"}, ""},  // first byte NUL: skipped
      {std::string("a\0b\nc.tif\n", 10), {}, "names.txt : too long line.\n"},  // NUL hides the newline
      {"/abs.tif\n../up.tif\n", {"/abs.tif", "../up.tif"}, ""},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    std::FILE* f = fmemopen(text.data(), text.size(), "r");
    if (text.empty()) f = std::tmpfile();  // fmemopen refuses a size of 0
    ASSERT_NE(f, nullptr);
    auto [names, error] = Outcome([&] { return ReadNameFile(f, "names.txt"); });
    std::fclose(f);
    EXPECT_EQ(error, c.error) << testing::PrintToString(c.text);
    if (c.error.empty()) {
      EXPECT_EQ(names, c.names) << testing::PrintToString(c.text);
    }
  }
}

TEST(SliceNames, NameFileReadErrorIsNotAnEndOfList) {
  pvtest::TempDir dir;
  std::FILE* f = std::fopen(dir.path().c_str(), "r");  // a directory: every read fails
  if (f == nullptr) GTEST_SKIP() << "directories cannot be opened as files here";
  auto [names, error] = Outcome([&] { return ReadNameFile(f, "d"); });
  std::fclose(f);
  EXPECT_EQ(error, "d : name file not open.\n");
}

TEST(SliceNames, InlineLists) {
  const std::string longest(2047, 'w');
  struct Case {
    std::string text;
    Names names;
    std::string error;
  };
  const Case cases[] = {
      {"a.tif b.tif", {"a.tif", "b.tif"}, ""},
      {"  s2.tif\t\ns1.tif  ", {"s2.tif", "s1.tif"}, ""},
      {"a.tif a.tif", {"a.tif", "a.tif"}, ""},
      {"", {}, ""},
      {" \t ", {}, ""},
      {"a.tif " + longest, {"a.tif", longest}, ""},
      {"a.tif " + longest + "w b.tif", {}, longest + "w : too long name.\n"},
  };
  for (const Case& c : cases) {
    auto [names, error] = Outcome([&] { return InlineNames(c.text.c_str()); });
    EXPECT_EQ(error, c.error) << c.text.substr(0, 40);
    if (c.error.empty()) {
      EXPECT_EQ(names, c.names) << c.text.substr(0, 40);
    }
  }
}

TEST(SliceOrder, NumberInName) {
  struct Case {
    const char* name;
    std::optional<double> number;
  };
  const Case cases[] = {
      {"s10.tif", 10},    {"s2e1.tif", 20},   {"s1.5.tif", 1.5},
      {"s-5.tif", -5},    {"s+7.tif", 7},     {"scan_003_b12.tif", 3},
      {"x-y3.tif", {}},   {"abc.tif", {}},    {"a+.tif", {}},
      {"s-.5.tif", -0.5}, {"007", 7},         {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(NumberInName(c.name), c.number) << c.name;
}

int Sign(int v) { return (v > 0) - (v < 0); }

// Two names sorted in each order: the first of them comes first when the
// sign given says so (0: equal numbers, then by the names' bytes).
TEST(SliceOrder, PairsInEachOrder) {
  struct Case {
    const char* a;
    const char* b;
    int normal, ascending;  // signs; the reversed orders swap them
  };
  const Case cases[] = {
      {"s9.tif", "s10.tif", 1, -1},
      {"s10.tif", "s100.tif", -1, -1},
      {"abc.tif", "s1.tif", -1, -1},   // no number before any number
      {"zzz.tif", "s1.tif", 1, -1},
      {"abc.tif", "abd.tif", -1, -1},  // neither has a number: byte order
      {"s1.0.tif", "s1.tif", -1, 0},   // equal numbers
      {"s-1.tif", "s1.tif", -1, -1},
      {"s2e1.tif", "s19.tif", 1, 1},
      {"x-y3.tif", "a.tif", 1, 1},     // "-" before a letter: no number at all
      {"\xe9.tif", "a.tif", 1, 1},     // bytes compare unsigned
  };
  const std::string dir = "d/";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " vs " + c.b);
    const int by_number = c.ascending != 0 ? c.ascending : Sign(std::strcmp(c.a, c.b));
    const struct {
      Order order;
      int sign;
    } orders[] = {{Order::kNormal, c.normal},
                  {Order::kReverse, -c.normal},
                  {Order::kAscending, by_number},
                  {Order::kDescending, -by_number}};
    for (const auto& o : orders) {
      Names paths = {dir + c.a, dir + c.b};
      SortNames(paths, dir.size(), o.order);
      EXPECT_EQ(paths[0], dir + (o.sign < 0 ? c.a : c.b)) << int(o.order);
    }
  }
}

TEST(SliceOrder, SortedListings) {
  const std::string dir = "img//";  // the directory text never takes part
  auto sorted = [&](Names names, Order order) {
    for (auto& n : names) n = dir + n;
    SortNames(names, dir.size(), order);
    for (auto& n : names) n = n.substr(dir.size());
    return names;
  };
  const Names three = {"s10.tif", "s9.tif", "s100.tif"};
  EXPECT_EQ(sorted(three, Order::kAscending), (Names{"s9.tif", "s10.tif", "s100.tif"}));
  EXPECT_EQ(sorted(three, Order::kNormal), (Names{"s10.tif", "s100.tif", "s9.tif"}));
  EXPECT_EQ(sorted(three, Order::kReverse), (Names{"s9.tif", "s100.tif", "s10.tif"}));
  EXPECT_EQ(sorted(three, Order::kDescending), (Names{"s100.tif", "s10.tif", "s9.tif"}));

  // Ties and NaN still give one order: equal numbers by name, NaN last.
  const Names mixed = {"s3.tif", "s-nan.tif", "b.tif", "s1.tif", "a.tif", "s01.tif", "x-y.tif"};
  const Names up = {"a.tif", "b.tif", "x-y.tif", "s01.tif", "s1.tif", "s3.tif", "s-nan.tif"};
  EXPECT_EQ(sorted(mixed, Order::kAscending), up);
  EXPECT_EQ(sorted(mixed, Order::kDescending), Names(up.rbegin(), up.rend()));
  // Wherever the comparison itself decides, the sort agrees with it.
  const Names s = sorted(mixed, Order::kAscending);
  for (std::size_t i = 0; i < s.size(); ++i)
    for (std::size_t j = i + 1; j < s.size(); ++j)
      EXPECT_LE(pvtest::ByNumber(s[i].c_str(), s[j].c_str()), 0) << s[i] << " before " << s[j];
}

}  // namespace
