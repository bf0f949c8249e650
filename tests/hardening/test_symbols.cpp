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

// Reads .dynsym and .dynamic of a 64-bit little-endian ELF shared object.
DynamicInfo read_dynamic(const std::string &path)
{
    DynamicInfo d;
    std::ifstream in(path, std::ios::binary);
    std::vector<char> f((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (f.size() < sizeof(Elf64_Ehdr) || std::memcmp(f.data(), ELFMAG, SELFMAG) != 0 ||
        f[EI_CLASS] != ELFCLASS64 || f[EI_DATA] != ELFDATA2LSB) {
        d.error = "not a 64-bit little-endian ELF file";
        return d;
    }
    Elf64_Ehdr eh;
    std::memcpy(&eh, f.data(), sizeof eh);
    if (eh.e_type != ET_DYN || eh.e_shentsize != sizeof(Elf64_Shdr) ||
        eh.e_shoff + (uint64_t)eh.e_shnum * sizeof(Elf64_Shdr) > f.size()) {
        d.error = "not a shared object with a section table";
        return d;
    }
    std::vector<Elf64_Shdr> sh(eh.e_shnum);
    std::memcpy(sh.data(), f.data() + eh.e_shoff, eh.e_shnum * sizeof(Elf64_Shdr));
    auto in_file = [&](const Elf64_Shdr &s) { return s.sh_offset + s.sh_size <= f.size(); };

    bool saw_dynsym = false, saw_dynamic = false;
    for (const Elf64_Shdr &s : sh) {
        if (s.sh_type == SHT_DYNSYM && in_file(s) && s.sh_link < sh.size()) {
            saw_dynsym = true;
            const Elf64_Shdr &strtab = sh[s.sh_link];
            for (uint64_t off = sizeof(Elf64_Sym); off + sizeof(Elf64_Sym) <= s.sh_size;
                 off += sizeof(Elf64_Sym)) {
                Elf64_Sym sym;
                std::memcpy(&sym, f.data() + s.sh_offset + off, sizeof sym);
                if (sym.st_shndx == SHN_UNDEF)
                    continue;
                std::string name = c_string(f, strtab.sh_offset + sym.st_name);
                d.defined[name] = {(unsigned char)ELF64_ST_TYPE(sym.st_info),
                                   (unsigned char)ELF64_ST_BIND(sym.st_info),
                                   (unsigned char)ELF64_ST_VISIBILITY(sym.st_other),
                                   sym.st_size};
            }
        }
        if (s.sh_type == SHT_DYNAMIC && in_file(s) && s.sh_link < sh.size()) {
            saw_dynamic = true;
            const Elf64_Shdr &strtab = sh[s.sh_link];
            for (uint64_t off = 0; off + sizeof(Elf64_Dyn) <= s.sh_size; off += sizeof(Elf64_Dyn)) {
                Elf64_Dyn dyn;
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
