#include "VexlorHost.h"

#include <csignal>

namespace modVexlor {

namespace {
HeadlessHost& Headless() {
    static HeadlessHost host;
    return host;
}
Host* installed = nullptr;
}  // namespace

int HeadlessHost::MsgBox(const std::string&, int style, const std::string&) {
    return (style & 0xF) == vbOKOnly ? vbOK : vbCancel;
}

void HeadlessHost::StopInDebugger() { std::raise(SIGTRAP); }

void SetHost(Host* host) { installed = host; }
Host& CurrentHost() { return installed ? *installed : Headless(); }

}  // namespace modVexlor
