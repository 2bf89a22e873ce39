#include <gtest/gtest.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>
#include <string>
#include <thread>

#include "base/language.h"
#include "speech/engines.h"
#include "speech/speech.h"

namespace orvalin {
namespace {

// Leaves room for the heap to grow a little but none for a thread's stack.
void limit_address_space() {
  std::ifstream statm("/proc/self/statm");
  unsigned long pages = 0;
  statm >> pages;
  const rlim_t limit = static_cast<rlim_t>(pages) * 4096 + (2 << 20);
  const rlimit rl{limit, limit};
  setrlimit(RLIMIT_AS, &rl);
}

TEST(SpeechPosixDeathTest, ThreadThatCannotStartStopsTheProgram) {
  // The sanitizers' own bookkeeping cannot live with a tight address space.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP();
#endif
  EXPECT_EXIT(
      {
        limit_address_space();
        start_speech(Timing{});
      },
      testing::ExitedWithCode(1), "spawn speech thread");
}

TEST(SpeechPosixTest, EnginesAreOpenedOnTheThreadNamedSpeech) {
  std::promise<std::string> name;
  std::future<std::string> named = name.get_future();
  Speech speech = start_speech_with([&name] {
    char buffer[16] = {};
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    name.set_value(buffer);
    return open_speech_engines(Timing{});
  });
  ASSERT_EQ(named.wait_for(std::chrono::seconds(60)),
            std::future_status::ready);
  EXPECT_EQ(named.get(), "speech");
}

// speech-dispatcher in this test: it answers every SSIP command as done
// and keeps the commands. Orca speaks at "message" priority; at "text",
// Orvalin's sentences would be dropped whenever Orca speaks.
TEST(SpeechPosixTest, SpeaksAtMessagePriority) {
  const std::string path = "/tmp/orvalin-ssip-" + std::to_string(getpid());
  unlink(path.c_str());
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  ASSERT_EQ(
      bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 1), 0);
  std::string commands;
  std::thread daemon([&] {
    const int client = accept(listener, nullptr, nullptr);
    bool data = false;
    std::string line;
    char c = 0;
    while (read(client, &c, 1) == 1) {
      if (c != '\n') {
        line += c;
        continue;
      }
      std::string reply = "200 OK\r\n";
      if (data) {
        data = line != ".\r";
        reply = data ? "" : "225-1\r\n225 OK MESSAGE QUEUED\r\n";
      } else if (line == "SPEAK\r" || line == "speak\r") {
        data = true;
        reply = "230 OK RECEIVING DATA\r\n";
      } else {
        commands += line + "\n";
      }
      // The client may have closed already (its QUIT needs no answer).
      (void)!send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
      line.clear();
    }
    close(client);
  });
  setenv("SPEECHD_ADDRESS", ("unix_socket:" + path).c_str(), 1);
  {
    auto voice = open_speech_engines(Timing{})->create_voice();
    ASSERT_TRUE(voice);
    (*voice)->speak("Deck 1", false);
    // A sentence in Portuguese asks for a Portuguese voice, once.
    set_language("pt_BR");
    (*voice)->speak("Deck 1 tocando", false);
    (*voice)->speak("Deck 1 pausado", false);
    set_language(kEnglish);
  }
  daemon.join();
  close(listener);
  unlink(path.c_str());
  unsetenv("SPEECHD_ADDRESS");
  EXPECT_NE(commands.find("SET SELF PRIORITY MESSAGE"), std::string::npos)
      << commands;
  // English leaves the user's voice as it is; another language sets it.
  const size_t portuguese = commands.find("SET SELF LANGUAGE pt-BR");
  EXPECT_NE(portuguese, std::string::npos) << commands;
  EXPECT_EQ(commands.find("SET SELF LANGUAGE"), portuguese) << commands;
  EXPECT_EQ(commands.rfind("SET SELF LANGUAGE"), portuguese) << commands;
}

}  // namespace
}  // namespace orvalin
