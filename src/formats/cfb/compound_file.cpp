#include "formats/cfb/compound_file.h"

#include <algorithm>
#include <cstring>
#include <fstream>

#include "formats/file_reader.h"

namespace corvane::cfb {
namespace {

constexpr std::uint32_t kMaxRegularSector = 0xFFFFFFFAu;
constexpr std::uint32_t kDifatSector = 0xFFFFFFFCu;
constexpr std::uint32_t kFatSector = 0xFFFFFFFDu;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFEu;
constexpr std::uint32_t kFreeSector = 0xFFFFFFFFu;

constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kEntrySize = 128;
constexpr std::size_t kHeaderDifatSlots = 109;
constexpr std::uint32_t kMiniSectorSize = 64;
constexpr std::uint64_t kMiniStreamCutoff = 4096;
constexpr std::size_t kChunkSize = 1 << 20;

// Bounds on what a forged header can make us hold; real installer packages stay far below.
constexpr std::size_t kMaxEntries = 1 << 20;
constexpr std::size_t kMaxMiniFatEntries = 1 << 22;
constexpr int kMaxStorageDepth = 64;

// Header fields (offsets from the start of the file).
constexpr std::size_t kNumDirSectors = 40;
constexpr std::size_t kNumFatSectors = 44;
constexpr std::size_t kFirstDirSector = 48;
constexpr std::size_t kCutoffField = 56;
constexpr std::size_t kFirstMiniFat = 60;
constexpr std::size_t kNumMiniFat = 64;
constexpr std::size_t kFirstDifat = 68;
constexpr std::size_t kNumDifat = 72;
constexpr std::size_t kHeaderDifat = 76;

constexpr unsigned char kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

[[noreturn]] void Malformed(const std::string& what) { throw CfbFormatError(what); }

std::uint16_t Le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
std::uint32_t Le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint64_t Le64(const unsigned char* p) {
  return static_cast<std::uint64_t>(Le32(p)) | static_cast<std::uint64_t>(Le32(p + 4)) << 32;
}
void Put16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
void Put32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
void Put64(unsigned char* p, std::uint64_t v) {
  Put32(p, static_cast<std::uint32_t>(v));
  Put32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

char16_t Upper(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  // Latin-1 small letters but the division sign and ÿ.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  return c;
}

}  // namespace

bool LooksLikeCompoundFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  unsigned char head[8] = {};
  in.read(reinterpret_cast<char*>(head), sizeof head);
  return in.gcount() == sizeof head && std::memcmp(head, kSignature, sizeof head) == 0;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = Upper(a[i]), y = Upper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

struct CompoundFile::Impl {
  std::unique_ptr<formats::FileReader> file;
  formats::FileEditor* editor = nullptr;
  unsigned char header[kHeaderSize] = {};
  std::uint16_t major = 0;
  std::uint32_t sectorShift = 0;
  std::uint32_t sectorSize = 0;
  std::uint32_t perSector = 0;  // 32-bit entries per sector
  std::uint64_t sectorCount = 0;

  std::vector<std::uint32_t> fatSectors;
  std::vector<std::uint32_t> difatSectors;
  mutable std::uint64_t cachedFatIndex = ~0ull;
  mutable std::vector<unsigned char> cachedFat;

  std::vector<std::uint32_t> dirChain;
  std::vector<DirectoryEntry> entries;
  std::vector<std::array<unsigned char, kEntrySize>> rawEntries;
  std::vector<std::vector<std::uint32_t>> children;

  std::vector<std::uint32_t> miniFat;
  std::vector<std::uint32_t> miniFatChain;
  std::vector<std::uint32_t> miniStreamChain;
  std::uint64_t miniStreamSize = 0;
  std::uint64_t freeScan = 0;
  std::vector<std::uint32_t> freed;  // sectors this object freed, reused first

  std::uint64_t Offset(std::uint32_t sector) const {
    return (static_cast<std::uint64_t>(sector) + 1) << sectorShift;
  }

  void Read(std::uint64_t offset, void* out, std::size_t length) const {
    try {
      file->ReadAt(offset, out, length);
    } catch (const formats::FileRangeError&) {
      Malformed("the compound file is truncated (a read at " + std::to_string(offset) +
                " ends past its " + std::to_string(file->size()) + " bytes)");
    }
  }
  void Write(std::uint64_t offset, const void* data, std::size_t length) {
    editor->WriteAt(offset, data, length);
  }
  void WriteU32(std::uint64_t offset, std::uint32_t value) {
    unsigned char b[4];
    Put32(b, value);
    Write(offset, b, 4);
  }

  void CheckSector(std::uint32_t sector, const char* what) const {
    if (sector > kMaxRegularSector || sector >= sectorCount)
      Malformed(std::string(what) + " names sector " + std::to_string(sector) +
                ", outside the file's " + std::to_string(sectorCount) + " sectors");
  }

  std::uint32_t Fat(std::uint32_t sector) const {
    std::uint64_t index = sector / perSector;
    if (index >= fatSectors.size()) Malformed("a sector lies beyond the FAT");
    if (index != cachedFatIndex) {
      cachedFat.resize(sectorSize);
      Read(Offset(fatSectors[index]), cachedFat.data(), sectorSize);
      cachedFatIndex = index;
    }
    return Le32(cachedFat.data() + (sector % perSector) * 4);
  }

  void SetFat(std::uint32_t sector, std::uint32_t value) {
    std::uint64_t index = sector / perSector;
    if (index >= fatSectors.size()) Malformed("a sector lies beyond the FAT");
    WriteU32(Offset(fatSectors[index]) + (sector % perSector) * 4, value);
    if (index == cachedFatIndex) Put32(cachedFat.data() + (sector % perSector) * 4, value);
  }

  // The sectors of a chain, checked for range and loops; at most `limit` of them.
  std::vector<std::uint32_t> Chain(std::uint32_t start, std::uint64_t limit,
                                   const char* what) const {
    std::vector<std::uint32_t> chain;
    for (std::uint32_t s = start; s != kEndOfChain; s = Fat(s)) {
      CheckSector(s, what);
      if (chain.size() >= sectorCount) Malformed(std::string(what) + " loops");
      if (chain.size() >= limit) Malformed(std::string(what) + " is too long");
      chain.push_back(s);
    }
    return chain;
  }

  void Load() {
    Read(0, header, kHeaderSize);
    if (std::memcmp(header, kSignature, sizeof kSignature) != 0)
      Malformed("not a compound file (no signature)");
    major = Le16(header + 26);
    if (Le16(header + 28) != 0xFFFE) Malformed("the byte order mark is not 0xFFFE");
    sectorShift = Le16(header + 30);
    if (!((major == 3 && sectorShift == 9) || (major == 4 && sectorShift == 12)))
      Malformed("unsupported version " + std::to_string(major) + " with sector shift " +
                std::to_string(sectorShift));
    if (Le16(header + 32) != 6) Malformed("the mini sector size is not 64");
    if (Le32(header + kCutoffField) != kMiniStreamCutoff)
      Malformed("the mini stream cutoff is not 4096");
    sectorSize = 1u << sectorShift;
    perSector = sectorSize / 4;
    const std::uint64_t size = file->size();
    if (size < sectorSize) Malformed("the compound file is shorter than its header sector");
    const std::uint64_t fileSectors = (size - sectorSize + sectorSize - 1) / sectorSize;
    sectorCount = fileSectors;

    // The FAT's own sectors: 109 in the header, the rest along the DIFAT chain.
    const std::uint32_t numFat = Le32(header + kNumFatSectors);
    if (numFat == 0 || numFat > fileSectors) Malformed("the FAT sector count is out of range");
    for (std::size_t i = 0; i < kHeaderDifatSlots && fatSectors.size() < numFat; ++i)
      fatSectors.push_back(Le32(header + kHeaderDifat + 4 * i));
    std::uint32_t difat = Le32(header + kFirstDifat);
    const std::uint32_t numDifat = Le32(header + kNumDifat);
    std::vector<unsigned char> sector(sectorSize);
    while (fatSectors.size() < numFat) {
      CheckSector(difat, "the DIFAT chain");
      if (difatSectors.size() >= numDifat || difatSectors.size() >= fileSectors)
        Malformed("the DIFAT chain is longer than the header says, or loops");
      difatSectors.push_back(difat);
      Read(Offset(difat), sector.data(), sectorSize);
      for (std::uint32_t i = 0; i + 1 < perSector && fatSectors.size() < numFat; ++i)
        fatSectors.push_back(Le32(sector.data() + 4 * i));
      difat = Le32(sector.data() + 4 * (perSector - 1));
    }
    // A DIFAT sector with free slots left still belongs to the chain.
    if (difatSectors.size() < numDifat && difat != kEndOfChain && difat != kFreeSector) {
      CheckSector(difat, "the DIFAT chain");
      difatSectors.push_back(difat);
    }
    // Sectors past what the FAT describes belong to nothing.
    sectorCount = std::min<std::uint64_t>(fileSectors, std::uint64_t{numFat} * perSector);
    for (std::uint32_t s : fatSectors) CheckSector(s, "the DIFAT");

    LoadDirectory();
    LoadMiniStream();
  }

  void LoadDirectory() {
    dirChain = Chain(Le32(header + kFirstDirSector), kMaxEntries / (sectorSize / kEntrySize),
                     "the directory chain");
    if (dirChain.empty()) Malformed("the directory is empty");
    std::vector<unsigned char> sector(sectorSize);
    for (std::uint32_t s : dirChain) {
      Read(Offset(s), sector.data(), sectorSize);
      for (std::size_t at = 0; at < sectorSize; at += kEntrySize) {
        std::array<unsigned char, kEntrySize> raw;
        std::memcpy(raw.data(), sector.data() + at, kEntrySize);
        rawEntries.push_back(raw);
        entries.push_back(ParseEntry(raw.data()));
      }
    }
    if (entries[0].type != EntryType::Root) Malformed("the first directory entry is not the root");
    children.assign(entries.size(), {});
    std::vector<bool> seen(entries.size(), false);
    seen[0] = true;
    // Storages to walk, with their depth; each storage's tree is walked in order.
    std::vector<std::pair<std::uint32_t, int>> storages{{kRootEntry, 0}};
    while (!storages.empty()) {
      auto [storage, depth] = storages.back();
      storages.pop_back();
      if (depth > kMaxStorageDepth) Malformed("storages are nested too deeply");
      std::vector<std::uint32_t> stack;
      auto descend = [&](std::uint32_t id) {
        while (id != kNoStream) {
          if (id >= entries.size()) Malformed("a directory link is out of range");
          if (seen[id]) Malformed("the directory tree has a loop");
          const DirectoryEntry& e = entries[id];
          if (e.type != EntryType::Storage && e.type != EntryType::Stream)
            Malformed("the directory tree links an unused or unknown entry");
          seen[id] = true;
          stack.push_back(id);
          id = e.left;
        }
      };
      descend(entries[storage].child);
      while (!stack.empty()) {
        std::uint32_t id = stack.back();
        stack.pop_back();
        children[storage].push_back(id);
        if (entries[id].type == EntryType::Storage) storages.push_back({id, depth + 1});
        descend(entries[id].right);
      }
    }
  }

  DirectoryEntry ParseEntry(const unsigned char* p) const {
    DirectoryEntry e;
    const std::uint16_t nameBytes = Le16(p + 64);
    e.type = static_cast<EntryType>(p[66]);
    if (e.type != EntryType::Unused) {
      if (nameBytes > 64 || nameBytes % 2 != 0 || nameBytes < 2)
        Malformed("a directory entry's name length is invalid");
      for (std::size_t i = 0; i + 1 < nameBytes / 2u; ++i)
        e.name.push_back(static_cast<char16_t>(Le16(p + 2 * i)));
    }
    e.color = p[67];
    e.left = Le32(p + 68);
    e.right = Le32(p + 72);
    e.child = Le32(p + 76);
    std::memcpy(e.clsid.data(), p + 80, 16);
    e.stateBits = Le32(p + 96);
    e.created = Le64(p + 100);
    e.modified = Le64(p + 108);
    e.start = Le32(p + 116);
    // Version 3 files may leave garbage in the high half of the size.
    e.size = major == 3 ? Le32(p + 120) : Le64(p + 120);
    return e;
  }

  void LoadMiniStream() {
    const std::uint32_t firstMiniFat = Le32(header + kFirstMiniFat);
    if (Le32(header + kNumMiniFat) != 0 && firstMiniFat != kEndOfChain) {
      miniFatChain = Chain(firstMiniFat, kMaxMiniFatEntries / perSector, "the MiniFAT chain");
      std::vector<unsigned char> sector(sectorSize);
      for (std::uint32_t s : miniFatChain) {
        Read(Offset(s), sector.data(), sectorSize);
        for (std::uint32_t i = 0; i < perSector; ++i)
          miniFat.push_back(Le32(sector.data() + 4 * i));
      }
    }
    const DirectoryEntry& root = entries[0];
    miniStreamSize = root.size;
    if (miniStreamSize > sectorCount * sectorSize) Malformed("the mini stream exceeds the file");
    if (miniStreamSize > 0) {
      miniStreamChain = Chain(root.start, sectorCount, "the mini stream chain");
      if (miniStreamChain.size() * std::uint64_t{sectorSize} < miniStreamSize)
        Malformed("the mini stream chain is shorter than the mini stream");
    }
  }

  bool InMiniStream(const DirectoryEntry& e) const { return e.size < kMiniStreamCutoff; }

  std::uint64_t MiniOffset(std::uint32_t mini) const {
    const std::uint64_t at = std::uint64_t{mini} * kMiniSectorSize;
    if (at + kMiniSectorSize > miniStreamChain.size() * std::uint64_t{sectorSize})
      Malformed("a mini sector lies outside the mini stream");
    return Offset(miniStreamChain[at / sectorSize]) + at % sectorSize;
  }

  std::uint32_t NextMini(std::uint32_t mini) const {
    if (mini >= miniFat.size()) Malformed("a mini sector lies beyond the MiniFAT");
    return miniFat[mini];
  }

  void ReadStream(const DirectoryEntry& e, const Sink& sink) const {
    std::uint64_t remaining = e.size;
    if (remaining == 0) return;
    if (InMiniStream(e)) {
      unsigned char buffer[kMiniStreamCutoff];
      std::size_t filled = 0;
      std::uint32_t m = e.start;
      std::vector<std::uint32_t> visited;
      while (remaining > 0) {
        if (m == kEndOfChain) Malformed("a stream's mini chain ends before its size");
        if (m > kMaxRegularSector) Malformed("a stream's mini chain names an invalid sector");
        if (std::find(visited.begin(), visited.end(), m) != visited.end())
          Malformed("a stream's mini chain loops");
        visited.push_back(m);
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(remaining, 64));
        Read(MiniOffset(m), buffer + filled, n);
        filled += n;
        remaining -= n;
        if (remaining > 0) m = NextMini(m);
      }
      sink(buffer, filled);
      return;
    }
    if (remaining > sectorCount * sectorSize) Malformed("a stream is larger than the file");
    std::vector<unsigned char> buffer(std::min<std::uint64_t>(kChunkSize, remaining));
    std::uint32_t cur = e.start;
    // One bit per sector: a chain that comes back to a sector loops.
    std::vector<bool> visited(static_cast<std::size_t>(sectorCount), false);
    auto visit = [&](std::uint32_t s) {
      CheckSector(s, "a stream's chain");
      if (visited[s]) Malformed("a stream's chain loops");
      visited[s] = true;
    };
    while (remaining > 0) {
      if (cur == kEndOfChain) Malformed("a stream's chain ends before its size");
      visit(cur);
      // A run of consecutive sectors is read in one go.
      const std::uint32_t first = cur;
      std::uint64_t count = 1;
      std::uint32_t next = kEndOfChain;
      for (;;) {
        if (count * sectorSize >= remaining) break;
        next = Fat(cur);
        if (next != cur + 1 || count * sectorSize >= kChunkSize) break;
        visit(next);
        cur = next;
        ++count;
      }
      std::uint64_t bytes = std::min<std::uint64_t>(count * sectorSize, remaining);
      std::uint64_t offset = Offset(first);
      remaining -= bytes;
      while (bytes > 0) {
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(bytes, buffer.size()));
        Read(offset, buffer.data(), n);
        sink(buffer.data(), n);
        offset += n;
        bytes -= n;
      }
      cur = next;
    }
  }

  // ---- editing ----

  void WriteHeader() { Write(0, header, kHeaderSize); }

  void WriteEntry(std::uint32_t id) {
    const DirectoryEntry& e = entries[id];
    unsigned char* p = rawEntries[id].data();
    p[67] = e.color;
    Put32(p + 68, e.left);
    Put32(p + 72, e.right);
    Put32(p + 76, e.child);
    Put32(p + 116, e.start);
    if (major == 3) {
      // Keep what was there when the size is unchanged; a new size gets a clean high half.
      if (Le32(p + 120) != e.size || Le32(p + 124) != 0) Put64(p + 120, e.size);
    } else {
      Put64(p + 120, e.size);
    }
    const std::uint64_t perDirSector = sectorSize / kEntrySize;
    Write(Offset(dirChain[id / perDirSector]) + (id % perDirSector) * kEntrySize, p, kEntrySize);
  }

  void WriteSectorFill(std::uint32_t sector, unsigned char fill) {
    std::vector<unsigned char> bytes(sectorSize, fill);
    Write(Offset(sector), bytes.data(), sectorSize);
  }

  // A new FAT sector at the end of the file, registered in the header or the DIFAT.
  void AddFatSector() {
    const std::uint32_t f = static_cast<std::uint32_t>(sectorCount);
    WriteSectorFill(f, 0xFF);
    ++sectorCount;
    const std::size_t k = fatSectors.size();
    fatSectors.push_back(f);
    SetFat(f, kFatSector);
    if (k < kHeaderDifatSlots) {
      Put32(header + kHeaderDifat + 4 * k, f);
    } else {
      const std::size_t j = k - kHeaderDifatSlots;
      const std::size_t per = perSector - 1;
      const std::size_t d = j / per;
      if (d == difatSectors.size()) {
        const std::uint32_t ds = static_cast<std::uint32_t>(sectorCount);
        if (ds / perSector >= fatSectors.size()) Malformed("the FAT cannot grow");
        std::vector<unsigned char> bytes(sectorSize, 0xFF);
        Put32(bytes.data() + 4 * per, kEndOfChain);
        Write(Offset(ds), bytes.data(), sectorSize);
        ++sectorCount;
        SetFat(ds, kDifatSector);
        if (d == 0)
          Put32(header + kFirstDifat, ds);
        else
          WriteU32(Offset(difatSectors[d - 1]) + 4 * per, ds);
        difatSectors.push_back(ds);
        Put32(header + kNumDifat, static_cast<std::uint32_t>(difatSectors.size()));
      }
      WriteU32(Offset(difatSectors[d]) + 4 * (j % per), f);
    }
    Put32(header + kNumFatSectors, static_cast<std::uint32_t>(fatSectors.size()));
  }

  // A free sector of the file, or a new one at its end; marked as the end of a chain.
  std::uint32_t AllocateSector() {
    if (!freed.empty()) {
      const std::uint32_t s = freed.back();
      freed.pop_back();
      SetFat(s, kEndOfChain);
      return s;
    }
    for (; freeScan < sectorCount; ++freeScan) {
      const auto s = static_cast<std::uint32_t>(freeScan);
      if (Fat(s) == kFreeSector) {
        ++freeScan;
        SetFat(s, kEndOfChain);
        return s;
      }
    }
    if (sectorCount >= kMaxRegularSector) Malformed("the compound file cannot grow");
    if (sectorCount / perSector >= fatSectors.size()) AddFatSector();
    const auto s = static_cast<std::uint32_t>(sectorCount);
    WriteSectorFill(s, 0);
    ++sectorCount;
    freeScan = sectorCount;
    SetFat(s, kEndOfChain);
    return s;
  }

  void SetMini(std::uint32_t mini, std::uint32_t value) {
    miniFat[mini] = value;
    WriteU32(Offset(miniFatChain[mini / perSector]) + (mini % perSector) * 4, value);
  }

  std::uint32_t AllocateMini() {
    const std::uint64_t used = (miniStreamSize + kMiniSectorSize - 1) / kMiniSectorSize;
    for (std::uint64_t m = 0; m < used && m < miniFat.size(); ++m) {
      if (miniFat[m] == kFreeSector) {
        SetMini(static_cast<std::uint32_t>(m), kEndOfChain);
        return static_cast<std::uint32_t>(m);
      }
    }
    const auto m = static_cast<std::uint32_t>(used);
    const std::uint64_t newSize = (used + 1) * kMiniSectorSize;
    while (miniStreamChain.size() * std::uint64_t{sectorSize} < newSize) {
      const std::uint32_t s = AllocateSector();
      if (miniStreamChain.empty())
        entries[0].start = s;
      else
        SetFat(miniStreamChain.back(), s);
      miniStreamChain.push_back(s);
    }
    miniStreamSize = newSize;
    entries[0].size = newSize;
    while (m >= miniFat.size()) {
      const std::uint32_t s = AllocateSector();
      WriteSectorFill(s, 0xFF);
      if (miniFatChain.empty())
        Put32(header + kFirstMiniFat, s);
      else
        SetFat(miniFatChain.back(), s);
      miniFatChain.push_back(s);
      miniFat.resize(miniFat.size() + perSector, kFreeSector);
      Put32(header + kNumMiniFat, static_cast<std::uint32_t>(miniFatChain.size()));
    }
    SetMini(m, kEndOfChain);
    return m;
  }

  // Frees (and zeroes) the sectors holding a stream's content.
  void FreeContent(DirectoryEntry& e) {
    if (e.size == 0) return;
    if (InMiniStream(e)) {
      const unsigned char zeros[kMiniSectorSize] = {};
      std::uint32_t m = e.start;
      for (std::uint64_t steps = 0; m != kEndOfChain; ++steps) {
        if (steps > kMiniStreamCutoff / kMiniSectorSize || m >= miniFat.size())
          Malformed("a stream's mini chain is damaged");
        const std::uint32_t next = miniFat[m];
        Write(MiniOffset(m), zeros, sizeof zeros);
        SetMini(m, kFreeSector);
        m = next;
      }
    } else {
      std::vector<std::uint32_t> chain = Chain(e.start, sectorCount, "a stream's chain");
      for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        WriteSectorFill(*it, 0);
        SetFat(*it, kFreeSector);
        freed.push_back(*it);
      }
    }
    e.start = kEndOfChain;
    e.size = 0;
  }

  void StoreContent(DirectoryEntry& e, std::string_view data) {
    e.size = data.size();
    e.start = kEndOfChain;
    if (data.empty()) return;
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    std::uint32_t prev = kEndOfChain;
    if (data.size() < kMiniStreamCutoff) {
      for (std::size_t at = 0; at < data.size(); at += kMiniSectorSize) {
        const std::uint32_t m = AllocateMini();
        if (prev == kEndOfChain)
          e.start = m;
        else
          SetMini(prev, m);
        unsigned char piece[kMiniSectorSize] = {};
        std::memcpy(piece, bytes + at, std::min<std::size_t>(kMiniSectorSize, data.size() - at));
        Write(MiniOffset(m), piece, sizeof piece);
        prev = m;
      }
      return;
    }
    std::vector<unsigned char> piece(sectorSize);
    for (std::size_t at = 0; at < data.size(); at += sectorSize) {
      const std::uint32_t s = AllocateSector();
      if (prev == kEndOfChain)
        e.start = s;
      else
        SetFat(prev, s);
      std::fill(piece.begin(), piece.end(), 0);
      std::memcpy(piece.data(), bytes + at, std::min<std::size_t>(sectorSize, data.size() - at));
      Write(Offset(s), piece.data(), sectorSize);
      prev = s;
    }
  }

  // An unused directory entry, the directory growing by a sector when there is none.
  std::uint32_t NewEntry() {
    for (std::uint32_t id = 1; id < entries.size(); ++id)
      if (entries[id].type == EntryType::Unused) return id;
    const std::uint32_t s = AllocateSector();
    SetFat(dirChain.back(), s);
    dirChain.push_back(s);
    const auto first = static_cast<std::uint32_t>(entries.size());
    for (std::size_t i = 0; i < sectorSize / kEntrySize; ++i) {
      std::array<unsigned char, kEntrySize> raw{};
      std::memset(raw.data() + 68, 0xFF, 12);
      rawEntries.push_back(raw);
      entries.push_back(ParseEntry(raw.data()));
      children.emplace_back();
      WriteEntry(static_cast<std::uint32_t>(entries.size() - 1));
    }
    if (major == 4) Put32(header + kNumDirSectors, static_cast<std::uint32_t>(dirChain.size()));
    return first;
  }

  // Lays the storage's children out as a balanced tree in their order: inner levels black,
  // the deepest level red, which keeps every red-black rule.
  void RebuildTree(std::uint32_t storage) {
    const std::vector<std::uint32_t>& kids = children[storage];
    int deepest = 0;
    while ((std::size_t{2} << deepest) <= kids.size()) ++deepest;
    std::function<std::uint32_t(std::size_t, std::size_t, int)> build =
        [&](std::size_t lo, std::size_t hi, int depth) -> std::uint32_t {
      if (lo >= hi) return kNoStream;
      const std::size_t mid = lo + (hi - lo) / 2;
      DirectoryEntry& e = entries[kids[mid]];
      e.left = build(lo, mid, depth + 1);
      e.right = build(mid + 1, hi, depth + 1);
      e.color = depth == deepest && kids.size() > 1 ? 0 : 1;
      return kids[mid];
    };
    entries[storage].child = build(0, kids.size(), 0);
    for (std::uint32_t id : kids) WriteEntry(id);
    WriteEntry(storage);
  }

  std::uint32_t Find(std::uint32_t storage, std::u16string_view name) const {
    for (std::uint32_t id : children.at(storage))
      if (entries[id].name == name) return id;
    return kNoStream;
  }

  void RequireWritable() const {
    if (!editor) throw std::logic_error("the compound file was opened read-only");
  }
};

CompoundFile::CompoundFile(const std::string& path, bool writable) : impl_(new Impl) {
  if (writable) {
    auto editor = std::make_unique<formats::FileEditor>(path);
    impl_->editor = editor.get();
    impl_->file = std::move(editor);
  } else {
    impl_->file = std::make_unique<formats::FileReader>(path);
  }
  impl_->Load();
}

CompoundFile::~CompoundFile() = default;

std::uint16_t CompoundFile::majorVersion() const { return impl_->major; }
std::uint32_t CompoundFile::sectorSize() const { return impl_->sectorSize; }
const std::vector<DirectoryEntry>& CompoundFile::entries() const { return impl_->entries; }

const std::vector<std::uint32_t>& CompoundFile::Children(std::uint32_t storage) const {
  return impl_->children.at(storage);
}

std::uint32_t CompoundFile::Find(std::uint32_t storage, std::u16string_view name) const {
  return impl_->Find(storage, name);
}

void CompoundFile::ReadStream(std::uint32_t stream, const Sink& sink) const {
  const DirectoryEntry& e = impl_->entries.at(stream);
  if (e.type != EntryType::Stream) throw std::invalid_argument("not a stream");
  impl_->ReadStream(e, sink);
}

std::string CompoundFile::ReadStreamBytes(std::uint32_t stream, std::size_t maxSize) const {
  if (impl_->entries.at(stream).size > maxSize) Malformed("the stream is too large");
  std::string out;
  ReadStream(stream, [&](const unsigned char* data, std::size_t length) {
    out.append(reinterpret_cast<const char*>(data), length);
  });
  return out;
}

void CompoundFile::WriteRootStream(std::u16string_view name, std::string_view data) {
  impl_->RequireWritable();
  if (name.empty() || name.size() > 31) throw std::invalid_argument("invalid stream name");
  Impl& m = *impl_;
  std::uint32_t id = m.Find(kRootEntry, name);
  if (id != kNoStream && m.entries[id].type != EntryType::Stream)
    Malformed("a storage has the stream's name");
  if (id != kNoStream) {
    m.FreeContent(m.entries[id]);
    m.StoreContent(m.entries[id], data);
    m.WriteEntry(id);
  } else {
    id = m.NewEntry();
    DirectoryEntry fresh;
    fresh.name = std::u16string(name);
    fresh.type = EntryType::Stream;
    m.entries[id] = fresh;
    auto& raw = m.rawEntries[id];
    raw.fill(0);
    for (std::size_t i = 0; i < name.size(); ++i) Put16(raw.data() + 2 * i, name[i]);
    Put16(raw.data() + 64, static_cast<std::uint16_t>((name.size() + 1) * 2));
    raw[66] = static_cast<unsigned char>(EntryType::Stream);
    m.StoreContent(m.entries[id], data);
    std::vector<std::uint32_t>& kids = m.children[kRootEntry];
    auto at = std::find_if(kids.begin(), kids.end(), [&](std::uint32_t other) {
      return CompareNames(m.entries[other].name, name) > 0;
    });
    kids.insert(at, id);
    m.RebuildTree(kRootEntry);
  }
  m.WriteEntry(kRootEntry);
  m.WriteHeader();
  // In a damaged file the sectors the stream was given may also belong to the tables written
  // after it: a stream that does not read back as written is refused, not left behind.
  if (ReadStreamBytes(id, data.size()) != data) Malformed("the stream's sectors are shared");
}

void CompoundFile::ReplaceRootStream(std::u16string_view name, std::string_view data) {
  impl_->RequireWritable();
  const std::uint32_t id = impl_->Find(kRootEntry, name);
  if (id == kNoStream || impl_->entries[id].type != EntryType::Stream)
    Malformed("the package has no such stream");
  WriteRootStream(name, data);
}

bool CompoundFile::RemoveRootStream(std::u16string_view name) {
  impl_->RequireWritable();
  Impl& m = *impl_;
  const std::uint32_t id = m.Find(kRootEntry, name);
  if (id == kNoStream || m.entries[id].type != EntryType::Stream) return false;
  m.FreeContent(m.entries[id]);
  std::vector<std::uint32_t>& kids = m.children[kRootEntry];
  kids.erase(std::find(kids.begin(), kids.end(), id));
  m.entries[id] = DirectoryEntry{};
  auto& raw = m.rawEntries[id];
  raw.fill(0);
  std::memset(raw.data() + 68, 0xFF, 12);
  m.entries[id].start = 0;
  m.entries[id].color = 0;
  m.WriteEntry(id);
  m.RebuildTree(kRootEntry);
  m.WriteHeader();
  return true;
}

}  // namespace corvane::cfb
