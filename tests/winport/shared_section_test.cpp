// Shared data sections across real processes: sharing, a fresh start after
// the last user died, and a single initialisation when processes race.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "winport/shared_section.h"

namespace {

struct Pipe {
  int read = -1;
  int write = -1;
  Pipe() {
    int fds[2];
    if (pipe(fds) == 0) {
      read = fds[0];
      write = fds[1];
    }
  }
  ~Pipe() {
    closeRead();
    closeWrite();
  }
  void closeRead() {
    if (read >= 0) close(read);
    read = -1;
  }
  void closeWrite() {
    if (write >= 0) close(write);
    write = -1;
  }
  void signal(char byte = 'x') const { (void)!::write(write, &byte, 1); }
  // The next byte, or -1 after 10 s or when every writer is gone (a child
  // that crashed must fail the test, not hang it).
  int awaitByte() const {
    pollfd ready{read, POLLIN, 0};
    char byte;
    if (poll(&ready, 1, 10000) != 1 || ::read(read, &byte, 1) != 1) return -1;
    return byte;
  }
  // Blocks until every writer has closed its end.
  void awaitClosed() const {
    char byte;
    while (::read(read, &byte, 1) > 0) {
    }
  }
};

// Runs `body` in a child process that exits with body's result; never returns there.
template <typename Body>
pid_t spawn(Body body) {
  pid_t pid = fork();
  if (pid == 0) _exit(body());
  return pid;
}

// The child's exit status, or 100 + signal number when a signal ended it.
int reap(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

struct Header {
  uint32_t magic;
  uint32_t counter;
  uint32_t fromParent;
  uint32_t fromChild;
};
constexpr Header kInitial{0xC0FFEE11u, 0, 0, 0};

class SharedSectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int serial = 0;
    namespace_ = "wpt" + std::to_string(getpid()) + "x" + std::to_string(serial++);
    setenv("WINPORT_SHM_NAMESPACE", namespace_.c_str(), 1);
  }
  void TearDown() override {
    for (const std::string& object : objects_) shm_unlink(object.c_str());
    unsetenv("WINPORT_SHM_NAMESPACE");
  }
  // Names a section of this test and registers its object for removal.
  const char* section(const char* name) {
    objects_.push_back("/winport-" + namespace_ + "-" + name);
    return name;
  }
  static Header* mapHeader(const char* name) {
    return static_cast<Header*>(winport_shared_section_map(name, 4096, &kInitial, sizeof kInitial));
  }

  std::string namespace_;
  std::vector<std::string> objects_;
};

TEST_F(SharedSectionTest, ValuesWrittenByOneProcessAreSeenByAnother) {
  const char* name = section("values");
  Header* mine = mapHeader(name);
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(mine->magic, kInitial.magic);
  mine->fromParent = 7;
  pid_t child = spawn([name] {
    Header* theirs = mapHeader(name);
    if (theirs == nullptr) return 1;
    if (theirs->magic != kInitial.magic || theirs->fromParent != 7) return 2;
    theirs->fromChild = 99;
    winport_shared_section_unmap(theirs);
    return 0;
  });
  EXPECT_EQ(reap(child), 0);
  EXPECT_EQ(mine->fromChild, 99u);
  winport_shared_section_unmap(mine);
}

TEST_F(SharedSectionTest, SectionWhoseLastUserWasKilledStartsAfresh) {
  const char* name = section("killed");
  Pipe ready;
  pid_t child = spawn([&] {
    Header* theirs = mapHeader(name);
    if (theirs == nullptr) return 1;
    theirs->fromChild = 55;
    ready.signal();
    for (;;) pause();
  });
  ready.closeWrite();
  if (ready.awaitByte() != 'x') {
    kill(child, SIGKILL);
    reap(child);
    FAIL() << "the child did not map the section";
  }
  Header* whileAlive = mapHeader(name);
  EXPECT_NE(whileAlive, nullptr);
  if (whileAlive != nullptr) {
    EXPECT_EQ(whileAlive->fromChild, 55u);  // joined, not re-initialised
    winport_shared_section_unmap(whileAlive);
  }

  kill(child, SIGKILL);
  EXPECT_EQ(reap(child), 100 + SIGKILL);
  Header* afterDeath = mapHeader(name);
  ASSERT_NE(afterDeath, nullptr);
  EXPECT_EQ(afterDeath->magic, kInitial.magic);
  EXPECT_EQ(afterDeath->fromChild, 0u);
  winport_shared_section_unmap(afterDeath);
}

// Several processes attach at the same moment. Each checks that the initial
// content is whole when its attach returns, counts itself in and sets its own
// mark. A second initialisation after any of them had returned would wipe a
// count or a mark; the parent, joining while all of them still hold the
// section, must find every count and mark, and the pattern intact.
TEST_F(SharedSectionTest, ProcessesAttachingAtOnceInitialiseOnce) {
  constexpr int kRounds = 8;
  constexpr int kProcesses = 6;
  constexpr size_t kPatternSize = 4 << 20;
  constexpr size_t kSectionSize = kPatternSize + 4096;
  std::vector<uint8_t> initial(kPatternSize);
  for (size_t i = 0; i < initial.size(); ++i) initial[i] = static_cast<uint8_t>(i * 7 % 251 + 1);
  std::memset(initial.data(), 0, sizeof(uint32_t));  // the counter starts at 0
  auto patternWhole = [&](const uint8_t* bytes) {
    return std::memcmp(bytes + 4, initial.data() + 4, kPatternSize - 4) == 0;
  };

  for (int round = 0; round < kRounds; ++round) {
    std::string sectionName = "race" + std::to_string(round);
    const char* name = section(sectionName.c_str());
    Pipe start, done, release;
    std::vector<pid_t> children;
    for (int p = 0; p < kProcesses; ++p) {
      children.push_back(spawn([&, p] {
        start.closeWrite();
        release.closeWrite();
        start.awaitClosed();
        auto* bytes = static_cast<uint8_t*>(
            winport_shared_section_map(name, kSectionSize, initial.data(), initial.size()));
        if (bytes == nullptr || !patternWhole(bytes)) {
          done.signal('F');  // the parent must not wait for this one
          return 1;
        }
        __atomic_fetch_add(reinterpret_cast<uint32_t*>(bytes), 1u, __ATOMIC_SEQ_CST);
        bytes[kPatternSize + p] = 1;
        done.signal();
        release.awaitClosed();
        winport_shared_section_unmap(bytes);
        return 0;
      }));
    }
    start.closeWrite();
    done.closeWrite();
    int attached = 0;
    for (int p = 0; p < kProcesses; ++p) {
      int byte = done.awaitByte();
      if (byte < 0) break;  // a child died or hangs: do not wait for the others
      attached += byte == 'x' ? 1 : 0;
    }
    EXPECT_EQ(attached, kProcesses) << "round " << round;

    auto* bytes = static_cast<uint8_t*>(
        winport_shared_section_map(name, kSectionSize, initial.data(), initial.size()));
    if (bytes == nullptr) {
      ADD_FAILURE() << "round " << round;
      release.closeWrite();
      for (pid_t child : children) reap(child);
      continue;
    }
    uint32_t counter = __atomic_load_n(reinterpret_cast<uint32_t*>(bytes), __ATOMIC_SEQ_CST);
    EXPECT_EQ(counter, static_cast<uint32_t>(kProcesses)) << "round " << round;
    for (int p = 0; p < kProcesses; ++p) EXPECT_EQ(bytes[kPatternSize + p], 1) << "round " << round;
    EXPECT_TRUE(patternWhole(bytes));
    release.closeWrite();
    for (pid_t child : children) EXPECT_EQ(reap(child), 0) << "round " << round;
    winport_shared_section_unmap(bytes);
    if (HasFailure()) break;  // one failed round tells all
  }
}

TEST_F(SharedSectionTest, SecondMappingInOneProcessJoinsAndMayGrow) {
  const char* name = section("grow");
  auto* small = static_cast<uint8_t*>(winport_shared_section_map(name, 4096, "abc", 3));
  ASSERT_NE(small, nullptr);
  small[100] = 5;
  auto* large = static_cast<uint8_t*>(winport_shared_section_map(name, 3 * 4096, "zzz", 3));
  ASSERT_NE(large, nullptr);
  EXPECT_EQ(std::memcmp(large, "abc", 3), 0);
  EXPECT_EQ(large[100], 5);
  EXPECT_EQ(large[3 * 4096 - 1], 0);
  large[200] = 9;
  EXPECT_EQ(small[200], 9);
  winport_shared_section_unmap(large);
  winport_shared_section_unmap(small);

  auto* fresh = static_cast<uint8_t*>(winport_shared_section_map(name, 4096, "abc", 3));
  ASSERT_NE(fresh, nullptr);
  EXPECT_EQ(fresh[100], 0);
  winport_shared_section_unmap(fresh);
}

TEST_F(SharedSectionTest, ObjectNameIsSanitisedNamespaceAndName) {
  setenv("WINPORT_SHM_NAMESPACE", "a/b c", 1);
  objects_.push_back("/winport-a_b_c-sec_x");
  void* mapped = winport_shared_section_map("sec/x", 64, nullptr, 0);
  ASSERT_NE(mapped, nullptr);
  int fd = shm_open("/winport-a_b_c-sec_x", O_RDONLY, 0);
  EXPECT_GE(fd, 0);
  if (fd >= 0) close(fd);
  winport_shared_section_unmap(mapped);

  unsetenv("WINPORT_SHM_NAMESPACE");
  std::string byUser = "/winport-" + std::to_string(geteuid()) + "-wpt" + namespace_;
  objects_.push_back(byUser);
  mapped = winport_shared_section_map(("wpt" + namespace_).c_str(), 64, nullptr, 0);
  ASSERT_NE(mapped, nullptr);
  fd = shm_open(byUser.c_str(), O_RDONLY, 0);
  EXPECT_GE(fd, 0);
  if (fd >= 0) close(fd);
  winport_shared_section_unmap(mapped);
}

TEST_F(SharedSectionTest, BadArgumentsAndUnknownPointersFailCleanly) {
  const char* name = section("bad");
  EXPECT_EQ(winport_shared_section_map(nullptr, 64, nullptr, 0), nullptr);
  EXPECT_EQ(winport_shared_section_map("", 64, nullptr, 0), nullptr);
  EXPECT_EQ(winport_shared_section_map(name, 0, nullptr, 0), nullptr);
  EXPECT_EQ(winport_shared_section_map(name, 2, "abc", 3), nullptr);
  EXPECT_EQ(winport_shared_section_map(name, 64, nullptr, 3), nullptr);
  EXPECT_EQ(winport_shared_section_map(std::string(300, 'n').c_str(), 64, nullptr, 0), nullptr);
  winport_shared_section_unmap(nullptr);
  int local = 0;
  winport_shared_section_unmap(&local);  // not a section: ignored
}

// Section names are predictable, so an object planted by someone else is refused.
TEST_F(SharedSectionTest, ObjectOfAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "giving an object away needs root";
  const char* name = section("planted");
  int fd = shm_open(objects_.back().c_str(), O_RDWR | O_CREAT, 0666);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fchown(fd, 65534, 65534), 0);
  close(fd);
  EXPECT_EQ(winport_shared_section_map(name, 64, nullptr, 0), nullptr);
}

}  // namespace
