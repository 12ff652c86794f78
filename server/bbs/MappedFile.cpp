#include "server/bbs/MappedFile.h"
#include "server/store/ErrorLog.h"
#include "server/store/Files.h"
#include "server/store/Version.h"
#include <QFile>
#include <QFileInfo>
#include <array>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

MappedFile::MappedFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        size_ = static_cast<size_t>(st.st_size);
        if (size_ == 0) {
            open_ = true;
        } else {
            void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, fd, 0);
            if (p != MAP_FAILED) {
                mapping_ = p;
                data_ = static_cast<const char*>(p);
                open_ = true;
            }
        }
    }
    ::close(fd);
    if (!open_) size_ = 0;
}

MappedFile::~MappedFile() {
    if (mapping_) ::munmap(mapping_, size_);
}

bool UnreadableFile(const MappedFile& file, const QString& path, const char* procedure, const char* module) {
    if (file.IsOpen() || !QFileInfo::exists(path)) return false;
    LogError(procedure, kVersion, module, "Cannot read " + TextFromPath(path));
    return true;
}

namespace {

// One table built from the text helpers' own lower-casing, so that a byte
// compares here exactly as it does everywhere else in the server.
const std::array<unsigned char, 256>& FoldTable() {
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> t{};
        Text all(256, '\0');
        for (int c = 0; c < 256; ++c) all[c] = static_cast<char>(c);
        const Text lower = LCase(all);
        for (int c = 0; c < 256; ++c) t[c] = static_cast<unsigned char>(lower.size() == 256 ? lower[c] : c);
        return t;
    }();
    return table;
}

}  // namespace

bool SameTextBytes(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    const auto& fold = FoldTable();
    for (size_t i = 0; i < a.size(); ++i)
        if (fold[static_cast<unsigned char>(a[i])] != fold[static_cast<unsigned char>(b[i])]) return false;
    return true;
}

bool FieldEquals(std::string_view field, std::string_view wanted) {
    if (wanted.empty() || wanted.size() > field.size()) return false;
    if (IsPaddingByte(field.front())) return SameTextBytes(TrimBytes(field), wanted);
    if (!SameTextBytes(field.substr(0, wanted.size()), wanted)) return false;
    for (char c : field.substr(wanted.size()))
        if (!IsPaddingByte(c)) return false;
    return true;
}
