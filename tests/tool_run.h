/* Running the built qorb tool from the tests, in the current (scratch)
 * folder: its exit status, standard output and standard error. */
#ifndef QORB_TOOL_RUN_H
#define QORB_TOOL_RUN_H

#include <string>

#include "qorb_test_support.h"

namespace qorbtest {

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

inline bool ToolBuilt()
{
#ifdef QORB_TOOL_PATH
    return true;
#else
    return false;
#endif
}

inline ToolRun RunTool(const std::string& args)
{
    ToolRun run;
#ifdef QORB_TOOL_PATH
    run.out = RunCommand(std::string("'") + QORB_TOOL_PATH + "' " + args + " 2>tool-stderr.txt </dev/null", &run.status);
    run.err = ReadFile("tool-stderr.txt");
#else
    (void)args;
#endif
    return run;
}

/* What the simulated driver offers (the tool runs on it): a test card in
 * its built-in platform, and the [function] settings that plant faults.
 * Both are probed in a scratch folder of their own. */
inline bool SimHasCard()
{
    ScratchDir dir;
    return RunTool("zeb info").status == 0;
}

inline bool SimHasFaultSettings()
{
    ScratchDir dir;
    WriteFile(dir.File("qorbsim.ini"), "[function 06:00.0]\naer_correctable = 0x40\n");
    return RunTool("scan -s 06:00.0").status == 0;
}

} // namespace qorbtest

#endif
