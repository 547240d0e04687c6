// The tick counter with its test hooks, Sleep, wsprintfA and CharUpperA.
#include "winport/system.h"

#include <sched.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

// ---- Ticks ----

struct TickClock {
  std::atomic<bool> frozen{false};
  std::atomic<uint32_t> value{0};  // the frozen reading
  std::atomic<uint32_t> step{0};   // added per reading while frozen (WINPORT_TICK_STEP)
};
TickClock tickClock;

bool readEnvironmentNumber(const char* variable, uint32_t* value) {
  const char* text = std::getenv(variable);
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  unsigned long long number = std::strtoull(text, &end, 10);
  if (*end != '\0' || number > 0xFFFFFFFFull || text[0] == '-') return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

// WINPORT_TICK_START freezes the clock from the start; WINPORT_TICK_STEP
// only takes effect together with it.
const bool tickEnvironmentRead = [] {
  uint32_t start = 0;
  uint32_t step = 0;
  if (readEnvironmentNumber("WINPORT_TICK_START", &start)) {
    tickClock.value.store(start);
    if (readEnvironmentNumber("WINPORT_TICK_STEP", &step)) tickClock.step.store(step);
    tickClock.frozen.store(true);
  }
  return true;
}();

// ---- wsprintfA ----

constexpr size_t kFormatLimit = 1024;  // characters including the NUL
constexpr size_t kMaxFieldWidth = 4096;

class TextOut {
 public:
  TextOut(char* buffer, size_t limit) : buffer_(buffer), limit_(limit) {}
  void put(char c) {
    if (length_ < limit_) buffer_[length_++] = c;
  }
  void repeat(char c, size_t count) {
    for (; count > 0 && length_ < limit_; --count) put(c);
  }
  void write(const char* text, size_t count) {
    for (size_t i = 0; i < count && length_ < limit_; ++i) put(text[i]);
  }
  bool full() const { return length_ >= limit_; }
  int finish() {
    buffer_[length_] = '\0';
    return static_cast<int>(length_);
  }

 private:
  char* buffer_;
  size_t limit_;  // characters, the NUL not counted
  size_t length_ = 0;
};

struct Conversion {
  bool left = false;
  bool zero = false;
  bool alternate = false;
  size_t width = 0;
  bool hasPrecision = false;
  size_t precision = 0;
  char size = 0;  // 'l', 'h' or 0
  char type = 0;  // 0 when the format ended inside the conversion
};

size_t readCount(const char** text) {
  size_t count = 0;
  while (**text >= '0' && **text <= '9') {
    count = count * 10 + static_cast<size_t>(**text - '0');
    if (count > kMaxFieldWidth) count = kMaxFieldWidth;
    ++*text;
  }
  return count;
}

// Parses a conversion after its '%'; returns where the text goes on.
const char* parseConversion(const char* p, Conversion* conversion) {
  for (bool flag = true; flag; p += flag ? 1 : 0) {
    switch (*p) {
      case '-':
        conversion->left = true;
        break;
      case '0':
        conversion->zero = true;
        break;
      case '#':
        conversion->alternate = true;
        break;
      default:
        flag = false;
    }
  }
  conversion->width = readCount(&p);
  if (*p == '.') {
    ++p;
    conversion->hasPrecision = true;
    conversion->precision = readCount(&p);
  }
  if (*p == 'l' || *p == 'h') conversion->size = *p++;
  conversion->type = *p;
  return *p != '\0' ? p + 1 : p;
}

void padField(TextOut& out, const Conversion& conversion, size_t used, bool before) {
  if (conversion.width > used && conversion.left != before) {
    out.repeat(' ', conversion.width - used);
  }
}

void formatInteger(TextOut& out, const Conversion& conversion, bool negative, uint32_t magnitude) {
  unsigned base = (conversion.type == 'x' || conversion.type == 'X') ? 16 : 10;
  const char* digitSet = conversion.type == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  char digits[16];
  size_t count = 0;
  for (uint32_t rest = magnitude; rest != 0; rest /= base) digits[count++] = digitSet[rest % base];
  if (count == 0 && !(conversion.hasPrecision && conversion.precision == 0)) digits[count++] = '0';

  const char* prefix = negative ? "-" : "";
  if (conversion.alternate && base == 16 && magnitude != 0) {
    prefix = conversion.type == 'X' ? "0X" : "0x";
  }
  size_t prefixLength = std::strlen(prefix);
  size_t zeros = conversion.precision > count ? conversion.precision - count : 0;
  size_t used = prefixLength + zeros + count;
  if (conversion.zero && !conversion.left && !conversion.hasPrecision && conversion.width > used) {
    zeros += conversion.width - used;
    used = conversion.width;
  }
  padField(out, conversion, used, true);
  out.write(prefix, prefixLength);
  out.repeat('0', zeros);
  while (count > 0) out.put(digits[--count]);
  padField(out, conversion, used, false);
}

void formatText(TextOut& out, const Conversion& conversion, const char* text, size_t length) {
  padField(out, conversion, length, true);
  out.write(text, length);
  padField(out, conversion, length, false);
}

int formatAll(char* buffer, const char* format, va_list args) {
  TextOut out(buffer, kFormatLimit - 1);
  const char* p = format;
  while (*p != '\0' && !out.full()) {
    if (*p != '%') {
      out.put(*p++);
      continue;
    }
    Conversion conversion;
    p = parseConversion(p + 1, &conversion);
    switch (conversion.type) {
      case '\0':
        break;
      case 'd':
      case 'i': {
        int32_t value = va_arg(args, int32_t);
        if (conversion.size == 'h') value = static_cast<int16_t>(value);
        uint32_t magnitude =
            value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
        formatInteger(out, conversion, value < 0, magnitude);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        uint32_t value = va_arg(args, uint32_t);
        if (conversion.size == 'h') value = static_cast<uint16_t>(value);
        formatInteger(out, conversion, false, value);
        break;
      }
      case 'c': {
        char c = static_cast<char>(va_arg(args, int));
        formatText(out, conversion, &c, 1);
        break;
      }
      case 's': {
        const char* text = va_arg(args, const char*);
        if (text == nullptr) text = "(null)";
        size_t length =
            conversion.hasPrecision ? strnlen(text, conversion.precision) : std::strlen(text);
        formatText(out, conversion, text, length);
        break;
      }
      default:  // "%%" and unknown conversions: the character itself
        out.put(conversion.type);
        break;
    }
  }
  return out.finish();
}

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

DWORD GetTickCount() {
  if (tickClock.frozen.load()) {
    uint32_t step = tickClock.step.load();
    return step != 0 ? tickClock.value.fetch_add(step) : tickClock.value.load();
  }
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t milliseconds =
      static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<DWORD>(milliseconds);
}

void winport_test_freeze_tick(DWORD value) {
  (void)tickEnvironmentRead;
  tickClock.step.store(0);
  tickClock.value.store(value);
  tickClock.frozen.store(true);
}

void winport_test_advance_tick(DWORD milliseconds) { tickClock.value.fetch_add(milliseconds); }

void winport_test_thaw_tick() {
  tickClock.frozen.store(false);
  tickClock.step.store(0);
}

void Sleep(DWORD milliseconds) {
  if (tickClock.frozen.load()) return;
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  timespec remaining{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

int wsprintfA(char* buffer, const char* format, ...) {
  if (buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (format == nullptr) {
    buffer[0] = '\0';
    return 0;
  }
  va_list args;
  va_start(args, format);
  int written = formatAll(buffer, format, args);
  va_end(args);
  return written;
}

char* CharUpperA(char* text) {
  uintptr_t value = reinterpret_cast<uintptr_t>(text);
  if ((value >> 16) == 0) {  // a single character passed in the pointer's low word
    auto c = static_cast<unsigned char>(upperAscii(static_cast<char>(value & 0xFF)));
    return reinterpret_cast<char*>(static_cast<uintptr_t>(c));
  }
  for (char* p = text; *p != '\0'; ++p) *p = upperAscii(*p);
  return text;
}
