// Command layer rules over a recording sink: what goes to the adapter, in which order, and
// the state each command leaves behind.
#include <gtest/gtest.h>

#include <vector>

#include "QV_API.h"
#include "commands.h"

namespace qv::driver {
namespace {

struct Sent {
  bool acknowledged;
  uint8_t protocol, command;
  std::vector<uint8_t> data;
  bool operator==(const Sent&) const = default;
};

class FakeSink : public CommandSink {
 public:
  std::vector<Sent> sent;
  std::vector<uint32_t> sleeps;
  int result = 0;
  uint8_t echo[256] = {};
  int acknowledged(uint8_t p, uint8_t c, const uint8_t* d, size_t n) override {
    sent.push_back({true, p, c, std::vector<uint8_t>(d, d + n)});
    return result;
  }
  int device(uint8_t p, uint8_t c, const uint8_t* d, size_t n) override {
    sent.push_back({false, p, c, std::vector<uint8_t>(d, d + n)});
    return result;
  }
  void sleepMs(uint32_t ms) override { sleeps.push_back(ms); }
  void setEcho(uint8_t p, uint8_t v) override { echo[p] = v; }
};

std::vector<uint8_t> Entry(uint8_t pf, uint8_t sa) { return {0x18, pf, 0x00, sa, 0x00, 0xFF, 0x00, 0x00}; }

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

class CommandRules : public ::testing::Test {
 protected:
  CommandState state;
  FakeSink sink;
  int Run(uint8_t p, uint8_t c, const std::vector<uint8_t>& d) {
    return RunCommand(state, sink, p, c, d.data(), d.size());
  }
};

TEST_F(CommandRules, EchoValuesAsciiOrBinaryAndNothingSent) {
  const struct { uint8_t protocol; std::vector<uint8_t> data; int result; uint8_t echo; } rows[] = {
      {1, {'1', 0, 0, 0, 0, 0, 0, 0}, 0, 1}, {2, {0x01}, 0, 1},         {0x27, {0x41}, 0, 0x11},
      {7, {'0'}, 0, 0},                      {0x20, {'1'}, ERR_INVALID_COMMAND, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Run(row.protocol, 52, row.data), row.result) << int(row.protocol);
    EXPECT_EQ(sink.echo[row.protocol], row.echo) << int(row.protocol);
  }
  EXPECT_TRUE(sink.sent.empty());
}

// After a pass-all (all-zero) list, the next list clears the adapter's first, each protocol its
// own way (J1939 restores the start-up pass list with command 24). After a discard-all (an empty
// list, as a null pointer) the list replaces the adapter's without clearing, so that pass list
// stays.
TEST_F(CommandRules, ListsAfterPassAllClearFirstAndAfterDiscardAllDoNot) {
  const std::vector<uint8_t> zeros(8, 0);
  const struct { uint8_t protocol, command; std::vector<uint8_t> list; std::vector<Sent> clearing; } rows[] = {
      {1, 16, {128, 0xFF, 0, 0, 0, 0}, {{true, 1, 16, {}}}},
      {2, 16, Entry(0xFE, 3), {{true, 2, 16, {}}, {false, 2, 24, {}}}},
      {2, 17, {9, 9, 9, 9}, {{true, 2, 16, {}}, {true, 2, 17, {}}}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << int(row.protocol) << "/" << int(row.command));
    const uint8_t& filterState = row.command == 17   ? state.filterStateCan
                                 : row.protocol == 1 ? state.filterStateJ1708
                                                     : state.filterStateJ1939;
    for (const bool discard : {false, true}) {
      sink.sent.clear();
      EXPECT_EQ(Run(row.protocol, row.command, zeros), 0);
      EXPECT_EQ(sink.sent, (std::vector<Sent>{{true, row.protocol, row.command, zeros}}));
      EXPECT_EQ(filterState, 1);
      sink.sent.clear();
      std::vector<Sent> want = row.clearing;
      if (discard) {
        EXPECT_EQ(RunCommand(state, sink, row.protocol, row.command, nullptr, 0), 0);
        EXPECT_EQ(filterState, 3);
        want = {{true, row.protocol, row.command, {}}};
      }
      EXPECT_EQ(Run(row.protocol, row.command, row.list), 0);
      want.push_back({true, row.protocol, row.command, row.list});
      EXPECT_EQ(sink.sent, want);
      EXPECT_EQ(filterState, 2);
    }
  }
  EXPECT_EQ(sink.sleeps, (std::vector<uint32_t>{2}));  // CAN: between clearing and the list
}

// From state 2 nothing is cleared and the send's result is the result; only the first eight
// bytes are tested for all-zero. A pass-all empties the J1939 list and is the CAN list.
TEST_F(CommandRules, StateTwoSendsAsItIsAndPassAllLists) {
  Run(1, 16, {128, 0xFF, 0, 0, 0, 0});
  sink.sent.clear();
  sink.result = ERR_TX_QUEUE_FULL;
  EXPECT_EQ(Run(1, 16, {129, 0xFF, 0, 0, 0, 0}), ERR_TX_QUEUE_FULL);
  EXPECT_EQ(sink.sent.size(), 1u);
  EXPECT_EQ(Run(1, 16, {0, 0, 0, 0, 0, 0, 0, 0, 5}), ERR_TX_QUEUE_FULL);
  EXPECT_EQ(state.filterStateJ1708, 1);
  Run(2, 16, Entry(0xF0, 0));
  EXPECT_EQ(state.j1939FilterCount, 8);
  Run(2, 16, std::vector<uint8_t>(8, 0));
  EXPECT_EQ(state.j1939FilterCount, 0);
  Run(2, 17, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  EXPECT_EQ(state.canFilterCount, 10);
  Run(2, 17, std::vector<uint8_t>(8, 0));
  EXPECT_EQ(state.canFilterCount, 8);
  EXPECT_EQ(state.canFilterList[0], 0);
}

TEST_F(CommandRules, J1939RepeatSendsOnceAndOnlyNewEntriesGoOut) {
  Run(2, 16, Entry(0xF0, 0));
  sink.sent.clear();
  EXPECT_EQ(Run(2, 16, Entry(0xF0, 0)), 0);
  EXPECT_TRUE(sink.sent.empty());
  EXPECT_EQ(state.j1939FilterCount, 8);
  Run(2, 16, Join({Entry(0xF0, 0), Entry(0xFE, 1)}));
  ASSERT_EQ(sink.sent.size(), 1u);
  EXPECT_EQ(sink.sent[0], (Sent{true, 2, 16, Entry(0xFE, 1)}));
  EXPECT_EQ(state.j1939FilterCount, 16);
  EXPECT_EQ(std::vector<uint8_t>(state.j1939FilterList + 8, state.j1939FilterList + 16), Entry(0xFE, 1));
  // A protocol start empties the adapter's lists: the same entry goes out again, whole.
  ForgetAdapterFilters(state, 1);
  sink.sent.clear();
  Run(2, 16, Entry(0xF0, 0));
  EXPECT_TRUE(sink.sent.empty());
  ForgetAdapterFilters(state, 2);
  Run(2, 16, Entry(0xF0, 0));
  EXPECT_EQ(sink.sent, (std::vector<Sent>{{true, 2, 16, Entry(0xF0, 0)}}));
}

// Thirteen entries go as six, six, one; the full list never overflows but new entries still go.
TEST_F(CommandRules, J1939LongListsAreSplitAndCapped) {
  std::vector<uint8_t> d;
  for (uint8_t i = 0; i < 32; ++i) d = Join({d, Entry(0xF0, i)});
  Run(2, 16, std::vector<uint8_t>(d.begin(), d.begin() + 13 * 8));
  ASSERT_EQ(sink.sent.size(), 3u);
  EXPECT_EQ(sink.sent[0], (Sent{true, 2, 16, std::vector<uint8_t>(d.begin(), d.begin() + 48)}));
  EXPECT_EQ(sink.sent[1], (Sent{true, 2, 16, std::vector<uint8_t>(d.begin() + 48, d.begin() + 96)}));
  EXPECT_EQ(sink.sent[2], (Sent{true, 2, 16, std::vector<uint8_t>(d.begin() + 96, d.begin() + 104)}));
  Run(2, 16, d);
  EXPECT_EQ(state.j1939FilterCount, 256);
  sink.sent.clear();
  Run(2, 16, Join({Entry(0xF1, 1), Entry(0xF1, 2)}));
  EXPECT_EQ(state.j1939FilterCount, 256);
  ASSERT_EQ(sink.sent.size(), 1u);
  EXPECT_EQ(sink.sent[0].data, Join({Entry(0xF1, 1), Entry(0xF1, 2)}));
}

TEST_F(CommandRules, OtherCommandsPassThroughUnchanged) {
  // Filters for protocols without a list (7, 16) pass through too.
  const std::vector<Sent> rows = {
      {false, 1, 3, {}}, {false, 0, 14, {3, 0x0C}}, {false, 7, 16, {1, 2}}, {false, 1, 17, {5}}, {false, 2, 80, {1, 2, 3}}};
  for (const Sent& r : rows) Run(r.protocol, r.command, r.data);
  EXPECT_EQ(sink.sent, rows);
  EXPECT_EQ(state.filterStateJ1708, 0);
}

TEST_F(CommandRules, NullDataIsAnEmptyCommand) {
  EXPECT_EQ(RunCommand(state, sink, 1, 16, nullptr, 8), 0);
  ASSERT_EQ(sink.sent.size(), 1u);
  EXPECT_TRUE(sink.sent[0].data.empty());
  EXPECT_EQ(state.filterStateJ1708, 3);
}

// Closing J1939 or CAN while a client of the other stays clears only what the closing one alone
// uses: the two share the adapter's code-2 lists.
TEST_F(CommandRules, FilterClearingPerProtocol) {
  const struct { uint8_t protocol; bool partnerStays; std::vector<Sent> sent; std::vector<uint32_t> sleeps; } rows[] = {
      {0x27, false, {}, {}},
      {1, false, {{true, 1, 16, {}}}, {}},
      {1, true, {{true, 1, 16, {}}}, {}},
      {2, false, {{true, 2, 16, {}}, {false, 2, 24, {}}}, {}},
      {7, false, {{true, 2, 16, {}}, {true, 2, 17, {}}}, {2}},
      {7, true, {{true, 2, 17, {}}}, {2}},
      {2, true, {}, {}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << int(row.protocol) << (row.partnerStays ? " partner stays" : ""));
    sink.sent.clear();
    sink.sleeps.clear();
    ClearAdapterFilters(sink, row.protocol, row.partnerStays);
    EXPECT_EQ(sink.sent, row.sent);
    EXPECT_EQ(sink.sleeps, row.sleeps);
  }
}

}  // namespace
}  // namespace qv::driver
