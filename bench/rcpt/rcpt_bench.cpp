// rcpt_bench MAINDIR ADDRESS [ROUNDS]: prepares the handle index of a test
// installation and times, in-process, the recipient checks one RCPT makes
// (in the dialogue's order) and the user-file scan of a VRFY for a name that
// is no handle. Prints median and 95th percentile per call.
#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include "server/address/Recipients.h"
#include "server/bbs/UserDirectory.h"
#include "server/store/EventLog.h"
#include "server/store/Files.h"

namespace {

using Clock = std::chrono::steady_clock;

double Millis(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double CpuMillis() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double P95(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * 95 / 100)];
}

// Wall time as a caller waits for it, and the CPU time the call itself
// used (which a busy machine does not inflate).
void Time(const char* what, int rounds, const std::function<bool()>& call) {
    std::vector<double> wall, cpu;
    for (int i = 0; i < rounds; ++i) {
        const double cpuStart = CpuMillis();
        const auto start = Clock::now();
        if (!call()) {
            std::fprintf(stderr, "rcpt_bench: %s did not give the expected answer\n", what);
            std::exit(1);
        }
        wall.push_back(Millis(Clock::now() - start));
        cpu.push_back(CpuMillis() - cpuStart);
    }
    std::printf("%-42s median %7.3f ms  p95 %7.3f ms  cpu median %7.3f ms  (%d calls)\n", what, Median(wall), P95(wall),
                Median(cpu), rounds);
}

// What the dialogue asks for one RCPT; true when the recipient is accepted.
bool Rcpt(const ServerContext& ctx, const Text& address) {
    if (ctx.Settings().AutoVerify == 1 && !CheckTo(ctx, address)) {
        const int32_t n = FindUser(ctx, address);
        if (n > 0) AddVerifiedUser(ctx, n, address);
    }
    const bool domain = CheckDomain(ctx, address);
    const bool pass = CheckPassThru(ctx, address);
    const bool deliverable = CheckTo(ctx, address);
    if (address.isEmpty() || !domain || (!deliverable && !pass)) return false;
    const int32_t n = FindUser(ctx, address);
    const bool flags = CheckUserFlags(ctx, n);
    return !(ctx.Settings().CheckFlags == 1 && !flags && !CheckPassThru(ctx, address));
}

// Takes the last listed user out of the handle index, so that finding it by
// name needs the scan of the whole user file.
Text DropLastHandle(const BbsConfig& bbs) {
    const int32_t count = UserCount(bbs);
    for (int32_t n = count; n >= 1; --n) {
        const UserRecord user = GetUser(bbs, n);
        if (!user.IsListed()) continue;
        TextList kept;
        for (const Text& line : Explode(CRLF, ReadFileBytes(HandlesUipPath(bbs))))
            if (!line.isEmpty() && ValLong(Explode(",", line, 4, 2)[1]) != n) kept.append(line);
        WriteFileAtomic(HandlesUipPath(bbs), kept.join(CRLF) + CRLF);
        return user.Handle();
    }
    return {};
}

}   // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: rcpt_bench MAINDIR ADDRESS [ROUNDS]\n");
        return 2;
    }
    const QString mainDir = QString::fromLocal8Bit(argv[1]);
    const Text address = argv[2];
    const int rounds = argc > 3 ? std::max(1, atoi(argv[3])) : 300;

    SettingsRecord settings;
    DecodeSettings(ReadFileBytes(SettingsPath(mainDir)), settings);
    BbsConfig bbs;
    if (!GetSysPathsCfg(bbs.paths, PathJoin(mainDir, "SYSPATHS.CFG")) || ReadNetCfg(bbs) != NetCfgResult::Ok) {
        std::fprintf(stderr, "rcpt_bench: %s holds no usable BBS installation\n", argv[1]);
        return 1;
    }
    Statistics stats;
    EventLog log(mainDir, settings.MaxLogSize);
    RunState run;
    const ServerContext ctx{settings, bbs, stats, log, run};
    QDir::setCurrent(mainDir);

    std::printf("user file: %d records, %lld bytes\n", UserCount(bbs), FileLength(UserFilePath(bbs)));
    const auto start = Clock::now();
    CreateHandlesUIP(bbs, settings.AutorespondUser, CreatePassThruString(ctx));
    std::printf("%-42s %7.1f ms\n", "handle index rebuilt (HANDLES.UIP)", Millis(Clock::now() - start));
    const Text recordOnly = DropLastHandle(bbs);
    std::printf("handle index: %lld bytes; RCPT of %s; VRFY of \"%s\" (no handle)\n", FileLength(HandlesUipPath(bbs)),
                address.constData(), recordOnly.constData());

    Time("RCPT checks (in-process)", rounds, [&] { return Rcpt(ctx, address); });
    Time("VRFY lookup by record name (in-process)", rounds, [&] { return FindUser(ctx, recordOnly) > 0; });
    Time("FindHandle, whole user file (in-process)", rounds, [&] { return FindHandle(bbs, "no such user") == 0; });
    return 0;
}
