// The unmodified daemon against rfspidrv on the emulated board: it opens
// /dev/myradio, reads the stream the module delivers from an off-air
// recording played far too loud, regulates the gains through the module's
// ioctls, and decodes the bulletin.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace {

namespace fs = std::filesystem;

int FreePort() {
  int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = -1;
  if (s >= 0 && bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  if (s >= 0) close(s);
  return port;
}

std::string Slurp(const fs::path &p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(DaemonOnBoard, RegulatesTheGainsAndDecodesTheBulletin) {
  fs::path rec = fs::path(NAVTEX_TESTDATA_DIR) / "offair-518-weather.raw";
  fs::path ref = fs::path(NAVTEX_TESTDATA_DIR) / "offair-518-weather.txt";
  if (!fs::exists(rec) || !fs::exists(ref)) GTEST_SKIP() << "recording not found in " << NAVTEX_TESTDATA_DIR;
  int port = FreePort();
  ASSERT_GT(port, 0);

  fs::path dir = fs::temp_directory_path() / ("rfspidrv_daemon_" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::path out = dir / "stdout", err = dir / "stderr", log = dir / "board.log";

  std::vector<std::string> env;
  for (char **e = environ; *e; ++e)
    if (std::string(*e).rfind("LD_PRELOAD=", 0) != 0 && std::string(*e).rfind("ASAN_OPTIONS=", 0) != 0)
      env.emplace_back(*e);
  env.push_back(std::string("LD_PRELOAD=") + RADIOEMU_PATH);
  env.push_back("ASAN_OPTIONS=verify_asan_link_order=0:detect_leaks=0");
  env.push_back("RADIO_EMU_RECORDING=" + rec.string());
  env.push_back("RADIO_EMU_GAIN=6");  // every channel six times too strong
  env.push_back("RADIO_EMU_LOG=" + log.string());
  std::vector<char *> envp;
  for (auto &s : env) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::vector<std::string> args = {SKERRIN_PATH, "-f", "-i", "/dev/myradio", "-p", std::to_string(port),
                                   "-d", "8"};  // character echo
  std::vector<char *> argv;
  for (auto &s : args) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
  pid_t pid;
  ASSERT_EQ(0, posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()));
  posix_spawn_file_actions_destroy(&fa);

  int status = 0;
  bool done = false;
  for (int i = 0; i < 5000 && !done; ++i) {  // at most 500 s
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid)
      done = true;
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (!done) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  ASSERT_TRUE(done) << "the daemon did not reach the end of the recording";
  std::string stdout_text = Slurp(out);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "status " << status << "\n" << Slurp(err).substr(0, 2000);
  EXPECT_NE(std::string::npos, stdout_text.find("Messages waiting..."));

  // Gains: each channel's mean amplitude over the second half of the run
  std::ifstream lg(log);
  std::vector<std::array<double, 6>> rows;  // compare and amplitude per channel
  std::string line;
  while (std::getline(lg, line)) {
    unsigned long n;
    int c0, c1, c2;
    double a[6];
    if (std::sscanf(line.c_str(), "%lu %d %d %d %lf %lf %lf %lf %lf %lf", &n, &c0, &c1, &c2, &a[0], &a[1],
                    &a[2], &a[3], &a[4], &a[5]) == 10)
      rows.push_back({double(c0), double(c1), double(c2), std::max(a[0], a[1]), std::max(a[2], a[3]),
                      std::max(a[4], a[5])});
  }
  ASSERT_GT(rows.size(), 1000u);
  // The converter's raw amplitude includes what the daemon's filters take
  // out, so it sits somewhat above the daemon's own measure.
  for (int ch = 0; ch < 3; ++ch) {
    double late = 0;
    size_t half = rows.size() / 2;
    for (size_t i = half; i < rows.size(); ++i) late += rows[i][3 + ch] / double(rows.size() - half);
    // the last one-second window from which the mean stays within 30 % of 500
    size_t settle = rows.size();
    for (size_t i = rows.size(); i-- > 27;) {
      double w = 0;
      for (size_t j = i - 27; j < i; ++j) w += rows[j][3 + ch] / 27;
      if (std::fabs(w - 500) > 150) break;
      settle = i - 27;
    }
    std::printf("channel %d: compare %.0f -> %.0f, mean amplitude %.0f over the second half, "
                "near 500 from %.1f s\n", ch, rows.front()[ch], rows.back()[ch], late,
                settle * 384 * 97.6e-6);
    EXPECT_NEAR(500, late, 150) << ch;
    EXPECT_LT(settle * 384 * 97.6e-6, 10.0) << ch;
  }
  // The signal channel's gain came down by the factor of six the front end
  // added (about 490 counts); the noise channels' gains went up.
  EXPECT_NEAR(1792 - 12.65 * std::log10(6.0) / 0.02, rows.back()[1], 120);
  EXPECT_GT(rows.back()[0], 2200);
  EXPECT_GT(rows.back()[2], 2200);

  // Decoding: words of the reference text in the daemon's character echo
  std::istringstream words(Slurp(ref));
  std::set<std::string> want;
  for (std::string w; words >> w;)
    if (w.size() >= 5 && std::all_of(w.begin(), w.end(), [](char c) { return std::isalpha((unsigned char)c); }))
      want.insert(w);
  ASSERT_FALSE(want.empty());
  size_t found = 0;
  for (const auto &w : want) found += stdout_text.find(w) != std::string::npos;
  std::printf("%zu of %zu reference words echoed\n", found, want.size());
  EXPECT_GE(found * 2, want.size()) << stdout_text.substr(0, 3000);
  fs::remove_all(dir);
}

}  // namespace
