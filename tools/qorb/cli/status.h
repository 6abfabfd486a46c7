/* The library's status codes as the tool shows them: the code's name, its
 * value and a plain sentence, "QORB_DEVICE_NOT_FOUND (0x80000016): no
 * function matches the search". The library's own texts stay what they are
 * (several codes share one, many have none); the tool never shows them. */
#ifndef QORB_CLI_STATUS_H
#define QORB_CLI_STATUS_H

#include <stdint.h>

#include <string>

namespace qorbcli {

/* "QORB_DEVICE_NOT_FOUND"; "" for a value the library does not define (the
 * test card library's own statuses pass through the card operations). */
const char* StatusName(uint32_t status);
/* What the status means, as a sentence without a final stop. */
std::string StatusSentence(uint32_t status);
/* "NAME (0xVALUE): sentence", with the sentence given or, when it is empty,
 * the status's own. */
std::string StatusLine(uint32_t status, const std::string& sentence = "");

} // namespace qorbcli

#endif
