#include "carriers/carriers_console.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "support/exceptions.h"

namespace zv {
namespace {

constexpr int32_t kV12 = 18;

std::unique_ptr<TZVCarrierConsole> Carrier(const std::string& record) {
  return std::make_unique<TZVCarrierConsole>(record, ',', kV12);
}

std::vector<int32_t> Ids(const TZVCarriersConsole& list) {
  std::vector<int32_t> ids;
  for (const TZVCarrierConsole& c : list) ids.push_back(c.ObjectId());
  return ids;
}

TEST(CarriersFromTcpTest, ReplacesTheContents) {
  TZVCarriersConsole list;
  list.Add(Carrier("9,Old"));
  list.FromTcpStr(
      "1,Pager,1,TAP,1,pager id,80,\"a,b\"\x1E"
      "2,SMS,2,GSM,2,mobile number,160,",
      ',', kV12);
  EXPECT_EQ(Ids(list), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(list.GetItem(0)->Info(), (TStringList{"a", "b"}));
  EXPECT_EQ(list.GetItem(1)->MsgLength(), 160);

  list.FromTcpStr("", ',', kV12);
  EXPECT_TRUE(list.IsEmpty());
}

TEST(CarriersFromTcpTest, BadRecordKeepsTheCarriersBeforeIt) {
  struct Case {
    const char* body;
    std::vector<int32_t> kept;
  };
  const Case cases[] = {
      {"1,A\x1E\x1E"
       "2,B",
       {1}},  // two separators in a row
      {"1,A\x1E"
       "2,B\x1E",
       {1, 2}},  // separator at the end
      {"\x1E"
       "1,A",
       {}},
  };
  for (const Case& c : cases) {
    TZVCarriersConsole list;
    list.Add(Carrier("9,Old"));
    EXPECT_THROW(list.FromTcpStr(c.body, ',', kV12), EZVNoObject);
    EXPECT_EQ(Ids(list), c.kept);
  }
  TZVCarriersConsole list;
  EXPECT_THROW(list.FromTcpStr("1,A\x1E"
                               "0,B\x1E"
                               "3,C",
                               ',', kV12),
               EZVIncompleteObject);
  EXPECT_EQ(Ids(list), (std::vector<int32_t>{1}));
}

TEST(CarriersTest, AddAndIndexBounds) {
  TZVCarriersConsole list;
  EXPECT_EQ(list.Add(nullptr), -1);
  EXPECT_TRUE(list.IsEmpty());
  EXPECT_EQ(list.Add(Carrier("4,A")), 0);
  EXPECT_EQ(list.Add(Carrier("5,B")), 1);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.GetItem(1)->ObjectId(), 5);
  EXPECT_EQ(list.GetItem(2), nullptr);
  EXPECT_EQ(list.GetItem(-1), nullptr);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(CarriersTest, LookupsTakeTheFirstMatch) {
  TZVCarriersConsole list;
  list.Add(Carrier("1,First,3,T,1,p,80,"));
  list.Add(Carrier("1,Second,4,T,1,p,80,"));
  list.Add(Carrier("2,Third,-1,T,1,p,80,"));
  list.Add(Carrier("6,Fourth,4,T,1,p,80,"));

  EXPECT_EQ(list.FindObject(1)->ObjectName(), "First");
  EXPECT_EQ(list.FindObject(3), nullptr);
  EXPECT_TRUE(list.ObjectExists(6));
  EXPECT_FALSE(list.ObjectExists(7));

  EXPECT_EQ(list.GetCarrier(4)->ObjectName(), "Second");
  EXPECT_EQ(list.GetCarrierId(4), 1);
  EXPECT_EQ(list.GetCarrierId(9), -1);
  EXPECT_EQ(list.GetCarrierId(255), 2);  // codes compare as signed bytes

  EXPECT_TRUE(list.CheckCarrierType(6, 4));
  EXPECT_FALSE(list.CheckCarrierType(1, 4));  // the first carrier with id 1 has type 3
  EXPECT_FALSE(list.CheckCarrierType(99, 4));
}

TEST(CarriersTest, TitlesInListOrder) {
  TZVCarriersConsole list;
  EXPECT_EQ(list.DisplayNames(TZVTitleType::ttBoth), "");
  list.FromTcpStr(
      "1,Pager,1,T,1,p,80,\x1E"
      "2,SMS,2,T,2,m,160,",
      ',', kV12);
  EXPECT_EQ(list.DisplayNames(TZVTitleType::ttBoth), "1 - Pager, 2 - SMS");
  EXPECT_EQ(list.DisplayNames(TZVTitleType::ttName), "Pager, SMS");

  TZVCarriersConsole::TStrings strings = {{"stale", nullptr}};
  list.GetStrings(strings, TZVTitleType::ttId);
  ASSERT_EQ(strings.size(), 2u);
  EXPECT_EQ(strings[0].first, "1");
  EXPECT_EQ(strings[0].second, list.GetItem(0));
  EXPECT_EQ(strings[1].first, "2");
  EXPECT_EQ(strings[1].second, list.GetItem(1));
}

TEST(CarriersTest, Enumerator) {
  TZVCarriersConsole list;
  auto empty = list.GetEnumerator();
  EXPECT_FALSE(empty.MoveNext());

  list.Add(Carrier("1,A"));
  list.Add(Carrier("2,B"));
  auto e = list.GetEnumerator();
  std::vector<int32_t> seen;
  while (e.MoveNext()) seen.push_back(e.Current()->ObjectId());
  EXPECT_EQ(seen, (std::vector<int32_t>{1, 2}));
  EXPECT_FALSE(e.MoveNext());
  EXPECT_EQ(e.Current()->ObjectId(), 2);  // a failed MoveNext leaves the position
}

}  // namespace
}  // namespace zv
