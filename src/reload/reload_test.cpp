#include "reload/reload.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "base/language.h"
#include "base/sentences.h"
#include "testing/kelvosim.h"
#include "testing/rig.h"

namespace orvalin {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Time = std::chrono::steady_clock::time_point;

// Plays a script against a fake clock. Each wait either sees a change after
// some time (`changed` false: another file's) or, without `after`, runs out
// its whole time.
class FakeWatch final : public FileWatch {
 public:
  struct Step {
    std::optional<std::chrono::milliseconds> after;
    bool changed = false;
  };
  FakeWatch(Time& now, std::vector<Step> steps)
      : now_(now), steps_(std::move(steps)) {}

  Result<bool> wait(std::optional<std::chrono::milliseconds> timeout) override {
    timeouts.push_back(timeout ? timeout->count() : -1);
    if (next_ == steps_.size()) return fail("end of script");
    const Step step = steps_[next_++];
    if (step.after && (!timeout || *step.after <= *timeout)) {
      now_ += *step.after;
      return step.changed;
    }
    if (!timeout) return fail("would wait for ever");
    now_ += *timeout;
    return false;
  }
  std::vector<long long> timeouts;

 private:
  Time& now_;
  const std::vector<Step> steps_;
  size_t next_ = 0;
};

TEST(Debounce, ReloadsOnceTheFileIsQuietForTheWholeDelay) {
  const Time start{};
  Time now = start;
  const std::vector<FakeWatch::Step> script = {
      {0ms, true},    {200ms, true}, {200ms, true},  {},
      {100ms, false}, {100ms, true}, {300ms, false}, {}};
  FakeWatch watch(now, script);
  std::vector<long long> settled;
  const std::string end = run_debounced(
      watch, [&] { return now; }, 500ms,
      [&] {
        settled.push_back(
            std::chrono::duration_cast<std::chrono::milliseconds>(now - start)
                .count());
      });
  EXPECT_EQ(end, "end of script");
  // Three writes end at 400 ms: one reload at 900. Another file's change
  // neither starts nor extends the delay.
  EXPECT_THAT(settled, ElementsAre(900, 1600));
  EXPECT_THAT(watch.timeouts,
              ElementsAre(-1, 500, 500, 500, -1, -1, 500, 200, -1));
}

TEST(ReloadedSentence, NamesKelvoSettingsOnlyWhenTheyChanged) {
  const General running{"C:\\Kelvo\\kelvo.exe", {"--a"}, 52764};
  const std::string kelvo =
      "Settings reloaded. Kelvo settings take effect at the next start.";
  EXPECT_EQ(
      reloaded_sentence(running, {"C:\\Other\\kelvo.exe", {"--a"}, 52764}),
      kelvo);
  EXPECT_EQ(reloaded_sentence(running, {"C:\\Kelvo\\kelvo.exe", {}, 52764}),
            kelvo);
}

class FakeHotkeys final : public HotkeyApi {
 public:
  bool register_hotkey(int id, uint32_t, uint32_t vk) override {
    if (held_elsewhere.count(vk)) return false;
    live.insert(id);
    return true;
  }
  void unregister_hotkey(int id) override { live.erase(id); }
  std::set<int> live;
  std::set<uint32_t> held_elsewhere;
};

// A settings file in a folder of its own, the tables and hot keys in force
// from it, and a main thread whose tasks the test runs itself.
class Reload : public ::testing::Test {
 protected:
  static constexpr uint32_t kKelvo = 77;

  Reload() {
    context_.file = dir_ / "config.toml";
    context_.find_kelvo = [] { return std::nullopt; };
    context_.running = General{"kelvo", {}, 52764};
    context_.speech = Speech(speech_.first);
    write("");
    auto start = read_config_from(context_.file, context_.find_kelvo);
    auto tables = build_binding_tables(start.value().bindings);
    old_ = std::make_shared<const BindingTables>(std::move(tables.value()));
    context_.bindings = std::make_shared<BindingsInForce>(old_);
    registry_.start(old_->hotkeys);
    context_.on_main_thread = [this](LoopTask task) {
      tasks_.push_back(std::move(task));
    };
  }
  ~Reload() override { std::filesystem::remove_all(dir_); }

  void write(const std::string& keys) {
    std::ofstream(context_.file, std::ios::binary)
        << "[general]\nkelvo_path = \"kelvo\"\n"
        << keys;
  }
  std::vector<std::string> spoken() {
    return testrig::spoken_texts(speech_.second);
  }

  const std::filesystem::path dir_ = make_temp_dir("orvalin-reload-test-");
  FakeHotkeys api_;
  HotkeyRegistry registry_{api_};
  std::pair<Sender<SpeechCommand>, Receiver<SpeechCommand>> speech_ =
      make_channel<SpeechCommand>();
  ReloadContext context_;
  std::shared_ptr<const BindingTables> old_;
  std::vector<LoopTask> tasks_;
};

TEST_F(Reload, ValidFileIsSwappedInOnTheMainThreadBetweenTwoPresses) {
  auto [sender, receiver] = make_channel<KeyPress>();
  HotkeyLoop loop(registry_, kKelvo, context_.bindings, sender);
  loop.foreground_changed(kKelvo);
  api_.held_elsewhere = {'Y'};
  write(
      "[speech]\nscreen_reader = \"jaws\"\nbraille = false\n"
      "[[keys]]\nkey = \"ctrl+alt+1\"\naction = \"none\"\n"
      "[[keys]]\nkey = \"ctrl+alt+shift+y\"\naction = \"key_help\"\n");
  reload_settings(context_);
  // Nothing changes before the main thread's turn; a press made now keeps
  // the bindings it was made with.
  ASSERT_EQ(tasks_.size(), 1u);
  EXPECT_EQ(context_.bindings->current(), old_);
  loop.hotkey_pressed(0);
  EXPECT_THAT(spoken(), IsEmpty());

  tasks_[0](loop);
  loop.hotkey_pressed(0);
  const std::shared_ptr<const BindingTables> now = context_.bindings->current();
  ASSERT_NE(now, old_);
  EXPECT_EQ(receiver.try_recv()->bindings, old_);
  EXPECT_EQ(receiver.try_recv()->bindings, now);
  EXPECT_EQ(now->hotkeys.back().key, "ctrl+alt+shift+y");
  // One key fewer, and the new one is held by another program; the layer
  // key stays registered.
  EXPECT_EQ(now->hotkeys.size(), old_->hotkeys.size());
  EXPECT_EQ(api_.live.size(), now->hotkeys.size());
  EXPECT_EQ(api_.live.count(static_cast<int>(now->hotkeys.size())), 1u);
  EXPECT_EQ(api_.live.count(static_cast<int>(now->hotkeys.size() - 1)), 0u);
  EXPECT_THAT(spoken(),
              ElementsAre("<settings: jaws>", "queued: Settings reloaded",
                          "queued: 1 hotkey is used by another program: "
                          "ctrl+alt+shift+y"));
}

TEST_F(Reload, InvalidFileLeavesTheTablesInForce) {
  const std::string refusal = "queued: Settings not reloaded. ";
  write("[[keys]]\nkey = \"ctrl+alt+x\"\naction = \"Toggle\"\n");
  reload_settings(context_);
  write("[[keys]]\nkey = \"ctrl+alt+nokey\"\naction = \"toggle\"\n");
  reload_settings(context_);
  // A file that does not parse is refused in the end-to-end reload test.
  EXPECT_THAT(spoken(),
              ElementsAre(refusal + "'ctrl+alt+x': unknown action 'Toggle'",
                          refusal + "'ctrl+alt+nokey': unknown key 'nokey'"));
  EXPECT_THAT(tasks_, IsEmpty());
  EXPECT_EQ(context_.bindings->current(), old_);
}

TEST_F(Reload, AReloadThatThrowsIsLoggedAndTheWatchGoesOn) {
  context_.on_main_thread = [](LoopTask) {
    throw std::runtime_error("no room");
  };
  Time now{};
  auto watch = std::make_unique<FakeWatch>(
      now, std::vector<FakeWatch::Step>{{0ms, true}, {}, {0ms, true}, {}});
  testing::internal::CaptureStdout();
  run_settings_watch(std::move(watch), context_, 0ms);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "settings-watch: no room\nsettings-watch: no room\n"
            "settings file no longer watched: end of script\n");
}

TEST_F(Reload, RemovedFileIsOnlyLoggedAndLoadedWhenItIsBack) {
  std::filesystem::remove(context_.file);
  testing::internal::CaptureStdout();
  reload_settings(context_);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "settings file removed; keeping the settings in force\n");
  EXPECT_FALSE(std::filesystem::exists(context_.file));
  EXPECT_THAT(spoken(), IsEmpty());
  EXPECT_THAT(tasks_, IsEmpty());

  write("port = 1\n");
  reload_settings(context_);
  ASSERT_EQ(tasks_.size(), 1u);
  auto [sender, receiver] = make_channel<KeyPress>();
  HotkeyLoop loop(registry_, kKelvo, context_.bindings, sender);
  tasks_[0](loop);
  EXPECT_THAT(spoken(), ElementsAre("<settings: auto, braille>",
                                    "queued: Settings reloaded. Kelvo settings "
                                    "take effect at the next start."));
  EXPECT_NE(context_.bindings->current(), old_);
}

// A changed language applies on the main thread's turn, before the sentence
// that confirms it, which is in the new language; a file naming an unknown
// language is refused in the language in force.
TEST_F(Reload, ALanguageAppliesAtOnce) {
  struct English {
    ~English() { set_language(kEnglish); }
  } english;
  write("language = \"de\"\n");
  reload_settings(context_);
  EXPECT_EQ(current_language(), "en");
  ASSERT_EQ(tasks_.size(), 1u);
  auto [sender, receiver] = make_channel<KeyPress>();
  HotkeyLoop loop(registry_, kKelvo, context_.bindings, sender);
  tasks_[0](loop);
  EXPECT_EQ(current_language(), "de");
  const std::string reloaded(kReloaded);
  EXPECT_NE(reloaded, kReloaded.text.english);
  EXPECT_THAT(spoken(),
              ElementsAre("<settings: auto, braille>", "queued: " + reloaded));

  write("language = \"xx\"\n");
  reload_settings(context_);
  EXPECT_EQ(tasks_.size(), 1u);
  const std::string not_reloaded(kNotReloaded);
  EXPECT_THAT(spoken(),
              ElementsAre(testing::AllOf(
                  testing::StartsWith("queued: " + not_reloaded.substr(0, 10)),
                  testing::HasSubstr("'xx'"))));
  EXPECT_EQ(current_language(), "de");
}

}  // namespace
}  // namespace orvalin
