// Both Linux shared objects, loaded side by side and driven through their
// exported functions: each exports exactly the names of its .def file, and
// the entry points the two builds share give the same results and write the
// same bytes.
#include <dlfcn.h>
#include <elf.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tarvex.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Names = std::set<std::string>;

// The names of the "name @ordinal" lines of a .def file.
Names def_names(const char* path) {
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  const std::regex line_re(R"(^\s*([A-Za-z_]\w*)\s+@\d+\s*(;.*)?$)");
  Names names;
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_match(line, m, line_re)) names.insert(m[1]);
  }
  return names;
}

// The symbols a shared object makes visible to the dynamic linker: defined,
// global or weak, default visibility, in its dynamic symbol table.
Names dynamic_exports(const char* path) {
  std::ifstream in(path, std::ios::binary);
  const std::string file{std::istreambuf_iterator<char>(in), {}};
  Names names;
  if (file.size() < sizeof(Elf64_Ehdr) || std::memcmp(file.data(), ELFMAG, SELFMAG) != 0 ||
      file[EI_CLASS] != ELFCLASS64) {
    ADD_FAILURE() << path << " is not a 64-bit ELF file";
    return names;
  }
  Elf64_Ehdr header;
  std::memcpy(&header, file.data(), sizeof header);
  const auto section = [&file, &header](std::size_t index) {
    Elf64_Shdr s;
    std::memcpy(&s, file.data() + header.e_shoff + index * header.e_shentsize, sizeof s);
    return s;
  };
  for (std::size_t i = 0; i < header.e_shnum; ++i) {
    const Elf64_Shdr symbols = section(i);
    if (symbols.sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr strings = section(symbols.sh_link);
    for (std::size_t k = 1; k < symbols.sh_size / sizeof(Elf64_Sym); ++k) {
      Elf64_Sym sym;
      std::memcpy(&sym, file.data() + symbols.sh_offset + k * sizeof sym, sizeof sym);
      const unsigned bind = ELF64_ST_BIND(sym.st_info);
      if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK) ||
          ELF64_ST_VISIBILITY(sym.st_other) != STV_DEFAULT) {
        continue;
      }
      names.insert(file.data() + strings.sh_offset + sym.st_name);
    }
  }
  return names;
}

// One build, loaded on its own, its entry points looked up by name.
class Build {
 public:
  explicit Build(const char* path) : handle_(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
    EXPECT_NE(handle_, nullptr) << dlerror();
  }
  ~Build() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  Build(const Build&) = delete;
  Build& operator=(const Build&) = delete;

  bool has(const char* name) const { return handle_ != nullptr && dlsym(handle_, name) != nullptr; }

  template <class Function>
  Function* get(const char* name) const {
    void* symbol = handle_ == nullptr ? nullptr : dlsym(handle_, name);
    EXPECT_NE(symbol, nullptr) << name;
    return reinterpret_cast<Function*>(symbol);
  }

 private:
  void* handle_;
};

class BothBuilds : public ::testing::Test {
 protected:
  Build current{TARVEX_CURRENT_SO};
  Build legacy{TARVEX_LEGACY_SO};
};

// Inputs for the transforms: edge values and a deterministic spread.
std::vector<std::array<std::uint8_t, 8>> transform_inputs() {
  std::vector<std::array<std::uint8_t, 8>> inputs = {
      {0, 0, 0, 0, 0, 0, 0, 0},
      {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
      {0x12, 0x34, 0x56, 0, 0, 0, 0, 0},
      {0x00, 0x0C, 0xF0, 0, 0, 0, 0, 0},
      {0x00, 0x0D, 0xF0, 0, 0, 0, 0, 0},
      {'1', '2', '3', '4', '5', '6', '7', '8'},
      {'9', '0', '0', '0', '0', '0', '0', '1'},
  };
  std::uint32_t state = 0x2545F491u;
  for (int i = 0; i < 20000; ++i) {
    std::array<std::uint8_t, 8> in{};
    for (std::uint8_t& b : in) {
      state = state * 1664525u + 1013904223u;
      b = static_cast<std::uint8_t>(state >> 24);
    }
    inputs.push_back(in);
  }
  return inputs;
}

TEST(ExportedNames, EachBuildExportsExactlyTheNamesOfItsDefFile) {
  EXPECT_EQ(dynamic_exports(TARVEX_CURRENT_SO), def_names(TARVEX_CURRENT_DEF));
  EXPECT_EQ(dynamic_exports(TARVEX_LEGACY_SO), def_names(TARVEX_LEGACY_DEF));
  EXPECT_EQ(def_names(TARVEX_LEGACY_DEF),
            (Names{"senddata", "getdata", "cardLock", "keylock", "ascc", "senddata_hex",
                   "getdata_hex", "abcd", "sendBlack_hex", "sendBlack"}));
}

TEST_F(BothBuilds, TheLegacyBuildHasOnlyItsTenEntryPoints) {
  const Names legacy_names = def_names(TARVEX_LEGACY_DEF);
  for (const std::string& name : def_names(TARVEX_CURRENT_DEF)) {
    EXPECT_TRUE(current.has(name.c_str())) << name;
    EXPECT_EQ(legacy.has(name.c_str()), legacy_names.contains(name)) << name;
  }
}

TEST_F(BothBuilds, TransformsGiveTheSameResultsAndBytes) {
  using LockCode = decltype(keylock);
  using Copy = decltype(ascc);
  using Digits = decltype(abcd);
  for (const char* name : {"keylock", "cardLock"}) {
    SCOPED_TRACE(name);
    LockCode* in_current = current.get<LockCode>(name);
    LockCode* in_legacy = legacy.get<LockCode>(name);
    ASSERT_TRUE(in_current != nullptr && in_legacy != nullptr);
    for (const auto& in : transform_inputs()) {
      Bytes a(4, 0xEE), b(4, 0xEE);
      ASSERT_EQ(in_current(0, in.data(), a.data()), in_legacy(0, in.data(), b.data()));
      ASSERT_EQ(a, b);
    }
  }
  Copy* ascc_current = current.get<Copy>("ascc");
  Copy* ascc_legacy = legacy.get<Copy>("ascc");
  Digits* abcd_current = current.get<Digits>("abcd");
  Digits* abcd_legacy = legacy.get<Digits>("abcd");
  ASSERT_TRUE(ascc_current && ascc_legacy && abcd_current && abcd_legacy);
  for (const auto& in : transform_inputs()) {
    Bytes a(4, 0xEE), b(4, 0xEE);
    ASSERT_EQ(ascc_current(in.data(), a.data()), ascc_legacy(in.data(), b.data()));
    ASSERT_EQ(a, b);
    for (const std::int32_t mode : {0, 1, 2}) {
      Bytes c(9, 0xEE), d(9, 0xEE);
      ASSERT_EQ(abcd_current(in.data(), c.data(), mode), abcd_legacy(in.data(), d.data(), mode));
      ASSERT_EQ(c, d) << "mode " << mode;
    }
  }
}

// Every exchange of the ten on a port that does not exist: the same result
// and the same bytes in the caller's buffers from both builds.
TEST_F(BothBuilds, ExchangesFailTheSameWayOnAPortThatDoesNotExist) {
  constexpr const char* kNoPort = "/nonexistent/tarvex-port";
  struct Outcome {
    std::int32_t result;
    Bytes first, second;  // the caller's buffers after the call
    bool operator==(const Outcome&) const = default;
  };
  struct Case {
    const char* name;
    Outcome (*call)(const Build&, const char*);
    std::int32_t expected;
  };
  const Case cases[] = {
      {"getdata",
       [](const Build& b, const char* port) {
         Bytes frame{0x05, 0xA1, 0x33, 0xEE}, reply(4, 0xEE);
         const auto r = b.get<decltype(getdata)>("getdata")(3, frame.data(), 3, reply.data(), port);
         return Outcome{r, frame, reply};
       },
       TARVEX_FRAME_NOT_SENT},
      {"getdata, empty frame",
       [](const Build& b, const char* port) {
         Bytes frame{0x05, 0xA1, 0xEE}, reply(2, 0xEE);
         const auto r = b.get<decltype(getdata)>("getdata")(0, frame.data(), 1, reply.data(), port);
         return Outcome{r, frame, reply};
       },
       TARVEX_FRAME_NOT_SENT},
      {"senddata",
       [](const Build& b, const char* port) {
         Bytes frame{0x05, 0xA1, 0x33, 0xEE}, block{0xFF, 0x02, 0xEE};
         const auto r =
             b.get<decltype(senddata)>("senddata")(3, frame.data(), 2, block.data(), port);
         return Outcome{r, frame, block};
       },
       TARVEX_FRAME_NOT_SENT},
      {"senddata, empty frame",
       [](const Build& b, const char* port) {
         Bytes frame{0x05, 0xC5, 0xEE}, block(12, 0x01);
         const auto r =
             b.get<decltype(senddata)>("senddata")(0, frame.data(), 2, block.data(), port);
         return Outcome{r, frame, block};
       },
       TARVEX_FRAME_NOT_SENT},
      {"getdata_hex",
       [](const Build& b, const char* port) {
         std::string text(6, '.');
         const auto r =
             b.get<decltype(getdata_hex)>("getdata_hex")(2, "05a1", 2, text.data(), port);
         return Outcome{r, Bytes(text.begin(), text.end()), {}};
       },
       TARVEX_FRAME_NOT_SENT},
      {"senddata_hex",
       [](const Build& b, const char* port) {
         const auto r = b.get<decltype(senddata_hex)>("senddata_hex")(2, "05B5", 1, "FF", port);
         return Outcome{r, {}, {}};
       },
       TARVEX_FRAME_NOT_SENT},
      {"sendBlack",
       [](const Build& b, const char* port) {
         const Bytes entries{0x00, 0x01, 0x02};
         const auto r = b.get<decltype(sendBlack)>("sendBlack")(5, 1, entries.data(), port);
         return Outcome{r, entries, {}};
       },
       TARVEX_FRAME_NOT_SENT},
      {"sendBlack, empty list",
       [](const Build& b, const char* port) {
         const Bytes entries{0x00, 0x01, 0x02};
         const auto r = b.get<decltype(sendBlack)>("sendBlack")(5, 0, entries.data(), port);
         return Outcome{r, entries, {}};
       },
       TARVEX_EMPTY_OR_NOT_DRAINED},
      {"sendBlack_hex",
       [](const Build& b, const char* port) {
         const auto r = b.get<decltype(sendBlack_hex)>("sendBlack_hex")(5, 1, "000102", port);
         return Outcome{r, {}, {}};
       },
       TARVEX_FRAME_NOT_SENT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome in_current = c.call(current, kNoPort);
    const Outcome in_legacy = c.call(legacy, kNoPort);
    EXPECT_EQ(in_current.result, c.expected);
    EXPECT_TRUE(in_current == in_legacy)
        << "current " << in_current.result << ", legacy " << in_legacy.result;
  }
}

}  // namespace
