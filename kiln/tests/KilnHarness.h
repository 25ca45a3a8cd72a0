#pragma once
// Drives the built libkiln.so through dlopen, as the component does, and records what it
// reports. Plus file and peer helpers for the tests.

#include <CompressionLibraries.h>
#include <KilnSeams.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "TestFiles.h"

namespace kilntest {

using namespace testfiles;

struct Event {
  int32_t action;
  int32_t code;
  int64_t size;
  std::string text;
};

struct Options {
  bool attended = true;
  bool trace = false, encrypt = false, hidden = false, noDirEntries = false, verbose = false;
  bool noDirNames = false, recurse = false, append = true, forceDos = false, move = false;
  bool deleteOn = false, update = false, freshen = false, zipTime = false;
  int level = 6;
  std::string password{};
  // Called for every callback; its result goes back to the library. May write r.Text.
  std::function<int32_t(CallbackRecord&)> onCallback{};
};

struct Outcome {
  int32_t result = -1;
  std::vector<Event> events;
  std::vector<std::string> Errors() const;  // texts of messages with a code
  bool HasError(int32_t code, const std::string& fragment) const;
};

class Kiln {
 public:
  explicit Kiln(const std::string& libraryPath);
  ~Kiln();
  Outcome Run(const std::string& archive, const std::vector<std::string>& specs, const Options& options) const;
  // The library's test seams; null restores the defaults.
  void SetSeams(const KilnTestSeams* seams) const { setSeams_(seams); }

 private:
  void* handle_ = nullptr;
  KilnSetTestSeamsFn setSeams_ = nullptr;
  KilnExecFn exec_ = nullptr;
  GetKilnVersionFn version_ = nullptr;
};

// Seams in force for the lifetime of the object, the defaults again after it.
struct SeamsInForce {
  SeamsInForce(const Kiln& k, const KilnTestSeams& s) : kiln(k), seams(s) { kiln.SetSeams(&seams); }
  ~SeamsInForce() { kiln.SetSeams(nullptr); }
  const Kiln& kiln;
  const KilnTestSeams seams;
};

std::string CurrentLibrary();
std::string OlderLibrary();

// Changes the current folder for the lifetime of the object.
struct InDir {
  explicit InDir(const std::filesystem::path& dir) : old(std::filesystem::current_path()) { std::filesystem::current_path(dir); }
  ~InDir() { std::filesystem::current_path(old); }
  const std::filesystem::path old;
};

// Seams with a heartbeat after `heartbeatMs` of quiet, a lock wait of `lockWaitMs` (-1: the
// library's own times) and, when `named`, a named temporary; no block hook.
KilnTestSeams Seams(int32_t heartbeatMs, int32_t lockWaitMs = -1, int32_t named = 0);
// Runs `body` in a forked child that exits with what it returns; the child's wait status.
int InChild(const std::function<int()>& body);

void SetTime(const std::string& path, long seconds);
// Compressible text and incompressible bytes, deterministic.
std::string TextBytes(size_t size, unsigned seed);
std::string RandomBytes(size_t size, unsigned seed);
// Stored names as unzip lists them, and one entry's bytes.
std::set<std::string> Names(const std::string& archive);
std::string Unzipped(const std::string& archive, const std::string& name);
// Empty when unzip -t and 7zz t both accept `archive`, else what they said.
std::string PeerComplaints(const std::string& archive);
// `after` against `before`: every old entry not named in `changed` keeps its central record
// (but its offset), local header and data byte for byte where the stored offsets find them,
// and Python reads the whole. Returns the removed names on one line, then "OK" or what differs.
std::string KeptVerbatim(const std::string& before, const std::string& after, const std::vector<std::string>& changed = {});
// Checks `archive` with Python's zipfile: every entry matches the file of that name below
// `base` byte for byte (links: their target). Returns "OK" or what differs.
std::string PythonCompare(const std::string& archive, const std::filesystem::path& base, const std::string& password = {});

}  // namespace kilntest
