// The exported interface of every built library, pinned: its dynamic symbol
// table (read from the ELF file itself) holds the host's entry points and
// data and the reentrant entry, with the right kinds and sizes, and nothing
// else; and it needs no shared library but the C and C++ runtimes and the
// math library.
#include "hardening.h"

#include <elf.h>
#include <fstream>
#include <map>
#include <set>

namespace {

struct DynSymbol {
    unsigned char type;       // STT_FUNC, STT_OBJECT, ...
    unsigned char binding;    // STB_GLOBAL, STB_WEAK, ...
    unsigned char visibility; // STV_DEFAULT, ...
    uint64_t size;
};

struct DynamicInfo {
    std::string error;
    std::map<std::string, DynSymbol> defined; // defined dynamic symbols by name
    std::vector<std::string> needed;          // DT_NEEDED entries
};

std::string c_string(const std::vector<char> &file, uint64_t offset)
{
    if (offset >= file.size())
        return "?";
    const char *s = file.data() + offset;
    return std::string(s, strnlen(s, file.size() - offset));
}

// The record types of one ELF class.
struct Elf64 {
    using Ehdr = Elf64_Ehdr;
    using Shdr = Elf64_Shdr;
    using Sym = Elf64_Sym;
    using Dyn = Elf64_Dyn;
};
struct Elf32 {
    using Ehdr = Elf32_Ehdr;
    using Shdr = Elf32_Shdr;
    using Sym = Elf32_Sym;
    using Dyn = Elf32_Dyn;
};

// Reads .dynsym and .dynamic of a little-endian ELF shared object whose
// header has been checked to be of class E.
template <class E> DynamicInfo read_dynamic_of_class(const std::vector<char> &f)
{
    using Ehdr = typename E::Ehdr;
    using Shdr = typename E::Shdr;
    using Sym = typename E::Sym;
    using Dyn = typename E::Dyn;
    DynamicInfo d;
    if (f.size() < sizeof(Ehdr)) {
        d.error = "truncated ELF header";
        return d;
    }
    Ehdr eh;
    std::memcpy(&eh, f.data(), sizeof eh);
    if (eh.e_type != ET_DYN || eh.e_shentsize != sizeof(Shdr) ||
        eh.e_shoff + (uint64_t)eh.e_shnum * sizeof(Shdr) > f.size()) {
        d.error = "not a shared object with a section table";
        return d;
    }
    std::vector<Shdr> sh(eh.e_shnum);
    std::memcpy(sh.data(), f.data() + eh.e_shoff, eh.e_shnum * sizeof(Shdr));
    auto in_file = [&](const Shdr &s) { return s.sh_offset + s.sh_size <= f.size(); };

    bool saw_dynsym = false, saw_dynamic = false;
    for (const Shdr &s : sh) {
        if (s.sh_type == SHT_DYNSYM && in_file(s) && s.sh_link < sh.size()) {
            saw_dynsym = true;
            const Shdr &strtab = sh[s.sh_link];
            for (uint64_t off = sizeof(Sym); off + sizeof(Sym) <= s.sh_size;
                 off += sizeof(Sym)) {
                Sym sym;
                std::memcpy(&sym, f.data() + s.sh_offset + off, sizeof sym);
                // Local symbols are not exported (the aarch64 linker lists
                // section symbols here).
                if (sym.st_shndx == SHN_UNDEF || ELF64_ST_BIND(sym.st_info) == STB_LOCAL)
                    continue;
                std::string name = c_string(f, strtab.sh_offset + sym.st_name);
                // st_info and st_other hold the same fields in both classes.
                d.defined[name] = {(unsigned char)ELF64_ST_TYPE(sym.st_info),
                                   (unsigned char)ELF64_ST_BIND(sym.st_info),
                                   (unsigned char)ELF64_ST_VISIBILITY(sym.st_other),
                                   sym.st_size};
            }
        }
        if (s.sh_type == SHT_DYNAMIC && in_file(s) && s.sh_link < sh.size()) {
            saw_dynamic = true;
            const Shdr &strtab = sh[s.sh_link];
            for (uint64_t off = 0; off + sizeof(Dyn) <= s.sh_size; off += sizeof(Dyn)) {
                Dyn dyn;
                std::memcpy(&dyn, f.data() + s.sh_offset + off, sizeof dyn);
                if (dyn.d_tag == DT_NULL)
                    break;
                if (dyn.d_tag == DT_NEEDED)
                    d.needed.push_back(c_string(f, strtab.sh_offset + dyn.d_un.d_val));
            }
        }
    }
    if (!saw_dynsym || !saw_dynamic)
        d.error = "no dynamic symbol table or no dynamic section";
    return d;
}

// The build's own word size: 64-bit targets and 32-bit ones (i386) alike.
DynamicInfo read_dynamic(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (f.size() <= EI_DATA || std::memcmp(f.data(), ELFMAG, SELFMAG) != 0 ||
        f[EI_DATA] != ELFDATA2LSB) {
        DynamicInfo d;
        d.error = "not a little-endian ELF file";
        return d;
    }
    if (f[EI_CLASS] == ELFCLASS64)
        return read_dynamic_of_class<Elf64>(f);
    if (f[EI_CLASS] == ELFCLASS32)
        return read_dynamic_of_class<Elf32>(f);
    DynamicInfo d;
    d.error = "unknown ELF class";
    return d;
}

bool starts_with(const std::string &s, const char *prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

class PinnedInterface : public ::testing::TestWithParam<hardening::Deliverable> {
  protected:
    DynamicInfo lib;
    void SetUp() override
    {
        if (!hardening::in_build(GetParam().name))
            GTEST_SKIP() << GetParam().name << " is not in this build yet";
        lib = read_dynamic(plugin_path(GetParam().name));
        ASSERT_EQ(lib.error, "") << plugin_path(GetParam().name);
    }
};

} // namespace

TEST_P(PinnedInterface, ExportsExactlyTheHostInterface)
{
    const hardening::Deliverable &d = GetParam();
    const char *functions[] = {"plugin_tex_getversion", "plugin_getinfo",  "plugin_init",
                               "plugin_but_changed",    "plugin_tex_doit", "plugin_tex_doit_r"};
    std::map<std::string, uint64_t> data = {
        {"name", 24}, {"varstr", 112u * d.nvars}, {"result", 32}, {"cfra", 4}};
    if (d.stypes > 0)
        data["stnames"] = 16u * d.stypes;

    std::set<std::string> expected;
    for (const char *f : functions) {
        expected.insert(f);
        auto it = lib.defined.find(f);
        if (it == lib.defined.end()) {
            ADD_FAILURE() << d.name << " does not export " << f;
            continue;
        }
        EXPECT_EQ(it->second.type, STT_FUNC) << f;
        EXPECT_EQ(it->second.binding, STB_GLOBAL) << f;
        EXPECT_EQ(it->second.visibility, STV_DEFAULT) << f;
    }
    for (const auto &[name, size] : data) {
        expected.insert(name);
        auto it = lib.defined.find(name);
        if (it == lib.defined.end()) {
            ADD_FAILURE() << d.name << " does not export " << name;
            continue;
        }
        EXPECT_EQ(it->second.type, STT_OBJECT) << name;
        EXPECT_EQ(it->second.binding, STB_GLOBAL) << name;
        EXPECT_EQ(it->second.size, size) << name;
    }
    std::vector<std::string> extra;
    for (const auto &[name, sym] : lib.defined) {
        if (expected.count(name))
            continue;
        // AddressSanitizer adds one odr indicator per exported variable.
        if (TEXTURES_SANITIZE_BUILD && starts_with(name, "__odr_asan.") &&
            data.count(name.substr(std::strlen("__odr_asan."))))
            continue;
        extra.push_back(name);
    }
    EXPECT_TRUE(extra.empty()) << d.name << " also exports: " << ::testing::PrintToString(extra);
    if (d.stypes == 0) {
        EXPECT_EQ(lib.defined.count("stnames"), 0u) << d.name << " has no sub-types";
    }
}

TEST_P(PinnedInterface, NeedsOnlyTheRuntimeAndMathLibraries)
{
    std::vector<const char *> allowed = {"libc.so.", "libm.so.", "libstdc++.so.", "libgcc_s.so.",
                                         "ld-linux"};
    if (TEXTURES_SANITIZE_BUILD) {
        allowed.push_back("libasan.so.");
        allowed.push_back("libubsan.so.");
    }
    for (const std::string &lib_name : lib.needed) {
        bool ok = false;
        for (const char *prefix : allowed)
            ok = ok || starts_with(lib_name, prefix);
        EXPECT_TRUE(ok) << GetParam().name << " needs " << lib_name;
    }
}

INSTANTIATE_TEST_SUITE_P(AllPlugins, PinnedInterface, ::testing::ValuesIn(hardening::five()),
                         [](const auto &info) { return std::string(info.param.name); });
