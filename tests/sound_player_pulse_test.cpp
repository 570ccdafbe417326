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

// The median of ToneLevel over windows of `window_ms`, half overlapping:
// one glitch of a loaded machine does not sink it.
double MedianLevel(const std::vector<std::int16_t>& s, int begin, int end, double hz,
                   int window_ms = 20) {
  std::vector<double> levels;
  for (int at = begin; at + Ms(window_ms) <= end; at += Ms(window_ms / 2.0)) {
    levels.push_back(ToneLevel(s, at, at + Ms(window_ms), hz));
  }
  if (levels.empty()) return 0;
  std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
  return levels[levels.size() / 2];
}

// Where one tone of a mix is heard: 20 ms windows slid in 2 ms steps; a
// window holds the tone when it shows half its 0.4 amplitude, that is when
// the tone fills half of it. `on` and `off` are the middles of the first and
// last such windows; `present` counts the steps whose window holds the tone,
// so it measures how much of the tone was heard even if a starved machine
// split it with a gap.
struct ToneSpan {
  bool any = false;
  int on = 0;
  int off = 0;
  int present = 0;
  double PresentMs() const { return ToMs(static_cast<std::size_t>(present)); }
};

ToneSpan FindTone(const std::vector<std::int16_t>& s, double hz) {
  ToneSpan t;
  for (int at = 0; at + Ms(20) <= static_cast<int>(s.size()); at += Ms(2)) {
    if (ToneLevel(s, at, at + Ms(20), hz) > 0.2) {
      if (!t.any) t.on = at + Ms(10);
      t.any = true;
      t.off = at + Ms(10);
      t.present += Ms(2);
    }
  }
  return t;
}

// A clip of `ms` heard whole. The monitor may show a few milliseconds of a
// new stream's start twice (the sink rewinds to mix it in at once), which
// breaks the tone's phase there; nothing may be heard beyond the clip.
void ExpectWhole(const ToneSpan& t, double ms) {
  EXPECT_TRUE(t.any) << "nothing heard";
  EXPECT_GE(t.PresentMs(), ms - 15);
  EXPECT_LE(t.PresentMs(), ms + 5);
}

double Rms(const std::vector<std::int16_t>& s, int begin, int end) {
  begin = std::max(begin, 0);
  end = std::min(end, static_cast<int>(s.size()));
  if (end <= begin) return 0;
  double sum = 0;
  for (int i = begin; i < end; ++i) sum += static_cast<double>(s[i]) * s[i];
  return std::sqrt(sum / (end - begin));
}

// Whether anything is heard: a sample above kLoud; `end` is one past the
// last such sample.
struct Heard {
  bool any = false;
  int end = 0;
};

Heard FindSound(const std::vector<std::int16_t>& s) {
  Heard h;
  for (int i = 0; i < static_cast<int>(s.size()); ++i) {
    if (std::abs(s[i]) > kLoud) {
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
    if (mkdtemp(pattern) == nullptr) {
      startup_error_ = "mkdtemp failed";
      return;
    }
    dir_ = pattern;
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
    const ToneSpan t = FindTone(s, c.tone.hz);
    ASSERT_TRUE(t.any) << "nothing heard";
    ExpectWhole(t, c.tone.seconds * 1000);
    EXPECT_NEAR(MedianLevel(s, t.on, t.off, c.tone.hz, 10), 0.4, 0.06);
    EXPECT_LT(MedianLevel(s, t.on, t.off, c.tone.hz * 1.5, 10), 0.05);
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
  const ToneSpan a = FindTone(s, 440), b = FindTone(s, 660);
  ASSERT_TRUE(a.any && b.any);
  ExpectWhole(a, 400);
  ExpectWhole(b, 400);
  ASSERT_LT(b.on + Ms(150), a.off) << "the two barely overlap";

  // Low alone, then both (louder), then high alone.
  EXPECT_GT(MedianLevel(s, a.on, b.on, 440), 0.3);
  EXPECT_LT(MedianLevel(s, a.on, b.on, 660), 0.05);
  EXPECT_GT(MedianLevel(s, b.on, a.off, 440), 0.3);
  EXPECT_GT(MedianLevel(s, b.on, a.off, 660), 0.3);
  EXPECT_GT(MedianLevel(s, a.off, b.off, 660), 0.3);
  EXPECT_LT(MedianLevel(s, a.off, b.off, 440), 0.05);
  EXPECT_GT(Rms(s, b.on + Ms(20), a.off - Ms(20)), 1.3 * Rms(s, a.on + Ms(20), b.on - Ms(20)));
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
  for (int i = 0; i < kPresses; ++i) {
    SCOPED_TRACE(testing::Message() << "press " << i);
    ExpectWhole(FindTone(s, 400.0 + 100 * i), 100);
  }
  EXPECT_TRUE(WaitForThreadCount(threads));
}

TEST_F(PulsePlayerTest, StopAllSoundsCutsEveryPlaybackOffAndEndsItsWorkers) {
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

  // Both were heard up to the stop and no further: the loop past its first
  // pass, the long clip for the 700 ms, not its 3 s. Then silence.
  const auto s = RecordUntilQuiet(mark);
  const ToneSpan looped = FindTone(s, 520), cut = FindTone(s, 780);
  EXPECT_GT(looped.PresentMs(), 500);
  EXPECT_LT(looped.PresentMs(), 800);
  EXPECT_GT(cut.PresentMs(), 500);
  EXPECT_LT(cut.PresentMs(), 800);
  std::this_thread::sleep_for(milliseconds(300));
  const auto tail = recorder_.Since(s.size() + mark);
  EXPECT_GT(ToMs(tail.size()), 200);
  EXPECT_FALSE(FindSound(tail).any);

  // The player works again afterwards.
  const std::size_t again = recorder_.Mark();
  ASSERT_TRUE(sound::PlaySound(loop));
  ExpectWhole(FindTone(RecordUntilQuiet(again), 520), 200);
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
  ExpectWhole(FindTone(RecordUntilQuiet(mark), 880), 200);
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
