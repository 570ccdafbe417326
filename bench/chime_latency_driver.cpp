// Plays one sound file through sound::PlaySound for bench/chime_latency.py.
// Prints the monotonic times (ns) just before and after the call, and the
// result; then waits `hold_ms` and stops.
// Usage: zorva_bench_chime FILE [hold_ms]

#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

#include "sound/sound_player.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE [hold_ms]\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<std::uint8_t> file((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
  const long hold_ms = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 1000;

  auto now_ns = [] {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
  };
  const long long call_ns = now_ns();
  const bool played = sound::PlaySound(file);
  const long long return_ns = now_ns();
  std::printf("call_ns %lld\nreturn_ns %lld\nplayed %d\n", call_ns, return_ns, played ? 1 : 0);
  std::fflush(stdout);
  std::this_thread::sleep_for(std::chrono::milliseconds(hold_ms));
  sound::StopAllSounds();
  return played ? 0 : 1;
}
