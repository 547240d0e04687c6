#include "child_test_run.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

extern char** environ;

namespace winporttest {

namespace {

std::string nameOf(const std::string& variable) { return variable.substr(0, variable.find('=')); }

std::vector<std::string> childEnvironment(const std::vector<std::string>& variables) {
  std::vector<std::string> result;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string inherited = *entry;
    bool replaced = false;
    for (const std::string& variable : variables) replaced |= nameOf(variable) == nameOf(inherited);
    if (!replaced) result.push_back(inherited);
  }
  result.insert(result.end(), variables.begin(), variables.end());
  result.push_back("WINPORT_TEST_CHILD=1");
  return result;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& text : texts) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

}  // namespace

bool ChildRun::passed(const std::string& testName) const {
  return exitCode == 0 && output.find("[       OK ] " + testName) != std::string::npos;
}

bool inChild() { return std::getenv("WINPORT_TEST_CHILD") != nullptr; }

ChildRun runTestInChild(const std::string& testName, const std::vector<std::string>& variables) {
  std::vector<std::string> arguments{"winport_tests", "--gtest_filter=" + testName};
  std::vector<std::string> environment = childEnvironment(variables);
  std::vector<char*> argv = pointersTo(arguments);
  std::vector<char*> envp = pointersTo(environment);

  ChildRun run;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return run;
  pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    dup2(pipeEnds[1], STDERR_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    execve("/proc/self/exe", argv.data(), envp.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  char buffer[4096];
  ssize_t got = 0;
  while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) {
    run.output.append(buffer, static_cast<size_t>(got));
  }
  close(pipeEnds[0]);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.exitCode = WEXITSTATUS(status);
  }
  return run;
}

}  // namespace winporttest
