/* The simulator's state file ([platform] state = FILE in qorbsim.ini): the
 * live registers of every function, the link state of the downstream ports
 * and the test cards' state with their trace buffers, saved when the driver
 * closes and restored when it next opens. One process after another then
 * works on the same platform, as a shell user expects of real hardware. */
#ifndef QORBSIM_STATE_H
#define QORBSIM_STATE_H

#include <string>

namespace qorbsim {

class Platform;

/* Writes the state (to a temporary file renamed over path); a failure is
 * reported on standard error. */
void SaveState(const Platform& platform, const std::string& path);

/* Restores the state saved at path onto a platform just loaded. A missing
 * file, or one saved for another platform (other functions or power-on
 * contents), leaves the platform at power-on (the latter with a notice).
 * False, after a message, for a file that cannot be read or is malformed. */
bool RestoreState(Platform& platform, const std::string& path);

} // namespace qorbsim

#endif
