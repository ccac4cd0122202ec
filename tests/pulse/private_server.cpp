#include "pulse/private_server.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fc::testing {

namespace {

const std::string kScript = std::string(FC_SOURCE_DIR) + "/scripts/pulse-server";

// Runs a shell command; returns its exit code and puts its output (both streams) in `output`.
int RunScript(const std::string& command, std::string& output) {
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) {
    output = std::strerror(errno);
    return -1;
  }
  char buffer[512];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

}  // namespace

bool PrivateServer::required() {
  const char* value = std::getenv("FC_REQUIRE_PULSE");
  return value != nullptr && std::string(value) == "1";
}

bool PrivateServer::Start(int period_us, int width_us) {
  return Launch("FC_PULSE_PERIOD_US=" + std::to_string(period_us) +
                " FC_PULSE_WIDTH_US=" + std::to_string(width_us));
}

bool PrivateServer::StartPlaying(const std::string& period_file) {
  return Launch("FC_PULSE_PERIOD_FILE=" + Quoted(period_file));
}

bool PrivateServer::Launch(const std::string& train_environment) {
  // Short, because the socket path must fit into 108 bytes.
  std::vector<char> dir_template(std::begin("/tmp/fc-pulse-test-XXXXXX"), std::end("/tmp/fc-pulse-test-XXXXXX"));
  if (mkdtemp(dir_template.data()) == nullptr) {
    problem_ = "cannot make a directory for the server";
    return false;
  }
  dir_ = dir_template.data();
  // The server goes away with this process even if the test never gets to Stop.
  const std::string environment = "FC_PULSE_DIR=" + Quoted(dir_) + " " + train_environment +
                                  " FC_PULSE_OWNER_PID=" + std::to_string(getpid());
  std::string output;
  const int code = RunScript(environment + " " + Quoted(kScript) + " start", output);
  if (code != 0) {
    problem_ = "no private PulseAudio server (scripts/pulse-server start, exit " +
               std::to_string(code) + "):\n" + output;
    Stop();
    return false;
  }
  address_ = "unix:" + dir_ + "/native";
  return true;
}

void PrivateServer::Stop() {
  if (dir_.empty()) return;
  std::string output;
  RunScript("FC_PULSE_DIR=" + Quoted(dir_) + " " + Quoted(kScript) + " stop", output);
  rmdir(dir_.c_str());  // when the script found nothing to remove
  dir_.clear();
  address_.clear();
}

pid_t PrivateServer::server_pid() const {
  std::ifstream file(dir_ + "/server.pid");
  pid_t pid = 0;
  file >> pid;
  return pid;
}

}  // namespace fc::testing
