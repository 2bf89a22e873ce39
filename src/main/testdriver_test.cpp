#include "main/testdriver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <sstream>

namespace orvalin {
namespace {

using std::chrono::milliseconds;

uint64_t sleep_of(std::string_view text) {
  const TestStep parsed = parse_test_step(text);
  EXPECT_TRUE(std::holds_alternative<step::Sleep>(parsed)) << text;
  return std::holds_alternative<step::Sleep>(parsed)
             ? std::get<step::Sleep>(parsed).milliseconds
             : 12345;
}

TEST(TestScript, SleepStepsTakeAnUnsignedNumberOrNothing) {
  EXPECT_EQ(sleep_of("sleep:2000"), 2000u);
  EXPECT_EQ(sleep_of("sleep:+5"), 5u);
  EXPECT_EQ(sleep_of("sleep:007"), 7u);
  EXPECT_EQ(sleep_of("sleep:18446744073709551615"), 18446744073709551615u);
  for (const char* zero :
       {"sleep: 500", "sleep:+", "sleep:-5", "sleep:++5", "sleep:5ms",
        "sleep:18446744073709551616", "sleep:"}) {
    EXPECT_EQ(sleep_of(zero), 0u);
  }
  // Prefixes are case-sensitive (see also "Sleep:100" in the script below).
  EXPECT_TRUE(std::holds_alternative<step::Key>(parse_test_step("sleep")));
}

TEST(TestScript, SetStepsNeedGroupCommaKeyEqualsNumber) {
  auto set_of = [](std::string_view text) {
    const TestStep parsed = parse_test_step(text);
    EXPECT_TRUE(std::holds_alternative<step::Set>(parsed)) << text;
    return std::holds_alternative<step::Set>(parsed)
               ? std::get<step::Set>(parsed)
               : step::Set{"", "", -1};
  };
  // Group and key are not trimmed; the value is.
  const step::Set spaced = set_of("set: [A],b,c = \t-2.5e1 ");
  EXPECT_EQ(spaced.group, " [A]");
  EXPECT_EQ(spaced.key, "b,c ");
  EXPECT_EQ(spaced.value, -25);
  EXPECT_EQ(set_of("set:,=+1").value, 1);
  EXPECT_EQ(set_of("set:a,b=.5").value, 0.5);
  EXPECT_EQ(set_of("set:a,b=1.").value, 1);
  EXPECT_EQ(set_of("set:a,b=1e400").value,
            std::numeric_limits<double>::infinity());
  EXPECT_EQ(set_of("set:a,b=1e-400").value, 0);
  EXPECT_EQ(set_of("set:a,b=-Infinity").value,
            -std::numeric_limits<double>::infinity());
  EXPECT_EQ(set_of("set:a,b=inf").value,
            std::numeric_limits<double>::infinity());
  EXPECT_TRUE(std::isnan(set_of("set:a,b=NaN").value));

  // "set:[Master]crossfader=0.5" is in the script below.
  for (const char* bad : {"set:a=1,b", "set:a,b", "set:a,b=", "set:a,b=x",
                          "set:a,b=1=2", "set:a,b=1 2", "set:a,b=+-1",
                          "set:a,b=0x10", "set:a,b=nan(1)", "set:"}) {
    EXPECT_TRUE(std::holds_alternative<step::BadStep>(parse_test_step(bad)))
        << bad;
  }
  EXPECT_TRUE(std::holds_alternative<step::Key>(parse_test_step("set")));
  EXPECT_TRUE(std::holds_alternative<step::Key>(parse_test_step("SET:a,b=1")));
}

TEST(TestScript, LogStepsKeepItemsWithAComma) {
  const TestStep parsed =
      parse_test_step("log:[Channel1],play|nocomma||[Sampler1],a,b|");
  ASSERT_TRUE(std::holds_alternative<step::Log>(parsed));
  const auto& items = std::get<step::Log>(parsed).items;
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].group, "[Channel1]");
  EXPECT_EQ(items[0].key, "play");
  EXPECT_EQ(items[1].group, "[Sampler1]");
  EXPECT_EQ(items[1].key, "a,b");
  EXPECT_TRUE(std::get<step::Log>(parse_test_step("log:")).items.empty());
}

class FakeEnvironment final : public TestEnvironment {
 public:
  Result<double> get(const std::string& group,
                     const std::string& key) override {
    calls << "get " << group << "," << key << ";";
    if (group == "[Channel1]" && key == "play") return 1.0;
    if (group == "[Channel1]" && key == "volume") return 0.75;
    return fail("unknown control");
  }
  void set(const std::string& group, const std::string& key,
           double value) override {
    calls << "set " << group << "," << key << "=" << value << ";";
  }
  void sleep(milliseconds duration) override {
    calls << "sleep " << duration.count() << ";";
    if (on_sleep) on_sleep();
  }
  std::ostringstream calls;
  std::function<void()> on_sleep;
};

std::shared_ptr<const BindingTables> tables_of(std::vector<std::string> keys) {
  auto tables = std::make_shared<BindingTables>();
  for (std::string& key : keys) tables->hotkeys.push_back({std::move(key)});
  return tables;
}

TEST(TestScript, RunsEveryStepFormWithItsLogLines) {
  auto [sender, receiver] = make_channel<KeyPress>();
  FakeEnvironment environment;
  // Keys match ignoring ASCII letter case; the first match counts.
  const BindingsInForce keys(
      tables_of({"ctrl+alt+1", "ctrl+alt+p", "Ctrl+Alt+P"}));
  testing::internal::CaptureStdout();
  run_test_script_with(
      " CTRL+ALT+P; sleep:2000; log:[Channel1],play|[Channel1],volume|"
      "[Channel9],play;set:[Master],crossfader=0.5;"
      "set:[Master]crossfader=0.5;set:[Channel1],play=1;set:a,b=1e21;"
      "set:a,b=-1e-7;set:a,b=-inf;Sleep:100;log:;;sleep: 500;"
      "keys:ctrl+alt+1| CTRL+ALT+P|alt+ctrl+p",
      keys, sender, environment);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "test key: CTRL+ALT+P\n"
            "test: [Channel1],play=1  [Channel1],volume=0.75  "
            "[Channel9],play=?\n"
            "test: set [Master],crossfader=0.5\n"
            "test: bad step set:[Master]crossfader=0.5\n"
            "test: set [Channel1],play=1\n"
            "test: set a,b=1000000000000000000000\n"
            "test: set a,b=-0.0000001\n"
            "test: set a,b=-inf\n"
            "test: unknown key Sleep:100\n"
            "test: \n"
            "test key: ctrl+alt+1\n"
            "test key: CTRL+ALT+P\n"
            "test: unknown key alt+ctrl+p\n"
            "test: done\n");
  EXPECT_EQ(environment.calls.str(),
            "sleep 1000;sleep 900;sleep 2000;"
            "get [Channel1],play;get [Channel1],volume;get [Channel9],play;"
            "set [Master],crossfader=0.5;set [Channel1],play=1;"
            "set a,b=1e+21;set a,b=-1e-07;set a,b=-inf;sleep 900;sleep 0;"
            "sleep 900;");
  for (uint64_t index : {1u, 0u, 1u}) {
    EXPECT_EQ(receiver.try_recv().value_or(KeyPress{99}).index, index);
  }
  EXPECT_EQ(receiver.try_recv(), std::nullopt);
}

TEST(TestScript, KeyStepsUseTheBindingsInForceWhenTheyRun) {
  auto [sender, receiver] = make_channel<KeyPress>();
  FakeEnvironment environment;
  BindingsInForce bindings(tables_of({"ctrl+alt+p"}));
  const auto reloaded = tables_of({"ctrl+alt+1", "ctrl+alt+q"});
  int sleeps = 0;
  // A reload during the pause after the first key step.
  environment.on_sleep = [&] {
    if (++sleeps == 2) bindings.replace(reloaded);
  };
  testing::internal::CaptureStdout();
  run_test_script_with("ctrl+alt+q;ctrl+alt+q;ctrl+alt+p", bindings, sender,
                       environment);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "test: unknown key ctrl+alt+q\n"
            "test key: ctrl+alt+q\n"
            "test: unknown key ctrl+alt+p\n"
            "test: done\n");
  std::optional<KeyPress> press = receiver.try_recv();
  ASSERT_TRUE(press);
  EXPECT_EQ(press->index, 1u);
  EXPECT_EQ(press->bindings, reloaded);
  EXPECT_EQ(receiver.try_recv(), std::nullopt);
}

}  // namespace
}  // namespace orvalin
