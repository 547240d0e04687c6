// One round trip over the network: saned on the loopback address serves the
// backend, and scanimage reaches it through SANE's net backend. The net
// backend only knows the standard port, so the case is skipped when that
// port is taken.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "sane_fixture.h"

namespace sanetest {
namespace {

constexpr uint16_t kSanePort = 6566;

bool PortFree(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  int yes = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool free = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return free;
}

bool Listening(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool up = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return up;
}

class Saned : public SaneTest {};

TEST_F(Saned, ScanimageScansThroughTheNetworkDaemon) {
  if (!HaveScanimage() || !hosttest::HaveProgram("saned"))
    GTEST_SKIP() << "scanimage and saned (sane-utils) are not installed";
  if (!PortFree(kSanePort)) GTEST_SKIP() << "port " << kSanePort << " is in use";
  const standin_test::Picture picture = standin_test::patternPicture(130, 90);
  install("\"Document\"=\"" + writeDocument("document.bmp", picture) + "\"\n");
  // The daemon's folder: the backend and who may connect. The client's: the net backend.
  const std::string server = file("server"), client = file("client");
  mkdir(server.c_str(), 0755);
  mkdir(client.c_str(), 0755);
  standin_test::writeFile(server + "/dll.conf", "ferrox\n");
  standin_test::writeFile(server + "/ferrox.conf",
                          standin_test::readFile(std::string(SUITE_SANE_DIR) + "/ferrox.conf"));
  standin_test::writeFile(server + "/saned.conf", "127.0.0.1\n");
  standin_test::writeFile(client + "/dll.conf", "net\n");
  standin_test::writeFile(client + "/net.conf", "connect_timeout = 5\n127.0.0.1\n");

  setVariable("SANE_CONFIG_DIR", server);
  const std::vector<std::string> argv =
      command("saned", {"--listen", "--debug=2", "--stderr", "--bind=127.0.0.1", "--port=6566"});
  // A process group of its own: the daemon and the children it forks for
  // connections end together.
  const pid_t daemon = spawn(argv, file("saned.log"), file("saned.log"), true);
  ASSERT_GT(daemon, 0);
  for (int i = 0; i < 300 && !Listening(kSanePort); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));

  setVariable("SANE_CONFIG_DIR", client);
  setVariable("SANE_NET_TIMEOUT", "5");
  hosttest::ToolRun run = hosttest::RunProgram(
      {"timeout", "20", "scanimage", "-d", "net:127.0.0.1:ferrox:scanner", "--resolution", "300",
       "-l", std::to_string(48 * 25.4 / 300), "-t", std::to_string(24 * 25.4 / 300), "-x",
       std::to_string(72 * 25.4 / 300), "-y", std::to_string(48 * 25.4 / 300), "--format", "png",
       "-o", file("net.png")});
  kill(-daemon, SIGTERM);
  int status = 0;
  waitpid(daemon, &status, 0);
  ASSERT_EQ(run.exitCode, 0) << run.err << standin_test::readFile(file("saned.log"));
  EXPECT_EQ(imagePixels(file("net.png")), scanapptest::Cut(picture, 48, 24, 72, 48));
  EXPECT_TRUE(scannerFree());
}

}  // namespace
}  // namespace sanetest
