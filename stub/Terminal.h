// The self-extractor's questions on the terminal, and what an interruption must undo.
#pragma once

#include <string>

namespace stubby {

// Questions are asked only when standard input is a terminal and --yes was not given.
extern bool gInteractive;

// Restores the terminal and removes the file being written when a signal ends the program.
void CatchSignals();
// The file (in folder `dirFd`) an interruption removes; -1 for none.
void SetPendingFile(int dirFd, const std::string& name);

std::string ReadLine(bool echo = true);
// Asks a question and returns the answer, or `fallback` for an empty one.
std::string Ask(const std::string& question, const std::string& fallback);
char AskChoice(const std::string& question, const std::string& choices, char fallback);

}  // namespace stubby
