#include "EntryText.h"

#include <QDateTime>
#include <QLocale>
#include <cfenv>
#include <cmath>

#include "ZipRecords.h"

std::string_view EntryFileName(std::string_view entryName) {
  const size_t slash = entryName.rfind('/');
  return slash == std::string_view::npos ? entryName : entryName.substr(slash + 1);
}

std::string_view EntryPath(std::string_view entryName) {
  const size_t slash = entryName.rfind('/');
  return slash == std::string_view::npos ? std::string_view{} : entryName.substr(0, slash + 1);
}

namespace {

long RoundedRatio(uint64_t packed, uint64_t unpacked) {
  const double r = (1.0 - double(packed) / double(unpacked)) * 100.0;
  // nearbyint follows the current rounding mode, which is to nearest, halves to even.
  return std::lrint(std::nearbyint(r));
}

}  // namespace

std::string RatioText(uint64_t packed, uint64_t unpacked) {
  if (unpacked == 0) return "0% ";
  return std::to_string(RoundedRatio(packed, unpacked)) + "% ";
}

std::string TotalRatioText(uint64_t packed, uint64_t unpacked) {
  if (unpacked == 0) return "0 % ";
  return std::to_string(RoundedRatio(packed, unpacked)) + "% ";
}

const std::string& EntryDateFormatter::Text(uint32_t modDateTime) {
  auto it = cache_.find(modDateTime);
  if (it != cache_.end()) return it->second;
  const DosDateTime d = DosDateTime::FromPacked(modDateTime);
  const QDate date(d.Year, d.Month, d.Day);
  const QTime time(d.Hour, d.Minute, d.Second);
  const QLocale locale;
  std::string text;
  if (date.isValid() && time.isValid())
    text = (locale.toString(date, QLocale::ShortFormat) + "  " + locale.toString(time, QLocale::ShortFormat))
               .toStdString();
  return cache_.emplace(modDateTime, std::move(text)).first->second;
}
