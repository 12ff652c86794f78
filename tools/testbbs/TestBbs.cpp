#include "tools/testbbs/TestBbs.h"

#include "server/bbs/BbsConfig.h"
#include "server/store/Files.h"
#include "server/store/Settings.h"
#include "tools/testbbs/DemoUsers.h"
#include "tools/testbbs/FileAreas.h"
#include "tools/testbbs/InstallFile.h"
#include "tools/testbbs/NetworkFiles.h"
#include "tools/testbbs/StoredPaths.h"
#include "tools/testbbs/TosserInstall.h"

#include <QDir>
#include <QFileInfo>

namespace {

constexpr int kSysPathsFieldSize = 40;
constexpr int kTextLine = 1 << 20;   // the network files have no fixed width

// Directory names below the main directory.
TestBbsLayout PlanLayout(const QString& mainDir) {
    TestBbsLayout l;
    l.mainDir = mainDir;
    l.dataDir = PathJoin(mainDir, "DATA");
    l.tempDir = PathJoin(mainDir, "TEMP");
    l.messageDir = PathJoin(mainDir, "MSGS");
    l.spoolDir = PathJoin(mainDir, "SPOOL");
    l.spoolTmpDir = PathJoin(l.spoolDir, "TMP");
    l.queueDir = PathJoin(mainDir, "OUTBOUND");
    l.net1Dir = PathJoin(mainDir, "NET1");
    l.net4Dir = PathJoin(mainDir, "FIDO");
    l.fileAreaDir = PathJoin(mainDir, "FILES");
    l.closedAreaDir = PathJoin(mainDir, "PRIV");
    return l;
}

QString NewsDir(const TestBbsLayout& l) { return PathJoin(l.mainDir, "NEWSOUT"); }

bool MakeDirs(const TestBbsLayout& l) {
    for (const QString& d : {l.mainDir, l.dataDir, l.tempDir, l.messageDir, l.spoolDir, l.spoolTmpDir, l.queueDir,
                             l.net1Dir, l.net4Dir, l.fileAreaDir, l.closedAreaDir, NewsDir(l)})
        if (!QDir().mkpath(d)) return false;
    return true;
}

Text SysPathsBytes(const TestBbsLayout& l) {
    SysPathsRecord r;
    r.fields[0] = StoredMainDir(l.mainDir, kSysPathsFieldSize);
    r.fields[2] = StoredDir(l.mainDir, l.dataDir, kSysPathsFieldSize);
    r.fields[6] = StoredDir(l.mainDir, l.tempDir, kSysPathsFieldSize);
    r.fields[7] = StoredDir(l.mainDir, l.messageDir, kSysPathsFieldSize);
    return EncodeSysPaths(r);
}

Text DatabaseCfgBytes(const TestBbsLayout& l) {
    return EncodeFileArea({"GENERAL", StoredDir(l.mainDir, l.fileAreaDir, kFileAreaDirSize), "General files", true}) +
           EncodeFileArea({"SYSOP", StoredDir(l.mainDir, l.closedAreaDir, kFileAreaDirSize), "Sysop files", false});
}

// Each step names the file it writes, for the error message.
struct Step {
    QString path;
    Text bytes;
};

QList<Step> ConfigurationFiles(const TestBbsLayout& l, const TestBbsOptions& o) {
    const Text spool = TextFromPath(l.spoolDir);
    const Text queue = StoredDir(l.mainDir, l.queueDir, kTextLine, true);
    const Text news = StoredDir(l.mainDir, NewsDir(l), kTextLine, true);
    return {
        {PathJoin(l.mainDir, "MAIN.CFG"), EncodeMainCfg(MainCfgRecord{o.bbsName})},
        {PathJoin(l.dataDir, "NET.1"), Net1Text(TextFromPath(l.net1Dir))},
        {PathJoin(l.dataDir, "NET.4"), Net4Text(TextFromPath(l.net4Dir))},
        {PathJoin(l.dataDir, "NET.9"), Net9Text(o.systemId, spool, queue, news)},
        {PathJoin(l.dataDir, "NETWORKS.LST"), NetworksListText()},
        {PathJoin(l.spoolDir, "LISTSERV.LST"), ListServText(o.systemId)},
        {PathJoin(l.mainDir, "AUTORESP.CFG"), AutoRespText()},
        {PathJoin(l.mainDir, "DATABASE.CFG"), DatabaseCfgBytes(l)},
        {PathJoin(l.net4Dir, "MAGIC.FID"), MagicFidText(l.fileAreaDir, l.net4Dir)},
    };
}

// The settings the server would create on its first start, with our port;
// like that first start, the default block-list zones go under "relaydb".
bool WriteServerSettings(const TestBbsLayout& l, const TestBbsOptions& o) {
    SettingsRecord settings;
    settings.Port = int16_t(o.port);
    Text keyed = Text("relaydb=") + kDefaultRelayDb + CRLF;
    if (o.esmtp) keyed += Text("esmtp=1") + CRLF;
    if (o.authCheck) keyed += Text("authcheck=1") + CRLF;
    return WriteInstallFile(SettingsPath(l.mainDir), EncodeSettings(settings)) &&
           WriteInstallFile(KeyedListPath(l.mainDir), keyed);
}

QString CheckOptions(const QString& dir, const TestBbsOptions& o) {
    if (dir.trimmed().isEmpty()) return "no directory given";
    if (o.users < kMinTestUsers || o.users > kMaxTestUsers)
        return QString("the number of users must be from %1 to %2").arg(kMinTestUsers).arg(kMaxTestUsers);
    if (o.port < 1 || o.port > 32767) return "the port must be from 1 to 32767";
    const Text id = Trim(o.systemId);
    if (id.isEmpty() || id.contains(' ') || id.contains('@') || id.contains('\r') || id.contains('\n'))
        return "the system id must be a domain name without spaces";
    if (QFileInfo::exists(PathJoin(dir, "SYSPATHS.CFG"))) return dir + " already holds a BBS installation";
    return {};
}

// Writes everything; SYSPATHS.CFG comes last, so that an installation that
// failed half-way is not taken for a finished one.
QString Build(const TestBbsLayout& layout, const TestBbsOptions& o) {
    if (!MakeDirs(layout)) return "cannot create the directories of " + layout.mainDir;
    for (const Step& s : ConfigurationFiles(layout, o))
        if (!WriteInstallFile(s.path, s.bytes)) return "cannot write " + s.path;
    const QString userFile = PathJoin(layout.dataDir, "USERFILE.DAT");
    if (!WriteUserFile(userFile, DemoUsers(o.users))) return "cannot write " + userFile;
    if (!WriteAreaFiles(layout.fileAreaDir, layout.closedAreaDir, layout.net4Dir, o.bbsName))
        return "cannot write the files of the file areas";
    if (o.writeSettings && !WriteServerSettings(layout, o)) return "cannot write " + SettingsPath(layout.mainDir);
    if (o.installTosser) {
        const QString binary = FindTosserBinary(o.tosserPath);
        if (binary.isEmpty())
            return QString("cannot find the substitute tosser %1 (beside this program or in $OSPRINE_BIN)")
                .arg(o.tosserPath.isEmpty() ? kTosserName : o.tosserPath);
        QString problem;
        if (!InstallTosser(binary, layout.mainDir, &problem)) return problem;
    }
    const QString sysPaths = PathJoin(layout.mainDir, "SYSPATHS.CFG");
    if (!WriteInstallFile(sysPaths, SysPathsBytes(layout))) return "cannot write " + sysPaths;
    return {};
}

}   // namespace

TestBbsLayout CreateTestBbs(const QString& dir, const TestBbsOptions& options, QString* error) {
    TestBbsOptions o = options;
    o.systemId = Trim(o.systemId);
    QString problem = CheckOptions(dir, o);
    TestBbsLayout layout;
    if (problem.isEmpty()) {
        layout = PlanLayout(QDir(dir).absolutePath());
        problem = Build(layout, o);
    }
    if (error) *error = problem;
    return layout;
}
