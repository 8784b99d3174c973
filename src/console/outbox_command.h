// "zvcc outbox": what the home's outbox holds, for an operator or a script:
// the pages waiting (in the order they go out) and the recent outcomes, as a
// table or one JSON object a line; "--cancel NUMBER" withdraws a page that
// has not gone out. It reads the file while the owner runs; a cancel goes
// through the owner, or, with no owner running, is made under the owner's
// lock.
#pragma once

#include <string>
#include <vector>

namespace zv {

int RunOutboxProgram(const std::vector<std::string>& arguments);

}  // namespace zv
