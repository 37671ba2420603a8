// chmread <file> list         every object path of the help file, each ended by a NUL byte
// chmread <file> get <path>   the bytes of one object
// Exit status: 0 done, 1 not a readable help file, 2 no such object, 3 object too large,
// 4 object cannot be read in full, 64 wrong arguments.
#include <algorithm>
#include <chm_lib.h>
#include <fcntl.h>
#include <cstdio>
#include <cstring>
#include <memory>
#include <sys/resource.h>
#include <vector>

#include "platform/regularfile.h"

namespace {

// Limits shared with the help window's reader.
constexpr unsigned long long kMaxObjectSize = 16ULL * 1024 * 1024;
constexpr long kMaxPaths = 100000;

struct Closer {
    void operator()(chmFile* file) const { chm_close(file); }
};

struct ListState {
    long count = 0;
    bool failed = false;
};

int WritePath(chmFile*, chmUnitInfo* info, void* context) {
    auto* state = static_cast<ListState*>(context);
    // A damaged directory can chain its blocks into a loop; the walk stops at the limit.
    if (++state->count > kMaxPaths) return CHM_ENUMERATOR_SUCCESS;
    const std::size_t length = strnlen(info->path, sizeof(info->path));
    if (std::fwrite(info->path, 1, length, stdout) != length || std::fputc('\0', stdout) == EOF) {
        state->failed = true;
        return CHM_ENUMERATOR_FAILURE;
    }
    return CHM_ENUMERATOR_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: chmread <file> list | chmread <file> get <path>\n");
        return 64;
    }
    // A damaged file must not keep this process busy for ever.
    const rlimit cpu{20, 20};
    setrlimit(RLIMIT_CPU, &cpu);

    // The help file is opened here without blocking and must be a regular file; the library then
    // reads that same open file through its descriptor's name.
    const platform::CFd help = platform::OpenRegularFile(argv[1], O_RDONLY);
    if (!help.IsValid()) return 1;
    char fdPath[32];
    std::snprintf(fdPath, sizeof fdPath, "/proc/self/fd/%d", help.Get());
    const std::unique_ptr<chmFile, Closer> file(chm_open(fdPath));
    if (!file) return 1;

    if (std::strcmp(argv[2], "list") == 0 && argc == 3) {
        ListState state;
        chm_enumerate(file.get(), CHM_ENUMERATE_ALL, &WritePath, &state);
        return state.failed || std::fflush(stdout) != 0 ? 4 : 0;
    }
    if (std::strcmp(argv[2], "get") == 0 && argc == 4) {
        chmUnitInfo info{};
        if (chm_resolve_object(file.get(), argv[3], &info) != CHM_RESOLVE_SUCCESS) return 2;
        if (info.length > kMaxObjectSize) return 3;
        std::vector<unsigned char> buffer(64 * 1024);
        LONGUINT64 offset = 0;
        while (offset < info.length) {
            const LONGUINT64 want = std::min<LONGUINT64>(buffer.size(), info.length - offset);
            const LONGINT64 got = chm_retrieve_object(file.get(), &info, buffer.data(), offset,
                                                      static_cast<LONGINT64>(want));
            if (got <= 0 || static_cast<LONGUINT64>(got) > want) return 4;
            if (std::fwrite(buffer.data(), 1, static_cast<std::size_t>(got), stdout) !=
                static_cast<std::size_t>(got))
                return 4;
            offset += static_cast<LONGUINT64>(got);
        }
        return std::fflush(stdout) != 0 ? 4 : 0;
    }
    std::fprintf(stderr, "usage: chmread <file> list | chmread <file> get <path>\n");
    return 64;
}
