#include "server/bbs/UserFileColumns.h"
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QFile>
#include <QFileInfo>
#include <csetjmp>
#include <csignal>
#include <cstring>
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"

namespace {

// The BBS may shorten its user file while the server reads a mapping of
// it; touching a page past the new end raises SIGBUS. The gathering runs
// with a handler that jumps back out of it; nothing between the jump's two
// ends owns resources, so leaving that way is safe.
thread_local sigjmp_buf* tBusErrorExit = nullptr;

void OnBusError(int) {
    if (tBusErrorExit) siglongjmp(*tBusErrorExit, 1);
    std::signal(SIGBUS, SIG_DFL);
    std::raise(SIGBUS);
}

int Stride(UserColumnSet set) { return set == UserColumnSet::Handles ? kUserHandleSize : kUserHandleSize + 2; }

void CopyColumns(const char* mapped, int32_t count, UserColumnSet set, char* out) {
    const bool levels = set == UserColumnSet::HandlesAndLevels;
    for (int32_t i = 0; i < count; ++i) {
        const char* record = mapped + qsizetype(i) * kUserRecordSize;
        std::memcpy(out, record, kUserHandleSize);
        out += kUserHandleSize;
        if (levels) {
            std::memcpy(out, record + kUserSecurityLevelOffset, 2);
            out += 2;
        }
    }
}

// A read-only mapping of a whole file, released when it goes.
struct Mapping {
    const char* data = nullptr;
    size_t size = 0;
    bool open = false;

    explicit Mapping(const QString& path) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return;
        struct stat st {};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            size = static_cast<size_t>(st.st_size);
            if (size == 0) {
                open = true;
            } else if (void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0); p != MAP_FAILED) {
                data = static_cast<const char*>(p);
                open = true;
            }
        }
        ::close(fd);
    }
    ~Mapping() {
        if (data) ::munmap(const_cast<char*>(data), size);
    }
    Mapping(const Mapping&) = delete;
    Mapping& operator=(const Mapping&) = delete;
};

}   // namespace

int16_t UserColumns::SecurityLevel(int32_t index) const {
    if (stride < kUserHandleSize + 2) return 0;
    const auto* p =
        reinterpret_cast<const unsigned char*>(bytes.constData()) + qsizetype(index) * stride + kUserHandleSize;
    return static_cast<int16_t>(p[0] | (p[1] << 8));
}

bool GatherUserColumns(const char* mapped, int32_t count, UserColumnSet set, char* out) {
    struct sigaction handler {
    }, previous{};
    handler.sa_handler = OnBusError;
    sigemptyset(&handler.sa_mask);
    sigaction(SIGBUS, &handler, &previous);
    sigjmp_buf jump;
    volatile bool ok = false;
    if (sigsetjmp(jump, 1) == 0) {
        tBusErrorExit = &jump;
        CopyColumns(mapped, count, set, out);
        ok = true;
    }
    tBusErrorExit = nullptr;
    sigaction(SIGBUS, &previous, nullptr);
    return ok;
}

UserColumns ReadUserColumns(const QString& path, UserColumnSet set, const char* procedure) {
    UserColumns columns;
    columns.stride = Stride(set);
    if (!QFileInfo::exists(path)) return columns;
    const Mapping file(path);
    const auto count = static_cast<int32_t>(std::min<size_t>(file.size / kUserRecordSize, INT32_MAX));
    if (file.open) {
        columns.bytes.resize(qsizetype(count) * columns.stride);
        if (GatherUserColumns(file.data, count, set, columns.bytes.data())) return columns;
        columns.bytes.clear();
    }
    columns.readable = false;
    LogError(procedure, kVersion, "modZARV", "Cannot read " + TextFromPath(path));
    return columns;
}
