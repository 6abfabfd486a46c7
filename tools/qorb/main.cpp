/* qorb: command-line tool of the qorb PCI Express compliance library.
 *
 * Exit status: 0 success, 1 when a check or an operation fails, 2 for bad
 * arguments, absent devices and driver failures. Every problem is one line
 * on standard error; the library's own diagnostics are shown only with
 * --debug. */
#include <string.h>

#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "tool.h"

using namespace qorbtool;

int main(int argc, char** argv)
{
    bool debug = false;
    for (int i = 1; i < argc; i++)
        debug = debug || strcmp(argv[i], "--debug") == 0;
    InitOutput(debug);

    CLI::App app{"qorb: PCI Express compliance testing on the qorb library.\n"
                 "Devices are selected as lspci does: -s [[bus]:][dev][.[func]] and -d [vendor]:[device],\n"
                 "numbers in hexadecimal.",
                 "qorb"};
    app.require_subcommand(1);
    app.fallthrough();
    app.add_option("--driver", Globals().driver,
                   "Configuration driver: sim, sysfs, or the path of a driver library. Without it, "
                   "ini/VERDAapp.ini in the current directory names the driver, else the simulated one is used");
    app.add_flag("--debug", Globals().debug, "Show the library's diagnostic lines on standard error");
    app.add_option("--domain", Globals().domainText,
                   "PCI domain (segment) the driver serves, hex (default: the driver's setting, else 0000); "
                   "passed to the simulated and sysfs drivers as QORB_DOMAIN");

    AddScanCommand(app);
    AddTreeCommand(app);
    AddCapsCommand(app);
    AddRegisterCommands(app);
    AddLinkCommand(app);
    AddAerCommand(app);
    AddZebCommand(app);
    AddCheckCommand(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            /* Help and version text are results: they go to the tool's
             * standard output, which the library's diagnostics do not share. */
            std::ostringstream out, err;
            int status = app.exit(e, out, err);
            fputs(out.str().c_str(), Out());
            fputs(err.str().c_str(), stderr);
            return status;
        }
        fprintf(stderr, "qorb: %s (see qorb --help)\n", OneLine(e.what()).c_str());
        return kExitUsage;
    } catch (const UsageError& e) {
        fflush(Out());
        fprintf(stderr, "qorb: %s\n", OneLine(e.what()).c_str());
        return kExitUsage;
    } catch (const OperationFailed& e) {
        fflush(Out());
        fprintf(stderr, "qorb: %s\n", OneLine(e.what()).c_str());
        return kExitFailed;
    } catch (const std::exception& e) {
        fflush(Out());
        fprintf(stderr, "qorb: %s\n", OneLine(e.what()).c_str());
        return kExitUsage;
    }
    fflush(Out());
    return ExitStatus();
}
