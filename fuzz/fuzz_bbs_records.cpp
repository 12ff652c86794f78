// The BBS's records as found on disk: user records and the user file with
// its handle index, e-mail records with the e-mail base and the network
// spool, and the system paths record. Input: a selector byte, then parts
// cut at "\0\xff".
#include "fuzz/FuzzSupport.h"
#include "server/bbs/EmailRecord.h"
#include "server/bbs/UserDirectory.h"
#include "server/store/Files.h"

#include <QDir>
#include <cstdlib>

namespace {

BbsConfig ScratchBbs(const QString& dir) {
    BbsConfig bbs;
    for (int i = 0; i < 10; ++i) bbs.paths.fields[i] = TextFromPath(dir);
    return bbs;
}

void UserRecords(const TextList& p) {
    const UserRecord user = UserRecord::Decode(p[0]);
    if (user.Encode().size() != kUserRecordSize) std::abort();
    for (int field = 1; field <= kUserFieldCount; ++field) {
        user.FieldText(field);
        user.FieldNumber(field);
    }
    user.IsListed();
    UserRecord changed = user;
    changed.SetHandle(p[1]);
    changed.SetAccessFlags(p[1]);
    if (changed.Encode().size() != kUserRecordSize || changed.Handle().size() > kUserHandleSize) std::abort();
}

void UserFile(const TextList& p, const QString& dir) {
    WriteScratchFile(PathJoin(dir, "USERFILE.DAT"), p[0]);
    WriteScratchFile(PathJoin(dir, "HANDLES.UIP"), p[2]);
    const BbsConfig bbs = ScratchBbs(dir);
    const int32_t count = UserCount(bbs);
    const int32_t found = FindHandle(bbs, p[1]);
    if (found < 0 || found > count) std::abort();
    bool failed = false;
    GetUser(bbs, found, &failed);
    GetUser(bbs, count + 1, &failed);
    GetUser(bbs, -1, &failed);
    ScanHandlesUip(bbs, p[1], 0);
    ScanHandlesUip(bbs, Text(), found);
    CreateHandlesUIP(bbs, 1, p[1]);
    ScanHandlesUip(bbs, p[1], 0);
}

void EmailBase(const TextList& p, const QString& dir) {
    EmailRecord record;
    if (DecodeEmailRecord(p[0], record)) {
        const Text encoded = EncodeEmailRecord(record);
        if (encoded.size() != kEmailRecordSize) std::abort();
        EmailRecord again;
        DecodeEmailRecord(encoded, again);
        if (EncodeEmailRecord(again) != encoded) std::abort();
    }
    WriteScratchFile(EmailDatPath(dir), p[0]);
    WriteScratchFile(EmailBinPath(dir), p[1]);
    WriteScratchFile(SpoolNetPath(dir), p[0] + p[1]);
    for (const EmailEntry& e : ReadEmailBase(dir))
        if (e.body.size() > p[1].size()) std::abort();
    qsizetype total = 0;
    for (const EmailEntry& e : ReadSpoolNet(dir)) total += kEmailRecordSize + e.body.size();
    if (total > p[0].size() + p[1].size()) std::abort();
}

void SysPaths(const TextList& p) {
    const SysPathsRecord r = DecodeSysPaths(p[0]);
    if (EncodeSysPaths(r).size() != kSysPathsRecordSize) std::abort();
    DecodeMainCfg(p[0]);
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    FuzzInstall& install = FuzzInstall::Get();
    const TextList p = FuzzParts(data + 1, size - 1, 3);
    const QString dir = install.Scratch();
    switch (data[0] % 4) {
    case 0:
        UserRecords(p);
        break;
    case 1:
        UserFile(p, dir);
        break;
    case 2:
        EmailBase(p, dir);
        break;
    default:
        SysPaths(p);
        break;
    }
    return 0;
}
