// What keeps a page from reaching the server as it was written. A page goes
// out as its text, 0x03, then its fields joined by ","; the server finds the
// fields after the first 0x03 and splits them at every ",", and the frame
// around the page relies on its own separators. A character that either
// reading takes for a separator would shift the fields: the page could reach
// another address. Such a page is refused, never mended.
#pragma once

#include <string>
#include <string_view>

namespace zv {

// Why `text` cannot be a page's message text, as the end of a sentence about
// it ("holds 0x03, which starts the message's fields"); empty when it can.
// Anything else may stand in a text, "," and NUL included.
std::string TextFault(std::string_view text);

// Why `value` cannot be one of a page's fields (address, carrier, priority,
// subject, age limit), in the same form; empty when it can. A field holds
// neither "," nor a control character.
std::string FieldFault(std::string_view value);

// Why a page of these fields cannot go out as written, as the end of
// "Nothing was sent to ...: "; empty when it can. Every sender's page, typed
// or from the outbox, passes this one check.
std::string PageFault(const std::string& address, const std::string& text,
                      const std::string& carrier, const std::string& priority,
                      const std::string& subject, const std::string& age);

}  // namespace zv
