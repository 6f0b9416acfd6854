#include "VexlorHost.h"

#include "VexlorPlatform.h"

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

void HeadlessHost::StopInDebugger() { platform::RaiseDebugTrap(); }

void SetHost(Host* host) { installed = host; }
Host& CurrentHost() { return installed ? *installed : Headless(); }

}  // namespace modVexlor
