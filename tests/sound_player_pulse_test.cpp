// The PulseAudio sound player against a real, private PulseAudio server: its
// null sink is the default output, and parec records the sink's monitor so
// each test can look at what was actually heard.

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sndfile.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sound/sound_player.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kRecordRate = 48000;  // the null sink's and the recording's rate
constexpr double kFullScale = 32767.0;
// A sample above this is sound; the clips' tones peak at 0.4 of full scale.
constexpr int kLoud = 3000;

int Ms(double ms) { return static_cast<int>(ms * kRecordRate / 1000.0); }
double ToMs(std::size_t samples) { return 1000.0 * static_cast<double>(samples) / kRecordRate; }

int ThreadCount() {
  int n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (const dirent* entry = readdir(dir)) n += entry->d_name[0] != '.';
    closedir(dir);
  }
  return n;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Starts a program with `env` as its whole environment; it dies with us.
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            int stdout_fd, int stderr_fd) {
  std::vector<char*> args, envp;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr);
  envp.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (stdout_fd >= 0) dup2(stdout_fd, 1);
    if (stderr_fd >= 0) dup2(stderr_fd, 2);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
  }
  return pid;
}

void Stop(pid_t& pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 300; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) {
      pid = -1;
      return;
    }
    std::this_thread::sleep_for(milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  pid = -1;
}

bool CanConnect(const std::string& socket_path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path.c_str());
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return ok;
}

// A sine tone written by libsndfile in the given WAV subformat.
struct Tone {
  int subformat;  // SF_FORMAT_MS_ADPCM, SF_FORMAT_PCM_16, ...
  int channels;
  int rate;
  double hz;
  double seconds;
};

Bytes MakeClip(const std::string& path, const Tone& tone) {
  SF_INFO info{};
  info.samplerate = tone.rate;
  info.channels = tone.channels;
  info.format = SF_FORMAT_WAV | tone.subformat;
  SNDFILE* sf = sf_open(path.c_str(), SFM_WRITE, &info);
  if (sf == nullptr) return {};
  const auto frames = static_cast<std::size_t>(std::lround(tone.seconds * tone.rate));
  std::vector<float> samples(frames * static_cast<std::size_t>(tone.channels));
  for (std::size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / tone.rate;
    const auto v = static_cast<float>(0.4 * std::sin(2 * std::numbers::pi * tone.hz * t));
    for (int c = 0; c < tone.channels; ++c) samples[i * tone.channels + c] = v;
  }
  sf_writef_float(sf, samples.data(), static_cast<sf_count_t>(frames));
  sf_close(sf);
  return ReadFile(path);
}

// The same file without its "fact" chunk.
Bytes WithoutFact(const Bytes& wav) {
  Bytes out(wav.begin(), wav.begin() + 12);
  for (std::size_t at = 12; at + 8 <= wav.size();) {
    std::uint32_t size = 0;
    std::memcpy(&size, wav.data() + at + 4, 4);
    const std::size_t next = std::min(wav.size(), at + 8 + size + (size & 1));
    if (std::memcmp(wav.data() + at, "fact", 4) != 0) {
      out.insert(out.end(), wav.begin() + static_cast<std::ptrdiff_t>(at),
                 wav.begin() + static_cast<std::ptrdiff_t>(next));
    }
    at = next;
  }
  const auto riff_size = static_cast<std::uint32_t>(out.size() - 8);
  std::memcpy(out.data() + 4, &riff_size, 4);
  return out;
}

bool HasChunk(const Bytes& wav, const char* id) {
  return std::search(wav.begin(), wav.end(), id, id + 4) != wav.end();
}

// Amplitude (fraction of full scale) of `hz` in samples [begin, end).
double ToneLevel(const std::vector<std::int16_t>& s, int begin, int end, double hz) {
  begin = std::max(begin, 0);
  end = std::min(end, static_cast<int>(s.size()));
  if (end <= begin) return 0;
  const double w = 2 * std::numbers::pi * hz / kRecordRate;
  double re = 0, im = 0;
  for (int i = begin; i < end; ++i) {
    re += s[i] * std::cos(w * i);
    im -= s[i] * std::sin(w * i);
  }
  return 2 * std::hypot(re, im) / (end - begin) / kFullScale;
}

double Rms(const std::vector<std::int16_t>& s, int begin, int end) {
  begin = std::max(begin, 0);
  end = std::min(end, static_cast<int>(s.size()));
  if (end <= begin) return 0;
  double sum = 0;
  for (int i = begin; i < end; ++i) sum += static_cast<double>(s[i]) * s[i];
  return std::sqrt(sum / (end - begin));
}

// Where sound starts and ends in a recording, in samples.
struct Heard {
  bool any = false;
  int start = 0;
  int end = 0;  // one past the last loud sample
  double Ms() const { return ToMs(static_cast<std::size_t>(end - start)); }
};

Heard FindSound(const std::vector<std::int16_t>& s) {
  Heard h;
  for (int i = 0; i < static_cast<int>(s.size()); ++i) {
    if (std::abs(s[i]) > kLoud) {
      if (!h.any) h.start = i;
      h.any = true;
      h.end = i + 1;
    }
  }
  return h;
}

// Reads parec's raw mono 16-bit output into memory.
class Recorder {
 public:
  void Start(int fd) {
    fd_ = fd;
    thread_ = std::thread([this] { Run(); });
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  std::size_t Mark() {
    std::lock_guard lock(mutex_);
    return samples_.size();
  }
  std::vector<std::int16_t> Since(std::size_t mark) {
    std::lock_guard lock(mutex_);
    return {samples_.begin() + static_cast<std::ptrdiff_t>(std::min(mark, samples_.size())),
            samples_.end()};
  }

 private:
  void Run() {
    std::uint8_t buffer[8192];
    std::vector<std::uint8_t> pending;
    for (;;) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) return;
      pending.insert(pending.end(), buffer, buffer + n);
      std::lock_guard lock(mutex_);
      std::size_t i = 0;
      for (; i + 1 < pending.size(); i += 2) {
        samples_.push_back(static_cast<std::int16_t>(pending[i] | (pending[i + 1] << 8)));
      }
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
  int fd_ = -1;
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::int16_t> samples_;
};

class PulsePlayerTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/zorva-sound-test-XXXXXX";
    dir_ = mkdtemp(pattern);
    const std::string run = dir_ + "/run", config = dir_ + "/config";
    std::filesystem::create_directories(run);
    std::filesystem::create_directories(config);
    socket_ = dir_ + "/native";
    std::ofstream(dir_ + "/server.pa")
        << "load-module module-null-sink sink_name=zorva_test rate=" << kRecordRate
        << " channels=1\n"
        << "load-module module-native-protocol-unix socket=" << socket_ << " auth-anonymous=1\n"
        << "set-default-sink zorva_test\n";

    // This process and its children see only the private server, and leave
    // nothing in the real home.
    setenv("HOME", dir_.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
    const char* path = std::getenv("PATH");
    const std::vector<std::string> env = {
        std::string("PATH=") + (path ? path : "/usr/bin:/bin"), "HOME=" + dir_,
        "XDG_RUNTIME_DIR=" + run, "XDG_CONFIG_HOME=" + config,
        // No session bus: the server must not start one.
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir_ + "/no-bus", "PULSE_SERVER=unix:" + socket_};

    const int log = open((dir_ + "/pulseaudio.log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    pulse_ = Spawn({"pulseaudio", "-n", "-F", dir_ + "/server.pa", "--daemonize=no",
                    "--exit-idle-time=-1", "--use-pid-file=no"},
                   env, log, log);
    close(log);
    for (auto deadline = Clock::now() + std::chrono::seconds(10);
         !CanConnect(socket_) && Clock::now() < deadline;) {
      std::this_thread::sleep_for(milliseconds(10));
    }
    if (!CanConnect(socket_)) {
      startup_error_ = "pulseaudio did not start; see " + dir_ + "/pulseaudio.log";
      return;
    }

    // Record from the start: a sink nobody listens to renders far ahead and
    // new sounds would seem to start late.
    int pipe_fds[2];
    if (pipe2(pipe_fds, O_CLOEXEC) != 0) {
      startup_error_ = "pipe failed";
      return;
    }
    parec_ = Spawn({"parec", "-d", "zorva_test.monitor", "--latency-msec=5", "--format=s16le",
                    "--rate=" + std::to_string(kRecordRate), "--channels=1", "--raw"},
                   env, pipe_fds[1], -1);
    close(pipe_fds[1]);
    recorder_.Start(pipe_fds[0]);
    for (auto deadline = Clock::now() + std::chrono::seconds(10);
         recorder_.Mark() == 0 && Clock::now() < deadline;) {
      std::this_thread::sleep_for(milliseconds(10));
    }
    if (recorder_.Mark() == 0) {
      startup_error_ = "parec delivered nothing";
      return;
    }
    std::this_thread::sleep_for(milliseconds(100));
  }

  static void TearDownTestSuite() {
    sound::StopAllSounds();
    Stop(parec_);
    recorder_.Join();
    Stop(pulse_);
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  void SetUp() override { ASSERT_TRUE(startup_error_.empty()) << startup_error_; }
  void TearDown() override { sound::StopAllSounds(); }

  static Bytes Clip(const Tone& tone) {
    return MakeClip(dir_ + "/clip" + std::to_string(clip_count_++) + ".wav", tone);
  }

  // The recording from `mark` until 250 ms of silence follow a sound, or
  // `timeout` passes.
  static std::vector<std::int16_t> RecordUntilQuiet(std::size_t mark,
                                                    milliseconds timeout = milliseconds(4000)) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      std::vector<std::int16_t> s = recorder_.Since(mark);
      const Heard h = FindSound(s);
      if ((h.any && static_cast<int>(s.size()) - h.end > Ms(250)) || Clock::now() > deadline) {
        return s;
      }
      std::this_thread::sleep_for(milliseconds(20));
    }
  }

  static bool WaitForThreadCount(int count) {
    for (auto deadline = Clock::now() + milliseconds(1000); Clock::now() < deadline;) {
      if (ThreadCount() == count) return true;
      std::this_thread::sleep_for(milliseconds(5));
    }
    return ThreadCount() == count;
  }

  static inline std::string dir_;
  static inline std::string socket_;
  static inline std::string startup_error_;
  static inline pid_t pulse_ = -1;
  static inline pid_t parec_ = -1;
  static inline Recorder recorder_;
  static inline int clip_count_ = 0;
};

TEST_F(PulsePlayerTest, ClipPlaysOutWholeAndItsThreadsEnd) {
  struct Case {
    const char* name;
    Tone tone;
    bool strip_fact;
  };
  const Case cases[] = {
      {"MS ADPCM mono, no fact chunk", {SF_FORMAT_MS_ADPCM, 1, 22050, 880, 0.300}, true},
      {"MS ADPCM stereo, fact chunk", {SF_FORMAT_MS_ADPCM, 2, 44100, 660, 0.250}, false},
      {"PCM 16 stereo", {SF_FORMAT_PCM_16, 2, 48000, 440, 0.120}, false},
      {"PCM 16 mono, shorter than the stream buffer", {SF_FORMAT_PCM_16, 1, 16000, 1000, 0.030},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes clip = Clip(c.tone);
    ASSERT_TRUE(HasChunk(clip, "data"));
    if (c.strip_fact) {
      clip = WithoutFact(clip);
      ASSERT_FALSE(HasChunk(clip, "fact"));
    }
    const int threads = ThreadCount();
    const std::size_t mark = recorder_.Mark();
    ASSERT_TRUE(sound::PlaySound(clip));
    clip.assign(clip.size(), 0);  // the player has its own copy
    const auto s = RecordUntilQuiet(mark);
    const Heard h = FindSound(s);
    ASSERT_TRUE(h.any) << "nothing heard";
    EXPECT_NEAR(h.Ms(), c.tone.seconds * 1000, 15);
    const double level = ToneLevel(s, h.start + Ms(10), h.end - Ms(10), c.tone.hz);
    EXPECT_NEAR(level, 0.4, 0.06);
    EXPECT_LT(ToneLevel(s, h.start + Ms(10), h.end - Ms(10), c.tone.hz * 1.5), 0.05);
    EXPECT_TRUE(WaitForThreadCount(threads)) << ThreadCount() << " threads, " << threads
                                             << " before the request";
  }
}

TEST_F(PulsePlayerTest, OverlappingRequestsMixAndEachPlaysToItsEnd) {
  const Bytes low = Clip({SF_FORMAT_MS_ADPCM, 1, 22050, 440, 0.400});
  const Bytes high = Clip({SF_FORMAT_MS_ADPCM, 1, 22050, 660, 0.400});
  const std::size_t mark = recorder_.Mark();
  ASSERT_TRUE(sound::PlaySound(low));
  std::this_thread::sleep_for(milliseconds(150));
  ASSERT_TRUE(sound::PlaySound(high));
  const auto s = RecordUntilQuiet(mark);
  const Heard h = FindSound(s);
  ASSERT_TRUE(h.any);
  EXPECT_NEAR(h.Ms(), 550, 25);

  const int a = h.start, b = h.end;
  // Low alone, both, high alone.
  EXPECT_GT(ToneLevel(s, a + Ms(20), a + Ms(120), 440), 0.3);
  EXPECT_LT(ToneLevel(s, a + Ms(20), a + Ms(120), 660), 0.05);
  EXPECT_GT(ToneLevel(s, a + Ms(190), a + Ms(370), 440), 0.3);
  EXPECT_GT(ToneLevel(s, a + Ms(190), a + Ms(370), 660), 0.3);
  EXPECT_GT(ToneLevel(s, b - Ms(120), b - Ms(20), 660), 0.3);
  EXPECT_LT(ToneLevel(s, b - Ms(120), b - Ms(20), 440), 0.05);
  EXPECT_GT(Rms(s, a + Ms(190), a + Ms(370)), 1.3 * Rms(s, a + Ms(20), a + Ms(120)));
}

TEST_F(PulsePlayerTest, QuickPressesEachPlayToTheirEnd) {
  constexpr int kPresses = 10;
  constexpr int kGapMs = 40;
  std::vector<Bytes> clips;
  for (int i = 0; i < kPresses; ++i) {
    clips.push_back(Clip({SF_FORMAT_PCM_16, 1, 22050, 400.0 + 100 * i, 0.100}));
  }
  const int threads = ThreadCount();
  const std::size_t mark = recorder_.Mark();
  const auto start = Clock::now();
  for (int i = 0; i < kPresses; ++i) {
    std::this_thread::sleep_until(start + milliseconds(kGapMs * i));
    ASSERT_TRUE(sound::PlaySound(clips[i])) << "press " << i;
  }
  const auto s = RecordUntilQuiet(mark);
  const Heard h = FindSound(s);
  ASSERT_TRUE(h.any);
  EXPECT_NEAR(h.Ms(), kGapMs * (kPresses - 1) + 100, 30);
  for (int i = 0; i < kPresses; ++i) {
    // The middle 60 ms of each press's own 100 ms.
    const int begin = h.start + Ms(kGapMs * i + 20), end = begin + Ms(60);
    EXPECT_GT(ToneLevel(s, begin, end, 400.0 + 100 * i), 0.25) << "press " << i;
  }
  EXPECT_TRUE(WaitForThreadCount(threads));
}

TEST_F(PulsePlayerTest, StopAllSoundsCutsEveryPlaybackOffAndEndsItsWorkers) {
  // 104 whole cycles: a seamless loop is one steady tone.
  const Bytes loop = Clip({SF_FORMAT_MS_ADPCM, 1, 22050, 520, 0.200});
  const Bytes long_clip = Clip({SF_FORMAT_PCM_16, 1, 22050, 780, 3.0});
  const int threads = ThreadCount();
  const std::size_t mark = recorder_.Mark();
  ASSERT_TRUE(sound::PlaySound(loop, true));
  ASSERT_TRUE(sound::PlaySound(long_clip));
  EXPECT_GT(ThreadCount(), threads);
  std::this_thread::sleep_for(milliseconds(700));
  const auto before = Clock::now();
  sound::StopAllSounds();
  const auto stop_us =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - before).count();
  EXPECT_EQ(ThreadCount(), threads);
  RecordProperty("stop_all_sounds_us", static_cast<int>(stop_us));
  std::printf("StopAllSounds took %lld us\n", static_cast<long long>(stop_us));

  std::this_thread::sleep_for(milliseconds(400));
  const auto s = recorder_.Since(mark);
  const Heard h = FindSound(s);
  ASSERT_TRUE(h.any);
  // Cut off at the stop: the loop went on past its first pass without a
  // gap, the long clip never reached its end, and silence follows.
  EXPECT_NEAR(h.Ms(), 700, 60);
  EXPECT_GT(ToneLevel(s, h.start + Ms(100), h.start + Ms(500), 520), 0.37);
  EXPECT_GT(ToneLevel(s, h.start + Ms(100), h.start + Ms(500), 780), 0.37);
  EXPECT_GT(ToMs(s.size() - static_cast<std::size_t>(h.end)), 300);

  // The player works again afterwards.
  const std::size_t again = recorder_.Mark();
  ASSERT_TRUE(sound::PlaySound(loop));
  EXPECT_NEAR(FindSound(RecordUntilQuiet(again)).Ms(), 200, 15);
}

TEST_F(PulsePlayerTest, WithoutServerRequestsFailAtOnceAndPlayNothing) {
  const Bytes clip = Clip({SF_FORMAT_MS_ADPCM, 1, 22050, 880, 0.2});
  const int threads = ThreadCount();
  setenv("PULSE_SERVER", ("unix:" + dir_ + "/missing").c_str(), 1);
  const auto before = Clock::now();
  const bool played = sound::PlaySound(clip);
  const auto us =
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - before).count();
  const bool looped = sound::PlaySound(clip, true);
  sound::StopAllSounds();
  setenv("PULSE_SERVER", ("unix:" + socket_).c_str(), 1);
  EXPECT_FALSE(played);
  EXPECT_FALSE(looped);
  EXPECT_EQ(ThreadCount(), threads);
  RecordProperty("no_server_us", static_cast<int>(us));
  std::printf("PlaySound with no server returned after %lld us\n", static_cast<long long>(us));

  // Back with a server, it plays.
  const std::size_t mark = recorder_.Mark();
  ASSERT_TRUE(sound::PlaySound(clip));
  EXPECT_NEAR(FindSound(RecordUntilQuiet(mark)).Ms(), 200, 15);
}

TEST_F(PulsePlayerTest, RefusedBlocksPlayNothing) {
  const Bytes good = Clip({SF_FORMAT_MS_ADPCM, 1, 22050, 880, 0.2});
  Bytes bad_coefficients = good;
  bad_coefficients[20 + 22 + 4] ^= 0x40;  // second predictor pair
  Bytes midi = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0,
                'M', 'T', 'r', 'k', 0, 0, 0, 4, 0x00, 0xFF, 0x2F, 0x00};
  Bytes noise(2000);
  std::mt19937 random(3);
  for (auto& byte : noise) byte = static_cast<std::uint8_t>(random());
  struct Case {
    const char* name;
    Bytes block;
  };
  const Case cases[] = {
      {"empty", {}},
      {"MIDI", midi},
      {"random bytes", noise},
      {"truncated WAV", Bytes(good.begin(), good.end() - 100)},
      {"bad MS ADPCM coefficients", bad_coefficients},
  };
  const int threads = ThreadCount();
  const std::size_t mark = recorder_.Mark();
  for (const Case& c : cases) EXPECT_FALSE(sound::PlaySound(c.block)) << c.name;
  for (const Case& c : cases) EXPECT_FALSE(sound::PlaySound(c.block, true)) << c.name;
  EXPECT_EQ(ThreadCount(), threads);
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_FALSE(FindSound(recorder_.Since(mark)).any);
}

}  // namespace
