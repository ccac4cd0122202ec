// The batch program on ALSA beside PCMs of the sound servers' plugins, with a PulseAudio server
// that takes connections and never answers (as one stopped with SIGSTOP does), or none at all.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/unix_socket.h"

extern char** environ;

namespace {

// The test PCMs (file captures) and, beside them, a pulse plugin PCM, a plug on it and a JACK one.
const char* const kServerPlugins = R"(
pcm.fc_pulse { type pulse hint { show on description "Test pulse plugin" } }
pcm.fc_on_pulse { type plug slave.pcm "fc_pulse" hint { show on description "Test plug on pulse" } }
pcm.fc_jack {
  type jack
  capture_ports { 0 system:capture_1 1 system:capture_2 }
  hint { show on description "Test JACK plugin" }
}
)";

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "fc-fallback-" + std::to_string(::getpid()) + "-" + name;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// An ALSA configuration of the test PCMs and `extra`; its path.
std::string Configuration(const std::string& name, const std::string& extra) {
  const std::string path = TempPath(name + ".conf");
  std::ofstream(path) << "<" FC_ASOUND_CONF ">\n" << extra;
  return path;
}

struct Finished {
  int status = -1;  // as from waitpid
  std::string out;
  std::string err;
  int Exit() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
  int EndingSignal() const { return WIFSIGNALED(status) ? WTERMSIG(status) : 0; }
};

// frequency-counter-cli-sound with `args`, its output in files.
class Program {
 public:
  Program(const std::vector<std::string>& args, const std::string& alsa_config,
          const std::string& pulse_server)
      : out_(TempPath("out")), err_(TempPath("err")) {
    ::setenv("ALSA_CONFIG_PATH", alsa_config.c_str(), 1);
    ::setenv("PULSE_SERVER", pulse_server.c_str(), 1);
    std::vector<std::string> words{FC_CLI_SOUND};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }

  void Signal(int signal) const { ::kill(pid_, signal); }

  Finished Wait() {
    Finished finished;
    if (pid_ > 0) ::waitpid(pid_, &finished.status, 0);
    finished.out = ReadAll(out_);
    finished.err = ReadAll(err_);
    return finished;
  }

 private:
  std::string out_;
  std::string err_;
  pid_t pid_ = -1;
};

// A server that takes every connection and never says a word.
class FrozenServer {
 public:
  FrozenServer() : path_(TempPath("frozen")) {
    ::unlink(path_.c_str());
    fd_ = fc::testing::BoundUnixSocket(path_, true);
  }
  ~FrozenServer() {
    for (const int fd : taken_) ::close(fd);
    if (fd_ >= 0) ::close(fd_);
    ::unlink(path_.c_str());
  }
  FrozenServer(const FrozenServer&) = delete;
  FrozenServer& operator=(const FrozenServer&) = delete;

  bool Listening() const { return fd_ >= 0; }
  std::string Address() const { return "unix:" + path_; }
  // Waits for the next client to connect.
  void AwaitClient() { taken_.push_back(::accept(fd_, nullptr, nullptr)); }

 private:
  std::string path_;
  int fd_ = -1;
  std::vector<int> taken_;
};

const std::string kNoServer = "unix:/nonexistent/fc-no-server/native";

TEST(AlsaFallbackTest, ServerThatDoesNotAnswerIsNotWaitedOnThroughItsPlugins) {
  FrozenServer server;
  ASSERT_TRUE(server.Listening());
  const std::string config = Configuration("plugins", kServerPlugins);

  const Finished devices = Program({"devices"}, config, server.Address()).Wait();
  EXPECT_EQ(devices.Exit(), 0) << devices.err;
  EXPECT_EQ(devices.err, "Sound system: ALSA\n");
  EXPECT_EQ(devices.out, "0\tDefault test input\n1\tTest pulse train\n2\tMono test pulse train\n");

  const Finished record = Program({"record", "--frames", "1"}, config, server.Address()).Wait();
  EXPECT_EQ(record.Exit(), 0) << record.err;
  EXPECT_EQ(record.out.rfind(" 0   .3125", 0), 0u) << record.out;

  // Nothing but the server's plugins, the default among them: the window and `devices` say
  // that no server answered rather than that there are no inputs.
  const std::string only_plugins =
      Configuration("only-plugins", std::string(kServerPlugins) +
                                        "pcm.!default { type pulse }\n"
                                        "pcm.!fc_train { type plug slave.pcm fc_pulse }\n"
                                        "pcm.!fc_mono { type plug slave.pcm fc_pulse }\n");
  const Finished none = Program({"devices"}, only_plugins, server.Address()).Wait();
  EXPECT_EQ(none.Exit(), 1);
  EXPECT_NE(none.err.find("No sound server could be reached"), std::string::npos) << none.err;
}

TEST(AlsaFallbackTest, StopSignalEndsTheProgramWhileTheSoundSystemIsWaitedOn) {
  FrozenServer server;
  ASSERT_TRUE(server.Listening());
  const std::string config = Configuration("plugins", kServerPlugins);

  // Ctrl-C while the automatic choice waits for the server to answer.
  Program record({"record", "--frames", "1"}, config, server.Address());
  server.AwaitClient();
  record.Signal(SIGINT);
  const Finished interrupted = record.Wait();
  EXPECT_EQ(interrupted.EndingSignal(), SIGINT) << interrupted.err;
  EXPECT_NE(interrupted.err.find("nothing was recorded"), std::string::npos) << interrupted.err;
  EXPECT_EQ(interrupted.out, "");

  // SIGTERM while a forced ALSA listing is held in the pulse plugin.
  Program devices({"devices", "--audio", "alsa"}, config, server.Address());
  server.AwaitClient();
  devices.Signal(SIGTERM);
  const Finished terminated = devices.Wait();
  EXPECT_EQ(terminated.EndingSignal(), SIGTERM) << terminated.err;
}

TEST(AlsaFallbackTest, PluginChatterStaysOffTheTerminal) {
  const std::string config = Configuration("plugins", kServerPlugins);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"devices"}, {"devices", "--audio", "alsa"}}) {
    const Finished devices = Program(args, config, kNoServer).Wait();
    EXPECT_EQ(devices.Exit(), 0) << args.size();
    EXPECT_EQ(devices.err, "Sound system: ALSA\n") << args.size();
    EXPECT_EQ(devices.out.rfind("0\tDefault test input\n", 0), 0u) << devices.out;
  }
  for (const std::vector<std::string>& args : {std::vector<std::string>{"record", "--frames", "1"},
                                               {"record", "--frames", "1", "--audio", "alsa"}}) {
    const Finished record = Program(args, config, kNoServer).Wait();
    EXPECT_EQ(record.Exit(), 0) << record.err;
    EXPECT_EQ(record.err.find("server"), std::string::npos) << record.err;
    EXPECT_EQ(record.err.find("Jack"), std::string::npos) << record.err;
  }
}

}  // namespace
