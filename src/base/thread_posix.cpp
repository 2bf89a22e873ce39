#include <pthread.h>

#include <string>

#include "base/thread.h"

namespace orvalin {

void set_thread_name(std::string_view name) {
  // Linux limits thread names to 15 bytes plus the NUL.
  const std::string shortened(name.substr(0, 15));
  pthread_setname_np(pthread_self(), shortened.c_str());
}

}  // namespace orvalin
