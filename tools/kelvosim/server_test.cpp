#include "server.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/plugin.h"
#include "base/utf.h"
#include "host.h"
#include "options.h"
#include "testing/kelvosim.h"

namespace kelvosim {
namespace {

using nlohmann::json;

// Requests answered in-process, without sockets.
struct Protocol {
  Model model{ModelOptions{}};
  Session session;
  std::mutex mutex;
  bool refuse_hello = false;

  json ask(const std::string& line) {
    auto reply = answer_request(model, "0123456789abcdef0123", refuse_hello,
                                session, mutex, line);
    if (!reply) return nullptr;
    return json::parse(*reply);
  }
};

TEST(Server, HelloGuardsEveryCommand) {
  Protocol p;
  EXPECT_EQ(p.ask(R"({"cmd":"get","id":1,"group":"[Channel1]","key":"play"})"),
            json::parse(R"({"id":1,"ok":false,"error":"say hello first"})"));
  EXPECT_EQ(p.ask(R"({"cmd":"hello","id":2,"token":"0123456789abcdef"})"),
            json::parse(R"({"id":2,"ok":false,"error":"wrong token"})"));
  EXPECT_EQ(p.ask(R"({"cmd":"hello","id":3,"token":5})"),
            json::parse(R"({"id":3,"ok":false,"error":"wrong token"})"));
  EXPECT_EQ(p.ask(R"({"cmd":"hello","id":4,"token":"0123456789abcdef0123"})"),
            json::parse(R"({"id":4,"ok":true})"));
  EXPECT_EQ(
      p.ask(
          R"({"cmd":"get","id":5,"group":"[Channel1]","key":"play","prop":"value"})"),
      json::parse(R"({"id":5,"ok":true,"value":0.0})"));

  Protocol refusing;
  refusing.refuse_hello = true;
  EXPECT_EQ(
      refusing.ask(R"({"cmd":"hello","id":1,"token":"0123456789abcdef0123"})"),
      json::parse(R"({"id":1,"ok":false,"error":"hello refused"})"));
}

TEST(Server, AnswersEveryCommandAndEchoesIds) {
  Protocol p;
  p.ask(R"({"cmd":"hello","id":1,"token":"0123456789abcdef0123"})");
  // Ids are echoed as sent, whatever their form.
  EXPECT_EQ(p.ask(R"({"cmd":"dumpwidgets","id":"x7"})")["id"], "x7");
  EXPECT_EQ(p.ask(R"({"cmd":"dumpwidgets","id":18446744073709551615})")["id"],
            json(18446744073709551615ull));
  EXPECT_FALSE(p.ask(R"({"cmd":"dumpwidgets"})").contains("id"));
  EXPECT_TRUE(p.ask("[1,2]").is_null());
  EXPECT_TRUE(p.ask("not json").is_null());

  // Request (id 1) and whole reply, or its error text alone.
  const std::vector<std::pair<std::string, json>> cases = {
      {R"("set","group":"[Master]","key":"crossfader","prop":"parameter","value":1)",
       json::parse(R"({"id":1,"ok":true,"value":1.0})")},
      {R"("set","group":"[Master]","key":"crossfader","value":null)",
       "value is not a number"},
      {R"("get","group":"[Master]","key":"crossfader","prop":"both")",
       "unknown prop"},
      {R"("get","key":"crossfader")", "missing group"},
      {R"("get","group":"[Master]","key":"nope","prop":"value")",
       json::parse(R"({"id":1,"ok":false,"error":"unknown control"})")},
      {R"("watch","group":"[Master]","key":"nope")", "unknown control"},
      {R"("fly")", "unknown command 'fly'"},
      {R"("watch","group":"[Main]","key":"peak_indicator")",
       json::parse(R"({"id":1,"ok":true})")},
      {R"("deckinfo","deck":9)", "no deck 9"},
      {R"("effectname","index":8)",
       json::parse(R"({"id":1,"ok":true,"name":"Reverb"})")},
      {R"("effectindex","effect":"org.kelvo.effects.metronome")",
       json::parse(R"({"id":1,"ok":true,"index":6})")},
  };
  for (const auto& [request, expected] : cases) {
    const json reply = p.ask(R"({"id":1,"cmd":)" + request + "}");
    EXPECT_EQ(expected.is_string() ? reply["error"] : reply, expected)
        << request;
  }
  EXPECT_TRUE(p.session.watched.contains({"[Master]", "peak_indicator"}));

  const json labels = p.ask(R"({"cmd":"deckinfo","id":10,"deck":1})");
  EXPECT_EQ(labels["ok"], true);
  EXPECT_EQ(labels["labels"].size(), 5u);
  EXPECT_EQ(labels["labels"][0], json::parse(R"({"label":"title","text":""})"));
  const json selected = p.ask(R"({"cmd":"selectedtrack","id":14})");
  EXPECT_EQ(selected["fields"]["title"], "Night Drive");
  EXPECT_EQ(selected["fields"]["artist"], "Anon");
  EXPECT_EQ(selected["fields"]["album"], "Late Hours");
  EXPECT_EQ(selected["row"], 1);
  EXPECT_EQ(selected["rows"], 12);
  EXPECT_TRUE(
      p.ask(R"({"cmd":"dumpwidgets","id":15})")["count"].is_number_unsigned());
}

TEST(Options, ParsesEveryOption) {
  // Every option once; values hold no spaces.
  const std::string all =
      "--port 0 --port-file p --token t --force-plugin --trace tr "
      "--clock-speed 60 --reply-delay-ms 5 --drop-reply get --drop-reply set "
      "--junk --invalid-utf8-after 3 --out-of-order --close-after 2 "
      "--exit-after 1.5 --exit-code 7 --signal-delay-ms 100 --no-signal "
      "--listen-when-free "
      "--refuse-hello --set [QuickEffectRack1_[Channel1]],super1=0.25 "
      "--load 2=5 --load Sampler1=3 --select 4 --decks 2 --samplers 8 "
      "--effect 4,2=org.kelvo.effects.echo --autodj-queue 3 --no-mic-input "
      "--broadcast-fails --grow-decks-after-ms 900 --clip-deck 3 "
      "--no-metronome";
  std::vector<std::string> args;
  std::istringstream words(all);
  for (std::string word; words >> word;) args.push_back(word);
  auto options = parse_options(args);
  ASSERT_TRUE(options.has_value()) << options.error();
  EXPECT_EQ(options->port, 0);
  EXPECT_EQ(options->token, "t");
  EXPECT_TRUE(options->force_plugin);
  EXPECT_EQ(options->model.clock_speed, 60);
  EXPECT_EQ(options->faults.drop_reply, (std::set<std::string>{"get", "set"}));
  EXPECT_EQ(options->faults.invalid_utf8_after, 3);
  EXPECT_EQ(options->faults.close_after, 2);
  EXPECT_EQ(options->exit_after_seconds, 1.5);
  EXPECT_EQ(options->exit_code, 7);
  EXPECT_TRUE(options->listen_when_free);
  ASSERT_EQ(options->model.values.size(), 1u);
  EXPECT_EQ(options->model.values[0].group, "[QuickEffectRack1_[Channel1]]");
  EXPECT_EQ(options->model.values[0].key, "super1");
  EXPECT_EQ(options->model.values[0].value, 0.25);
  ASSERT_EQ(options->model.loads.size(), 2u);
  EXPECT_EQ(options->model.loads[0].player, "[Channel2]");
  EXPECT_EQ(options->model.loads[1].player, "[Sampler1]");
  EXPECT_EQ(options->model.loads[1].row, 3);
  ASSERT_EQ(options->model.effects.size(), 1u);
  EXPECT_EQ(options->model.effects[0].slot, 2);
  EXPECT_EQ(options->model.grow_decks_after_ms, 900);
  EXPECT_EQ(options->model.clip_decks, std::vector<int>{3});
  EXPECT_FALSE(options->model.metronome);
  EXPECT_FALSE(options->model.mic_input);

  EXPECT_EQ(parse_options({"--port", "70000"}).error(),
            "--port: expected a whole number from 0 to 65535, got '70000'");
  EXPECT_EQ(parse_options({"--trace"}).error(), "--trace: missing value");
  EXPECT_EQ(parse_options({"--bogus"}).error(),
            "unknown option '--bogus' (see --help)");
  EXPECT_FALSE(parse_options({"--set", "[Channel1]play=1"}).has_value());
  EXPECT_FALSE(parse_options({"--clock-speed", "0"}).has_value());
}

TEST(Host, LoadsThePluginOnlyFromTheFirstPluginPathEntry) {
  const auto dir = orvalin::make_temp_dir("kelvosim-plugin");
  std::filesystem::create_directories(dir / "generic");
  {
    std::ofstream(dir / "generic" /
                  orvalin::utf8_to_path(orvalin::plugin_file_name()));
  }
  const std::string with = orvalin::path_to_utf8(dir);
  const std::string without = orvalin::path_to_utf8(dir / "generic");
  const std::string separator(orvalin::plugin_path_separator());
  EXPECT_TRUE(plugin_would_load("orvalin", with));
  EXPECT_TRUE(plugin_would_load("orvalin", with + separator + without));
  EXPECT_FALSE(plugin_would_load("orvalin", without + separator + with));
  EXPECT_FALSE(plugin_would_load("other", with));
  EXPECT_FALSE(plugin_would_load(std::nullopt, with));
  EXPECT_FALSE(plugin_would_load("orvalin", std::nullopt));
  EXPECT_FALSE(plugin_would_load("orvalin", ""));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kelvosim
