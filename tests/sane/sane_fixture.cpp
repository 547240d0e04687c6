#include "sane_fixture.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>

#include <cstring>

#include "ferrox/scanner_command.h"

extern char** environ;

namespace sanetest {

SaneTest::SaneTest() {
  setVariable("SANE_CONFIG_DIR", SUITE_SANE_DIR);
  setVariable("LD_LIBRARY_PATH", SUITE_SANE_DIR);
  setVariable("SANE_DEBUG_FERROX", "1");
}

std::vector<std::string> SaneTest::command(const std::string& program,
                                           const std::vector<std::string>& args) const {
  std::vector<std::string> argv;
  if (std::strlen(SANE_TEST_PRELOAD) > 0) {
    // An instrumented backend in a program that is not: the runtime goes first,
    // and the program's own leaks are not the backend's to report.
    argv = {"env", std::string("LD_PRELOAD=") + SANE_TEST_PRELOAD,
            "ASAN_OPTIONS=detect_leaks=0:abort_on_error=1"};
  }
  argv.push_back(program);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

hosttest::ToolRun SaneTest::scanimage(const std::vector<std::string>& args,
                                      const std::string& stdoutFile) {
  return hosttest::RunProgram(command("scanimage", args), stdoutFile);
}

pid_t SaneTest::spawn(const std::vector<std::string>& argv, const std::string& out,
                      const std::string& err, bool ownGroup) {
  std::vector<std::string> args = argv;
  std::vector<char*> pointers;
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (err == out)
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (ownGroup) {
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
  }
  pid_t pid = -1;
  if (posix_spawnp(&pid, pointers[0], &actions, &attributes, pointers.data(), environ) != 0)
    pid = -1;
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

hosttest::Pixels SaneTest::imagePixels(const std::string& path) const {
  const std::string ppm = path + ".ppm";
  hosttest::ToolRun run =
      hosttest::RunProgram({"convert", path, "-strip", "-depth", "8", "ppm:" + ppm});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return hosttest::DecodePnm(hosttest::ReadBytes(ppm));
}

SaneTest::LockHolder::LockHolder() : library_("FERROX.DLL") {
  if (!library_) return;
  auto commander = library_.get<ScannerCommanderFn>(kScannerCommanderName);
  record_.code = CMD_OPEN;
  commander(&record_);
  record_.code = CMD_LOCK;
  commander(&record_);
  held_ = record_.status == SCAN_OK;
}

SaneTest::LockHolder::~LockHolder() {
  if (!library_) return;
  auto commander = library_.get<ScannerCommanderFn>(kScannerCommanderName);
  if (held_) {
    record_.code = CMD_UNLOCK;
    commander(&record_);
  }
  record_.code = CMD_CLOSE;
  commander(&record_);
}

bool SaneTest::scannerFree() {
  LockHolder holder;
  return holder.held();
}

bool HaveScanimage() { return hosttest::HaveProgram("scanimage"); }

namespace {

template <typename Fn>
void Bind(void* library, const char* name, Fn& fn) {
  fn = reinterpret_cast<Fn>(dlsym(library, name));
  EXPECT_NE(fn, nullptr) << name;
}

}  // namespace

Backend::Backend() {
  library = dlopen(SUITE_SANE_DIR "/libsane-ferrox.so.1", RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(library, nullptr) << dlerror();
  if (library == nullptr) return;
  Bind(library, "sane_ferrox_init", init);
  Bind(library, "sane_ferrox_exit", exit);
  Bind(library, "sane_ferrox_get_devices", getDevices);
  Bind(library, "sane_ferrox_open", open);
  Bind(library, "sane_ferrox_close", close);
  Bind(library, "sane_ferrox_get_option_descriptor", descriptor);
  Bind(library, "sane_ferrox_control_option", control);
  Bind(library, "sane_ferrox_get_parameters", parameters);
  Bind(library, "sane_ferrox_start", start);
  Bind(library, "sane_ferrox_read", read);
  Bind(library, "sane_ferrox_cancel", cancel);
}

Backend::~Backend() {
  if (library != nullptr) dlclose(library);
}

SANE_Int Backend::find(SANE_Handle handle, const std::string& name) const {
  for (SANE_Int index = 1;; ++index) {
    const SANE_Option_Descriptor* d = descriptor(handle, index);
    if (d == nullptr) return -1;
    if (d->name != nullptr && name == d->name) return index;
  }
}

SANE_Status Backend::setWord(SANE_Handle handle, const std::string& name, SANE_Word value,
                             SANE_Int* info) {
  return control(handle, find(handle, name), SANE_ACTION_SET_VALUE, &value, info);
}

SANE_Status Backend::setString(SANE_Handle handle, const std::string& name,
                               const std::string& value, SANE_Int* info) {
  std::string text = value;
  return control(handle, find(handle, name), SANE_ACTION_SET_VALUE, text.data(), info);
}

SANE_Status Backend::readAll(SANE_Handle handle, std::vector<uint8_t>& bytes, SANE_Int chunk) {
  std::vector<uint8_t> block(static_cast<size_t>(chunk));
  for (;;) {
    SANE_Int length = 0;
    const SANE_Status status = read(handle, block.data(), chunk, &length);
    if (status != SANE_STATUS_GOOD) return status;
    bytes.insert(bytes.end(), block.begin(), block.begin() + length);
  }
}

}  // namespace sanetest
