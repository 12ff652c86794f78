#include "tools/testbbs/NetworkFiles.h"

Text Net1Text(const Text& netDir) { return Text("systemid=") + kNet1SystemId + CRLF + "netdir=" + netDir + CRLF; }

Text Net4Text(const Text& netDir) { return Text("systemid=1:100/1") + CRLF + "netdir=" + netDir + CRLF; }

Text Net9Text(const Text& systemId, const Text& spoolDir, const Text& queueDir, const Text& newsDir) {
    // Ten fields separated by single spaces, "-" for an empty one.
    const Text remote = "UPSTREAM - " + queueDir + ";" + newsDir + " - - - - " + systemId + " NNXXXXXX -";
    return "systemid=" + systemId + CRLF + "netdir=" + spoolDir + CRLF + "pss=7" + CRLF + "allowrefeed=N" + CRLF +
           "striphdrs=N" + CRLF + "suffix=" + CRLF + "remote=" + remote + CRLF;
}

Text NetworksListText() {
    return Text("1,ZarvelNet,ZNET,-") + CRLF + "4,FidoNet,FIDO,F" + CRLF + "9,Internet,INET," + kInternetFlag + CRLF;
}

Text ListServText(const Text& systemId) {
    const Text at = "@" + systemId;
    return "DEMO-LIST sysop" + at + " john.smith" + at + " mary.jones" + at + " darkstar" + at + CRLF + "NEWS-R sysop" +
           at + " night.owl" + at + CRLF;
}

Text AutoRespText() { return Text("info,Information about this BBS") + CRLF + "rules,The rules of this BBS" + CRLF; }
