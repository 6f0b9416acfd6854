// A program that traps an error whose report is mailed, and ends at once by
// returning from main: the report must still reach the server.
// Usage: vexlor_mail_at_exit APPLICATION_FOLDER
#include "Vexlor.h"
#include "VexlorTesting.h"

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    modVexlor::testhooks::SetApplicationFolder(argv[1]);
    modVexlor::testhooks::SetDevelopmentEnvironment(false);
    vx::Proc("main", "Sub Form_Load", [] { throw vb::RunTimeError(53); });
    return 0;
}
