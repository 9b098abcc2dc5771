// The SMBIOS tables decoded from their bytes alone, no system call. The
// values must stay what the dmidecode pipelines (Debian 12's dmidecode 3.4)
// gave, quirks included, so the decoder renders the text such a pipeline
// would have captured and the tool's own parse rule cuts the value from it.
#include "smbios_decoder.h"

#include <algorithm>
#include <cstring>

#include "command_runner.h"
#include "kolvex/kolvex.h"

namespace kolvex {

namespace {

// The runner's capture: line reads of at most 511 characters, reading ends
// once the text is past 512.
constexpr std::size_t kChunkMax = 512;
constexpr std::size_t kCaptureStop = 512;
// Of one line a capture takes at most two chunks (1022 characters).
constexpr std::size_t kLineMax = 1024;

constexpr char kNotSpecified[] = "Not Specified";
constexpr char kBadIndex[] = "<BAD INDEX>";

// One printed line: its label, the offset of its string index (or of the
// eight ID bytes), and the structure length below which dmidecode prints
// neither it nor the lines after it.
struct SmbiosField {
  const char* label;
  std::uint8_t offset;
  bool idBytes;
  std::uint8_t minLength;
};

// Only lines that grep can pass are listed: no name of a processor type or
// family holds "ID". Nothing after a line with the key matters but the line
// the value runs into: the serial rule reads one character past the key,
// which may be a line feed; the serial line's own label then ends it.
constexpr SmbiosField kProcessorFields[] = {
    {"Socket Designation", 0x04, false, 0x1A},
    {"Manufacturer", 0x07, false, 0x1A},
    {"ID", 0x08, true, 0x1A},
};
constexpr SmbiosField kSystemFields[] = {
    {"Manufacturer", 0x04, false, 0x08},
    {"Product Name", 0x05, false, 0x08},
    {"Version", 0x06, false, 0x08},
    {"Serial Number", 0x07, false, 0x08},
};

struct SmbiosLayout {
  const SmbiosField* fields;
  std::size_t count;
};

const SmbiosLayout& LayoutOf(const SmbiosItem& item) {
  static const SmbiosLayout processor{kProcessorFields, 3};
  static const SmbiosLayout system{kSystemFields, 4};
  return item.type == 4 ? processor : system;
}

bool Checksum(const unsigned char* bytes, std::size_t length) {
  unsigned char sum = 0;
  for (std::size_t i = 0; i < length; ++i) sum = static_cast<unsigned char>(sum + bytes[i]);
  return sum == 0;
}

std::uint16_t Word(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Dword(const unsigned char* p) {
  return static_cast<std::uint32_t>(Word(p)) | static_cast<std::uint32_t>(Word(p + 2)) << 16;
}

bool Contains(const char* text, std::size_t length, const char* pattern) {
  const std::size_t n = std::strlen(pattern);
  return std::search(text, text + length, pattern, pattern + n) != text + length;
}

// One structure: formatted area [data, strings), string set up to end (its
// closing double NUL included).
struct Structure {
  const unsigned char* data;
  const unsigned char* strings;
  const unsigned char* end;
};

// dmidecode's string lookup: index 0 is unset, an index past the set bad.
void StringOf(const Structure& s, unsigned index, const char** text, std::size_t* length) {
  if (index == 0) {
    *text = kNotSpecified;
    *length = sizeof kNotSpecified - 1;
    return;
  }
  const unsigned char* p = s.strings;
  while (index > 1 && p < s.end && *p != 0) {
    p = static_cast<const unsigned char*>(std::memchr(p, 0, static_cast<std::size_t>(s.end - p)));
    if (p == nullptr) break;
    ++p;
    --index;
  }
  const unsigned char* nul = p != nullptr && p < s.end
                                 ? static_cast<const unsigned char*>(
                                       std::memchr(p, 0, static_cast<std::size_t>(s.end - p)))
                                 : nullptr;
  if (nul == nullptr || nul == p) {
    *text = kBadIndex;
    *length = sizeof kBadIndex - 1;
    return;
  }
  *text = reinterpret_cast<const char*>(p);
  *length = static_cast<std::size_t>(nul - p);
}

// The capture of the lines grep passes.
class Capture {
 public:
  Capture(char* out, std::size_t capacity, const SmbiosItem& item)
      : out_(out), capacity_(capacity), item_(item) {
    if (capacity_ > 0) out_[0] = '\0';
  }
  bool done() const { return full_ || ended_; }
  std::size_t length() const { return length_; }

  // "\t<label>: <value>\n", value bytes below 32 or from 127 up as '.'.
  void Line(const char* label, const char* value, std::size_t valueLength) {
    if (!Contains(label, std::strlen(label), item_.pattern) &&
        !Contains(value, valueLength, item_.pattern))
      return;
    char line[kLineMax];
    std::size_t n = 0;
    auto put = [&](char c) {
      if (n < sizeof line) line[n++] = c;
    };
    put('\t');
    for (const char* p = label; *p != '\0'; ++p) put(*p);
    put(':');
    put(' ');
    for (std::size_t i = 0; i < valueLength && n < sizeof line; ++i) {
      const unsigned char c = static_cast<unsigned char>(value[i]);
      put(c < 32 || c >= 127 ? '.' : static_cast<char>(c));
    }
    put('\n');
    Feed(line, n);
  }

 private:
  void Feed(const char* text, std::size_t count) {
    while (!full_ && count > 0) {
      const std::size_t chunk = NextChunkLength(text, count, kChunkMax, true);
      full_ = !AppendChunk(out_, capacity_, &length_, text, chunk, kCaptureStop);
      text += chunk;
      count -= chunk;
    }
    // The value is complete once a line end follows its start.
    const char* key = capacity_ > 0 ? std::strstr(out_, item_.rule->key) : nullptr;
    if (key == nullptr) return;
    const std::size_t start =
        static_cast<std::size_t>(key - out_) + static_cast<std::size_t>(item_.rule->valueOffset);
    ended_ = start < length_ && std::memchr(out_ + start, '\n', length_ - start) != nullptr;
  }

  char* out_;
  std::size_t capacity_;
  const SmbiosItem& item_;
  std::size_t length_ = 0;
  bool full_ = false;
  bool ended_ = false;
};

void PrintStructure(const Structure& s, const SmbiosLayout& layout, Capture& capture) {
  for (std::size_t f = 0; f < layout.count && !capture.done(); ++f) {
    const SmbiosField& field = layout.fields[f];
    if (s.strings - s.data < field.minLength) return;
    if (field.idBytes) {
      char id[3 * 8];
      const unsigned char* p = s.data + field.offset;
      std::snprintf(id, sizeof id, "%02X %02X %02X %02X %02X %02X %02X %02X", p[0], p[1], p[2],
                    p[3], p[4], p[5], p[6], p[7]);
      capture.Line(field.label, id, std::strlen(id));
    } else {
      const char* text = nullptr;
      std::size_t length = 0;
      StringOf(s, s.data[field.offset], &text, &length);
      capture.Line(field.label, text, length);
    }
  }
}

}  // namespace

const SmbiosItem kSmbiosProcessorId{4, "ID", &kCpuIdRule};
const SmbiosItem kSmbiosSystemSerial{1, "Serial Number", &kBiosSerialRule};

SmbiosEntryPoint DecodeSmbiosEntryPoint(const unsigned char* entry, std::size_t size) {
  SmbiosEntryPoint point;
  if (entry == nullptr) return point;
  // What lies past a short file counts as zero bytes.
  unsigned char ep[kSmbiosEntryMax] = {};
  std::memcpy(ep, entry, std::min(size, sizeof ep));
  if (size >= 24 && std::memcmp(ep, "_SM3_", 5) == 0) {
    if (ep[0x06] > kSmbiosEntryMax || !Checksum(ep, ep[0x06])) return point;
    point.tableLength = Dword(ep + 0x0C);
    point.endMarkerStops = true;
  } else if (size >= 31 && std::memcmp(ep, "_SM_", 4) == 0) {
    if (ep[0x05] > kSmbiosEntryMax || !Checksum(ep, ep[0x05]) ||
        std::memcmp(ep + 0x10, "_DMI_", 5) != 0 || !Checksum(ep + 0x10, 0x0F))
      return point;
    point.tableLength = Word(ep + 0x16);
    point.structureCount = Word(ep + 0x1C);
  } else if (size >= 15 && std::memcmp(ep, "_DMI_", 5) == 0) {
    if (!Checksum(ep, 0x0F)) return point;
    point.tableLength = Word(ep + 0x06);
    point.structureCount = Word(ep + 0x0C);
  } else {
    return point;
  }
  point.accepted = true;
  return point;
}

std::size_t RenderSmbiosCapture(const SmbiosEntryPoint& entry, const unsigned char* table,
                                std::size_t tableSize, const SmbiosItem& item, char* capture,
                                std::size_t capacity) {
  Capture text(capture, capacity, item);
  if (!entry.accepted || table == nullptr) return 0;
  const SmbiosLayout& layout = LayoutOf(item);
  const std::size_t length = std::min<std::size_t>(tableSize, entry.tableLength);
  std::size_t at = 0;
  unsigned walked = 0;
  // Every structure counts toward the count, shown or not.
  while ((entry.structureCount == 0 || walked < entry.structureCount) && at + 4 <= length) {
    const unsigned type = table[at];
    const unsigned formatted = table[at + 1];
    // A short structure hides where the next one starts.
    if (formatted < 4) break;
    ++walked;
    std::size_t next = at + formatted;
    while (next + 1 < length && (table[next] != 0 || table[next + 1] != 0)) ++next;
    next += 2;
    // A string set not ended inside the table ends the walk.
    if (next > length) break;
    if (type == item.type) {
      PrintStructure({table + at, table + at + formatted, table + next}, layout, text);
      if (text.done()) break;
    }
    at = next;
    if (type == 127 && entry.endMarkerStops) break;
  }
  return text.length();
}

bool SmbiosValue(const unsigned char* entry, std::size_t entrySize, const unsigned char* table,
                 std::size_t tableSize, const SmbiosItem& item, char* out, std::size_t capacity) {
  const SmbiosEntryPoint point = DecodeSmbiosEntryPoint(entry, entrySize);
  if (!point.accepted) return false;
  char capture[kCaptureCapacity];
  RenderSmbiosCapture(point, table, tableSize, item, capture, sizeof capture);
  ParseToolValue(capture, *item.rule, out, capacity);
  return true;
}

}  // namespace kolvex
