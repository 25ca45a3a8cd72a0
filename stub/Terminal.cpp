#include "Terminal.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace stubby {

bool gInteractive = false;

// What an interrupting signal must undo before the program ends: echo turned off at a
// password prompt, and a file being written under its temporary name.
termios gSavedTerminal;
volatile sig_atomic_t gEchoOff = 0;
volatile sig_atomic_t gPendingDir = -1;
char gPendingName[64];

void OnFatalSignal(int sig) {
  if (gEchoOff) ::tcsetattr(STDIN_FILENO, TCSANOW, &gSavedTerminal);
  if (gPendingDir >= 0) ::unlinkat(gPendingDir, gPendingName, 0);
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void CatchSignals() {
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    struct sigaction action {};
    action.sa_handler = OnFatalSignal;
    ::sigaction(sig, &action, nullptr);
  }
}

void SetPendingFile(int dirFd, const std::string& name) {
  gPendingDir = -1;
  if (dirFd < 0 || name.empty() || name.size() >= sizeof gPendingName) return;
  std::memcpy(gPendingName, name.c_str(), name.size() + 1);
  gPendingDir = dirFd;
}

std::string ReadLine(bool echo) {
  termios saved {};
  const bool hide = !echo && ::tcgetattr(STDIN_FILENO, &saved) == 0;
  if (hide) {
    termios quiet = saved;
    quiet.c_lflag &= tcflag_t(~ECHO);
    gSavedTerminal = saved;
    gEchoOff = 1;
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
  }
  std::string line;
  char buf[512];
  while (std::fgets(buf, sizeof buf, stdin)) {
    line += buf;
    if (!line.empty() && line.back() == '\n') break;
  }
  if (hide) {
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    gEchoOff = 0;
    std::fputc('\n', stdout);
  }
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

std::string Ask(const std::string& question, const std::string& fallback) {
  std::fputs(question.c_str(), stdout);
  std::fflush(stdout);
  const std::string answer = ReadLine();
  return answer.empty() ? fallback : answer;
}

char AskChoice(const std::string& question, const std::string& choices, char fallback) {
  for (;;) {
    const std::string answer = Ask(question, std::string(1, fallback));
    if (answer.size() == 1 && choices.find(answer[0]) != std::string::npos) return answer[0];
    std::printf("Please answer one of: %s\n", choices.c_str());
  }
}

}  // namespace stubby
