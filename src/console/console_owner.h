// An open console is its home's owner: it serves the home's senders beside
// its operator. Opened on a home whose agent runs, it takes over the agent's
// outbox; when it ends with pages from elsewhere still waiting, it starts the
// agent to carry them on. The operator is told each of these in one line.
#pragma once

#include <memory>
#include <string>

namespace zv {

class TOwnerHost;
class TZVSystemConsole;

// Before the main loop. None when the console could not become the owner
// (told in one line; the console works as ever, its senders are not served).
std::unique_ptr<TOwnerHost> BeginOwnership(TZVSystemConsole& console, const std::string& home);

// After the main loop, before the link stops: lets go of the home and starts
// the agent when pages wait.
void EndOwnership(TZVSystemConsole& console, std::unique_ptr<TOwnerHost> host,
                  const std::string& home);

}  // namespace zv
