// The terminal backend: a box printed on stderr, answered on stdin.
#include <cstdio>
#include <string>

#include "dialog_backend.h"

namespace winport::dialogs {

namespace {

constexpr size_t kMaxAnswerLength = 64;

void printBox(const MessageBoxRequest& request) {
  std::fprintf(stderr, "\n+-- %s --\n", request.caption.c_str());
  size_t start = 0;
  while (start <= request.text.size()) {
    size_t end = request.text.find('\n', start);
    if (end == std::string::npos) end = request.text.size();
    std::fprintf(stderr, "| %s\n", request.text.substr(start, end - start).c_str());
    start = end + 1;
  }
  std::fputs("+--", stderr);
  for (const Button& button : request.buttons) std::fprintf(stderr, " [%s]", button.label.c_str());
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void printPrompt(const MessageBoxRequest& request) {
  if (request.buttons.size() == 1) {
    std::fprintf(stderr, "Press Enter for %s: ", request.buttons[0].label.c_str());
  } else {
    std::fputs("Answer", stderr);
    const char* separator = " (";
    for (const Button& button : request.buttons) {
      std::fprintf(stderr, "%s%s", separator, button.label.c_str());
      separator = ", ";
    }
    std::fputs("; Enter for the first): ", stderr);
  }
  std::fflush(stderr);
}

// One line of stdin without its line break, at most kMaxAnswerLength
// characters kept; false at end of input or on a read error.
bool readAnswerLine(std::string& line) {
  line.clear();
  for (;;) {
    int c = std::fgetc(stdin);
    if (c == EOF) return !line.empty() && !std::ferror(stdin);
    if (c == '\n') return true;
    if (c != '\r' && line.size() < kMaxAnswerLength) line += static_cast<char>(c);
  }
}

std::string trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

}  // namespace

void showTerminal(const MessageBoxRequest& request) { printBox(request); }

int askTerminal(const MessageBoxRequest& request) {
  printBox(request);
  // Every round consumes a line of input, so the loop ends with the input.
  for (;;) {
    printPrompt(request);
    std::string line;
    if (!readAnswerLine(line)) {
      std::fputc('\n', stderr);
      stopUnanswered(request, "the input is closed");
    }
    std::string answer = trimmed(line);
    if (answer.empty()) return 0;
    int chosen = findButton(request, answer);
    if (chosen >= 0) return chosen;
    std::fprintf(stderr, "\"%s\" is not one of the buttons.\n", answer.c_str());
  }
}

}  // namespace winport::dialogs
