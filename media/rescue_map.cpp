#include "media/rescue_map.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace kestrix {

namespace {

constexpr std::string_view kPathComment = "# kestrix-device-path: ";
constexpr std::string_view kSizeComment = "# kestrix-device-size: ";
constexpr std::string_view kIdComment = "# kestrix-device-id: ";
// Map files are small (one line per area); anything far larger is not one.
constexpr uint64_t kMaximumFileBytes = uint64_t{256} << 20;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

// Splits off the next whitespace-separated word.
std::string_view nextWord(std::string_view& s) {
  s = trim(s);
  size_t n = 0;
  while (n < s.size() && !isSpace(s[n])) ++n;
  std::string_view word = s.substr(0, n);
  s.remove_prefix(n);
  return word;
}

// A number as ddrescue writes and reads it: 0x hex, 0-prefixed octal or
// decimal, no sign, no more than kMaximumPosition.
bool parseNumber(std::string_view word, uint64_t* value) {
  unsigned base = 10;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    base = 16;
    word.remove_prefix(2);
  } else if (word.size() > 1 && word[0] == '0') {
    base = 8;
    word.remove_prefix(1);
  }
  if (word.empty()) return false;
  uint64_t result = 0;
  for (char c : word) {
    unsigned digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f')
      digit = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F')
      digit = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    if (digit >= base) return false;
    if (result > (RescueMap::kMaximumPosition - digit) / base) return false;
    result = result * base + digit;
  }
  *value = result;
  return true;
}

bool phaseFromChar(char c, RescuePhase* phase) {
  switch (c) {
    case '?': *phase = RescuePhase::Copying; return true;
    case '*': *phase = RescuePhase::Trimming; return true;
    case '/': *phase = RescuePhase::Scraping; return true;
    case '-': *phase = RescuePhase::Retrying; return true;
    case '+': *phase = RescuePhase::Done; return true;
    // ddrescue's fill, generate and retrim modes: nothing to continue here.
    case 'F':
    case 'G':
    case 'R': *phase = RescuePhase::Copying; return true;
    default: return false;
  }
}

// Texts from the command line or sysfs go into one comment line each.
std::string commentSafe(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  }
  return out;
}

bool fail(std::string* error, size_t line, const char* why) {
  if (error != nullptr) *error = "line " + std::to_string(line) + ": " + why;
  return false;
}

int writeAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<size_t>(n);
  }
  return 0;
}

}  // namespace

bool blockStatusFromChar(char c, BlockStatus* status) {
  switch (c) {
    case '?':
    case '*':
    case '/':
    case '-':
    case '+': *status = static_cast<BlockStatus>(c); return true;
    default: return false;
  }
}

RescueMap RescueMap::fresh(uint64_t bytes) {
  RescueMap map;
  map.set(0, std::min(bytes, kMaximumPosition), BlockStatus::NonTried);
  return map;
}

uint64_t RescueMap::domainEnd() const {
  if (blocks_.empty()) return 0;
  const auto& [pos, last] = *blocks_.rbegin();
  return pos + last.size;
}

void RescueMap::splitAt(uint64_t pos) {
  auto it = blocks_.upper_bound(pos);
  if (it == blocks_.begin()) return;
  --it;
  const uint64_t start = it->first;
  Extent& extent = it->second;
  if (start == pos || pos >= start + extent.size) return;
  const uint64_t tail = start + extent.size - pos;
  extent.size = pos - start;
  blocks_.emplace(pos, Extent{tail, extent.status});
}

void RescueMap::mergeAround(Blocks::iterator it) {
  if (it != blocks_.begin()) {
    auto before = std::prev(it);
    if (before->second.status == it->second.status &&
        before->first + before->second.size == it->first) {
      before->second.size += it->second.size;
      blocks_.erase(it);
      it = before;
    }
  }
  auto after = std::next(it);
  if (after != blocks_.end() && after->second.status == it->second.status &&
      it->first + it->second.size == after->first) {
    it->second.size += after->second.size;
    blocks_.erase(after);
  }
}

void RescueMap::set(uint64_t begin, uint64_t end, BlockStatus status) {
  end = std::min(end, kMaximumPosition);
  if (begin >= end) return;
  // The domain stays without gaps: growing it fills the space in between
  // with non-tried blocks, which is what ddrescue assumes of unknown bytes.
  if (!blocks_.empty()) {
    if (begin > domainEnd()) set(domainEnd(), begin, BlockStatus::NonTried);
    if (end < domainBegin()) set(end, domainBegin(), BlockStatus::NonTried);
  }
  splitAt(begin);
  splitAt(end);
  blocks_.erase(blocks_.lower_bound(begin), blocks_.lower_bound(end));
  auto [it, inserted] = blocks_.emplace(begin, Extent{end - begin, status});
  (void)inserted;
  mergeAround(it);
}

std::optional<MapBlock> RescueMap::blockAt(uint64_t pos) const {
  auto it = blocks_.upper_bound(pos);
  if (it == blocks_.begin()) return std::nullopt;
  --it;
  if (pos >= it->first + it->second.size) return std::nullopt;
  return MapBlock{it->first, it->second.size, it->second.status};
}

BlockStatus RescueMap::statusAt(uint64_t pos) const {
  auto block = blockAt(pos);
  return block ? block->status : BlockStatus::NonTried;
}

std::optional<MapBlock> RescueMap::nextBlock(uint64_t pos, BlockStatus status) const {
  auto it = blocks_.upper_bound(pos);
  if (it != blocks_.begin()) {
    auto holder = std::prev(it);
    if (pos < holder->first + holder->second.size) it = holder;
  }
  for (; it != blocks_.end(); ++it) {
    if (it->second.status != status) continue;
    // A block that started before pos is handed out from pos on.
    const uint64_t start = std::max(pos, it->first);
    return MapBlock{start, it->first + it->second.size - start, status};
  }
  return std::nullopt;
}

namespace {

// Calls visit(a, b) for every piece of [begin, end) not marked finished, in
// order; outside the domain counts as not finished. Positions stop at
// kMaximumPosition as set() does: no drive or image has a byte there, and
// counting those as unread would leave a range that set() marked finished
// still unfinished when it reaches past the limit.
template <typename Blocks, typename Visit>
void forEachUnfinished(const Blocks& blocks, uint64_t domainBegin, uint64_t domainEnd,
                       uint64_t begin, uint64_t end, Visit visit) {
  end = std::min(end, RescueMap::kMaximumPosition);
  if (begin >= end) return;
  if (begin < domainBegin) visit(begin, std::min(end, domainBegin));
  auto it = blocks.upper_bound(begin);
  if (it != blocks.begin()) --it;
  for (; it != blocks.end() && it->first < end; ++it) {
    const uint64_t a = std::max(begin, it->first);
    const uint64_t b = std::min(end, it->first + it->second.size);
    if (a < b && it->second.status != BlockStatus::Finished) visit(a, b);
  }
  if (end > domainEnd) visit(std::max(begin, domainEnd), end);
}

}  // namespace

uint64_t RescueMap::unfinishedSectors(uint64_t begin, uint64_t end) const {
  uint64_t count = 0;
  uint64_t counted = 0;  // sectors below this index are already counted
  forEachUnfinished(blocks_, domainBegin(), domainEnd(), begin, end, [&](uint64_t a, uint64_t b) {
    const uint64_t first = a / kSectorBytes;
    const uint64_t last = b / kSectorBytes + (b % kSectorBytes != 0 ? 1 : 0);  // one past
    const uint64_t from = std::max(first, counted);
    if (last > from) count += last - from;
    counted = std::max(counted, last);
  });
  return count;
}

uint64_t RescueMap::unfinishedBytes(uint64_t begin, uint64_t end) const {
  uint64_t bytes = 0;
  forEachUnfinished(blocks_, domainBegin(), domainEnd(), begin, end,
                    [&](uint64_t a, uint64_t b) { bytes += b - a; });
  return bytes;
}

uint64_t RescueMap::bytesWith(BlockStatus status) const {
  uint64_t bytes = 0;
  for (const auto& [pos, extent] : blocks_) {
    if (extent.status == status) bytes += extent.size;
  }
  return bytes;
}

uint64_t RescueMap::blocksWith(BlockStatus status) const {
  uint64_t count = 0;
  for (const auto& [pos, extent] : blocks_) count += extent.status == status ? 1 : 0;
  return count;
}

bool RescueMap::onlyBadSectorsLeft() const {
  for (const auto& [pos, extent] : blocks_) {
    if (extent.status != BlockStatus::Finished && extent.status != BlockStatus::BadSector)
      return false;
  }
  return true;
}

std::optional<RescueMap> RescueMap::parse(std::string_view text, std::string* error) {
  RescueMap map;
  bool haveStatusLine = false;
  uint64_t expectedPos = 0;
  bool haveBlock = false;
  size_t lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const size_t newline = text.find('\n');
    std::string_view raw = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    if (raw.size() > kMaximumLineBytes) {
      fail(error, lineNumber, "line too long");
      return std::nullopt;
    }
    std::string_view line = trim(raw);
    if (line.empty()) continue;
    if (line.front() == '#') {
      auto value = [&](std::string_view prefix) { return trim(line.substr(prefix.size())); };
      if (line.starts_with(kPathComment)) {
        map.device.path = std::string(value(kPathComment));
      } else if (line.starts_with(kIdComment)) {
        map.device.id = std::string(value(kIdComment));
      } else if (line.starts_with(kSizeComment)) {
        if (!parseNumber(value(kSizeComment), &map.device.size)) {
          fail(error, lineNumber, "bad device size");
          return std::nullopt;
        }
      }
      continue;
    }
    std::string_view rest = line;
    std::string_view first = nextWord(rest), second = nextWord(rest), third = nextWord(rest);
    if (!haveStatusLine) {
      // current_pos current_status [current_pass]; the pass came with ddrescue 1.21.
      uint64_t pass = 1;
      if (!parseNumber(first, &map.currentPos) || second.size() != 1 ||
          !phaseFromChar(second[0], &map.phase) || (!third.empty() && !parseNumber(third, &pass)) ||
          !trim(rest).empty()) {
        fail(error, lineNumber, "bad status line");
        return std::nullopt;
      }
      map.pass = static_cast<uint32_t>(std::min<uint64_t>(pass, UINT32_MAX));
      haveStatusLine = true;
      continue;
    }
    uint64_t pos = 0, size = 0;
    BlockStatus status;
    if (!parseNumber(first, &pos) || !parseNumber(second, &size) || third.size() != 1 ||
        !blockStatusFromChar(third[0], &status) || !trim(rest).empty()) {
      fail(error, lineNumber, "bad block line");
      return std::nullopt;
    }
    if (size > kMaximumPosition - pos) {
      fail(error, lineNumber, "block reaches past the largest position");
      return std::nullopt;
    }
    if (haveBlock && pos != expectedPos) {
      fail(error, lineNumber, "block does not start where the previous one ends");
      return std::nullopt;
    }
    if (size == 0) continue;  // ddrescue writes one for an empty domain
    map.set(pos, pos + size, status);
    expectedPos = pos + size;
    haveBlock = true;
  }
  if (!haveStatusLine) {
    if (error != nullptr) *error = "no status line";
    return std::nullopt;
  }
  return map;
}

RescueMapLoad RescueMap::load(const std::string& path) {
  RescueMapLoad result;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    result.error = path + ": cannot be opened";
    return result;
  }
  std::string text;
  char chunk[65536];
  while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
    text.append(chunk, static_cast<size_t>(in.gcount()));
    if (text.size() > kMaximumFileBytes) {
      result.error = path + ": too large for a map";
      return result;
    }
  }
  if (in.bad()) {
    result.error = path + ": read error";
    return result;
  }
  result.endsInsideALine = !text.empty() && text.back() != '\n';
  std::string why;
  result.map = parse(text, &why);
  if (!result.map) result.error = path + ": " + why;
  return result;
}

std::string RescueMap::format() const {
  std::string out = "# Mapfile. Created by kestrix-cli\n";
  if (!device.path.empty()) out += std::string(kPathComment) + commentSafe(device.path) + "\n";
  if (device.size != 0) out += std::string(kSizeComment) + std::to_string(device.size) + "\n";
  if (!device.id.empty()) out += std::string(kIdComment) + commentSafe(device.id) + "\n";
  char line[96];
  out += "# current_pos  current_status  current_pass\n";
  std::snprintf(line, sizeof line, "0x%08llX     %c               %u\n",
                static_cast<unsigned long long>(currentPos), static_cast<char>(phase), pass);
  out += line;
  out += "#      pos        size  status\n";
  for (const auto& [pos, extent] : blocks_) {
    std::snprintf(line, sizeof line, "0x%08llX  0x%08llX  %c\n",
                  static_cast<unsigned long long>(pos),
                  static_cast<unsigned long long>(extent.size), static_cast<char>(extent.status));
    out += line;
  }
  return out;
}

int RescueMap::save(const std::string& path) const {
  const std::string temporary = path + ".tmp";
  const std::string text = format();
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return errno;
  int error = writeAll(fd, text);
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (::close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
  if (error != 0) {
    ::unlink(temporary.c_str());
    return error;
  }
  // The rename itself must survive a power cut too.
  const size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "."
                             : slash == 0               ? "/"
                                                        : path.substr(0, slash);
  int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return 0;
}

}  // namespace kestrix
