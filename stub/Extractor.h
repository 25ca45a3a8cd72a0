// Extraction and testing of the self-extractor's entries.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "SelfArchive.h"
#include "StagedFile.h"
#include "ZipCrypto.h"

namespace stubby {

struct Options {
  std::string dir;
  bool dirGiven = false, yes = false, list = false, test = false;
  std::string password;
  bool passwordGiven = false;
};

class Extractor {
 public:
  Extractor(SelfArchive& a, Options& o);

  // Writes the entry below `rootFd` (or only checks it when `rootFd` is -1).
  bool Extract(const Entry& e, int rootFd);
  void SetOverwrite(Overwrite mode) { overwrite_ = mode; }
  // Folder times are set last: the files written into a folder change its time.
  void RestoreFolderTimes(int rootFd);

 private:
  // Where an entry's data lies, and its decryption once the password is known.
  struct Source {
    uint64_t at = 0, left = 0;
    zipcrypto::Decrypter crypto{""};
  };
  // Everything that can fail or ask before anything is written: the local header, the
  // method and the password.
  bool Begin(const Entry& e, Source& src);
  // Checks the data, writing it to `file` (unless null) or appending it to `into`.
  bool Unpack(const Entry& e, Source& src, stagedfile::StagedFile* file, std::string* into = nullptr);
  bool ExtractLink(const Entry& e, const std::vector<std::string>& parts, int rootFd);
  bool Password(const Entry& e, zipcrypto::Decrypter& crypto, const uint8_t (&head)[zipcrypto::kHeaderSize]);
  bool OpenParent(int rootFd, const std::vector<std::string>& parts, size_t count, int& fd, const Entry& e);
  enum class Decision { Write, Keep, Fail };
  Decision MayWrite(int parentFd, const std::string& last, const Entry& e);
  time_t ModTime(const Entry& e, const std::vector<uint8_t>& localExtra) const;

  SelfArchive& a_;
  Options& o_;
  Overwrite overwrite_ = Overwrite::Ask;
  std::vector<std::pair<std::vector<std::string>, time_t>> folderTimes_;
  std::vector<uint8_t> localExtra_;
  mode_t umask_ = 022;
  std::set<std::string> swept_;  // folders rid of what killed runs left there
};

}  // namespace stubby
